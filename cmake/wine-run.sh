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
# Keep one wineserver alive between tests: a cold start costs seconds, a warm
# one tens of milliseconds. It exits by itself a minute after the last test.
# Whoever starts it also starts wine's service processes, and they inherit
# that process's output: start them here with no output of ctest's to hold open.
server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
if "$server" -p60 >/dev/null 2>&1 </dev/null; then
  "$wine" wineboot >/dev/null 2>&1 </dev/null
fi
exec "$wine" "$@"
