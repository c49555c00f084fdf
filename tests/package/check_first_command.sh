#!/bin/sh
# The README's first command on a machine with a C++ compiler and CMake
# alone: in a fresh copy of the tree, with GoogleTest and Python hidden in a
# mount namespace of the test's own. The tool must build and convert the
# sample, and CMake must say once why the tests are not built.
set -eu
source=$(cd "$1" && pwd)
work=$(mktemp -d /var/tmp/foliant-first-command-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tree" "$work/empty"
: >"$work/empty-file"
tar -C "$source" --exclude=./build --exclude=./.git -cf - . | tar -C "$work/tree" -xf -

# Root may make mounts in a namespace of its own; anyone else in a user namespace.
namespace=--mount
[ "$(id -u)" -eq 0 ] || namespace="--mount --map-root-user"
# shellcheck disable=SC2086
unshare $namespace sh -eu -c '
  work=$1
  for hidden in /usr/include/gtest /usr/include/gmock /usr/src/googletest /usr/src/gtest \
                /usr/lib/*/cmake/GTest /usr/lib/*/cmake/GMock /usr/lib/python3* /usr/local/lib/python3*; do
    [ ! -d "$hidden" ] || mount --bind "$work/empty" "$hidden"
  done
  for hidden in /usr/lib/*/libgtest* /usr/lib/*/libgmock* /usr/bin/python* /usr/local/bin/python*; do
    [ ! -f "$hidden" ] || mount --bind "$work/empty-file" "$hidden"
  done
  cd "$work/tree"
  # The system'\''s PATH alone: no Python of a user'\''s own either.
  export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME="$work"
  if python3 -c "" 2>/dev/null || [ -e /usr/include/gtest/gtest.h ]; then
    echo "FAIL GoogleTest or Python is still there"; exit 1
  fi
  cmake --preset default && cmake --build --preset default && build/default/foliant examples/book.txt
' sh "$work" >"$work/output" 2>&1 || {
  cat "$work/output"; echo "FAIL the first command failed"; exit 1
}

failed=0
said=$(grep -c "The tests are not built: GoogleTest and Python 3 not found" "$work/output" || true)
if [ "$said" != 1 ]; then
  echo "FAIL CMake said $said times that the tests are not built"; failed=1
fi
if ! tail -n 1 "$work/output" | grep -qx "book.hdb converted."; then
  echo "FAIL the tool did not say it converted the sample"; failed=1
fi
if [ ! -s "$work/tree/book.hdb" ]; then
  echo "FAIL no book.hdb in the folder the command ran in"; failed=1
fi
if [ -e "$work/tree/build/default/tests" ]; then
  echo "FAIL the tests were configured"; failed=1
fi
[ "$failed" = 0 ] || { cat "$work/output"; exit 1; }
echo "1 passed, 0 failed"
