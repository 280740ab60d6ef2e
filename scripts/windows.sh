#!/usr/bin/env bash
# Builds the program, the sample plug-ins and the unit tests as 32-bit Windows programs with mingw-w64, and runs
# them under Wine in a private prefix: the unit tests, then the program itself watched from Linux over loopback
# (build/normal's wine_tests, built here if missing). Every Wine call is bounded by a timeout, and each run
# must print its own count of tests: an exit code alone proves nothing under Wine. Last line:
# "=== windows: P passed, F failed".
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh windows

echo "=== windows build"
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DKWS_BUILD_TESTS=ON >/dev/null
cmake --build build/win32 -j "$(nproc)"
bash scripts/build.sh normal -DKWS_BUILD_TESTS=ON >/dev/null

export WINEPREFIX=$PWD/build/win32/wineprefix WINEARCH=win32 WINEDEBUG=-all
# A crash exits instead of waiting for a debugger; no browser or .NET installs on the way.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
echo "=== windows prefix"
# Windows go to a private X server: with Wine's null graphics driver a new prefix's windows fail now and then.
display=build/win32/display
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$display" >/dev/null 2>&1 &
xvfb=$!
trap 'timeout 60 wineserver -k >/dev/null 2>&1 || true; kill $xvfb 2>/dev/null || true' EXIT
timeout 30 bash -c "until [ -s $display ]; do sleep 0.1; done"
export DISPLAY=":$(cat "$display")"
timeout 60 wineserver -k >/dev/null 2>&1 || true # a server left by an interrupted run
rm -rf "$WINEPREFIX"
# Every call's output goes into a file: the helper processes a first call starts (services, devices) inherit it
# and keep it open for good, which would hold a pipe, and whoever reads it, until the end.
boot=build/win32/wineboot.log
timeout 300 wineboot -i </dev/null >"$boot" 2>&1
timeout 60 wineserver -w
# One server for every call that follows, also while services start and stop; a running one cannot be told
# to stay, hence the wait above for the booting one to end.
timeout 60 wineserver -p 900 </dev/null >/dev/null 2>&1
# The first call under this server starts its helper processes, into the file.
timeout 60 wine reg query 'HKCU\Software\Wine' </dev/null >>"$boot" 2>&1

status=0
passed=0
failed=0
count() { # name total bad
  echo "=== windows $1: $2 tests ran, $(($2 - $3)) passed, $3 failed"
  passed=$((passed + $2 - $3))
  failed=$((failed + $3))
  [ "$3" -eq 0 ] || status=1
}

echo "=== windows unit tests"
log=build/win32/ctest.log
(cd build/win32 && timeout 1200 ctest --output-on-failure --no-tests=error -j 2 --timeout 120) | tee "$log" || status=1
summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)
if [ -z "$summary" ]; then
  echo "=== windows unit tests: no test ran"
  status=1
else
  count "unit tests" "$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")" \
    "$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$summary")"
fi

echo "=== windows program"
log=build/win32/program.log
KWS_WINDOWS_BUILD=$PWD/build/win32 timeout 600 build/normal/tests/wine_tests | tee "$log" || status=1
total=$(sed -nE 's/^\[==========\] ([0-9]+) tests? from .* ran\..*/\1/p' "$log" | tail -1)
good=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\./\1/p' "$log" | tail -1)
if [ -z "$total" ]; then
  echo "=== windows program: no test ran"
  status=1
else
  count program "$total" "$((total - ${good:-0}))"
fi

echo "=== windows: $passed passed, $failed failed"
exit $status
