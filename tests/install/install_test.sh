#!/bin/bash
# `make install` puts exactly zor, zor-forge and the manual page under
# DESTDIR/PREFIX, and the installed programs run.
#   install_test.sh BUILD_DIR
set -u
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR="$dest" cmake --install "$build" --prefix /opt/zor >/dev/null || { echo "cmake --install failed"; exit 1; }
expected=$'/opt/zor/bin/zor\n/opt/zor/bin/zor-forge\n/opt/zor/share/man/man1/zor.1'
actual=$(cd "$dest" && find . -type f | sed 's|^\.||' | sort)
if [ "$actual" != "$expected" ]; then
  echo "installed files differ:"; diff <(echo "$expected") <(echo "$actual"); exit 1
fi
"$dest/opt/zor/bin/zor" --version | grep -q '^zor ' || { echo "installed zor does not run"; exit 1; }
"$dest/opt/zor/bin/zor-forge" 2>&1 | grep -qi 'usage' || { echo "installed zor-forge does not run"; exit 1; }
exit 0
