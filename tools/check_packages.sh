#!/usr/bin/env bash
# Checks the Debian packages as a user gets them: builds them from a clean
# export of the committed tree (git archive of HEAD), runs lintian on them,
# installs them with apt, tries the installed files with the real CUPS
# programs and a private cupsd on 127.0.0.1, prints through the installed
# printer application started as its systemd unit starts it (on a free port,
# its state in a temporary folder), then purges them and checks that none of
# their files, nor the application's state and spool folders, is left.
#
# Needs root (apt-get, a cupsd of its own) and the build dependencies of
# debian/control; it stops without touching anything when the packages are
# already installed on the machine.  The package build skips the test
# suite (nocheck), which runs on its own.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(printer-driver-kelvo kelvo-tools kelvo-printer-app)
started=$SECONDS

say() { echo "check_packages: [$((SECONDS - started)) s] $*"; }
fail() { echo "check_packages: FAILED: $*" >&2; exit 1; }

if [ "$(id -u)" -ne 0 ]; then
  say "skipped: installing packages and running a cupsd of its own need root"
  exit 0
fi
if ! git rev-parse --verify -q HEAD >/dev/null; then
  say "skipped: not a git checkout, nothing to export"
  exit 0
fi
for p in "${PACKAGES[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    say "skipped: $p is installed on this machine; the check installs and purges its own"
    exit 0
  fi
done

work=$(mktemp -d)
chmod 0755 "$work"   # the filters of the private cupsd run as lp and read from here
cupsd_pid=
lintian_pid=
app_pid=
installed=
cleanup() {
  local status=$?
  if [ -n "$app_pid" ]; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  if [ -n "$lintian_pid" ]; then
    kill "$lintian_pid" 2>/dev/null || true
    wait "$lintian_pid" 2>/dev/null || true
  fi
  if [ -n "$cupsd_pid" ]; then
    kill "$cupsd_pid" 2>/dev/null || true
    wait "$cupsd_pid" 2>/dev/null || true   # gone before its folder is removed
  fi
  if [ -n "$installed" ]; then
    apt-get purge -y -qq -o DPkg::Lock::Timeout=600 "${PACKAGES[@]}" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT

# Build: source and binary packages, as from a fresh clone.
mkdir "$work/src"
git archive --format=tar HEAD | tar -x -C "$work/src"
version=$(cd "$work/src" && dpkg-parsechangelog -S Version)
say "building $version from $(git rev-parse --short HEAD)"
git diff --quiet HEAD -- || say "note: the packages hold the last commit, not the uncommitted changes"
if ! (cd "$work/src" && DEB_BUILD_OPTIONS="nocheck parallel=2" dpkg-buildpackage -us -uc) >"$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log" >&2
  fail "dpkg-buildpackage"
fi
changes=$work/rastertokelvo_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).changes
[ -f "$changes" ] || fail "no $changes"

# lintian: no error and no warning on the source and the binary packages
# (informational and pedantic tags are shown, not fatal).  It runs beside
# the install and the printing, which mostly wait; its result is read
# before the purge.
lintian -I --pedantic --fail-on error,warning "$changes" >"$work/lintian.log" 2>&1 &
lintian_pid=$!

# Install with apt, as a user would.
debs=()
for p in "${PACKAGES[@]}"; do debs+=("$work/${p}_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).deb"); done
say "built; installing with apt, lintian beside"
installed=yes
if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 "${debs[@]}" \
     >"$work/apt.log" 2>&1; then
  cat "$work/apt.log" >&2
  fail "apt-get install"
fi
for p in "${PACKAGES[@]}"; do dpkg -L "$p" >>"$work/files"; done

filter=/usr/lib/cups/filter/rastertokelvo
ppd=/usr/share/ppd/kelvo/kelvo-photo.ppd
expect() {  # expect WHAT WANTED GOT
  [ "$2" = "$3" ] || fail "$1: got '$3', want '$2'"
}
expect "filter owner and mode" "root:root 755" "$(stat -c '%U:%G %a' "$filter")"
expect "PPD owner and mode" "root:root 644" "$(stat -c '%U:%G %a' "$ppd")"
# Built with the hardening flags (control flow protection aside: no program
# of Debian 12 has it, its C start files lack it) and stripped (the symbols
# are in the -dbgsym packages).
for bin in "$filter" /usr/bin/kelvo-chart /usr/bin/kelvo-inspect /usr/bin/kelvo-printer-app; do
  hardening-check -q --nocfprotection "$bin" >&2 || fail "hardening-check $bin"
  readelf -S "$bin" | grep -q '\.debug_info' && fail "$bin is not stripped"
done
[ -f "$work/printer-driver-kelvo-dbgsym_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).deb" ] ||
  fail "no printer-driver-kelvo-dbgsym package"
for tool in kelvo-chart kelvo-inspect kelvo-printer-app; do
  man -w "$tool" >/dev/null 2>&1 || fail "no manual page for $tool"
done
grep -q "^\*NickName: \"Kelvo Photo, rastertokelvo $version\"" "$ppd" || fail "the PPD's NickName does not carry $version"
cupstestppd -q "$ppd" || { cupstestppd "$ppd" >&2; fail "cupstestppd $ppd"; }

# The service: installed, well formed, neither enabled nor started.
unit=/lib/systemd/system/kelvo-printer-app.service
[ -f "$unit" ] || fail "no $unit"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify "$unit" >&2 || fail "systemd-analyze verify $unit"
fi
wanted=$(find /etc/systemd/system -name kelvo-printer-app.service 2>/dev/null)
[ -z "$wanted" ] || fail "the service is enabled on install: $wanted"

# page_sizes STREAM MODE: the number and size of each page of a printer stream.
page_sizes() {
  kelvo-inspect --quiet --mode "$2" "$1" | sed -n 's/^page \([0-9]*\): \([0-9]*x[0-9]*\) .*/\1 \2/p' | tr '\n' ' '
}

say "installed; trying the filter, cupsfilter and a private cupsd"
# The chart through the installed filter, as CUPS runs it.
kelvo-chart --pages 2 --raster "$work/chart.ras" --png "$work/chart.png"
PPD=$ppd "$filter" 1 user chart 1 "PrintMode=1 PageSize=6x4" "$work/chart.ras" >"$work/filter.prn" 2>"$work/filter.log" ||
  { cat "$work/filter.log" >&2; fail "the installed filter"; }
expect "pages from the installed filter" "1 1800x1200 2 1800x1200 " "$(page_sizes "$work/filter.prn" 1)"

# cupsfilter: CUPS' prefilters turn a PNG into raster for the installed filter.
cupsfilter -p "$ppd" -m printer/foo -e -o print-scaling=fill "$work/chart.png" \
  >"$work/cupsfilter.prn" 2>"$work/cupsfilter.log" || { tail -n 20 "$work/cupsfilter.log" >&2; fail "cupsfilter"; }
expect "pages from cupsfilter" "1 1800x1200 " "$(page_sizes "$work/cupsfilter.prn" 0)"

# A private cupsd on a free port of 127.0.0.1, with everything below $work
# (no TempDir: cupsd refuses one below /tmp when it runs as root).
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
server=127.0.0.1:$port
c=$work/cupsd
mkdir -p "$c/log" "$c/spool" "$c/cache" "$c/state"
cat >"$c/cups-files.conf" <<EOF
ServerRoot $c
RequestRoot $c/spool
CacheDir $c/cache
StateDir $c/state
ErrorLog $c/log/error_log
AccessLog $c/log/access_log
PageLog $c/log/page_log
FileDevice Yes
EOF
cat >"$c/cupsd.conf" <<EOF
Listen $server
LogLevel debug
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
cupsd -f -c "$c/cupsd.conf" -s "$c/cups-files.conf" >"$c/log/cupsd.out" 2>&1 &
cupsd_pid=$!
# lpstat -r exits 0 whether the scheduler runs or not: read what it says.
for _ in $(seq 100); do
  [ "$(lpstat -h "$server" -r 2>/dev/null)" = "scheduler is running" ] && break
  kill -0 "$cupsd_pid" 2>/dev/null || { cat "$c/log/cupsd.out" "$c/log/error_log" >&2; fail "cupsd ended at start-up"; }
  sleep 0.1
done
expect "lpstat -r" "scheduler is running" "$(lpstat -h "$server" -r 2>&1)"

model=lsb/usr/kelvo/kelvo-photo.ppd
expect "the driver in lpinfo -m" "$model Kelvo Photo, rastertokelvo $version" \
  "$(lpinfo -h "$server" -m | grep -i kelvo)"
device=$work/queue.prn
touch "$device"   # cupsd opens a file: device without creating it
# (lpadmin warns that CUPS will drop PPD drivers one day: kept for failures.)
lpadmin -h "$server" -p kelvo-check -E -v "file://$device" -m "$model" -o PrintMode=1 2>"$work/lpadmin.log" ||
  { cat "$work/lpadmin.log" >&2; fail "lpadmin"; }
job=$(lp -h "$server" -d kelvo-check -o PageSize=6x9 -o print-scaling=fill "$work/chart.png") || fail "lp"
job=$(echo "$job" | grep -o 'kelvo-check-[0-9]*')
for _ in $(seq 600); do
  [ -z "$(lpstat -h "$server" -o kelvo-check)" ] && break
  sleep 0.1
done
[ -z "$(lpstat -h "$server" -o kelvo-check)" ] || fail "$job did not finish in 60 s"
grep -q "ready to print" "$c/log/error_log" || { grep -i "job" "$c/log/error_log" | tail -n 20 >&2; fail "$job did not end well"; }
expect "pages printed through cupsd" "1 1800x2700 " "$(page_sizes "$device" 1)"
grep -q "print_mode(.)=1" "$c/log/error_log" || fail "the queue's PrintMode=1 did not reach the filter"
kill "$cupsd_pid"
wait "$cupsd_pid" || true
cupsd_pid=

# The installed printer application, started with the command line of its
# unit but for the port (a free one) and its state, spool and socket, which
# SNAP_COMMON keeps in a folder of the check's own.  The unit must listen on
# localhost only.
say "printing through the installed printer application"
execstart=$(sed -n 's/^ExecStart=//p' "$unit")
case "$execstart" in
  "/usr/bin/kelvo-printer-app server "*"-o listen-hostname=localhost "*"-o server-port="*) ;;
  *) fail "the unit's ExecStart is not the server on localhost with a port: $execstart" ;;
esac
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
read -ra server_cmd <<<"$(echo "$execstart" | sed "s/server-port=[0-9]*/server-port=$port/")"
export SNAP_COMMON=$work/app
mkdir "$SNAP_COMMON"
"${server_cmd[@]}" >"$work/app.log" 2>&1 &
app_pid=$!
# (the sub-commands start a server of their own when none answers: wait for this one.)
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && [ -S "$SNAP_COMMON/kelvo-printer-app.sock" ] && break
  kill -0 "$app_pid" 2>/dev/null || { cat "$work/app.log" >&2; fail "kelvo-printer-app ended at start-up"; }
  sleep 0.1
done
(exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { cat "$work/app.log" >&2; fail "kelvo-printer-app does not listen on 127.0.0.1:$port"; }
app_out=$work/app.prn
touch "$app_out"   # a file: device must exist
kelvo-printer-app add -d kelvo -m kelvo_photo -v "file://$app_out" || fail "kelvo-printer-app add"
job=$(kelvo-printer-app submit -d kelvo -o media=om_kelvo-6x8_152.4x212.01mm "$work/chart.png") ||
  fail "kelvo-printer-app submit"
job=${job##*-}
state=
for _ in $(seq 300); do
  state=$(kelvo-printer-app jobs -d kelvo | sed -n "s/^$job \([a-z]*\) .*/\1/p")
  case "$state" in completed|aborted|canceled) break ;; esac
  sleep 0.1
done
[ "$state" = completed ] || { tail -n 20 "$work/app.log" >&2; fail "the printer application's job $job: '$state'"; }
expect "pages printed through the printer application" "1 1800x2504 " "$(page_sizes "$app_out" 1)"
[ -s "$SNAP_COMMON/kelvo-printer-app.state" ] || fail "no state file in SNAP_COMMON"
kill "$app_pid"
wait "$app_pid" || fail "kelvo-printer-app did not stop cleanly on SIGTERM"
app_pid=
unset SNAP_COMMON

if ! wait "$lintian_pid"; then
  lintian_pid=
  grep -v "running with root privileges" "$work/lintian.log" >&2
  fail "lintian"
fi
lintian_pid=
grep -v "running with root privileges" "$work/lintian.log" | sed 's/^/  /' || true
say "lintian: no error and no warning"

# Purge: nothing of the packages is left, nor the state and spool folders
# that the service makes as it runs (made here as it would leave them).
for d in /var/lib/kelvo-printer-app /var/spool/kelvo-printer-app; do
  if [ ! -e "$d" ]; then
    install -d -m 0700 "$d"
    touch "$d/left-by-the-service"
  fi
  echo "$d" >>"$work/files"
done
if ! apt-get purge -y -qq -o DPkg::Lock::Timeout=600 "${PACKAGES[@]}" >"$work/apt.log" 2>&1; then
  cat "$work/apt.log" >&2
  fail "apt-get purge"
fi
installed=
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" && fail "$p is still installed"
done
left=() dirs=()
while read -r f; do
  [ "$f" = "/." ] && continue
  if [ -d "$f" ]; then   # also /lib, a link to usr/lib on merged-/usr systems
    dirs+=("$f")
  elif [ -e "$f" ] || [ -L "$f" ]; then
    left+=("$f")
  fi
done <"$work/files"
# A folder may stay only when another package still has it (one dpkg -S
# for them all: "package, package: /folder" for each one that is owned).
if [ ${#dirs[@]} -gt 0 ]; then
  dpkg -S "${dirs[@]}" 2>/dev/null | sed 's/^.*: //' | sort -u >"$work/owned" || true
  for d in "${dirs[@]}"; do grep -qxF "$d" "$work/owned" || left+=("$d"); done
fi
[ ${#left[@]} -eq 0 ] || fail "left after the purge: ${left[*]}"

say "built, linted, installed, printed and purged ${PACKAGES[*]} $version in $((SECONDS - started)) s"
