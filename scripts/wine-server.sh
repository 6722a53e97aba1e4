#!/usr/bin/env bash
# wine-server.sh start|stop <Windows build dir>: keeps one wine server running
# for the build's wine prefix while its tests run.
# wine-server.sh run <Windows build dir> <command...>: runs the command in the
# environment the build's tests get.
#
# Each wine process otherwise starts a server of its own, which outlives it
# and holds on to the standard output of whatever started it: ctest then
# waits about 2.4 s per test for that pipe to close. A server started first,
# with its standard streams closed, serves every test instead.
set -euo pipefail
action=$1
# The same environment as the build's (cmake/mingw-w64-x86_64.cmake).
export WINEPREFIX=$(realpath -m "$2")/wine WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml,explorer.exe,winealsa.drv,winepulse.drv,wineoss.drv=
case $action in
  start)
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    # Creates or updates the prefix once, so that no test pays for it.
    /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
  run)
    shift 2
    exec "$@"
    ;;
  *)
    echo "usage: $0 start|stop <Windows build dir> | run <Windows build dir> <command...>" >&2
    exit 2
    ;;
esac
