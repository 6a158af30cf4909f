#!/usr/bin/env bash
# A short, bounded fuzz run: builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz, then runs each for N seconds (default 30) on a
# copy of its committed seed corpus in fuzz/corpus/<target>/. Fails on the first crash, leak,
# hang or broken invariant, and keeps the input that did it as fuzz/crash-<target>-*.
#
#   scripts/fuzz.sh          30 seconds per target
#   scripts/fuzz.sh 300      five minutes per target
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-30}
build=$root/build-fuzz
targets=(settings_reader text_form composer connection_string address_list secret_guard)

scripts/install-deps.sh

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCORVANE_FUZZ=ON -DCORVANE_SANITIZE=ON -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF \
  >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzz}"

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

for target in "${targets[@]}"; do
  cp -r "fuzz/corpus/$target" "$work/$target"
  seeds=$(find "$work/$target" -type f | wc -l)
  log=$work/$target.log
  if ! (cd "$work" && "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$root/fuzz/crash-$target-" "$work/$target" \
        >"$log" 2>&1); then
    tail -n 60 "$log" >&2
    echo "fuzz: $target failed; the input that did it is in fuzz/crash-$target-*" >&2
    exit 1
  fi
  runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  found=$(find "$work/$target" -type f | wc -l)
  printf 'fuzz: %-16s %10s inputs in %ss, corpus %s -> %s, no failure\n' \
    "$target" "$runs" "$seconds" "$seeds" "$found"
done
