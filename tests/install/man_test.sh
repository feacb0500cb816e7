#!/bin/bash
# The manual page renders without a single warning, and names every command
# of HELP and every SET option.
#   man_test.sh MAN_PAGE ZOR
set -u
page=$1
zor=$2
if ! command -v groff >/dev/null 2>&1; then
  echo "groff is not installed (tools/install-deps.sh installs groff-base): not checked"
  exit 77
fi
warnings=$(groff -man -Tutf8 -ww "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then echo "groff warnings:"; echo "$warnings"; exit 1; fi
text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
status=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The words come from the program itself, so a new command or option without
# its paragraph fails here.
commands=$(cd "$work" && printf 'HELP\nEXIT\n' | "$zor" | sed -n 's/^.*  \([A-Z]*\) *-- .*$/\1/p')
options=$(cd "$work" && printf 'SET\nEXIT\n' | "$zor" | sed -n 's/^.*  SET \([A-Z_]*\) .*$/\1/p' | grep -v HEAD_SIZE)
for word in $commands; do
  grep -q "^ *$word\b" <<<"$text" || { echo "command $word is not described"; status=1; }
done
for word in $options LONG_TAG TABLESPACE TRANS_OFFSET TRANS_COUNT; do
  grep -qE "SET +$word\b" <<<"$text" || { echo "option $word is not described"; status=1; }
done
[ -n "$commands" ] && [ -n "$options" ] || { echo "could not read HELP and SET from zor"; status=1; }
exit $status
