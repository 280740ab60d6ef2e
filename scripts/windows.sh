#!/usr/bin/env bash
# Usage: scripts/windows.sh 32|64 [build-only]
# Builds the program, the sample plug-ins and the unit tests as 32- or 64-bit Windows programs with mingw-w64,
# in Release, into build/win32 or build/win64; then, unless "build-only", runs them under Wine in a private
# prefix of their own: the unit tests, then the program itself watched from Linux over loopback (build/normal's
# wine_tests, built here if missing). The 32-bit run uses Wine's 32-bit loader and nothing else: wine64 would
# run a 32-bit program as a silent exit 0. Every Wine call is bounded by a timeout, and each run must print its
# own count of tests: an exit code alone proves nothing under Wine. Last line:
# "=== windowsNN: P passed, F failed (duration)".
set -euo pipefail
cd "$(dirname "$0")/.."
elapsed() { echo "$(((SECONDS - $1) / 60)) min $(((SECONDS - $1) % 60)) s"; }
bits=${1:?usage: scripts/windows.sh 32|64 [build-only]}
mode=${2:-run}
case "$bits" in
32) toolchain=cmake/mingw-w64-i686.cmake loader=/usr/lib/wine/wine arch=win32 ;;
64) toolchain=cmake/mingw-w64-x86_64.cmake loader=/usr/lib/wine/wine64 arch=win64 ;;
*)
  echo "usage: scripts/windows.sh 32|64 [build-only]" >&2
  exit 2
  ;;
esac
name=windows$bits
build=build/win$bits
bash scripts/setup.sh windows
[ "$mode" = build-only ] || [ "$bits" = 64 ] || bash scripts/setup.sh windows32

echo "=== $name build"
since=$SECONDS
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DKWS_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "=== $name build: done ($(elapsed $since))"
if [ "$mode" = build-only ]; then
  echo "=== $name: built, not run ($(elapsed 0))"
  exit 0
fi
bash scripts/build.sh normal -DKWS_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null

export WINEPREFIX=$PWD/$build/wineprefix WINEARCH=$arch WINEDEBUG=-all WINELOADER=$loader KWS_WINE=$loader
# A crash exits instead of waiting for a debugger; no browser or .NET installs on the way.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
echo "=== $name prefix"
since=$SECONDS
# Windows go to a private X server: with Wine's null graphics driver a new prefix's windows fail now and then.
display=$build/display
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$display" >/dev/null 2>&1 &
xvfb=$!
trap 'timeout 60 wineserver -k >/dev/null 2>&1 || true; kill $xvfb 2>/dev/null || true' EXIT
timeout 30 bash -c "until [ -s $display ]; do sleep 0.1; done"
export DISPLAY=":$(cat "$display")"
timeout 60 wineserver -k >/dev/null 2>&1 || true # a server left by an interrupted run
rm -rf "$WINEPREFIX"
# Every call's output goes into a file: the helper processes a first call starts (services, devices) inherit it
# and keep it open for good, which would hold a pipe, and whoever reads it, until the end.
boot=$build/wineboot.log
timeout 300 "$loader" wineboot -i </dev/null >"$boot" 2>&1
timeout 60 wineserver -w
# One server for every call that follows, also while services start and stop; a running one cannot be told
# to stay, hence the wait above for the booting one to end.
timeout 60 wineserver -p 900 </dev/null >/dev/null 2>&1
# The first call under this server starts its helper processes, into the file.
timeout 60 "$loader" reg query 'HKCU\Software\Wine' </dev/null >>"$boot" 2>&1
echo "=== $name prefix: ready ($(elapsed $since))"

status=0
passed=0
failed=0
count() { # what total bad
  echo "=== $name $1: $2 tests ran, $(($2 - $3)) passed, $3 failed ($(elapsed $since))"
  passed=$((passed + $2 - $3))
  failed=$((failed + $3))
  [ "$3" -eq 0 ] || status=1
}

echo "=== $name unit tests"
since=$SECONDS
log=$build/ctest.log
(cd "$build" && timeout 1200 ctest --output-on-failure --no-tests=error -j 2 --timeout 120) | tee "$log" || status=1
summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)
if [ -z "$summary" ]; then
  echo "=== $name unit tests: no test ran"
  status=1
else
  count "unit tests" "$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")" \
    "$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$summary")"
fi

echo "=== $name program"
since=$SECONDS
log=$build/program.log
KWS_WINDOWS_BUILD=$PWD/$build timeout 600 build/normal/tests/wine_tests | tee "$log" || status=1
total=$(sed -nE 's/^\[==========\] ([0-9]+) tests? from .* ran\..*/\1/p' "$log" | tail -1)
good=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\./\1/p' "$log" | tail -1)
if [ -z "$total" ]; then
  echo "=== $name program: no test ran"
  status=1
else
  count program "$total" "$((total - ${good:-0}))"
fi

echo "=== $name: $passed passed, $failed failed ($(elapsed 0))"
exit $status
