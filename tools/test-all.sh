#!/usr/bin/env bash
# Installs what the tests need and the machine lacks, then builds and tests
# every build: native, native under the sanitizers, Windows under Wine, and
# the fuzzers (each run for a short while).
#
# Two cores go far when little waits: the native builds need only a
# compiler, CMake, GoogleTest and Python, so they compile while the rest is
# installed; and the four test runs, which spend much of their time waiting
# on Wine, strace, mounts and timers, run side by side, each printing its
# report when it is done.
set -euo pipefail
cd "$(dirname "$0")/.."

build_packages=(cmake g++ make libgtest-dev googletest python3)
test_packages=(util-linux g++-mingw-w64-x86-64-posix wine wine64 xvfb xdotool zenity
               clang libclang-rt-14-dev clang-format clang-tidy dpkg-dev groff-base man-db desktop-file-utils
               strace locales bsdutils mount python3-pefile nsis lintian rpm rpmlint appstream
               shared-mime-info libglib2.0-bin zsh fish xdg-utils libfile-mimeinfo-perl
               openssl osslsigncode pcmanfm libfm-modules nemo thunar x11-apps
               e2fsprogs xfsprogs btrfs-progs ntfs-3g exfat-fuse exfatprogs fusefat dosfstools acl)

sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
updated=false
install_missing() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  if ! $updated; then $sudo apt-get update -q; updated=true; fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build() {
  echo "== build $1"
  cmake --preset "$1" -DFOLIANT_BUILD_TESTS=ON
  cmake --build --preset "$1" -j "$(nproc)"
}

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

install_missing "${build_packages[@]}"
# apt-get update has run by now if anything was missing; the second install
# reuses its lists.
install_missing "${test_packages[@]}" >"$logs/install" 2>&1 &
installing=$!
build default
build sanitize
echo "== installing the test tools"
if ! wait "$installing"; then
  cat "$logs/install"
  exit 1
fi
tail -n 3 "$logs/install"
build windows
build fuzz

# The dialog and file manager tests type into real windows, which a loaded
# machine may answer too late or wrongly: they run last, one at a time.
windows_typed_into='^(gui|file_managers)$'
presets=(default sanitize windows fuzz)
pids=()
for preset in "${presets[@]}"; do
  ctest --preset "$preset" -E "$windows_typed_into" >"$logs/$preset" 2>&1 &
  pids+=($!)
done
status=0
for i in "${!presets[@]}"; do
  result=0
  wait "${pids[$i]}" || result=$?
  echo "== test ${presets[$i]}"
  cat "$logs/${presets[$i]}"
  [ "$result" -eq 0 ] || status=1
done
for preset in default sanitize windows; do
  echo "== test $preset: the dialogs and the file managers"
  ctest --preset "$preset" -R "$windows_typed_into" --parallel 1 || status=1
done
exit "$status"
