#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test three times: a normal build, one under
# AddressSanitizer + UndefinedBehaviorSanitizer and one under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

status=0
run() {
  local name=$1
  shift
  echo "=== $name build"
  bash scripts/build.sh "$name" "$@"
  echo "=== $name tests"
  (cd "build/$name" && ctest --output-on-failure -j 2 --timeout 300) || status=1
}
run normal
run asan -DKWS_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug
run tsan -DKWS_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo
exit $status
