#!/usr/bin/env bash
# Plays the README's run command as a person at a terminal would: starts
# ./scripts/run.sh on a terminal of its own (script(1), in every Debian),
# waits for the status line under the banner, types a (the blade lights),
# then h (Home), and shows what the terminal showed. Exits with run.sh's
# status. Made for a fresh machine:
#   ../shared/tools/fresh-debian --debian 13 ./scripts/try-run.sh
set -uo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkfifo "$scratch/keys"
(
  exec 3>"$scratch/keys"
  # Set-up and the build come first: up to half an hour on a slow machine.
  for _ in $(seq 1800); do
    grep -q 'LEDs' "$scratch/terminal" 2>/dev/null && break
    sleep 1
  done
  sleep 1
  printf a >&3
  sleep 4
  printf h >&3
  sleep 5
) &
script -qefc ./scripts/run.sh "$scratch/terminal" <"$scratch/keys" >/dev/null
status=$?
# Each status line rewrites the last one: one a line here.
sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$scratch/terminal" | tr '\r' '\n' | grep -v '^$'
echo "run.sh exited with status $status"
exit "$status"
