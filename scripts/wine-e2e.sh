#!/usr/bin/env bash
# Runs the Windows build of the loader under Wine against temporary device roots and checks
# what it logs, shows and starts.
#   scripts/wine-e2e.sh [--build DIR] [GROUP...]
# DIR defaults to build-win32. A GROUP is a file tests/win32/scenarios/GROUP.sh of scenarios
# (default: every file there, in name order).
#
# Needs scripts/setup-win32.sh. Builds the win32 preset's programs when BUILD_DIR is the
# default. Scenarios with co-processors need the simulator of the host build
# (build/tools/coproc-sim/coproc-sim; another host build: QUARRIN_HOST_BUILD=DIR). Wine runs headless on a virtual X display of the unit's screen size, with a
# private prefix inside the build folder. The device root is a folder that the prefix maps
# as drive Q:, the loader's device root.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath -m build-win32)"
if [ "${1:-}" = "--build" ]; then
  build="$(realpath -m "${2:?--build needs a folder}")"
  shift 2
fi
groups=("$@")
if ((${#groups[@]} == 0)); then
  for file in tests/win32/scenarios/*.sh; do groups+=("$(basename "$file" .sh)"); done
fi
for group in "${groups[@]}"; do
  [ -f "tests/win32/scenarios/$group.sh" ] ||
    { echo "wine-e2e: no scenario group '$group' (tests/win32/scenarios/$group.sh)"; exit 2; }
done

if [ -z "${QUARRIN_WINE_DISPLAY:-}" ]; then
  if [ "$build" = "$(realpath -m build-win32)" ]; then
    # zCompress.dll needs zstd and libarchive built for Windows first (about 10 minutes,
    # once); only the install group uses it.
    # A build folder configured before keeps its choice, unless this run needs the DLL. A
    # build that lacks the DLL configures again by itself and retries the libraries.
    zcompress=OFF
    for group in "${groups[@]}"; do [ "$group" = install ] && zcompress=ON; done
    cache=build-win32/CMakeCache.txt
    if [ ! -f build-win32/build.ninja ] || ! grep -q "^QUARRIN_WERROR:BOOL=ON" "$cache" ||
      { [ "$zcompress" = ON ] && ! grep -q "^QUARRIN_WIN32_ZCOMPRESS:BOOL=ON" "$cache"; }; then
      grep -q "^QUARRIN_WIN32_ZCOMPRESS:BOOL=ON" "$cache" 2>/dev/null && zcompress=ON
      cmake --preset win32 -DQUARRIN_WIN32_ZCOMPRESS="$zcompress" -DQUARRIN_WERROR=ON >/dev/null
    fi
    cmake --build build-win32 -j2
    if [ "$zcompress" = ON ] && [ ! -f build-win32/tools/zCompress.dll ]; then
      echo "wine-e2e: no build-win32/tools/zCompress.dll: zstd and libarchive for Windows could" \
        "not be built (build-win32-deps says why above); the install group will fail"
    fi
  fi
  host="$(realpath -m "${QUARRIN_HOST_BUILD:-build}")"
  if [ ! -x "$host/tools/coproc-sim/coproc-sim" ] || [ ! -f "$host/tools/mkpackage" ]; then
    echo "wine-e2e: no host build in $host (coproc-sim, mkpackage): the firmware and install" \
      "groups will fail; run: bash scripts/setup.sh && bash scripts/build.sh build"
  fi
  # Everything below runs on one virtual display of 800 x 480.
  exec env QUARRIN_WINE_DISPLAY=1 xvfb-run -a -s "-screen 0 800x480x24" "$0" --build "$build" "${groups[@]}"
fi

wine=/usr/lib/wine/wine64
export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
work="$build/wine-e2e"
rm -rf "$work"
mkdir -p "$work"
# One server for all runs, the prefix creation included (started after it, -p would find
# wineboot's server still running and fail); stopped at the end. Its messages go to a file:
# it takes the first pseudo-terminal a run opens as its controlling terminal, and when a
# simulator ends, the hang-up makes it print its object table.
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p 2>>"$work/wineserver.log"
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
if [ ! -d "$WINEPREFIX/dosdevices" ]; then
  "$wine" wineboot -i >/dev/null 2>&1
fi
simulator="$(realpath -m "${QUARRIN_HOST_BUILD:-build}")/tools/coproc-sim/coproc-sim"
simulators=()  # process ids of the running co-processor simulators
ports=()       # the COM ports linked to them
stop_simulators() {  # and removes their links: a later run must not reach a stale terminal
  local pid port
  for pid in "${simulators[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${simulators[@]}"; do wait "$pid" 2>/dev/null || true; done
  for port in "${ports[@]}"; do rm -f "$WINEPREFIX/dosdevices/com$port"; done
  simulators=()
  ports=()
}
trap 'stop_simulators; /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT

failures=0
scenario=""

# A fresh device root, mapped as Q:.
device() {
  scenario="$1"
  failures_before=$failures
  started_at=$SECONDS
  root="$work/$scenario"
  mkdir -p "$root"
  ln -sfn "$root" "$WINEPREFIX/dosdevices/q:"
}

put() {  # put RELATIVE [BYTES as printf format]
  mkdir -p "$(dirname "$root/$1")"
  printf "${2:-}" >"$root/$1"
}

program() {  # a program that records its start as RELATIVE.started
  mkdir -p "$(dirname "$root/$1")"
  cp "$build/start-marker.exe" "$root/$1"
}

coprocessor() {  # coprocessor N KIND [options...]: a simulator on a pseudo-terminal as COMn
  local port="$1" line
  shift
  [ -x "$simulator" ] || { fail "no simulator $simulator (build the host build first)"; return; }
  "$simulator" "$@" >"$root/com$port.port" 2>"$root/com$port.err" &
  simulators+=($!)
  for _ in $(seq 50); do [ -s "$root/com$port.port" ] && break; sleep 0.1; done
  line="$(head -1 "$root/com$port.port")"
  [ -c "$line" ] || { fail "simulator on COM$port did not start: $(cat "$root/com$port.err")"; return; }
  ln -sfn "$line" "$WINEPREFIX/dosdevices/com$port"
  ports+=("$port")
}

run_until() {  # run_until LINE [quarrin arguments...]: stops the run once LINE is on standard
  local line="$1" pid  # output (within 120 s); $status is "stopped" then
  shift
  status=0
  "$wine" "$build/quarrin.exe" --root 'Q:\' "$@" >"$root/out" 2>"$root/err" &
  pid=$!
  for _ in $(seq 1200); do
    if grep -qxF "$line" "$root/out"; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
      status=stopped
      break
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid" || status=$?
      break
    fi
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    status=timeout
  fi
  tr -d '\r' <"$root/err" >"$root/err.lines"
}

run() {  # run [quarrin arguments...]: fills $root/out, $root/err, $status
  status=0
  timeout 120 "$wine" "$build/quarrin.exe" --root 'Q:\' "$@" >"$root/out" 2>"$root/err" ||
    status=$?
  tr -d '\r' <"$root/err" >"$root/err.lines"
}

fail() {
  echo "FAIL $scenario: $*"
  failures=$((failures + 1))
}

expect_status() { [ "$status" = "$1" ] || fail "exit status $status, expected $1"; }

expect_lines() {  # expect_lines FILE: the debug lines equal FILE's, "<n>" matching a number
  sed 's/[0-9][0-9]*ms$/<n>ms/' "$root/err.lines" | diff -u "$1" - >"$root/diff" ||
    fail "debug lines differ: $(cat "$root/diff")"
}

expect_line() { grep -qxF "$1" "$root/err.lines" || fail "no debug line '$1'"; }

expect_output() { grep -qxF "$1" "$root/out" || fail "no output line '$1'"; }

expect_started() {  # the program started (it is detached: wait up to 10 s)
  for _ in $(seq 100); do [ -f "$root/$1.started" ] && return; sleep 0.1; done
  fail "$1 did not start"
}

expect_not_started() { [ ! -f "$root/$1.started" ] || fail "$1 started"; }

expect_file() {  # expect_file RELATIVE HEX
  local actual
  actual="$(od -An -tx1 "$root/$1" 2>/dev/null | tr -d ' \n')" || true
  [ "$actual" = "$2" ] || fail "$1 holds $actual, expected $2"
}

finish() {
  stop_simulators
  [ "$failures" -eq "$failures_before" ] && echo "ok   $scenario ($((SECONDS - started_at)) s)"
  return 0
}

for group in "${groups[@]}"; do
  # shellcheck source=/dev/null
  source "tests/win32/scenarios/$group.sh"
done

if [ "$failures" -ne 0 ]; then
  echo "wine-e2e: $failures check(s) failed; the runs are in $work"
  exit 1
fi
echo "wine-e2e: all passed"
