#!/bin/bash
# Installs the build and test dependencies that are missing (Debian packages).
set -e
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/jemalloc/jemalloc.h ] || need+=(libjemalloc-dev)
# The PostgreSQL round trip of `make test` runs a private server and psql.
ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 && command -v psql >/dev/null 2>&1 || need+=(postgresql)
command -v python3 >/dev/null 2>&1 || need+=(python3)
# Line editing and history at a terminal.
[ -f /usr/include/editline/readline.h ] || need+=(libedit-dev)
# The manual page test renders zor.1; the terminal test drives ZOR through `script`.
command -v groff >/dev/null 2>&1 || need+=(groff-base)
command -v script >/dev/null 2>&1 || need+=(bsdutils)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi
