#!/usr/bin/env bash
# Makes the wine prefix the shared-root guest runs glowbrand.exe in:
#   make_wine_prefix.sh PREFIX
# winebus hands a device whose usage is Game Pad (the remote's) to its SDL
# or evdev backends, where the program cannot find it; told to use neither,
# it presents the remote's hidraw node with its own reports. It learns of
# nodes from udevd, which the guest runs: told to watch /dev itself instead
# (DisableUdevd), wine 8 drops every node devtmpfs makes (see
# docs/testing.md).
set -euo pipefail
export WINEPREFIX=$(realpath -m "$1") WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml,explorer.exe,winealsa.drv,winepulse.drv,wineoss.drv=
unset DISPLAY WAYLAND_DISPLAY
key='HKLM\System\CurrentControlSet\Services\winebus'
[ -f "$WINEPREFIX/made" ] && exit 0
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
for setting in "Enable SDL=0" DisableInput=1; do
  /usr/lib/wine/wine64 reg add "$key" /v "${setting%=*}" /t REG_DWORD /d "${setting#*=}" /f \
    </dev/null >/dev/null 2>&1
done
# The server writes the registry to the prefix as it ends.
wineserver -k </dev/null >/dev/null 2>&1 || true
wineserver -w </dev/null >/dev/null 2>&1 || true
grep -q '"DisableInput"=dword:00000001' "$WINEPREFIX/system.reg"
touch "$WINEPREFIX/made"
