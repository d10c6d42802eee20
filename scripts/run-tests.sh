#!/usr/bin/env bash
# Checks that the folders depend one way (scripts/check-layers.sh), builds the library and its tests with
# AddressSanitizer and UndefinedBehaviorSanitizer in build/test and runs every test, then the concurrency tests
# under ThreadSanitizer in build/tsan, then installs a Release build of the library into a temporary prefix,
# builds and runs tests/package against it and runs the installed updater bundle; exits non-zero when a check, a
# build (warnings included), a test or the install fails or ThreadSanitizer reports.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/test"
jobs="$(nproc)"

"$root/scripts/check-layers.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELA_SANITIZE=ON -DVELA_BUILD_TESTS=ON \
    -DVELA_TEST_SEAMS=ON -DVELA_WERROR=ON
cmake --build "$build" --parallel "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j"$jobs" --no-tests=error

# ThreadSanitizer: a second, smaller build with the core, values, json, system, intl and app tests only; the
# lock, task, message, logger and component manager suites run in it, with the suites that share bags, JSON
# graphs, storage lockers, progress indicators, localization tables and an international manager's first use
# between threads, and any report fails the script.
tsan="$root/build/tsan"
cmake -S "$root" -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELA_SANITIZE=OFF -DVELA_BUILD_TESTS=ON \
    -DVELA_WERROR=ON -DCMAKE_CXX_FLAGS="-fsanitize=thread -g -O1" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
    -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
cmake --build "$tsan" --parallel "$jobs" --target core_tests values_tests json_tests system_tests \
    intl_tests app_tests
concurrency_suites="SpinLockTest.*:VCriticalSection.*:VSyncEvent.*:VConditionVariable.*:VTaskMgr.*:VTaskTest.*"
concurrency_suites+=":VMessageTest.*:VMessageQueue.*:VMemoryHog.*:VFiber*:ILogger*"
concurrency_suites+=":VCppMemMgrVelaConcurrency.*:VLeaksCheckerConcurrency.*"
TSAN_OPTIONS=halt_on_error=1 "$tsan/tests/core_tests" --gtest_filter="$concurrency_suites"
TSAN_OPTIONS=halt_on_error=1 "$tsan/tests/values_tests" \
    --gtest_filter="VPackedDictionaryConcurrency.*:VValueBagConcurrency.*"
TSAN_OPTIONS=halt_on_error=1 "$tsan/tests/json_tests" \
    --gtest_filter="VStorageLocker*:VJSONUser.*:VJSONGraphConcurrency.*:VJSONClassConcurrency.*"
TSAN_OPTIONS=halt_on_error=1 "$tsan/tests/system_tests" --gtest_filter="VProgressConcurrency.*"
TSAN_OPTIONS=halt_on_error=1 "$tsan/tests/intl_tests" --gtest_filter="VLocalizationManagerConcurrency.*:VIntlMgrConcurrency.*"
TSAN_OPTIONS=halt_on_error=1 "$tsan/tests/app_tests" --gtest_filter="VLoggerTest.*:VComponentManagerConcurrency.*"

# The installed package: a Release build of the library alone, installed into a temporary prefix, and a
# consumer that finds it with find_package(velacore), includes every installed header and runs. The consumer
# is configured afresh each time, since the prefix is new.
package="$root/build/package"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake -S "$root" -B "$package/lib" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELA_BUILD_TESTS=OFF \
    -DVELA_BUILD_BENCH=OFF -DVELA_BUILD_FUZZ=OFF -DVELA_SANITIZE=OFF -DVELA_WERROR=ON
cmake --build "$package/lib" --parallel "$jobs"
cmake --install "$package/lib" --prefix "$prefix"
# The installed updater bundle runs from its place, with the library it was installed with.
"$prefix/libexec/Updater.app/Contents/MacOS/updater" --version
rm -rf "$package/consumer"
cmake -S "$root/tests/package" -B "$package/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
cmake --build "$package/consumer" --parallel "$jobs"
"$package/consumer/velacore_consumer"
