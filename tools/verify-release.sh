#!/usr/bin/env bash
# Checks that the packages of the current commit repeat byte for byte: two
# clones in different folders, built one after the other by tools/package.sh,
# must give the same .deb, .rpm, zip and installer. Uncommitted changes are
# not part of it. Takes a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
commit=$(git rev-parse HEAD)
work=$(mktemp -d /var/tmp/foliant-verify-XXXXXX)
trap 'rm -rf "$work"' EXIT
for copy in first second/elsewhere; do
  git clone --quiet --no-hardlinks . "$work/$copy"
  git -C "$work/$copy" checkout --quiet --detach "$commit"
  "$work/$copy/tools/package.sh" >"$work/${copy%%/*}.log" 2>&1 || {
    cat "$work/${copy%%/*}.log"; echo "FAIL tools/package.sh in $work/$copy"; exit 1
  }
done
failed=0 count=0
for package in "$work"/first/build/*/packages/*.{deb,rpm,zip,exe}; do
  count=$((count + 1))
  twin=$work/second/elsewhere/${package#"$work"/first/}
  if cmp -s "$package" "$twin"; then
    echo "same      ${package##*/}"
  else
    echo "DIFFERENT ${package##*/}"; failed=1
  fi
done
[ "$count" = 4 ] || { echo "FAIL $count packages instead of 4"; failed=1; }
exit "$failed"
