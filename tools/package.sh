#!/usr/bin/env bash
# Builds the release packages with one command:
#   build/default/packages/foliant_*.deb                        (Debian, Ubuntu)
#   build/default/packages/foliant-*.x86_64.rpm                 (Fedora, openSUSE, ...)
#   build/windows/packages/foliant-*-windows-x86_64-setup.exe   (the Windows installer)
#   build/windows/packages/foliant-*-windows-x86_64.zip         (foliant.exe alone)
# Needs the native and MinGW-w64 compilers, dpkg-dev, rpm and nsis (makensis).
# Every date in them is SOURCE_DATE_EPOCH, by default the last commit's, so
# that a commit's packages repeat byte for byte (tools/verify-release.sh).
# With FOLIANT_SIGNING_CERT (a PEM certificate chain) and FOLIANT_SIGNING_KEY
# (its PEM private key) set, osslsigncode signs foliant.exe, the installer and
# its uninstaller (SHA-256, signed at SOURCE_DATE_EPOCH); with
# FOLIANT_SIGNING_TIMESTAMP_URL also set, a timestamp server countersigns.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH
for preset in default windows; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$(nproc)" --target foliant
  (cd "build/$preset" && cpack)
done
ls build/default/packages/*.deb build/default/packages/*.rpm \
   build/windows/packages/*-setup.exe build/windows/packages/*.zip
