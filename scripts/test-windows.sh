#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and tests them under wine against
# the Linux device simulator:
#   * test_windows.exe through ctest (CMAKE_CROSSCOMPILING_EMULATOR = wine): plug-in loader,
#     file mapping, the stand-in device library's handles, the serial port on a wine COM
#     port linked to the simulator's pseudo-terminal;
#   * edogtool.exe update --voice --map --software: three complete jobs in the journal;
#   * edogtool.exe send-serial over the COM port: a complete serial job in the journal;
#   * edog.exe on Xvfb: a screenshot of the main window (build-windows/edog-main-window.png)
#     with its Chinese texts in the font the wine prefix is given.
# The wine prefix lives in $EDOG_WIN_CACHE/wine (made once); COM5 and TCP port
# $EDOG_SIM_TCP_PORT (default 53117) are used while it runs.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD
CACHE=${EDOG_WIN_CACHE:-$HOME/.cache/edog}
export WINEPREFIX=${EDOG_WINEPREFIX:-$CACHE/wine}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export EDOG_SIM_TCP_PORT=${EDOG_SIM_TCP_PORT:-53117}
COM=COM5
BIN=$ROOT/build-windows/bin
start=$(date +%s)

log() { echo "test-windows: $*"; }
fail() { echo "test-windows: FAILED: $*" >&2; exit 1; }

[ "${1:-}" = "--no-build" ] || scripts/build-windows.sh

# The simulator is the Linux one.
if [ ! -x build/bin/edog-sim ]; then
  cmake --preset dev -G Ninja >/dev/null
fi
nice -n 19 cmake --build build -j2 --target edog-sim >/dev/null

# The wine prefix, once: a CJK font for the windows' Chinese texts.
if [ ! -f "$WINEPREFIX/.edog-ready" ]; then
  log "making the wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
  touch "$WINEPREFIX/.edog-ready"
fi
fonts=$WINEPREFIX/drive_c/windows/Fonts
mkdir -p "$fonts"
ln -sf /usr/share/fonts/truetype/arphic/uming.ttc "$fonts/uming.ttc"

work=$(mktemp -d /tmp/edog-wine-test.XXXXXX)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/${COM,,}"
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

build/bin/edog-sim --state "$work/state" --socket "$work/device.sock" --tcp-port "$EDOG_SIM_TCP_PORT" \
  --serial-baud 0 >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -s "$work/state/serial-line" ] && break; sleep 0.1; done
[ -s "$work/state/serial-line" ] || { cat "$work/sim.log"; fail "the simulator did not start"; }
pty=$(cat "$work/state/serial-line")
ln -sfn "$pty" "$WINEPREFIX/dosdevices/${COM,,}"
log "simulator on 127.0.0.1:$EDOG_SIM_TCP_PORT, serial line $pty as $COM"

jobs_complete() {  # count of journal records of kind $1 that took their whole size
  python3 - "$work/state/journal.jsonl" "$1" <<'EOF'
import json, os, sys
path, kind = sys.argv[1], sys.argv[2]
records = [json.loads(l) for l in open(path, encoding="utf-8")] if os.path.exists(path) else []
whole = {"download": lambda r: r.get("received") == r.get("size") and not r.get("error"),
         "serial-download": lambda r: r.get("outcome") == "complete"}[kind]
print(sum(1 for r in records if r.get("kind") == kind and whole(r)))
EOF
}

# 1. The Win32 layer.
software=$(winepath -w "$ROOT/build-windows/demo/edogsoftware.hdr" 2>/dev/null)
EDOG_TEST_SIM=1 EDOG_TEST_COM=$COM EDOG_TEST_SERIAL_IMAGE=$software \
  ctest --preset windows -j1 || fail "test_windows"

# 2. The command line, as a user runs it: the update package beside the program.
before=$(jobs_complete download)
(cd "$BIN" && wine edogtool.exe update --voice --map --software) >"$work/update.log" 2>&1 ||
  { cat "$work/update.log"; fail "edogtool.exe update"; }
after=$(jobs_complete download)
[ $((after - before)) -eq 3 ] || { cat "$work/state/journal.jsonl"; fail "expected 3 complete jobs, got $((after - before))"; }
log "edogtool.exe update: 3 complete jobs"

before=$(jobs_complete serial-download)
(cd "$BIN" && wine edogtool.exe send-serial --port $COM "$software") >"$work/serial.log" 2>&1 ||
  { cat "$work/serial.log"; fail "edogtool.exe send-serial"; }
after=$(jobs_complete serial-download)
[ $((after - before)) -eq 1 ] || { cat "$work/state/journal.jsonl"; fail "no complete serial job"; }
log "edogtool.exe send-serial over $COM: 1 complete job"

# 3. The window.
shot=$ROOT/build-windows/edog-main-window.png
rm -f "$shot"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  cd "$1" && wine edog.exe >/dev/null 2>&1 &
  shown=1
  for _ in $(seq 60); do
    sleep 1
    if xwininfo -root -tree 2>/dev/null | grep -q "GPS更新服务"; then shown=0; break; fi
  done
  [ $shown -eq 0 ] && sleep 2 && import -window root "$2"
  wineserver -k 2>/dev/null || true
  exit $shown
' _ "$BIN" "$shot" || fail "edog.exe showed no main window"
[ -s "$shot" ] || fail "no screenshot of edog.exe"
log "screenshot $shot"
log "passed in $(( $(date +%s) - start )) s"
