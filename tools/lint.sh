#!/usr/bin/env bash
# The house checks: every C++ file formatted as .clang-format says, and the
# native sources clean under .clang-tidy. Needs the default build's
# compile_commands.json (cmake --preset default). With --fix, formats the
# tree in place instead of checking it.
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

echo "== clang-tidy"
# Only what the native build compiles: the Windows sources need MinGW's headers.
mapfile -t tidy_files < <(git ls-files -- 'src/*.cpp' | while read -r f; do
  grep -q "\"file\": \"$PWD/$f\"" "$build/compile_commands.json" && echo "$f"; done)
status=0
report=$(run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${tidy_files[@]/#/$PWD/}" 2>&1) || status=$?
# Keep the findings (file:line: warning/error and the lines that show them).
printf '%s\n' "$report" | sed 's/\x1b\[[0-9;]*m//g' | grep -v -E '^(clang-tidy|Running clang-tidy|Enabled checks|Suppressed|Use -header-filter|[0-9]+ (warning|error)s? (and [0-9]+ errors? )?generated)' || true
[ "$status" -eq 0 ] || { echo "lint: clang-tidy found problems"; exit 1; }
echo "lint: clean"
