#!/usr/bin/env bash
# Installs what is missing, builds Velmora and runs every test:
#   1. the normal build in build/: unit tests and the end-to-end tests (Xvfb, PulseAudio null sink);
#   2. an AddressSanitizer/UBSan build in build-asan/: the unit tests again;
#   3. fuzz smoke runs.
# Exits non-zero when any step fails; later steps still run so one report shows everything.
#
# Arguments are passed to the first ctest run (e.g. `scripts/test.sh -R m3u`).
# VELMORA_TEST_SANITIZE=0 skips step 2, VELMORA_TEST_FUZZ=0 skips step 3.
set -uo pipefail
cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.."

jobs=$(nproc)
failed=()

step() { # name command...
  local name=$1 start=$SECONDS
  shift
  echo "==== test.sh: $name"
  if "$@"; then
    echo "==== test.sh: $name: ok ($((SECONDS - start)) s)"
  else
    echo "==== test.sh: $name: FAILED ($((SECONDS - start)) s)"
    failed+=("$name")
    return 1
  fi
}

configure_and_build() { # build-dir cmake-options...
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@" >/dev/null && cmake --build "$dir" -j"$jobs"
}

run_ctest() { # build-dir ctest-options...
  local dir=$1
  shift
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$jobs" "$@"
}

main_build_and_tests() {
  step "build" configure_and_build build || return
  step "tests" run_ctest build "$@"
}

# Memory and undefined-behaviour errors abort the test that hits them. The
# end-to-end tests are left out: they exercise the same code as the normal build.
sanitizer_build_and_tests() {
  [[ ${VELMORA_TEST_SANITIZE:-1} != 0 ]] || return 0
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  step "sanitizer build" configure_and_build build-asan -DVELMORA_SANITIZE=ON || return
  step "sanitizer tests" run_ctest build-asan -LE e2e
}

# Short libFuzzer runs of every fuzz target, to catch crashes on the seed corpora.
fuzz_smoke() {
  [[ ${VELMORA_TEST_FUZZ:-1} != 0 ]] || return 0
  [[ -f fuzz/CMakeLists.txt ]] || return 0
  step "fuzz replay" scripts/fuzz.sh --replay || return
  step "fuzz smoke" scripts/fuzz.sh "${VELMORA_TEST_FUZZ_SECONDS:-20}"
}

step "dependencies" bash scripts/deps.sh || exit 1
main_build_and_tests "$@"
sanitizer_build_and_tests
fuzz_smoke

if ((${#failed[@]})); then
  echo "test.sh: failed steps: ${failed[*]}"
  exit 1
fi
echo "test.sh: every step passed"
