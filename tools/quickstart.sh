#!/usr/bin/env bash
# Installs what the project needs (Debian packages), builds it, and then
#   demo: prints the test chart through the real CUPS chain into out/
#         (extra -o NAME=VALUE arguments are passed on as job options)
#   test: checks the Debian packages (tools/check_packages.sh), runs the
#         whole test suite, then again under AddressSanitizer and
#         UndefinedBehaviorSanitizer, then a short fuzz run of each target
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(build-essential cmake pkg-config libcups2-dev libgtest-dev libgmock-dev libbenchmark-dev
          libpng-dev zlib1g-dev cups cups-client cups-filters cups-ppdc ghostscript clang
          libclang-rt-14-dev valgrind hyperfine python3
          debhelper dpkg-dev devscripts fakeroot lintian man-db)

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  fi
}

build() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)"
}

case "${1:-}" in
  demo)
    shift
    install_missing
    build
    mkdir -p out
    # The chart at the size of a 6 x 8 inch print (1800 x 2504 at 300 dpi).
    build/tools/kelvo-chart --size 1800x2504 --png out/chart.png
    # cupsfilter runs the filters of a ServerBin: one that holds the built
    # filter beside the system's own (root-owned, as CUPS requires).
    serverbin=$(mktemp -d)
    trap 'rm -rf "$serverbin"' EXIT
    system=$(cups-config --serverbin)
    for entry in "$system"/*; do
      [ "$(basename "$entry")" = filter ] || ln -s "$entry" "$serverbin/"
    done
    mkdir "$serverbin/filter"
    for f in "$system"/filter/*; do ln -s "$f" "$serverbin/filter/"; done
    rm -f "$serverbin/filter/rastertokelvo"
    install -m 0755 build/rastertokelvo "$serverbin/filter/rastertokelvo"
    chmod 0755 "$serverbin"
    echo "ServerBin $serverbin" > "$serverbin/cups-files.conf"
    # imagetoraster fills the page only with print-scaling=fill.
    if ! cupsfilter -c "$serverbin/cups-files.conf" -p "$PWD/build/ppd/kelvo-photo.ppd" -m printer/foo -e \
         -o PageSize=6x8 -o print-scaling=fill "$@" out/chart.png > out/chart.prn 2> out/chart.log; then
      grep -E "^(ERROR|WARN)" out/chart.log >&2 || tail -n 20 out/chart.log >&2
      echo "cupsfilter failed; its log is out/chart.log" >&2
      exit 1
    fi
    grep -E "^DEBUG: [a-z_]+\([0-9]\)=" out/chart.log | sed 's/^DEBUG: /setting: /'
    mode=$(grep -oE "^DEBUG: print_mode\([0-9]\)=-?[0-9]+" out/chart.log | tail -n 1 | sed 's/.*=//')
    rm -f out/page-*.png
    build/tools/kelvo-inspect --quiet --mode "${mode:-0}" --png out out/chart.prn
    echo "Test chart: out/chart.png, printer stream: out/chart.prn, CUPS log: out/chart.log"
    ;;
  test)
    install_missing
    # The packages first, so that the suite's summary comes last.
    ./tools/check_packages.sh
    build
    (cd build && ctest --output-on-failure -j"$(nproc)")
    # The same suite with AddressSanitizer and UndefinedBehaviorSanitizer.
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_SANITIZE=ON >/dev/null
    cmake --build build-asan -j"$(nproc)"
    (cd build-asan && ctest --output-on-failure -j"$(nproc)")
    # A short fuzz run of each target.
    ./tools/fuzz.sh "${KELVO_FUZZ_SECONDS:-120}"
    ;;
  *)
    echo "usage: $0 demo [-o NAME=VALUE ...] | test" >&2
    exit 2
    ;;
esac
