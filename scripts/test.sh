#!/usr/bin/env bash
# Installs what is missing, builds Velmora and runs every test:
#   1. an AddressSanitizer/UBSan build in build-asan/: the unit tests, where a memory
#      error, a leak or undefined behaviour fails the test that hits it;
#   2. the player as users get it, built in build/: the end-to-end tests (Xvfb,
#      PulseAudio null sink, tray);
#   3. the fuzz targets: every committed input once, then a short run of each.
# Exits non-zero when any step fails; later steps still run so one report shows everything.
#
# Arguments are passed to both ctest runs (e.g. `scripts/test.sh -R m3u`).
# VELMORA_TEST_E2E=0 skips step 2, VELMORA_TEST_FUZZ=0 skips step 3,
# VELMORA_TEST_FUZZ_SECONDS sets the length of each fuzz run (default 10).
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

configure_and_build() { # build-dir [cmake-option...] [-- build-option...]
  local dir=$1 configure=() build=()
  shift
  while (($#)) && [[ $1 != -- ]]; do configure+=("$1"); shift; done
  (($#)) && shift
  build=("$@")
  cmake -S . -B "$dir" "${configure[@]}" >/dev/null && cmake --build "$dir" -j"$jobs" "${build[@]}"
}

run_ctest() { # build-dir ctest-options...
  local dir=$1
  shift
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$jobs" "$@"
}

# The unit tests run once, in the sanitizer build: they are the same tests either way,
# and building them twice would double the time of the whole run.
sanitizer_build_and_tests() {
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  # Line tables are all a sanitizer report needs, and build much faster than full debug info.
  step "sanitizer build" configure_and_build build-asan -DVELMORA_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -- --target velmora_unit_tests || return
  step "unit tests" run_ctest build-asan -LE e2e "$@"
}

# The end-to-end tests need only the player itself, built as users build it.
player_build_and_e2e() {
  [[ ${VELMORA_TEST_E2E:-1} != 0 ]] || return 0
  step "player build" configure_and_build build -- --target velmora velmora_demo velmora_fixtures || return
  step "end-to-end tests" run_ctest build -L e2e "$@"
}

# Short libFuzzer runs of every fuzz target, to catch crashes on the seed corpora.
fuzz_smoke() {
  [[ ${VELMORA_TEST_FUZZ:-1} != 0 ]] || return 0
  [[ -f fuzz/CMakeLists.txt ]] || return 0
  step "fuzz replay" scripts/fuzz.sh --replay || return
  step "fuzz smoke" scripts/fuzz.sh "${VELMORA_TEST_FUZZ_SECONDS:-10}"
}

step "dependencies" bash scripts/deps.sh || exit 1
sanitizer_build_and_tests "$@"
player_build_and_e2e "$@"
fuzz_smoke

if ((${#failed[@]})); then
  echo "test.sh: failed steps: ${failed[*]}"
  exit 1
fi
echo "test.sh: every step passed"
