#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: once plain (beside a private
# PulseAudio server and a private PipeWire, each with a null sink), once under
# AddressSanitizer with UndefinedBehaviorSanitizer, once under
# ThreadSanitizer for the start-up reader thread. Checks the Debian package
# of the plain build. Ends with one line of totals over every run.
set -uo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test || exit 1

# The sound tests also listen through a PulseAudio server and a PipeWire
# server of their own.
# shellcheck source=private_pulse.sh
source scripts/private_pulse.sh
# shellcheck source=private_pipewire.sh
source scripts/private_pipewire.sh
start_private_pulse || exit 1
trap 'stop_private_pipewire; stop_private_pulse' EXIT
start_private_pipewire || exit 1

jobs=$(nproc)
passed=0
failed=0
first_try_failures=0  # checks whose first try failed, passed on a second or not

# run_suite <build dir> <label> [cmake options...]: builds and runs ctest there.
run_suite() {
  local dir=$1 label=$2
  shift 2
  echo "=== $label ==="
  mkdir -p "$dir"
  # Tests and benchmark on: the run command may have left them off in build/.
  if ! { cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLOWBRAND_TESTS=ON \
           -DGLOWBRAND_BENCHMARKS=ON "$@" &&
         cmake --build "$dir" -j "$jobs"; } >"$dir/build.log" 2>&1; then
    tail -n 40 "$dir/build.log"
    echo "$label: build failed"
    failed=$((failed + 1))
    return
  fi
  grep -A3 -i 'warning:' "$dir/build.log"
  local out
  out=$(cd "$dir" && ctest --output-on-failure -j "$jobs" 2>&1)
  echo "$out" | grep -v -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed|^ *Start +[0-9]+: '
  local total fail
  total=$(echo "$out" | sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p')
  fail=$(echo "$out" | sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p')
  if [ -z "$total" ]; then
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + total - fail))
  failed=$((failed + fail))
}

# check_package <build dir>: the Debian package unpacks, holds what a user
# needs, lintian finds nothing to say about it (no error, no warning), its
# changelog names its version, its manual pages open by name, and the
# glowbrand and glowbrand-doctor in it run and report that no remote is there.
check_package() {
  local dir=$1 scratch problem=""
  echo "=== Debian package ==="
  scratch=$(mktemp -d)
  if ! (cd "$dir" && cpack -G DEB -B "$scratch/out") >"$scratch/cpack.log" 2>&1; then
    tail -n 20 "$scratch/cpack.log"
    problem="cpack failed"
  elif ! dpkg-deb -x "$scratch"/out/glowbrand_*.deb "$scratch/root"; then
    problem="the package does not unpack"
  else
    local root=$scratch/root/usr file page said
    for file in games/glowbrand games/glowbrand-virtual games/glowbrand-doctor \
                lib/udev/rules.d/70-glowbrand.rules share/metainfo/org.example.glowbrand.metainfo.xml \
                share/glowbrand/sounds/{on0,off0,swing2,strike2,hum0}.wav \
                share/man/man6/{glowbrand,glowbrand-virtual,glowbrand-doctor}.6.gz \
                share/doc/glowbrand/{copyright,changelog.gz}; do
      [ -e "$root/$file" ] || problem="$problem missing /usr/$file;"
    done
    # Info tags (hardening hints and the like) are not shown; warnings and
    # errors are, and fail the check.
    if ! said=$(lintian --allow-root --fail-on error,warning "$scratch"/out/glowbrand_*.deb 2>&1) ||
       [ -n "$said" ]; then
      echo "$said"
      problem="$problem lintian complained;"
    fi
    # lintian does not compare the changelog with the package's version.
    local version logged
    version=$(dpkg-deb -f "$scratch"/out/glowbrand_*.deb Version)
    logged=$(gzip -dc "$root/share/doc/glowbrand/changelog.gz" 2>/dev/null |
             sed -n '1s/^glowbrand (\([^)]*\)).*/\1/p')
    [ "$version" = "$logged" ] ||
      problem="$problem the changelog's newest entry is \"$logged\", the package $version;"
    for page in glowbrand glowbrand-virtual glowbrand-doctor; do
      man -M "$root/share/man" -P cat 6 "$page" >/dev/null 2>&1 ||
        problem="$problem man 6 $page does not open;"
    done
    mkdir "$scratch/play"
    cp "$root"/share/glowbrand/sounds/*.wav "$scratch/play/" 2>/dev/null
    local err status
    err=$(cd "$scratch/play" && env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy \
          "$root/games/glowbrand" </dev/null 2>&1 >/dev/null)
    status=$?
    if [ "$status" -ne 1 ] || [ "$err" != "Wii-Remote not found." ]; then
      problem="$problem the packaged glowbrand said \"$err\" and exited with $status;"
    fi
    # The doctor, in the same folder, finds the sounds and says the remote is missing.
    local said_doctor
    said_doctor=$(cd "$scratch/play" && SDL_AUDIODRIVER=dummy "$root/games/glowbrand-doctor" \
                  </dev/null 2>&1)
    status=$?
    if [ "$status" -ne 1 ] || ! grep -q '^failed  Remote: no Wii Remote found' <<<"$said_doctor" ||
       ! grep -q '^ok      Sounds:' <<<"$said_doctor"; then
      echo "$said_doctor"
      problem="$problem the packaged glowbrand-doctor exited with $status;"
    fi
  fi
  rm -rf "$scratch"
  if [ -n "$problem" ]; then
    echo "Debian package: $problem"
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
}

run_suite build "plain"
# The sanitizer builds hear the sound service through SDL's disk driver only:
# their slowed audio thread would underrun a real server and prove nothing.
stop_private_pulse
stop_private_pipewire
check_package build
run_suite build-asan "address,undefined sanitizers" -DGLOWBRAND_SANITIZE=address,undefined
run_suite build-tsan "thread sanitizer" -DGLOWBRAND_SANITIZE=thread

# check_windows_zip <Windows build dir>: the zip a Windows user unpacks holds
# the programs, the sounds and the use text, and its glowbrand.exe, run under
# wine, reports that no remote is there.
check_windows_zip() {
  local dir=$1 scratch problem="" file
  echo "=== Windows zip ==="
  scratch=$(mktemp -d)
  if ! cmake --build "$dir" --target windows-zip >"$scratch/zip.log" 2>&1; then
    tail -n 20 "$scratch/zip.log"
    problem="the windows-zip target failed"
  else
    local zip=("$PWD/$dir"/glowbrand-*-windows-x64.zip)
    (cd "$scratch" && cmake -E tar xf "${zip[0]}") || problem="the zip does not unpack;"
    local root=("$scratch"/glowbrand-*-windows-x64)
    for file in glowbrand.exe glowbrand-virtual.exe glowbrand-doctor.exe on0.wav off0.wav \
                swing2.wav strike2.wav hum0.wav README.txt; do
      [ -e "${root[0]}/$file" ] || problem="$problem missing $file;"
    done
    ./scripts/wine-server.sh run "$dir" \
      tests/windows/no_remote.sh "${root[0]}/glowbrand.exe" "${root[0]}" ||
      problem="$problem the unpacked glowbrand.exe did not report a missing remote;"
  fi
  rm -rf "$scratch"
  if [ -n "$problem" ]; then
    echo "Windows zip: $problem"
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
}

# The Windows build, cross-compiled with mingw-w64; its tests and the zip's
# program run under wine, with one wine server kept for them all.
windows_start=$(date +%s)
./scripts/wine-server.sh start build-windows
run_suite build-windows "Windows, under wine" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DGLOWBRAND_BENCHMARKS=OFF
check_windows_zip build-windows

# The Windows program heard as the Linux one is: the plain build's sound test
# runs it under wine, whose PulseAudio driver plays to a private server.
check_windows_sound() {
  local dir=$1 out
  echo "=== Windows sound through PulseAudio, under wine ==="
  if ! start_private_pulse; then
    failed=$((failed + 1))
    return
  fi
  # A second try only where the server logged its stream running dry during
  # the first: the machine did not run wine's stream in time. A fault of
  # ours fails the first try and ends it; every first try that failed is
  # counted in the summary all the same.
  local try underruns
  for try in 1 2; do
    underruns=$(pulse_underruns)
    out=$(GLOWBRAND_WINE_SCRIPTED=$PWD/$dir/glowbrand-scripted-wine.sh build/tests/program_e2e_test \
          --gtest_filter='SoundEndToEnd*UnderWine*' </dev/null 2>&1)
    underruns=$(($(pulse_underruns) - underruns))
    echo "$out" | grep -v -E '^(Running main|Note: Google Test filter|\[-+\]|\[=+\])'
    echo "$out" | grep -q '^\[  PASSED  \] 1 test' && break
    echo "(failed on try $try, load: $(cut -d' ' -f1-3 /proc/loadavg)," \
      "the server logged $underruns underruns)"
    [ "$try" = 1 ] && first_try_failures=$((first_try_failures + 1))
    [ "$underruns" -gt 0 ] || break
  done
  stop_private_pulse
  if echo "$out" | grep -q '^\[  PASSED  \] 1 test'; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
}
check_windows_sound build-windows
./scripts/wine-server.sh stop build-windows
echo "Windows part: $(($(date +%s) - windows_start)) s"

# The Windows program in a VM against the kernel-level remote, through wine's
# own HID stack: the plain build's VM suite boots this machine's root there
# and runs the Windows build's glowbrand.exe (tests/vm/guest_windows.sh).
# Each of its tests counts; one that never ran (the suite ended early)
# counts as failed.
check_windows_vm() {
  local dir=$1 out started ran ok
  echo "=== Windows program in the VM, through wine's HID stack ==="
  started=$(date +%s)
  out=$(GLOWBRAND_WINDOWS_BUILD=$PWD/$dir nice build/tests/vm_e2e_test \
        --gtest_filter='*WindowsVmSuite*' </dev/null 2>&1)
  echo "$out" | grep -E '^\[ +(OK|FAILED) +\] .*\(|Failure|Expected|Which is|Value of|Actual|wine.s start|Windows device after|took \(ms\)'
  ran=$(echo "$out" | grep -c '^\[ RUN      \]')
  ok=$(echo "$out" | grep -c '^\[       OK \]')
  echo "$out" | grep -q '^\[==========\] .* ran' || ran=$((ran + 1))
  [ "$ran" -gt 0 ] || ran=1
  passed=$((passed + ok))
  failed=$((failed + ran - ok))
  echo "Windows program in the VM: $ok passed, $((ran - ok)) failed, $(($(date +%s) - started)) s"
}
check_windows_vm build-windows

# run_check <command...>: one more pass or failure for a whole check.
run_check() {
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}
run_check ./scripts/valgrind.sh build
run_check ./scripts/fuzz.sh 20

echo
echo "first tries that failed (counted above only where no second try passed):" \
  "$first_try_failures"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
