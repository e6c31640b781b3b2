#!/usr/bin/env bash
# Installs what the project needs (Debian packages), builds it, and then
#   demo: prints the test chart through the real CUPS chain into out/
#         (extra -o NAME=VALUE arguments are passed on as job options)
#   test: checks the Debian packages (tools/check_packages.sh), runs the
#         whole test suite, then again under AddressSanitizer and
#         UndefinedBehaviorSanitizer, then a short fuzz run of each target
#   app-demo: starts kelvo-printer-app on 127.0.0.1 (port KELVO_APP_PORT,
#         default 8631) with a file: printer and prints the test chart
#         through it into out/; the server keeps running for its web page
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(build-essential cmake pkg-config libcups2-dev libgtest-dev libgmock-dev libbenchmark-dev
          libpng-dev zlib1g-dev cups cups-client cups-filters cups-ppdc ghostscript clang
          libclang-rt-14-dev valgrind hyperfine python3
          debhelper dpkg-dev devscripts fakeroot lintian man-db
          libpappl-dev libjpeg-dev cups-ipp-utils chromium curl)

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
  app-demo)
    install_missing
    build
    mkdir -p out/app-state
    port=${KELVO_APP_PORT:-8631}
    app=build/app/kelvo-printer-app
    export SNAP_COMMON=$PWD/out/app-state   # state, spool and socket
    # The pipeline's page reports (the filter's stderr lines) go to out/app-pages.log.
    "$app" server -o server-port="$port" -o listen-hostname=127.0.0.1 -o log-file="$PWD/out/app.log" \
      > out/app-pages.log 2>&1 &
    pid=$!
    for _ in $(seq 50); do curl -fs -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.2; done
    if ! kill -0 "$pid" 2>/dev/null || ! curl -fs -o /dev/null "http://127.0.0.1:$port/"; then
      echo "kelvo-printer-app does not listen on 127.0.0.1:$port (port in use? set KELVO_APP_PORT); log: out/app.log" >&2
      exit 1
    fi
    : > out/app-chart.prn
    "$app" printers | grep -qx kelvo || "$app" add -d kelvo -m kelvo_photo -v "file://$PWD/out/app-chart.prn"
    build/tools/kelvo-chart --size 1800x2504 --png out/chart.png
    job=$("$app" submit -d kelvo -o media=om_kelvo-6x8_152.4x212.01mm out/chart.png | sed 's/.*-//')
    for _ in $(seq 150); do
      "$app" jobs -d kelvo | grep -qE "^$job (completed|aborted|canceled)" && break
      sleep 0.2
    done
    "$app" jobs -d kelvo | grep -E "^$job "
    rm -f out/page-*.png
    build/tools/kelvo-inspect --quiet --png out out/app-chart.prn
    echo "Printer stream: out/app-chart.prn, picture: out/page-1.png, server log: out/app.log"
    echo "Web page: http://127.0.0.1:$port/ (Last Print shows the page).  Stop the server: kill $pid"
    ;;
  *)
    echo "usage: $0 demo [-o NAME=VALUE ...] | test | app-demo" >&2
    exit 2
    ;;
esac
