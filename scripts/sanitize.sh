#!/usr/bin/env bash
# Builds the C++ tests, the fuzz replay programs and the extension module with
# AddressSanitizer and UndefinedBehaviorSanitizer (gcc), then runs the C++ tests and the fuzz
# regression inputs (leaks included), and the Python tests against the sanitized module.
# Any report fails the run. Usage: scripts/sanitize.sh [BUILD_DIR]   (default build/sanitize)
# Python is the one of the environment scripts/setup.sh makes, when there is one. With
# PARAVOX_JUNIT_DIR set, both test runs write their JUnit reports there.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh
use_venv

build=${1:-build/sanitize}
CC=gcc CXX=g++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPARAVOX_SANITIZE=ON -DPARAVOX_BUILD_TESTS=ON -DPARAVOX_BUILD_PYTHON=ON \
  -DPARAVOX_BUILD_FUZZ=ON >/dev/null
cmake --build "$build" -j2
build=$(cd "$build" && pwd)

cpp_junit=() python_junit=()
if [ -n "${PARAVOX_JUNIT_DIR:-}" ]; then
  cpp_junit=(--output-junit "$PARAVOX_JUNIT_DIR/cpp-sanitized.xml")
  python_junit=(--junitxml "$PARAVOX_JUNIT_DIR/python-sanitized.xml")
fi

status=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
  ctest --test-dir "$build" --output-on-failure -j2 "${cpp_junit[@]}" || status=1

# The interpreter is not built with the sanitizers: the runtime is preloaded so that it comes
# first (with the C++ library, or ASan cannot find the real __cxa_throw that it intercepts),
# Python's own allocator is bypassed so every object goes through ASan, and leak checking is
# off because the interpreter leaks by design at exit. Child processes that the tests start
# inherit all of this. The framework adapters' tests are left out: the adapters are Python over
# the same calls, and the frameworks' own compiled modules are not built for the sanitizers.
preload="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so.6)"
LD_PRELOAD="$preload" PYTHONMALLOC=malloc \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 PYTHONPATH="$build:$PWD/python" \
  python3 -m pytest -q -p no:cacheprovider "${python_junit[@]}" \
  --ignore=tests/python/test_adapters.py tests/python || status=1
exit $status
