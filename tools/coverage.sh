#!/usr/bin/env bash
# Line coverage of src/ by the unit tests, the black-box tests (which run the
# built binary) and a replay of the fuzz corpus, with clang's source-based
# coverage. Prints the per-file report; run from anywhere.
set -euo pipefail
cd "$(dirname "$0")/.."
llvm_profdata=$(command -v llvm-profdata-14 || command -v llvm-profdata)
llvm_cov=$(command -v llvm-cov-14 || command -v llvm-cov)

cmake --preset coverage >/dev/null
cmake --build --preset coverage
build=build/coverage
rm -rf "$build/profiles"
mkdir -p "$build/profiles"
LLVM_PROFILE_FILE="$PWD/$build/profiles/%p-%m.profraw" ctest --test-dir "$build" --output-on-failure
"$llvm_profdata" merge -sparse "$build"/profiles/*.profraw -o "$build/merged.profdata"
objects=()
for binary in tests/imgpack_unit_tests fuzz/convert_fuzz; do
    objects+=(-object "$build/$binary")
done
"$llvm_cov" report "$build/imgpack" "${objects[@]}" -instr-profile "$build/merged.profdata" src/
