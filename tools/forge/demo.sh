#!/bin/bash
# `make demo`: writes the sample database into demo/, runs ZOR there on
# tools/forge/demo.zor and shows the session and the files it wrote.
#   demo.sh [BUILD_DIR]      (default: build)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-build}" && pwd)
script=$root/tools/forge/demo.zor
demo=$root/demo

rm -rf "$demo"
"$build/forge" sample "$demo"
cd "$demo"
touch .started
status=0
timeout 60 "$build/zor" <"$script" >session.raw 2>&1 || status=$?

# ZOR does not echo what it reads: put each command after its prompt.
awk 'NR == FNR { if ($0 !~ /^[[:space:]]*$/) command[n++] = $0; next }
     { line = $0; out = ""
       while ((i = index(line, "ZOR> ")) > 0) {
         out = out substr(line, 1, i - 1) "ZOR> " command[k++] "\n"
         line = substr(line, i + 5)
       }
       if (line != "" || out == "") out = out line "\n"
       printf "%s", out }' "$script" session.raw >transcript.txt
rm -f session.raw

echo "== ZOR session in demo/ (commands from tools/forge/demo.zor) =="
cat transcript.txt
[ "$status" -eq 0 ] || echo "(zor exited with status $status)"
echo
echo "== Files ZOR wrote =="
find . -type f -newer .started ! -name transcript.txt | sort | while read -r f; do
  printf '%8d  %s\n' "$(wc -c <"$f")" "${f#./}"
done
for f in emp.txt EMP_sqlldr.ctl EMP_syntax.sql; do
  if [ -f "$f" ]; then
    echo
    echo "== $f =="
    cat "$f"
  else
    echo
    echo "== $f: not written =="
  fi
done
rm -f .started
