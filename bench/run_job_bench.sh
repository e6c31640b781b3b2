#!/usr/bin/env bash
# Whole-job benchmark: times, on the same generated raster files (1 and 5
# photo-like 1800 x 2504 pages), the filter with default settings, the
# filter with every stage on, and the I/O floor (kelvo-io-floor: the raster
# read through libcups and L + 95 bytes a page written, no image work).
# Prints the medians, the peak RSS and the ratios filter / floor.
#
# Usage: bench/run_job_bench.sh [BUILD_DIR]   (default: build)
# Environment: KELVO_BENCH_RUNS (runs per command, default 10),
#              KELVO_BENCH_RASTER (compressed or plain, default compressed).
# Needs hyperfine and python3.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
RUNS=${KELVO_BENCH_RUNS:-10}
KIND=${KELVO_BENCH_RASTER:-compressed}
FILTER=$BUILD/rastertokelvo
FLOOR=$BUILD/bench/kelvo-io-floor
for tool in "$FILTER" "$FLOOR" "$BUILD/bench/kelvo-bench-raster"; do
  [ -x "$tool" ] || { echo "missing $tool: build the project first" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$BUILD/bench/kelvo-bench-raster" "$work/p1.ras" 1 "$KIND"
"$BUILD/bench/kelvo-bench-raster" "$work/p5.ras" 5 "$KIND"

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
for n in 1 5; do
  CMD[floor-$n]="$FLOOR $work/p$n.ras"
  CMD[default-$n]="$FILTER 1 bench job 1 '' $work/p$n.ras"
  CMD[every-$n]="PPD=$work/every.ppd $FILTER 1 bench job 1 '$EVERY' $work/p$n.ras"
done
NAMES=(floor-1 default-1 every-1 floor-5 default-5 every-5)

args=()
for name in "${NAMES[@]}"; do
  args+=(-n "$name" "${CMD[$name]}")
done
hyperfine --style basic --warmup 1 --runs "$RUNS" --export-json "$work/times.json" "${args[@]}" >&2

# Peak resident memory of one run of each command.
for name in "${NAMES[@]}"; do
  /usr/bin/time -f %M -o "$work/rss-$name" sh -c "${CMD[$name]} >/dev/null 2>&1"
done

python3 - "$work" "${NAMES[@]}" <<'PY'
import json, sys
work, names = sys.argv[1], sys.argv[2:]
med = {r["command"]: r["median"] for r in json.load(open(work + "/times.json"))["results"]}
rss = {n: int(open(f"{work}/rss-{n}").read().split()[-1]) for n in names}
page_mb = 1800 * 2504 * 3 / 2**20
print(f"{'job':<10} {'median ms':>10} {'peak RSS MB':>12} {'x floor':>8}")
for n in names:
    pages = n.split("-")[1]
    ratio = med[n] / med["floor-" + pages]
    print(f"{n:<10} {med[n] * 1000:>10.1f} {rss[n] / 1024:>12.1f} {ratio:>8.2f}")
print(f"page RGB bytes: {page_mb:.1f} MB; RSS targets: default <= {2.3 * page_mb + 16:.1f} MB, "
      f"with resize <= {3.3 * page_mb + 16:.1f} MB")
PY
