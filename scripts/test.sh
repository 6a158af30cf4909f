#!/usr/bin/env bash
# Builds and passes every test, twice: a normal build and an AddressSanitizer +
# UndefinedBehaviorSanitizer build. Installs the packages first. The tests start the servers they
# need (PostgreSQL through psqlODBC and MariaDB through Connector/ODBC, each on a private socket;
# aiosmtpd and smtp-sink on 127.0.0.1) in temporary folders and stop them. FreeTDS is only
# loaded: no SQL Server runs here. Each test run goes through tests/support/reap_leftovers.py:
# whatever it leaves running (a crashed test's server, say) is listed, stopped, and fails the
# run, and its temporary folder is removed; nothing outside that run is ever touched.
#
#   scripts/test.sh            both builds, then a short fuzz run (scripts/fuzz.sh)
#   scripts/test.sh quick      the normal build only
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh

# Missing servers fail the tests instead of skipping them.
export CORVANE_REQUIRE_SERVICES=1
jobs=$(nproc)

run_variant() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  /usr/bin/python3 "$root/tests/support/reap_leftovers.py" \
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$jobs" --timeout 600
}

# A packager's build: Release, the program only, with clang, installed into a staging folder.
# Warnings are errors here too, so neither compiler's warnings creep in.
packager_build() {
  local dir=$root/build-packager
  CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_WERROR=ON \
    >/dev/null
  cmake --build "$dir" -j"$jobs"
  rm -rf "$dir/stage"
  DESTDIR="$dir/stage" cmake --install "$dir" >/dev/null
  test -x "$dir/stage/opt/corvane-email-handler/corvane-email-handler"
}

run_variant "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_BUILD_TESTS=ON -DCORVANE_BUILD_BENCH=ON -DCORVANE_WERROR=ON
if [ "${1:-}" != "quick" ]; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  run_variant "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON -DCORVANE_BUILD_TESTS=ON -DCORVANE_WERROR=ON \
    -DCORVANE_BUILD_BENCH=OFF
  unset ASAN_OPTIONS UBSAN_OPTIONS
  packager_build
  scripts/fuzz.sh "${CORVANE_FUZZ_SECONDS:-20}"
fi
echo "All tests passed."
