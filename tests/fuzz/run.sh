#!/usr/bin/env bash
# Builds the image fuzzers with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time from the seed
# corpus in tests/fuzz/corpus. Exits non-zero when a fuzzer finds a crash, a
# leak, undefined behaviour, a timeout or runaway memory use.
# (-fconstexpr-steps: clang's default limit is too low for tables the math
# library builds at compile time.)
#   FUZZ_SECONDS  time per fuzzer (default 60; both run side by side)
#   FUZZ_BUILD    build directory (default build-fuzz in the repository)
#   FUZZ_SEED     libFuzzer's random seed (default 0: a new one each run)
#   FUZZ_SLOW_FATAL
#                 1 (default): a timeout or memory-limit finding fails the run
#                 like a crash; 0: such findings are reported and kept, and
#                 only crashes, leaks and undefined behaviour fail (their
#                 limits depend on how busy the machine is)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
here="$root/tests/fuzz"
build="${FUZZ_BUILD:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"
seed="${FUZZ_SEED:-0}"
slow_fatal="${FUZZ_SLOW_FATAL:-1}"

cc="$(command -v clang-14 || command -v clang)"
cxx="$(command -v clang++-14 || command -v clang++)"

echo "== configuring $build with $cxx"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -fconstexpr-steps=100000000" \
  -DNERRO_SANITIZE=ON -DNERRO_FUZZ=ON -DNERRO_TESTS=ON -DNERRO_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_image_load fuzz_image_decoders -j "$(nproc)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/load" "$work/decoders" "$work/decoder-seeds" "$work/artifacts"

# The decoder fuzzer takes a selector byte before the data: which decoder.
selector() {
  case "$1" in
    bmp) echo 0 ;; dib) echo 1 ;; tga) echo 2 ;; dds) echo 3 ;; ppm) echo 4 ;;
    pfm) echo 5 ;; hdr) echo 6 ;; jpg) echo 7 ;; png) echo 8 ;; *) echo "" ;;
  esac
}
for f in "$here"/corpus/*; do
  s="$(selector "${f##*.}")"
  [ -n "$s" ] || continue
  { printf "\\x$(printf %02x "$s")"; cat "$f"; } > "$work/decoder-seeds/$(basename "$f")"
done

export ASAN_OPTIONS="allocator_may_return_null=1:max_allocation_size_mb=1024:detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
flags=(-max_total_time="$seconds" -seed="$seed" -timeout=10 -rss_limit_mb=3072 -malloc_limit_mb=3072 -max_len=65536
       -print_final_stats=1 -artifact_prefix="$work/artifacts/")

echo "== fuzzing for ${seconds}s each"
"$build/tests/fuzz/fuzz_image_load" "${flags[@]}" "$work/load" "$here/corpus" > "$work/load.log" 2>&1 &
load_pid=$!
"$build/tests/fuzz/fuzz_image_decoders" "${flags[@]}" "$work/decoders" "$work/decoder-seeds" > "$work/decoders.log" 2>&1 &
decoders_pid=$!
status=0
wait "$load_pid" || status=1
wait "$decoders_pid" || status=1

for kind in load decoders; do
  runs="$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$work/$kind.log" | grep -Eo '[0-9]+$' || echo '?')"
  echo "fuzz_image_$kind: $runs executions"
done
if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/artifacts")" ]; then
  for kind in load decoders; do
    echo "---- fuzz_image_$kind log (tail)"
    tail -n 60 "$work/$kind.log"
  done
  mkdir -p "$build/fuzz-findings"
  cp "$work"/artifacts/* "$build/fuzz-findings/" 2>/dev/null || true
  echo "fuzzing found a problem; inputs kept in $build/fuzz-findings/"
  serious="$(ls "$work/artifacts" | grep -Ev '^(timeout|oom|slow-unit)-' || true)"
  if [ "$slow_fatal" = 0 ] && [ -z "$serious" ] && [ -n "$(ls -A "$work/artifacts")" ]; then
    echo "fuzzing: only time or memory limits were hit (not fatal here): $(ls "$work/artifacts" | tr '\n' ' ')"
    exit 0
  fi
  exit 1
fi
echo "fuzzing: no findings"
