#!/usr/bin/env bash
# Builds the C++ tests, the fuzz replay programs and the extension module with
# AddressSanitizer and UndefinedBehaviorSanitizer (gcc), then runs the C++ tests and the fuzz
# regression inputs (leaks included), and the Python tests against the sanitized module.
# Any report fails the run. Usage: scripts/sanitize.sh [BUILD_DIR]   (default build/sanitize)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/sanitize}
CC=gcc CXX=g++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPARAVOX_SANITIZE=ON -DPARAVOX_BUILD_TESTS=ON -DPARAVOX_BUILD_PYTHON=ON \
  -DPARAVOX_BUILD_FUZZ=ON >/dev/null
cmake --build "$build" -j2
build=$(cd "$build" && pwd)

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
  ctest --test-dir "$build" --output-on-failure -j2

# The interpreter is not built with the sanitizers: the runtime is preloaded so that it comes
# first (with the C++ library, or ASan cannot find the real __cxa_throw that it intercepts),
# Python's own allocator is bypassed so every object goes through ASan, and leak checking is
# off because the interpreter leaks by design at exit. Child processes that the tests start
# inherit all of this.
preload="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so.6)"
LD_PRELOAD="$preload" PYTHONMALLOC=malloc \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 PYTHONPATH="$build:$PWD/python" \
  python3 -m pytest -q -p no:cacheprovider tests/python
