#!/usr/bin/env bash
# Per-stage benchmark: runs kelvo-stage-bench and prints, for every stage,
# the filter's and the oracle's time on the 1800 x 2504 page and how many
# times faster the filter is, with the vector level and the stage threads
# the filter's stages ran with (KELVO_VECTOR_LEVEL=portable, avx2 or avx512
# sets a lower level, KELVO_THREADS fewer threads).
#
# Usage: bench/run_stage_bench.sh [BUILD_DIR] [benchmark options...]
#   e.g. bench/run_stage_bench.sh build --benchmark_repetitions=5 (medians)
#        bench/run_stage_bench.sh build --benchmark_filter=_filter (the filter's stages only)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
shift || true
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$BUILD/bench/kelvo-stage-bench" --benchmark_out="$out" --benchmark_out_format=json "$@" >&2
python3 - "$out" <<'PY'
import json, sys
report = json.load(open(sys.argv[1]))
runs, context = report["benchmarks"], report["context"]
print(f"vector level {context['vector_level']} (processor: {context['processor_level']}), "
      f"{context['stage_threads']} stage threads")
# With --benchmark_repetitions, the medians; else the single runs.
if any(r.get("aggregate_name") == "median" for r in runs):
    runs = [r for r in runs if r.get("aggregate_name") == "median"]
else:
    runs = [r for r in runs if r.get("run_type", "iteration") == "iteration"]
ms = {}
for r in runs:
    name = r["run_name"].split("/min_time")[0]
    parts = name.split("/")
    stage, who = parts[0].rsplit("_", 1)
    if len(parts) > 1:
        stage += " level " + parts[1]
    ms.setdefault(stage, {})[who] = r["real_time"]
print(f"{'stage':<20} {'filter ms':>10} {'oracle ms':>10} {'speed-up':>9}")
for stage, t in ms.items():
    if "filter" in t and "oracle" in t:
        print(f"{stage:<20} {t['filter']:>10.2f} {t['oracle']:>10.2f} {t['oracle'] / t['filter']:>8.1f}x")
    elif "filter" in t:
        print(f"{stage:<20} {t['filter']:>10.2f} {'-':>10} {'-':>9}")
PY
