#!/usr/bin/env bash
# Installs what is missing, builds both images, and runs every test: unit,
# end to end against real Samba, the Windows image's checks, and the
# hardening runs.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
start=$(date +%s)
failed=()

step() {  # step NAME COMMAND...
  local name=$1
  shift
  echo "==> $name"
  if "$@"; then
    echo "<== $name: ok"
  else
    echo "<== $name: FAILED"
    failed+=("$name")
  fi
}

scripts/install-deps.sh || exit 1

build_linux() {
  cmake -S . -B build -DTARNWICK_TESTS=ON >/dev/null &&
    cmake --build build -j"$(nproc)"
}
step "Linux build" build_linux
step "Unit tests" ctest --test-dir build --output-on-failure
step "End-to-end tests" tests/e2e/run.sh build/tarnwick

build_windows() {
  cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null &&
    cmake --build build-windows -j"$(nproc)"
}
if [ -f cmake/mingw-i686.cmake ]; then
  step "Windows build" build_windows
  [ -x tests/windows/run.sh ] && step "Windows image tests" tests/windows/run.sh build-windows
fi

for extra in scripts/hardening.sh; do
  [ -x "$extra" ] && step "$(basename "$extra" .sh)" "$extra"
done

echo "Total time: $(( $(date +%s) - start )) s"
if [ ${#failed[@]} -ne 0 ]; then
  echo "Failed: ${failed[*]}"
  exit 1
fi
echo "All test steps passed."
