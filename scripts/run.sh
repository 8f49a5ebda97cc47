#!/usr/bin/env bash
# Builds everything and opens the update window against the device simulator, which runs
# in the background as the default device (the stand-in USB library finds it on its
# default socket) and is stopped when the window closes.
#   scripts/run.sh            build, start the simulator, open the window
#   EDOG_NO_SIM=1 scripts/run.sh   open the window with no device attached
#   scripts/run.sh --no-build      start what is already built (EDOG_BIN_DIR, else build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" != "--no-build" ]; then
  scripts/install-deps.sh
  cmake --preset dev -G Ninja >/dev/null
  cmake --build --preset dev -j"$(nproc)"
fi

bin=${EDOG_BIN_DIR:-build/bin}
if [ ! -x "$bin/edog" ]; then
  echo "run.sh: build/bin/edog was not built (is EDOG_GUI off?)" >&2
  exit 1
fi
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

sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_sim EXIT INT TERM

if [ -z "${EDOG_NO_SIM:-}" ] && [ -x "$bin/edog-sim" ]; then
  state=${EDOG_SIM_STATE:-$bin/../sim-state}
  mkdir -p "$state"
  state=$(cd "$state" && pwd)
  # The window's COM box and `edogtool ports` find the simulator's serial line through it.
  export EDOG_SIM_STATE=$state
  "$bin/edog-sim" --state "$state" >"$state/sim.log" 2>&1 &
  sim_pid=$!
  echo "run.sh: device simulator started (pid $sim_pid, state and log in $state)"
elif [ -z "${EDOG_NO_SIM:-}" ]; then
  echo "run.sh: edog-sim is not built; the window opens with no device attached"
fi

"$bin/edog"
