#!/usr/bin/env bash
# Sets everything up, then runs every test: the C++ unit tests and the Python tests against the
# installed package, then both again against an AddressSanitizer/UBSan build. Every stage runs
# even when an earlier one failed; the last line sums them up ("tests: N passed, N failed,
# N skipped"), after the reasons for anything skipped. Exits 1 when anything failed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/venv.sh
use_venv

results=$PWD/build/test-results
rm -rf "$results"
mkdir -p "$results"
export PARAVOX_JUNIT_DIR=$results

build=build/tests
if cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPARAVOX_BUILD_TESTS=ON -DPARAVOX_BUILD_PYTHON=OFF >/dev/null &&
  cmake --build "$build" -j2; then
  ctest --test-dir "$build" --output-on-failure -j2 --output-junit "$results/cpp.xml" || true
fi

# From the top folder, the installed package is imported: the source tree keeps it in python/.
python -m pytest -q -p no:cacheprovider --junitxml="$results/python.xml" tests/python || true

# The same tests (and the fuzzers' regression inputs) against an AddressSanitizer/UBSan build.
bash scripts/sanitize.sh build/sanitize || true

python scripts/test_summary.py \
  "C++ tests=$results/cpp.xml" \
  "Python tests=$results/python.xml" \
  "C++ tests, sanitized=$results/cpp-sanitized.xml" \
  "Python tests, sanitized=$results/python-sanitized.xml"
