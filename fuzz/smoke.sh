#!/bin/sh
# A bounded fuzzing run: smoke.sh FUZZER CORPUS DICT SECONDS
# New inputs go to a scratch folder, never into the committed corpus.
set -eu
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$1" -seed=1 -max_total_time="$4" -dict="$3" -max_len=4096 -print_final_stats=1 "$scratch" "$2"
