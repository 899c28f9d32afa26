#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan and UBSan) and fuzzes each for a while,
# starting from its seed corpus and the inputs that once found a fault. A crash, a leak, a
# timeout or undefined behaviour fails the script; the input that found it is left in
# build-fuzz/findings/NAME/ to be fixed and then kept in tests/fuzz/regressions/NAME/.
#
#   scripts/run-fuzz.sh [SECONDS_EACH] [TARGET...]     (default 60 s, every target)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(frame bus frame_dump command_ring sense package)

build=${VANTREL_FUZZ_BUILD:-build-fuzz}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVANTREL_FUZZ=ON -DVANTREL_TESTS=OFF -DVANTREL_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target "${targets[@]/%/_fuzz}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
# The package target writes a package per input, fsyncs and all: in memory where there is room.
[ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
failed=()
for name in "${targets[@]}"; do
  echo "== fuzzing $name for $seconds s"
  # The corpus grows in the build folder; the checked-in seeds stay small.
  work="$build/corpus/$name"
  findings="$build/findings/$name"
  mkdir -p "$work" "$findings"
  inputs=(tests/fuzz/corpus/"$name")
  [ -d tests/fuzz/regressions/"$name" ] && inputs+=(tests/fuzz/regressions/"$name")
  if ! "$build/fuzz/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$work" "${inputs[@]}"; then
    failed+=("$name")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $build/findings/)" >&2
  exit 1
fi
echo "fuzzing found nothing in ${targets[*]}"
