#!/bin/sh
# Runs a Windows program under wine64: wine-run.sh PREFIX PROGRAM [ARGS...]
# One prefix per build tree, created once under a lock so that parallel tests
# do not race on its first start.
prefix=$1; shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    [ -f "$prefix/system.reg" ] || "$wine" wineboot -i >/dev/null 2>&1
  ) 9>"$prefix.lock"
fi
exec "$wine" "$@"
