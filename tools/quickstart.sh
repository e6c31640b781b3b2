#!/usr/bin/env bash
# Installs what the project needs (Debian packages), builds it, and then
#   demo: prints a generated sample job through the filter into out/
#   test: runs the whole test suite, then again under AddressSanitizer and
#         UndefinedBehaviorSanitizer, then a short fuzz run of each target
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(build-essential cmake pkg-config libcups2-dev libgtest-dev libgmock-dev libbenchmark-dev
          libpng-dev cups cups-client cups-filters cups-ppdc clang libclang-rt-14-dev valgrind hyperfine)

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
    install_missing
    build
    mkdir -p out
    build/tools/kelvo-sample out/sample.ras 2 600 400
    build/rastertokelvo 1 "$(id -un)" sample 1 "" out/sample.ras > out/sample.prn 2> out/sample.log
    tail -n 1 out/sample.log
    build/tools/kelvo-inspect out/sample.prn
    echo "Printer stream: out/sample.prn, filter log: out/sample.log"
    ;;
  test)
    install_missing
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
    echo "usage: $0 demo|test" >&2
    exit 2
    ;;
esac
