#!/usr/bin/env bash
# A decoy device for CI: a simulator of its own on this user's default device socket (where
# `edogtool update` without --device goes), started before the test suites and checked
# after them. The suites send nothing to a device they did not start, so its journal stays
# empty; a test that reaches the user's own device fails the check.
#   scripts/decoy-sim.sh start [PID]   prints the decoy's folder; the decoy ends by itself
#                                      when PID (the caller, e.g. .ci/run) has ended
#   scripts/decoy-sim.sh check DIR     fails when the decoy journaled anything or is gone;
#                                      stops it either way
# The simulator is build/bin/edog-sim, brought up to date (the dev preset where it is missing).
set -euo pipefail
cd "$(dirname "$0")/.."

say() { echo "decoy-sim: $*" >&2; }

start() {
  local watch=${1:-$PPID} dir i
  if [ ! -x build/bin/edog-sim ]; then
    scripts/install-deps.sh
    cmake --preset dev -G Ninja >/dev/null
  fi
  cmake --build build -j"$(nproc)" --target edog-sim >/dev/null
  dir=$(mktemp -d "${TMPDIR:-/tmp}/edog-decoy.XXXXXX")
  build/bin/edog-sim --state "$dir/state" --no-serial </dev/null >"$dir/sim.log" 2>&1 &
  echo $! >"$dir/pid"
  # Gone with its caller, so a run that stops early leaves no decoy behind.
  (while kill -0 "$watch" 2>/dev/null && kill -0 "$(cat "$dir/pid")" 2>/dev/null; do sleep 2; done
   kill -TERM "$(cat "$dir/pid")" 2>/dev/null) </dev/null >/dev/null 2>&1 &
  for i in $(seq 100); do
    grep -q ': device ready on ' "$dir/sim.log" && break
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
    sleep 0.05
  done
  local socket
  socket=$(sed -n 's/^.*: device ready on \(.*\) (state .*$/\1/p' "$dir/sim.log" | head -n 1)
  if [ -n "$socket" ]; then
    echo "$socket" >"$dir/socket"
    say "a decoy device answers on $socket (state $dir/state)"
  elif grep -q 'another device already answers on ' "$dir/sim.log"; then
    # The user's own simulator (scripts/run.sh in another terminal): it is not this run's
    # to read, so nothing can be checked there.
    sed -n 's/^.*another device already answers on /NOTICE: no decoy: a device this run did not start answers on /p' \
      "$dir/sim.log" | head -n 1 >"$dir/skipped"
    say "$(cat "$dir/skipped"); the decoy check is skipped"
  else
    say "the decoy simulator did not start: $(tail -n 1 "$dir/sim.log")"
    exit 1
  fi
  echo "$dir"
}

check() {
  local dir=${1:?usage: decoy-sim.sh check DIR} pid status=0
  if [ -f "$dir/skipped" ]; then
    say "$(cat "$dir/skipped"); the decoy check was skipped"
    rm -rf "$dir"
    return 0
  fi
  pid=$(cat "$dir/pid")
  if ! kill -0 "$pid" 2>/dev/null; then
    say "FAILED: the decoy simulator on $(cat "$dir/socket") ended before the check:"
    tail -n 5 "$dir/sim.log" >&2
    status=1
  elif [ -s "$dir/state/journal.jsonl" ]; then
    say "FAILED: a test reached the user's default device socket $(cat "$dir/socket");" \
        "the decoy there journaled (a test must start its own device and name it):"
    head -n 20 "$dir/state/journal.jsonl" >&2
    status=1
  fi
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  if [ "$status" = 0 ]; then
    say "the decoy on $(cat "$dir/socket") journaled nothing"
    rm -rf "$dir"
  else
    say "its state and log: $dir"
  fi
  return "$status"
}

case "${1:-}" in
  start) start "${2:-}" ;;
  check) check "${2:-}" ;;
  *) echo "usage: scripts/decoy-sim.sh start [PID] | check DIR" >&2; exit 2 ;;
esac
