#!/bin/bash
# Runs one transcript case: zor in a fresh temporary directory on the case's
# standard input, its standard output compared byte for byte with `expected`.
#
# A case folder holds:
#   stdin      what is typed at the terminal
#   expected   the standard output expected
#   files/     optional; copied into the directory first (init.sql, scripts, ...)
#   setup.sh   optional; run in the directory first, with $FORGE, $ZOR and $CASE_DIR set
#   expect/    optional; every file here must be left behind with the same content
#   expected_stderr optional; the standard error expected, compared like
#              the standard output (otherwise it is only shown)
#   exit_status optional; the exit status expected (0 otherwise)
#   expected_stderr optional; the standard error expected (not compared otherwise)
# With ZOR_E2E_PARALLEL=n the session starts with SET PARALLEL n and its
# answer is taken out again: the same expected output must come out of an
# unload by n worker processes.
# Lines holding only a local time "YYYY-MM-DD HH:MM:SS" are masked on both sides,
# also when the time follows prompts on its line ("ZOR> " or a continuation
# line number): commands print it as their first output.
set -u
case_dir=$1
ZOR=$2
FORGE=${3:-}
export ZOR FORGE CASE_DIR=$case_dir
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mask() { sed -E 's/^((ZOR> |[ 0-9]{3}[0-9] )*)[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$/\1<DATE>/' "$1"; }

[ -d "$case_dir/files" ] && cp -r "$case_dir/files/." "$work/"
cd "$work" || exit 1
if [ -f "$case_dir/setup.sh" ]; then
  bash "$case_dir/setup.sh" >setup.log 2>&1 || { echo "setup failed:"; cat setup.log; exit 1; }
fi
input=$case_dir/stdin
if [ -n "${ZOR_E2E_PARALLEL:-}" ]; then
  { echo "SET PARALLEL $ZOR_E2E_PARALLEL"; cat "$case_dir/stdin"; } >"$work/.stdin"
  input=$work/.stdin
fi
timeout 120 "$ZOR" <"$input" >"$work/.stdout" 2>"$work/.stderr"
rc=$?
if [ -n "${ZOR_E2E_PARALLEL:-}" ]; then
  ANSWER="  Current PARALLEL is : $ZOR_E2E_PARALLEL"$'\n'"ZOR> " perl -0pi -e 's/\Q$ENV{ANSWER}\E//' "$work/.stdout"
fi
status=0
if ! diff -u <(mask "$case_dir/expected") <(mask "$work/.stdout") >"$work/.diff"; then
  echo "standard output differs (exit $rc):"; cat "$work/.diff"; status=1
fi
if [ -d "$case_dir/expect" ]; then
  while IFS= read -r -d '' f; do
    rel=${f#"$case_dir/expect/"}
    if [ ! -f "$work/$rel" ]; then echo "missing file: $rel"; status=1; continue; fi
    if ! diff -u <(mask "$f") <(mask "$work/$rel"); then echo "file differs: $rel"; status=1; fi
  done < <(find "$case_dir/expect" -type f -print0)
fi
if [ -f "$case_dir/expected_stderr" ]; then
  if ! diff -u <(mask "$case_dir/expected_stderr") <(mask "$work/.stderr") >"$work/.diff"; then
    echo "standard error differs:"; cat "$work/.diff"; status=1
  fi
elif [ -s "$work/.stderr" ]; then echo "standard error:"; cat "$work/.stderr"; fi
want_rc=0
[ -f "$case_dir/exit_status" ] && want_rc=$(cat "$case_dir/exit_status")
if [ $rc -eq 124 ]; then echo "timed out"; status=1
elif [ $rc -ne "$want_rc" ]; then echo "exit status $rc, expected $want_rc"; status=1; fi
exit $status
