#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build-fuzz/ and runs them.
#
#   scripts/fuzz.sh [seconds-per-target] [target...]   fuzz each target (default 60 s, all targets)
#   scripts/fuzz.sh --merge [seconds] [target...]      the same, then add the inputs of the scratch
#                                                      corpus that reach new code to
#                                                      fuzz/corpus/<target>/ (0 s: merge only)
#   scripts/fuzz.sh --replay [target...]               run every committed input once
#
# Each target fuzzes a scratch corpus (build-fuzz/corpus/<target>/, kept between runs)
# together with the committed one, which is only read. Crashes, timeouts and leaks are
# saved in fuzz/artifacts/<target>/ and make the script exit non-zero. Logs are in
# build-fuzz/logs/.
set -uo pipefail
cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.."

all_targets=(fuzz_m3u fuzz_entry fuzz_decoder)
build_dir=build-fuzz

mode=fuzz
case ${1:-} in
  --merge) mode=merge; shift ;;
  --replay) mode=replay; shift ;;
  -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
esac
seconds=60
if [[ $mode != replay && ${1:-} =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=("$@")
((${#targets[@]})) || targets=("${all_targets[@]}")
for target in "${targets[@]}"; do
  if [[ ! " ${all_targets[*]} " =~ " $target " ]]; then
    echo "fuzz.sh: unknown target $target (known: ${all_targets[*]})" >&2
    exit 2
  fi
done

max_len() {
  case $1 in
    fuzz_decoder) echo $((256 * 1024)) ;; # a few hundred MPEG frames and a tag
    *) echo $((64 * 1024)) ;;             # a long playlist or entry text
  esac
}

build() {
  mkdir -p "$build_dir"
  # Several runs may start at once; one build at a time.
  (
    flock 9
    if [[ ! -f $build_dir/CMakeCache.txt ]]; then
      CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DVELMORA_FUZZ=ON -DVELMORA_TESTS=OFF \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
    fi
    cmake --build "$build_dir" -j"$(nproc)" --target "${targets[@]}" >"$build_dir/fuzz-build.log" 2>&1 \
      || { tail -n 40 "$build_dir/fuzz-build.log"; exit 1; }
  ) 9>"$build_dir/.build.lock"
}

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Prints "<executions> <exec/s>" from a libFuzzer log with -print_final_stats=1.
final_stats() {
  awk '/^stat::number_of_executed_units:/ { runs = $2 }
       /^stat::average_exec_per_sec:/ { speed = $2 }
       END { print (runs == "" ? "?" : runs), (speed == "" ? "?" : speed) }' "$1"
}

report_failure() { # target log
  echo "fuzz.sh: $1 FAILED; inputs that fail are in fuzz/artifacts/$1/, the log is $2"
  grep -E '^(==[0-9]+==ERROR|SUMMARY|.*invariant failed|.*runtime error)' "$2" | head -n 5
}

run_target() {
  local target=$1 log=$build_dir/logs/$1.log
  local scratch=$build_dir/corpus/$target committed=fuzz/corpus/$target
  mkdir -p "$scratch" "$committed" "fuzz/artifacts/$target" "$build_dir/logs"
  if ((seconds > 0)); then # libFuzzer takes 0 as "no limit"
    "$build_dir/fuzz/$target" "$scratch" "$committed" \
      -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="fuzz/artifacts/$target/" -print_final_stats=1 >"$log" 2>&1
    local rc=$?
    read -r runs speed < <(final_stats "$log")
    echo "fuzz.sh: $target: $runs executions in ${seconds} s ($speed exec/s), scratch corpus $(find "$scratch" -type f | wc -l) inputs"
    if ((rc != 0)); then
      report_failure "$target" "$log"
      return 1
    fi
  fi
  if [[ $mode == merge ]]; then
    local before after
    before=$(find "$committed" -type f | wc -l)
    "$build_dir/fuzz/$target" -merge=1 -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048 \
      "$committed" "$scratch" >"$build_dir/logs/$target.merge.log" 2>&1 || {
      echo "fuzz.sh: $target: merge failed, see $build_dir/logs/$target.merge.log"
      return 1
    }
    after=$(find "$committed" -type f | wc -l)
    echo "fuzz.sh: $target: $((after - before)) new inputs in $committed/ ($(du -sh --apparent-size "$committed" | cut -f1) in all)"
  fi
}

replay_target() {
  local target=$1 log=$build_dir/logs/$1.replay.log
  local inputs=(fuzz/corpus/"$target"/*)
  mkdir -p "fuzz/artifacts/$target" "$build_dir/logs"
  [[ -e ${inputs[0]} ]] || { echo "fuzz.sh: $target: no committed inputs"; return 0; }
  # Given files rather than a folder, libFuzzer runs each one whole, once.
  if "$build_dir/fuzz/$target" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="fuzz/artifacts/$target/" \
    "${inputs[@]}" >"$log" 2>&1; then
    echo "fuzz.sh: $target: replayed ${#inputs[@]} committed inputs"
  else
    report_failure "$target" "$log"
    return 1
  fi
}

build || { echo "fuzz.sh: the fuzz build failed" >&2; exit 1; }
failed=()
for target in "${targets[@]}"; do
  if [[ $mode == replay ]]; then
    replay_target "$target" || failed+=("$target")
  else
    run_target "$target" || failed+=("$target")
  fi
done
if ((${#failed[@]})); then
  echo "fuzz.sh: failed: ${failed[*]}"
  exit 1
fi
