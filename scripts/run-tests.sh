#!/usr/bin/env bash
# Builds the library and its tests with AddressSanitizer and UndefinedBehaviorSanitizer in build/test and
# runs every test; exits non-zero when the build or any test fails.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/test"
jobs="$(nproc)"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELA_SANITIZE=ON -DVELA_BUILD_TESTS=ON
cmake --build "$build" --parallel "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j"$jobs" --no-tests=error
