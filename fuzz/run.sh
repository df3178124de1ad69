#!/usr/bin/env bash
# Runs one fuzz target for a while: fuzz/run.sh TARGET SECONDS [BUILD_DIR] [WORK_DIR]
# Needs the libFuzzer build (CC=clang CXX=clang++ cmake -DPARAVOX_BUILD_FUZZ=ON ...) and seeds
# from fuzz/make_seeds.py in WORK_DIR/seeds/TARGET; the hwpx target also starts from the
# shared HWPX files (../shared/corpus/hwpx beside the repository) when they are there. New
# inputs go to WORK_DIR/work/TARGET, crashes, hangs (over 30 s: outputs near the 256 MiB ceiling take seconds when instrumented
# on a loaded machine) and leaks to WORK_DIR/artifacts/TARGET, the log to WORK_DIR/TARGET.log.
set -euo pipefail
target=$1
seconds=$2
build=${3:-build-fuzz}
work=${4:-/tmp/paravox-fuzz}
case $target in
  parse_records) max_len=16384 ;;
  walk_section) max_len=32768 ;;
  inflate_walk) max_len=8192 ;;
  document) max_len=65536 ;;
  hwpx) max_len=131072 ;;
  xml) max_len=65536 ;;
  docinfo) max_len=16384 ;;
  summary) max_len=4096 ;;
  header) max_len=65536 ;;
  *) echo "unknown target $target" >&2; exit 2 ;;
esac
mkdir -p "$work/work/$target" "$work/artifacts/$target" "$work/seeds/$target"
seeds=("$work/seeds/$target")
shared_hwpx="$(cd "$(dirname "$0")/.." && pwd)/../shared/corpus/hwpx"
if [ "$target" = hwpx ] && [ -d "$shared_hwpx" ]; then seeds+=("$shared_hwpx"); fi
echo "started $(date -u +%FT%TZ) ($(date +%s))" >"$work/$target.log"
exec nice -n 10 "$build/fuzz/fuzz_$target" "$work/work/$target" "${seeds[@]}" \
  -max_len=$max_len -timeout=30 -rss_limit_mb=2048 -max_total_time="$seconds" \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/$target/" >>"$work/$target.log" 2>&1
