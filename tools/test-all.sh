#!/usr/bin/env bash
# Installs what the tests need and the machine lacks, then builds and tests
# every build: native, native under the sanitizers, Windows under Wine, and
# the fuzzers (each run for a short while).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make libgtest-dev googletest python3 util-linux
          g++-mingw-w64-x86-64-posix wine wine64 xvfb xdotool zenity
          clang libclang-rt-14-dev clang-format clang-tidy dpkg-dev groff-base man-db desktop-file-utils
          strace locales bsdutils mount python3-pefile nsis lintian rpm rpmlint appstream
          openssl osslsigncode
          e2fsprogs xfsprogs btrfs-progs ntfs-3g exfat-fuse exfatprogs fusefat dosfstools acl)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

for preset in default sanitize windows fuzz; do
  echo "== $preset"
  cmake --preset "$preset" -DFOLIANT_BUILD_TESTS=ON
  cmake --build --preset "$preset" -j "$(nproc)"
  ctest --preset "$preset"
done
