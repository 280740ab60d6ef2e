#!/usr/bin/env bash
# Installs what is needed, checks the formatting, then builds and runs every test: a normal build (Release),
# one under AddressSanitizer + UndefinedBehaviorSanitizer and one under ThreadSanitizer; the fuzz targets; then
# the Windows builds under Wine (scripts/windows.sh): the 64-bit one always, the 32-bit one where this machine
# runs 32-bit programs (KWS_NO_32BIT=1 says it does not), and only built otherwise. A pass that finds no test
# fails. Each pass's summary line ends with its duration; the last line counts everything.
set -euo pipefail
cd "$(dirname "$0")/.."
elapsed() { echo "$(((SECONDS - $1) / 60)) min $(((SECONDS - $1) % 60)) s"; }
started=$SECONDS
bash scripts/setup.sh
echo "=== installs: $(elapsed $started)"

status=0
passed=0
failed=0

since=$SECONDS
echo "=== formatting"
if git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror; then
  echo "=== formatting: clean ($(elapsed $since))"
else
  echo "=== formatting: not clean ($(elapsed $since))"
  status=1
fi

since=$SECONDS
echo "=== 32-bit plug-in layouts"
gcc -m32 -std=c11 -Wall -Werror -fsyntax-only -I plugins/sdk plugins/sdk/LayoutCheck.c examples/plugins/*.c
g++ -m32 -std=c++20 -Wall -Werror -fsyntax-only -I plugins/sdk plugins/sdk/LayoutCheck.cpp
echo "=== 32-bit plug-in layouts: hold ($(elapsed $since))"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"

run() {
  local name=$1 since=$SECONDS
  shift
  echo "=== $name build"
  bash scripts/build.sh "$name" -DKWS_BUILD_TESTS=ON "$@"
  echo "=== $name tests"
  local log="build/$name/ctest.log"
  (cd "build/$name" && ctest --output-on-failure --no-tests=error -j 2 --timeout 300) | tee "$log" || status=1
  # ctest's summary: "N% tests passed, F tests failed out of T"
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)
  if [ -z "$summary" ]; then
    echo "=== $name: no test ran ($(elapsed $since))"
    status=1
    return
  fi
  local total bad
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
  echo "=== $name: $total tests ran, $((total - bad)) passed, $bad failed ($(elapsed $since))"
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}
# Each fuzz target runs for a while on a copy of its seeds; any crash, leak or sanitizer report fails it.
fuzz() {
  local since=$SECONDS
  echo "=== fuzz build"
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DKWS_BUILD_TESTS=OFF -DKWS_BUILD_FUZZ=ON \
    -DKWS_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  local source name
  for source in fuzz/*Fuzz.cpp; do
    name=$(basename "$source" .cpp)
    cmake --build build/fuzz --target "$name"
    rm -rf "build/fuzz/corpus/$name" && mkdir -p "build/fuzz/corpus/$name"
    echo "=== fuzz $name"
    if "build/fuzz/fuzz/$name" -max_total_time=20 -print_final_stats=1 "build/fuzz/corpus/$name" \
      "fuzz/${name%Fuzz}" >"build/fuzz/$name.log" 2>&1; then
      grep -E '^(Done|stat::number_of_executed_units)' "build/fuzz/$name.log" || true
      passed=$((passed + 1))
    else
      tail -60 "build/fuzz/$name.log"
      failed=$((failed + 1))
      status=1
    fi
  done
  echo "=== fuzz: done ($(elapsed $since))"
}
# Runs scripts/windows.sh and adds its count, which its last line gives.
windows() {
  local bits=$1 since=$SECONDS log=build/windows$1.log
  mkdir -p build
  bash scripts/windows.sh "$@" 2>&1 | tee "$log" || status=1
  [ "${2:-}" != build-only ] || return 0
  local summary
  summary=$(grep -E "^=== windows$bits: [0-9]+ passed, [0-9]+ failed" "$log" | tail -1 || true)
  if [ -z "$summary" ]; then
    echo "=== windows$bits: did not finish ($(elapsed $since))"
    status=1
    return
  fi
  passed=$((passed + $(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$summary")))
  failed=$((failed + $(sed -E 's/.*, ([0-9]+) failed.*/\1/' <<<"$summary")))
}

run normal -DCMAKE_BUILD_TYPE=Release
fuzz
run asan -DKWS_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug
run tsan -DKWS_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo
windows 64
if why=$(bash scripts/probe32.sh); then
  windows 32
  ran="windows64 and windows32 ran"
else
  echo "=== windows32: not run: $why"
  windows 32 build-only
  ran="windows64 ran; windows32 only built ($why)"
fi
echo "$passed passed, $failed failed in $(elapsed $started); $ran"
exit $status
