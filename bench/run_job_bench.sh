#!/usr/bin/env bash
# Whole-job benchmark: times, on the same generated raster files (1 and 5
# photo-like 1800 x 2504 pages), the filter with default settings, the
# filter with every stage on, and the I/O floor (kelvo-io-floor: the raster
# read through libcups and L + 95 bytes a page written, no image work).
# The rasters are uncompressed, as CUPS' imagetoraster and the Ghostscript
# prefilter send them, and compressed (CUPS_RASTER_WRITE_COMPRESSED).
# Prints the vector level and stage threads the filter runs with, then per
# job the median wall time, the mean CPU time (user + system), the peak RSS
# and the time over the floor's on the same input.
#
# Usage: bench/run_job_bench.sh [BUILD_DIR]   (default: build)
# Environment: KELVO_BENCH_RUNS (runs per command, default 10),
#              KELVO_BENCH_RASTER (plain, compressed or both; default both),
#              KELVO_VECTOR_LEVEL (portable, avx2 or avx512: the widest
#              stage versions the filter may use) and KELVO_THREADS, passed
#              on to the filter.
# Needs hyperfine and python3.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
RUNS=${KELVO_BENCH_RUNS:-10}
case ${KELVO_BENCH_RASTER:-both} in
  both) KINDS=(plain compressed) ;;
  plain | compressed) KINDS=("$KELVO_BENCH_RASTER") ;;
  *) echo "KELVO_BENCH_RASTER must be plain, compressed or both" >&2; exit 2 ;;
esac
FILTER=$BUILD/rastertokelvo
FLOOR=$BUILD/bench/kelvo-io-floor
for tool in "$FILTER" "$FLOOR" "$BUILD/bench/kelvo-bench-raster" "$BUILD/bench/kelvo-bench-info"; do
  [ -x "$tool" ] || { echo "missing $tool: build the project first" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for kind in "${KINDS[@]}"; do
  "$BUILD/bench/kelvo-bench-raster" "$work/$kind-1.ras" 1 "$kind"
  "$BUILD/bench/kelvo-bench-raster" "$work/$kind-5.ras" 5 "$kind"
done

# Job options only count with a PPD that has them; this one has them all.
EVERY="DirectMap=true stpResize=10 stpSharpness=2 stpSaturation=3 stpContrast=2"
{
  printf '*PPD-Adobe: "4.3"\n*FormatVersion: "4.3"\n*FileVersion: "1.0"\n*LanguageVersion: English\n'
  printf '*LanguageEncoding: ISOLatin1\n*PCFileName: "KELVOBEN.PPD"\n*Manufacturer: "Kelvo"\n'
  printf '*Product: "(Kelvo)"\n*ModelName: "Kelvo"\n*ShortNickName: "Kelvo"\n*NickName: "Kelvo"\n'
  for kv in $EVERY; do
    k=${kv%%=*} v=${kv#*=}
    printf '*OpenUI *%s/%s: PickOne\n*Default%s: %s\n*%s %s/%s: ""\n*CloseUI: *%s\n' "$k" "$k" "$k" "$v" "$k" "$v" "$v" "$k"
  done
} > "$work/every.ppd"

declare -A CMD
NAMES=()
for kind in "${KINDS[@]}"; do
  for n in 1 5; do
    CMD[$kind/floor-$n]="$FLOOR $work/$kind-$n.ras"
    CMD[$kind/default-$n]="$FILTER 1 bench job 1 '' $work/$kind-$n.ras"
    CMD[$kind/every-$n]="PPD=$work/every.ppd $FILTER 1 bench job 1 '$EVERY' $work/$kind-$n.ras"
    NAMES+=("$kind/floor-$n" "$kind/default-$n" "$kind/every-$n")
  done
done

args=()
for name in "${NAMES[@]}"; do
  args+=(-n "$name" "${CMD[$name]}")
done
hyperfine --style basic --warmup 1 --runs "$RUNS" --export-json "$work/times.json" "${args[@]}" >&2

# Peak resident memory of one run of each command.
for name in "${NAMES[@]}"; do
  /usr/bin/time -f %M -o "$work/rss-${name//\//-}" sh -c "${CMD[$name]} >/dev/null 2>&1"
done

echo "filter: $("$BUILD/bench/kelvo-bench-info"); $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | sed 's/.*: //')"
python3 - "$work" "$RUNS" "${NAMES[@]}" <<'PY'
import json, sys
work, runs, names = sys.argv[1], sys.argv[2], sys.argv[3:]
res = {r["command"]: r for r in json.load(open(work + "/times.json"))["results"]}
rss = {n: int(open(f"{work}/rss-{n.replace('/', '-')}").read().split()[-1]) for n in names}
page_mb = 1800 * 2504 * 3 / 2**20
label = {"plain": "uncompressed", "compressed": "compressed"}
print(f"{'input':<13} {'job':<10} {'median ms':>10} {'cpu ms':>8} {'peak RSS MB':>12} {'x floor':>8}")
for n in names:
    kind, job = n.split("/")
    floor = res[f"{kind}/floor-{job.split('-')[1]}"]["median"]
    r = res[n]
    print(f"{label[kind]:<13} {job:<10} {r['median'] * 1000:>10.1f} {(r['user'] + r['system']) * 1000:>8.1f} "
          f"{rss[n] / 1024:>12.1f} {r['median'] / floor:>8.2f}")
print(f"medians of {runs} runs; cpu ms: mean user + system time")
print(f"page RGB bytes: {page_mb:.1f} MB; RSS targets: default <= {2.3 * page_mb + 16:.1f} MB, "
      f"with resize <= {3.3 * page_mb + 16:.1f} MB")
PY
