#!/bin/sh
# Starts or stops the backend controller for a test run:
#   fixture.sh start PORTFILE    (returns once the controller listens)
#   fixture.sh stop PORTFILE
here=$(cd "$(dirname "$0")" && pwd)
file=$2
case "$1" in
  start)
    if [ -f "$file" ] && kill -0 "$(cut -d' ' -f2 "$file")" 2>/dev/null; then exit 0; fi
    rm -f "$file"
    # Detached, with no output of ours, so that ctest does not wait for it.
    setsid /usr/bin/python3 "$here/controller.py" "$file" </dev/null >/dev/null 2>&1 &
    i=0
    while [ ! -f "$file" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    [ -f "$file" ]
    ;;
  stop)
    [ -f "$file" ] && kill "$(cut -d' ' -f2 "$file")" 2>/dev/null
    rm -f "$file"
    exit 0
    ;;
esac
