#!/bin/sh
# run_fuzzer.sh FUZZER SEEDS SECONDS MAX_LEN: fuzzes for SECONDS from the
# seeds, which stay as they are; new inputs go to a scratch corpus, and a
# crashing input is kept in the current folder as crash-*.
set -eu
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
"$1" -max_total_time="$3" -max_len="$4" -print_final_stats=1 -artifact_prefix="$(pwd)/" "$corpus" "$2"
