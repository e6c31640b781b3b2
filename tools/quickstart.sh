#!/usr/bin/env bash
# Installs what the project needs (Debian packages), builds it, and then
#   demo: prints the test chart through the real CUPS chain into out/
#         (extra -o NAME=VALUE arguments are passed on as job options)
#   test: checks the Debian packages (tools/check_packages.sh), runs the
#         whole test suite, then again cross-built for arm64 and armhf under
#         qemu-user, under AddressSanitizer and
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
# The ARM step of the test command: Debian's cross compilers, the arm64 and
# armhf libraries (multiarch) and the emulator.
ARM_PACKAGES=(crossbuild-essential-arm64 crossbuild-essential-armhf qemu-user
              libcups2-dev:arm64 libgtest-dev:arm64 libpng-dev:arm64 zlib1g-dev:arm64
              libcups2-dev:armhf libgtest-dev:armhf libpng-dev:armhf zlib1g-dev:armhf)

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Installs the packages named (default: PACKAGES) that are missing; a
# package of another architecture (name:arch) first adds that architecture.
install_missing() {
  local missing=() p
  [ $# -gt 0 ] || set -- "${PACKAGES[@]}"
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    for p in "${missing[@]}"; do
      case "$p" in
        *:*) dpkg --print-foreign-architectures | grep -qx "${p#*:}" || as_root dpkg --add-architecture "${p#*:}" ;;
      esac
    done
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  fi
}

build() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)"
}

# The suite cross-built for arm64 and armhf (build-arm64/, build-armhf/)
# and run under qemu-user: only the test programs and what they start, no
# debug information, warnings as errors.  KELVO_ARM=0 leaves it out.
arm_tests() {
  [ "${KELVO_ARM:-1}" != 0 ] || return 0
  local start=$SECONDS arch triplet
  for arch in arm64:aarch64-linux-gnu armhf:arm-linux-gnueabihf; do
    triplet=${arch#*:} arch=${arch%%:*}
    cmake -S . -B "build-$arch" --toolchain "cmake/toolchain-$triplet.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS_RELEASE=-O2 -DCMAKE_CXX_FLAGS=-Werror -DKELVO_BUILD_BENCH=OFF >/dev/null
    cmake --build "build-$arch" -j"$(nproc)" --target kelvo_tests kelvo_cups_tests
    (cd "build-$arch" && ctest --output-on-failure -j"$(nproc)")
  done
  echo "ARM step (arm64 and armhf under qemu-user): $((SECONDS - start)) s"
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
    if [ "${KELVO_ARM:-1}" != 0 ]; then install_missing "${PACKAGES[@]}" "${ARM_PACKAGES[@]}"; else install_missing; fi
    # The packages first, so that the suite's summary comes last.
    ./tools/check_packages.sh
    build
    (cd build && ctest --output-on-failure -j"$(nproc)")
    arm_tests
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
