#!/usr/bin/env bash
# ctrl_c_runs.sh [N] [Windows build dir]: the Windows program's Ctrl+C check
# (tests/windows/ctrl_c.sh, under wine) N times in a row, 50 by default,
# from a built Windows tree (build-windows/ unless told); each failed run's
# problem, and how many runs ended with which exit status.
#
# A rare wrong status there is a race on the way out, not a slow machine:
# run it beside scripts/busy.sh as well as at rest.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
runs=${1:-50}
dir=${2:-build-windows}
./scripts/wine-server.sh start "$dir"
bad=0
statuses=$(mktemp)
trap 'rm -f "$statuses"; ./scripts/wine-server.sh stop "$dir"' EXIT
for run in $(seq "$runs"); do
  if out=$(./scripts/wine-server.sh run "$dir" bash tests/windows/ctrl_c.sh \
             "$dir/glowbrand-scripted.exe" "$dir/sounds" 2>&1); then
    echo "0x3A" >>"$statuses"
  else
    bad=$((bad + 1))
    status=$(sed -n 's/.*exit status \([0-9]*\),.*/\1/p' <<<"$out")
    echo "${status:-0x3A (other problem)}" >>"$statuses"
    echo "run $run, load $(cut -d' ' -f1-3 /proc/loadavg):"
    head -n 1 <<<"$out" | sed 's/^/  /'
  fi
done
echo "$runs runs, $bad failed; exit statuses:"
sort "$statuses" | uniq -c
[ "$bad" -eq 0 ]
