#!/usr/bin/env bash
# Sets everything up, then runs every test: the C++ unit tests and the Python tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/tests
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPARAVOX_BUILD_TESTS=ON -DPARAVOX_BUILD_PYTHON=OFF >/dev/null
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2

# Run from the tests folder so that the installed package, not the source tree, is imported.
python3 -m pytest -q -p no:cacheprovider tests/python

# The same tests (and the fuzzers' regression inputs) against an AddressSanitizer/UBSan build.
bash scripts/sanitize.sh build/sanitize
