#!/usr/bin/env bash
# Builds the release packages with one command:
#   build/default/packages/foliant_*.deb                        (Debian, Ubuntu)
#   build/windows/packages/foliant-*-windows-x86_64-setup.exe   (the Windows installer)
#   build/windows/packages/foliant-*-windows-x86_64.zip         (foliant.exe alone)
# Needs the native and MinGW-w64 compilers, dpkg-dev and nsis (makensis).
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in default windows; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$(nproc)" --target foliant
  (cd "build/$preset" && cpack)
done
ls build/default/packages/*.deb build/windows/packages/*-setup.exe build/windows/packages/*.zip
