#!/usr/bin/env bash
# Builds the release packages: build/default/packages/foliant_*.deb and
# build/windows/packages/foliant-*-windows-x86_64.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in default windows; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$(nproc)" --target foliant
  (cd "build/$preset" && cpack)
done
ls build/default/packages/*.deb build/windows/packages/*.zip
