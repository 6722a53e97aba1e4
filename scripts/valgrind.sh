#!/usr/bin/env bash
# Plays one whole scripted session (ignite, an accessory, a swing ending in a
# strike, a short report, a remote that vanishes and returns, quit while lit)
# under valgrind. Fails on any memory error or definite leak, or when the
# session did not run to its end. Takes the build folder holding
# glowbrand-scripted (default: build). --fair-sched lets the probe's reader
# run beside the spinning main thread, as it would on a real processor.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
dir="$build/valgrind"
mkdir -p "$dir"
cat >"$dir/session.script" <<'SCRIPT'
0-7000/10 31 00 00 80 80 9a
700-730/10 31 00 08 80 80 9a
2400-2440/10 31 00 00 bc 80 80
2450-2470/10 31 00 00 ff 80 80
accessory 2200
2600 31 00 08
gone 2800-3300
4200-4230/10 31 00 80 80 80 9a
SCRIPT
cp "$build"/sounds/*.wav "$dir"/
echo "=== valgrind: one scripted session ==="
# SDL's dummy driver: the sound service decodes and mixes as ever, without
# the system's audio libraries in the picture.
(cd "$dir" && GLOWBRAND_SCRIPT=session.script GLOWBRAND_HIDLOG=hid.log SDL_AUDIODRIVER=dummy \
    valgrind --error-exitcode=1 --fair-sched=yes --leak-check=full --errors-for-leak-kinds=definite \
    --log-file=valgrind.log "$OLDPWD/$build/glowbrand-scripted" >stdout 2>stderr </dev/null)
status=$?
if [ "$status" -ne 0 ] || ! grep -q "write 11 10" "$dir/hid.log" || ! grep -q "close 0" "$dir/hid.log"; then
    tail -n 30 "$dir/valgrind.log"
    echo "valgrind session: FAILED (exit $status, see $dir)"
    exit 1
fi
echo "valgrind session: $(grep -o 'ERROR SUMMARY: [0-9]* errors' "$dir/valgrind.log")"
