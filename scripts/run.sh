#!/usr/bin/env bash
# Builds everything and opens the update window against the device simulator, which runs
# in the background as the default device at full-speed USB pace (the stand-in USB
# library finds it on its default socket) and is stopped when the window closes.
#   scripts/run.sh            build, start the simulator, open the window
#   EDOG_NO_SIM=1 scripts/run.sh   open the window with no device attached
#   scripts/run.sh --no-build      start what is already built (EDOG_BIN_DIR, else build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."

# Before installing and building: without a display there is nothing to open.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'TEXT'
run.sh: no display. The window needs one; on a machine without a screen run it on a
virtual display, for example
    xvfb-run -a -s "-screen 0 1024x768x24" scripts/run.sh
(and look at it through a VNC server such as x11vnc attached to that display), or use
the command-line tool instead: build/bin/edogtool --help
TEXT
  exit 1
fi

if [ "${1:-}" != "--no-build" ]; then
  scripts/install-deps.sh
  cmake --preset dev -G Ninja >/dev/null
  cmake --build --preset dev -j"$(nproc)"
fi

bin=${EDOG_BIN_DIR:-build/bin}
if [ ! -x "$bin/edog" ]; then
  echo "run.sh: $bin/edog was not built (is EDOG_GUI off?)" >&2
  exit 1
fi

# GTK's settings backend and the accessibility bus only print warnings here.
export GSETTINGS_BACKEND=${GSETTINGS_BACKEND:-memory}
export NO_AT_BRIDGE=${NO_AT_BRIDGE:-1}

sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_sim EXIT INT TERM

# Starts the simulator and waits (up to 5 s) until it says it is ready or has ended; then
# tells which device the window will talk to.
start_sim() {
  local state=${EDOG_SIM_STATE:-$bin/../sim-state}
  mkdir -p "$state"
  state=$(cd "$state" && pwd)
  local log=$state/sim.log
  "$bin/edog-sim" --state "$state" --speed 1M >"$log" 2>&1 &
  sim_pid=$!
  local i
  for i in $(seq 100); do
    grep -q ': device ready on ' "$log" && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  local socket
  socket=$(sed -n 's/^.*: device ready on \(.*\) (state .*$/\1/p' "$log" | head -n 1)
  if [ -n "$socket" ]; then
    # The window's COM box and `edogtool ports` find the simulator's serial line through it.
    export EDOG_SIM_STATE=$state
    echo "run.sh: device simulator started (pid $sim_pid, full-speed USB pace 1 MB/s, socket $socket," \
         "state and log in $state); the window uses this device"
    return
  fi
  if kill -0 "$sim_pid" 2>/dev/null; then
    echo "run.sh: the device simulator (pid $sim_pid) has not said it is ready after 5 s;" \
         "the window may find no device (log: $log)"
    return
  fi
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
  local why
  why=$(sed -n 's/^edog-sim: //p' "$log" | tail -n 1)
  [ -n "$why" ] || why=$(tail -n 1 "$log")
  case "$why" in
    "another device already answers on "*)
      echo "run.sh: a device is already answering on ${why#another device already answers on }" \
           "(another simulator, not this run's); the window uses that one. This run's" \
           "simulator did not start (log: $log)" ;;
    *)
      echo "run.sh: the device simulator did not start: $why (log: $log);" \
           "the window opens with no device attached unless another device answers" ;;
  esac
}

if [ -z "${EDOG_NO_SIM:-}" ] && [ -x "$bin/edog-sim" ]; then
  start_sim
elif [ -z "${EDOG_NO_SIM:-}" ]; then
  echo "run.sh: edog-sim is not built; the window opens with no device attached"
fi

# The simulator started above is the device, also for programs of another folder.
"$bin/edog" --device "${EDOG_DEVICE_LIBRARY:-sim}"
