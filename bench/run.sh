#!/usr/bin/env bash
# The benchmark in one command: builds the module and the benchmark programs (Release) in
# build/bench, then measures throughput against the floor, scaling, micro-benchmarks and
# hostile inputs, prints a short table and writes bench/results.md.
#
#   bash bench/run.sh            # the full run, about 5 minutes
#   bash bench/run.sh --quick    # without the 100 MB document, shorter micro-benchmarks
#
# Other arguments go to bench/bench.py (--rounds N, --repeats N, --corpus DIR, --out FILE).
set -euo pipefail
cd "$(dirname "$0")/.."
python=$(command -v python3)
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DPARAVOX_BUILD_PYTHON=ON \
  -DPARAVOX_BUILD_BENCH=ON -DPython_EXECUTABLE="$python" >/dev/null
cmake --build build/bench -j2 --target _paravox _native paravox_floor paravox_micro \
  paravox_hwpx_floor >/dev/null
PARAVOX_BENCH_COMMAND="bash bench/run.sh${*:+ $*}" exec "$python" bench/bench.py --build build/bench "$@"
