#!/usr/bin/env bash
# The hardening runs: the sanitizer build with the unit and end-to-end tests,
# the hostile-input and valgrind suite, terminal restore after a signal, and a
# bounded fuzzing run of every target.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
fuzz_seconds=${TARNWICK_FUZZ_SECONDS:-30}
failed=()

step() {
  local name=$1
  shift
  echo "--> $name"
  if "$@"; then echo "<-- $name: ok"; else echo "<-- $name: FAILED"; failed+=("$name"); fi
}

export ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_leaks=1
export LSAN_OPTIONS="suppressions=$root/tests/hardening/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

build_asan() {
  cmake -S . -B build-asan -DTARNWICK_SANITIZE=ON >/dev/null && cmake --build build-asan -j"$(nproc)"
}
step "sanitizer build" build_asan
step "unit tests (ASan+UBSan)" ctest --test-dir build-asan --output-on-failure
step "end-to-end tests (ASan+UBSan)" tests/e2e/run.sh build-asan/tarnwick
[ -x tests/e2e/run-hardening.sh ] &&
  step "hostile input (ASan+UBSan)" tests/e2e/run-hardening.sh build-asan/tarnwick
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

[ -x tests/e2e/run-hardening.sh ] &&
  step "hostile input and valgrind" tests/e2e/run-hardening.sh build/tarnwick

terminal_restore() {
  local conf
  conf=$(mktemp)
  printf '[global]\n  netbios name = SIGNALBOX\n  server string = before\n' >"$conf"
  (ulimit -c 0 && python3 tests/hardening/terminal_restore.py build/tarnwick "$conf")
  local rc=$?
  rm -f "$conf"
  return $rc
}
step "terminal restored after a signal" terminal_restore

if command -v clang++ >/dev/null && [ -x fuzz/run.sh ]; then
  build_fuzz() {
    cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DTARNWICK_FUZZ=ON >/dev/null &&
      cmake --build build-fuzz -j"$(nproc)"
  }
  step "fuzz build" build_fuzz
  step "fuzzing (${fuzz_seconds} s a target)" fuzz/run.sh build-fuzz "$fuzz_seconds"
else
  echo "--> fuzzing: skipped (no clang++)"
fi

if [ ${#failed[@]} -ne 0 ]; then
  echo "hardening failed: ${failed[*]}"
  exit 1
fi
