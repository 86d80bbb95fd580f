#!/usr/bin/env bash
# Runs one black-box case: run_case.sh CASE_DIR IMGPACK [EMULATOR...]
#
# A case is a folder holding the input files and:
#   args          the arguments, one per line
#   stdout        the exact standard output expected
#   status        the exit status expected
#   NAME.expected what the file NAME must hold after the run; without
#                 out.bin.expected, out.bin must not be created
#   setup.sh      (optional) sourced in the scratch folder before the run; it
#                 may call srecgen, the record generator
#   limit         (optional) address-space limit of the run, in KiB (an
#                 emulator gets 768 MiB more for itself)
# The case is skipped (exit status 77) when IMGPACK_SKIP gives a reason.
# The case is copied to a scratch folder and run there, so that the names in
# its arguments and messages are relative. Standard error must stay empty.
set -euo pipefail
case_dir=$1
imgpack=$2
shift 2
emulator=("$@")

if [[ -n ${IMGPACK_SKIP:-} ]]; then
    echo "skipped: $IMGPACK_SKIP"
    exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -R "$case_dir/." "$scratch"
cd "$scratch"
mapfile -t args <args

set +e
(
    set -e
    # The record generator, for setup.sh: built for the target like imgpack.
    srecgen() { "${emulator[@]}" "$SRECGEN" "$@"; }
    [[ -f setup.sh ]] && source setup.sh
    [[ -f limit ]] && ulimit -v $(($(cat limit) + (${#emulator[@]} > 0 ? 768 * 1024 : 0)))
    exec "${emulator[@]}" "$imgpack" "${args[@]}"
) >actual.stdout 2>actual.stderr
status=$?
set -e

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
cmp -s actual.stdout stdout || fail "standard output differs:
$(diff stdout actual.stdout)"
[[ ! -s actual.stderr ]] || fail "standard error is not empty: $(cat actual.stderr)"
[[ $status == "$(cat status)" ]] || fail "exit status $status, expected $(cat status)"
for expected in *.expected; do
    [[ ! -e $expected ]] || cmp "${expected%.expected}" "$expected" || fail "${expected%.expected} differs"
done
[[ -f out.bin.expected || ! -e out.bin ]] || fail "out.bin was created"
((failures == 0)) && echo "passed"
exit $((failures > 0))
