#!/usr/bin/env bash
# Installs what is needed, checks the formatting, then builds and runs every test three times: a normal build,
# one under AddressSanitizer + UndefinedBehaviorSanitizer and one under ThreadSanitizer; then the Windows build
# under Wine (scripts/windows.sh). A pass that finds no test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

echo "=== formatting"
git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "=== 32-bit plug-in layouts"
gcc -m32 -std=c11 -Wall -Werror -fsyntax-only -I plugins/sdk plugins/sdk/LayoutCheck.c examples/plugins/*.c
g++ -m32 -std=c++20 -Wall -Werror -fsyntax-only -I plugins/sdk plugins/sdk/LayoutCheck.cpp

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"

status=0
passed=0
failed=0
run() {
  local name=$1
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
    echo "=== $name: no test ran"
    status=1
    return
  fi
  local total bad
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
  echo "=== $name: $total tests ran, $((total - bad)) passed, $bad failed"
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}
# Each fuzz target runs for a while on a copy of its seeds; any crash, leak or sanitizer report fails it.
fuzz() {
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
}
run normal
fuzz
run asan -DKWS_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug
run tsan -DKWS_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo
windows() {
  local log=build/windows.log
  mkdir -p build
  bash scripts/windows.sh 2>&1 | tee "$log" || status=1
  local summary
  summary=$(grep -E '^=== windows: [0-9]+ passed, [0-9]+ failed' "$log" | tail -1 || true)
  if [ -z "$summary" ]; then
    echo "=== windows: did not finish"
    status=1
    return
  fi
  passed=$((passed + $(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$summary")))
  failed=$((failed + $(sed -E 's/.*, ([0-9]+) failed.*/\1/' <<<"$summary")))
}
windows
echo "$passed passed, $failed failed"
exit $status
