#!/usr/bin/env bash
# The house checks: every C++ file formatted as .clang-format says, includes
# running one way (platform <- hdb <- cli, gui), and every source, the
# Windows-only ones too, clean under .clang-tidy. Needs the default build's
# compile_commands.json (cmake --preset default) and, for the Windows
# sources, MinGW-w64's headers. With --fix, formats the tree in place instead
# of checking it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FOLIANT_LINT_BUILD:-build/default}

mapfile -t cpp_files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${cpp_files[@]}"
  exit 0
fi
echo "== clang-format"
clang-format --dry-run -Werror "${cpp_files[@]}"

echo "== includes"
# Which folders a layer may include from; hdb/ also includes no system header.
declare -A may_include=([platform]="platform" [hdb]="platform hdb" [gui]="platform hdb gui" [cli]="platform hdb gui cli")
include_problems=0
while IFS=: read -r file line text; do
  layer=${file#src/}; layer=${layer%%/*}
  target=${text#*\"}; target=${target%%/*}
  if [[ " ${may_include[$layer]} " != *" $target "* ]]; then
    echo "$file:$line: $layer/ may not include $target/ (platform <- hdb <- cli, gui)"; include_problems=1
  fi
done < <(git grep -n -E '^#include "' -- 'src/*')
if git grep -n -E '^#include <[^>]*(\.h|/)[^>]*>' -- 'src/hdb/*'; then
  echo "lint: system headers belong in src/platform/, not src/hdb/"; include_problems=1
fi
# No circle between files either: x.h and x.cpp count as one.
git grep -E '^#include "' -- 'src/*' | sed -E 's#^src/([^:]*)\.(h|cpp):.*"([^"]*)\.h".*#\1 \3#' | awk '$1 != $2' |
  tsort >/dev/null 2>/tmp/lint-tsort.$$ || true
if [ -s /tmp/lint-tsort.$$ ]; then sed 's/^tsort: -: //' /tmp/lint-tsort.$$; include_problems=1; fi
rm -f /tmp/lint-tsort.$$
[ "$include_problems" -eq 0 ] || { echo "lint: includes run the wrong way"; exit 1; }

echo "== clang-tidy"
# What the native build compiles, with its own flags; the rest (the
# Windows-only sources) as the MinGW-w64 build sees them.
tidy_files=() windows_files=()
while read -r f; do
  if grep -q "\"file\": \"$PWD/$f\"" "$build/compile_commands.json"; then tidy_files+=("$f"); else windows_files+=("$f"); fi
done < <(git ls-files -- 'src/*.cpp')
status=0
report=$(run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${tidy_files[@]/#/$PWD/}" 2>&1) || status=$?
mingw=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++ 2>/dev/null | sort -V | tail -n 1)
[ -n "$mingw" ] || { echo "lint: MinGW-w64's C++ headers (g++-mingw-w64-x86-64-posix) are needed for the Windows sources"; exit 1; }
windows_report=$(printf '%s\n' "${windows_files[@]}" | xargs -P "$(nproc)" -I{} clang-tidy -quiet {} -- \
  --target=x86_64-w64-mingw32 -std=c++20 -Isrc -isystem "$mingw" -isystem "$mingw/x86_64-w64-mingw32" \
  -isystem /usr/x86_64-w64-mingw32/include 2>&1) || status=1
report+=$'\n'$windows_report
# Keep the findings (file:line: warning/error and the lines that show them).
printf '%s\n' "$report" | sed 's/\x1b\[[0-9;]*m//g' | grep -v -E '^(clang-tidy|Running clang-tidy|Enabled checks|Suppressed|Use -header-filter|[0-9]+ (warning|error)s? (and [0-9]+ errors? )?generated)' || true
[ "$status" -eq 0 ] || { echo "lint: clang-tidy found problems"; exit 1; }
echo "lint: clean"
