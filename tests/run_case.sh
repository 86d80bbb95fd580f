#!/usr/bin/env bash
# Runs one black-box case: run_case.sh CASE_DIR IMGPACK [EMULATOR...]
#
# A case is a folder holding the input files and:
#   args          the arguments, one per line
#   stdout        the exact standard output expected
#   stderr        (optional) the exact standard error expected; without it,
#                 standard error must stay empty. stderr.windows, where given,
#                 holds what a Windows build prints instead (the system's own
#                 words for an error differ)
#   env           (optional) NAME=VALUE lines, set for the run
#   stderr.strict (optional) the standard error expected when the runner is
#                 asked to run the case in strict mode as well
#                 (IMGPACK_CASE_STRICT=1 sets IMGPACK_STRICT=1 for the run;
#                 standard output, status and files must not change);
#                 stderr.strict.windows what a Windows build says instead
#   status        the exit status expected
#   NAME.expected what the file NAME must hold after the run; without
#                 out.bin.expected, out.bin must not be created
#   setup.sh      (optional) sourced in the scratch folder before the run; it
#                 may call srecgen, the record generator, and `skip REASON`
#                 when the case cannot run here
#   limit         (optional) address-space limit of the run, in KiB (an
#                 emulator gets 768 MiB more for itself)
#   oracle        (optional, not read here) how an expected file was made by
#                 a tool we did not write
# The case is skipped (exit status 77) when IMGPACK_SKIP gives a reason, or
# when setup.sh calls skip.
# The case is copied to a scratch folder and run there, so that the names in
# its arguments and messages are relative.
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
    skip() {
        echo "$*" >skipped
        exit 0
    }
    [[ -f setup.sh ]] && source setup.sh
    [[ -n ${IMGPACK_CASE_STRICT:-} ]] && export IMGPACK_STRICT=1
    if [[ -f env ]]; then
        while IFS= read -r assignment; do export "${assignment?}"; done <env
    fi
    [[ -f limit ]] && ulimit -v $(($(cat limit) + (${#emulator[@]} > 0 ? 768 * 1024 : 0)))
    exec "${emulator[@]}" "$imgpack" "${args[@]}"
) >actual.stdout 2>actual.stderr
status=$?
set -e
if [[ -f skipped ]]; then
    echo "skipped: $(cat skipped)"
    exit 77
fi

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
cmp -s actual.stdout stdout || fail "standard output differs:
$(diff stdout actual.stdout)"
expected_stderr=/dev/null
[[ -f stderr ]] && expected_stderr=stderr
[[ $imgpack == *.exe && -f stderr.windows ]] && expected_stderr=stderr.windows
[[ -n ${IMGPACK_CASE_STRICT:-} ]] && expected_stderr=/dev/null
[[ -n ${IMGPACK_CASE_STRICT:-} && -f stderr.strict ]] && expected_stderr=stderr.strict
[[ -n ${IMGPACK_CASE_STRICT:-} && $imgpack == *.exe && -f stderr.strict.windows ]] &&
    expected_stderr=stderr.strict.windows
cmp -s actual.stderr "$expected_stderr" || fail "standard error differs:
$(diff "$expected_stderr" actual.stderr)"
[[ $status == "$(cat status)" ]] || fail "exit status $status, expected $(cat status)"
for expected in *.expected; do
    [[ ! -e $expected ]] || cmp "${expected%.expected}" "$expected" || fail "${expected%.expected} differs"
done
[[ -f out.bin.expected || ! -e out.bin ]] || fail "out.bin was created"
((failures == 0)) && echo "passed"
exit $((failures > 0))
