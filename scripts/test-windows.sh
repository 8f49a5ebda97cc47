#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and tests them under wine against
# the Linux device simulator:
#
#   scripts/test-windows.sh [x86|x64] [--no-build]
#
# x86 (the default) runs under 32-bit wine (scripts/wine32.sh, prefix
# $EDOG_WIN_CACHE/wine32/prefix), x64 under the system's wine64 (prefix $EDOG_WIN_CACHE/wine).
# Where the kernel refuses 32-bit programs (wine32.sh --check exits 125), or with
# EDOG_X86_GUEST=1, the x86 run goes on in a guest whose kernel runs them
# (scripts/guest32.sh): the same whole set as natively; any other fault of the 32-bit wine
# fails the run. The 32-bit build is never reported tested without having run. The log says
# where the set ran, and how long each check took.
#   * the user zip: scripts/check-windows-zip.py (no vendor or package file name, README,
#     manifest and version resource of every program);
#   * the test programs through ctest (CMAKE_CROSSCOMPILING_EMULATOR = wine): the core's,
#     the device's and the command line's (README lists what stays Linux-only), and
#     test_windows.exe: plug-in loader, file mapping, the stand-in device library's handles,
#     the serial port on a wine COM port linked to the simulator's pseudo-terminal;
#   * x86: edogtool.exe update --voice --map --software: three complete jobs in the journal;
#   * x86: the same with every vendor-style DLL set the test suite builds (build folder
#     tests/vendor-style/<name>/ with a HaldenUSB.dll and/or Kova100.dll): copied beside the
#     programs in a folder of their own, 3 complete jobs each;
#   * x86: the same from a Chinese program folder with a Chinese TMP (wine takes TMP from
#     HKCU\Environment, set for that run only), under code page 1252;
#   * x86: edogtool.exe voice from a Chinese folder with a Chinese wave file name through each
#     vendor-style Kova100.dll, under code pages 936 and 1252 (the Unix locales zh_CN.UTF-8
#     and en_US.UTF-8, built privately with localedef into $EDOG_WIN_CACHE/locales, LOCPATH):
#     the encoded file it keeps (--keep-temp) tells which code page the program saw: the
#     Chinese name under 936, an 8.3 short name under 1252;
#   * x86: a 64-bit Kova100.dll beside edogtool.exe: voice and doctor name its bitness and the fix;
#   * edogtool.exe send-serial over the COM port: a complete serial job in the journal;
#   * edog.exe on Xvfb, driven by tests/windows/WindowDriver.cpp as a person would: its status
#     line reads 成功 against the simulator; 语音, 数据 and 软件 ticked and 更新 pressed give
#     three complete jobs in the journal and a summary box with the three successes; a
#     screenshot before the press (<build folder>/edog-main-window.png, the artefact) matches
#     tests/windows/edog-main-window.png within a tolerance for the glyphs (fonts may differ,
#     the layout may not);
#   * x86: edogtool.exe send-usb against a device that vanishes after 20000 bytes: the bytes it
#     counts as sent are the bytes the device's journal received.
# Everything runs in the private wine prefixes (build-windows.sh makes them once), never
# in ~/.wine. COM5 and a TCP port are used while it runs: $EDOG_SIM_TCP_PORT
# (default 53117), or the next free one of the nine after it. Every wait is bounded and
# says what it waited for when it gives up.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD
ARCH=x86 BUILD_FIRST=1 WHERE=native GUI=1
for a in "$@"; do
  case "$a" in
    x86|x64) ARCH=$a ;;
    --no-build) BUILD_FIRST=0 ;;
    --no-gui) GUI=0 ;;
    --in-guest) WHERE=guest BUILD_FIRST=0 ;;  # scripts/guest32.sh runs this
    *) echo "usage: scripts/test-windows.sh [x86|x64] [--no-build] [--no-gui]" >&2; exit 2 ;;
  esac
done
CACHE=${EDOG_WIN_CACHE:-$HOME/.cache/edog}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export EDOG_SIM_TCP_PORT=${EDOG_SIM_TCP_PORT:-53117}
COM=COM5
if [ "$ARCH" = x64 ]; then
  BUILD=$ROOT/build-windows PRESET=windows WINE=(wine)
  export WINEPREFIX=$CACHE/wine  # the one the toolchain file gives ctest
else
  BUILD=$ROOT/build-windows-x86 PRESET=windows-x86 WINE=("$ROOT/scripts/wine32.sh")
  export WINEPREFIX=${EDOG_WINE32_PREFIX:-$CACHE/wine32/prefix}  # the one scripts/wine32.sh uses
fi
BIN=$BUILD/bin
start=$(date +%s)

log() { echo "test-windows: $*"; }
fail() { echo "test-windows: FAILED: $*" >&2; exit 1; }
t0=0
begin() { t0=$SECONDS; }
took() { echo "$((SECONDS - t0)) s"; }

if [ "$WHERE" = native ]; then
  if [ "$BUILD_FIRST" = 1 ]; then
    if [ "$GUI" = 1 ]; then scripts/build-windows.sh "$ARCH"; else scripts/build-windows.sh "$ARCH" --no-gui; fi
  fi
  if [ "$ARCH" = x86 ] && [ "$GUI" = 1 ]; then
    python3 scripts/check-windows-zip.py --version "$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")" \
      "dist/edog-windows-$ARCH.zip" || fail "the user zip dist/edog-windows-$ARCH.zip"
  fi
  # The x64 zips are made below, once the window has run; none is left from an earlier run.
  [ "$ARCH" = x86 ] || rm -f "dist/edog-windows-$ARCH.zip" "dist/edog-windows-$ARCH-dev.zip"
  # The simulator is the Linux one.
  if [ ! -x build/bin/edog-sim ]; then
    cmake --preset dev -G Ninja >/dev/null
  fi
  nice -n "${EDOG_BUILD_NICE:-19}" cmake --build build -j2 --target edog-sim >/dev/null
fi

if [ "$ARCH" = x86 ]; then
  # The code pages' Unix locales, made once: wine takes the ANSI code page from them.
  LOCPATH=$CACHE/locales
  for loc in zh_CN en_US; do
    [ -f "$LOCPATH/$loc.UTF-8/LC_CTYPE" ] && continue
    mkdir -p "$LOCPATH"
    localedef -i "$loc" -f UTF-8 "$LOCPATH/$loc.UTF-8.tmp" ||
      fail "localedef made no $loc.UTF-8 (Debian package locales)"
    mv "$LOCPATH/$loc.UTF-8.tmp" "$LOCPATH/$loc.UTF-8"
  done
  export LOCPATH
  # A 64-bit DLL for the bitness message.
  dll64=$BUILD/tests/bitness/Kova100.dll
  if [ "$WHERE" = native ] && [ ! -f "$dll64" ]; then
    mkdir -p "$(dirname "$dll64")"
    x86_64-w64-mingw32-gcc -shared -o "$dll64" -x c - <<<'int edog_bitness_probe;' ||
      fail "no 64-bit DLL for the bitness check"
  fi
fi

if [ "$ARCH" = x86 ] && [ "$WHERE" = native ]; then
  rc=0
  scripts/wine32.sh --check || rc=$?
  [ $rc -eq 0 ] || [ $rc -eq 125 ] || fail "the 32-bit wine does not work (above)"
  if [ $rc -eq 125 ] || [ "${EDOG_X86_GUEST:-0}" = 1 ]; then
    # Wine's DLLs and the prefix must be in the guest's memory (wine fails on PE files
    # mapped from 9p): guest32.sh gives it copies. The guest's prefix is made in the guest
    # by the run that lacks it, in its memory, and kept here (one archive over 9p) for the
    # next run.
    if [ $rc -eq 125 ]; then
      log "this kernel refuses 32-bit programs: the x86 checks run in a guest (scripts/guest32.sh)"
    else
      log "EDOG_X86_GUEST=1: the x86 checks run in a guest (scripts/guest32.sh)"
    fi
    pe=$CACHE/wine32/root/usr/lib/i386-linux-gnu/wine/i386-windows
    gprefix=$CACHE/guest/wine32-prefix
    local_dirs=(--local "$pe")
    rm -f "$gprefix.tar" "$gprefix.tar.tmp"
    if [ -f "$gprefix/.edog-ready" ]; then
      local_dirs+=(--local "$gprefix")
      export EDOG_WINE32_PREFIX=$gprefix
    else
      export EDOG_WINE32_PREFIX=/tmp/wine32-prefix EDOG_GUEST_PREFIX_OUT=$gprefix.tar
    fi
    begin
    scripts/guest32.sh --timeout "${EDOG_GUEST_TIMEOUT:-3600}" "${local_dirs[@]}" \
      scripts/test-windows.sh x86 --in-guest || fail "the x86 checks in the guest (above)"
    log "the x86 checks passed in the guest; the whole guest run took $(took)"
    if [ -f "$gprefix.tar" ]; then
      rm -rf "$gprefix.tmp" && mkdir -p "$gprefix.tmp"
      tar -xf "$gprefix.tar" -C "$gprefix.tmp" && rm -rf "$gprefix" &&
        mv "$gprefix.tmp/wine32-prefix" "$gprefix" && rm -rf "$gprefix.tmp" "$gprefix.tar" ||
        log "could not keep the guest's prefix in $gprefix (the next run makes it again)"
    fi
    log "passed in $(( $(date +%s) - start )) s"
    exit 0
  fi
fi
if [ "$ARCH" = x86 ]; then
  log "the x86 checks run $([ "$WHERE" = guest ] && echo "in the guest" || echo "natively")"
fi
if [ "$WHERE" = guest ]; then
  # Wine fails on PE files it maps from 9p: every program and DLL of the build gets a copy
  # in the guest's memory, bound over its own file, so ctest and the steps below find them
  # where they are built.
  begin
  mem=/tmp/edog-pe
  mkdir -p "$mem"
  find "$BUILD" -name CMakeFiles -prune -o -type f \( -name '*.exe' -o -name '*.dll' \) -print0 >"$mem/.list"
  while IFS= read -r -d '' f; do
    mkdir -p "$mem$(dirname "$f")" && cp "$f" "$mem$f" && mount --bind "$mem$f" "$f" ||
      fail "no copy of $f in the guest's memory"
  done <"$mem/.list"
  log "the build's programs and DLLs copied into the guest's memory ($(took))"
  if [ ! -f "$WINEPREFIX/.edog-ready" ]; then
    begin
    scripts/wine32.sh --check || fail "no wine prefix made in the guest (above)"
    log "the guest's wine prefix made in $(took)"
    if [ -n "${EDOG_GUEST_PREFIX_OUT:-}" ]; then
      begin
      tar -cf "$EDOG_GUEST_PREFIX_OUT.tmp" -C "$(dirname "$WINEPREFIX")" "$(basename "$WINEPREFIX")" &&
        mv "$EDOG_GUEST_PREFIX_OUT.tmp" "$EDOG_GUEST_PREFIX_OUT" || log "could not save the prefix (carrying on)"
      log "the prefix saved for the next run ($(took))"
    fi
  fi
fi

# The wine prefix (made once; the build made it already unless --no-build), with a CJK
# font for the windows' Chinese texts.
# shellcheck source=build-windows.sh
source "$ROOT/scripts/build-windows.sh" "$ARCH"
log() { echo "test-windows: $*"; }
if [ "$ARCH" = x64 ]; then wine_prefix || fail "no wine prefix in $WINEPREFIX"; fi
fonts=$WINEPREFIX/drive_c/windows/Fonts
mkdir -p "$fonts"
ln -sf /usr/share/fonts/truetype/arphic/uming.ttc "$fonts/uming.ttc"

work=$(mktemp -d /tmp/edog-wine-test.XXXXXX)
sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  sim_pid=""
}
cleanup() {
  stop_sim
  rm -f "$WINEPREFIX/dosdevices/${COM,,}"
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# One wine server for the whole run: no start-up and shut-down between the programs.
wineserver -p 600 2>/dev/null || true
# Wine's own services (services.exe, explorer.exe, ...) start with the first program and
# outlive it, holding the output it had: started here with none, so that ctest, which reads a
# test's output to its end, is not kept waiting for them.
"${WINE[@]}" cmd.exe /c ver </dev/null >/dev/null 2>&1 || fail "wine does not run cmd.exe /c ver"

# The simulator: ready when its serial line is named and its TCP bridge listens. A port
# another program holds makes it exit at once: the next port is tried.
start_sim() {  # PORT [SIMULATOR OPTIONS...]
  local port=$1
  shift
  rm -rf "$work/state" "$work/device.sock"
  build/bin/edog-sim --state "$work/state" --socket "$work/device.sock" --tcp-port "$port" \
    --serial-baud 0 "$@" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    if [ -s "$work/state/serial-line" ] && grep -q "TCP bridge on 127.0.0.1:$port" "$work/sim.log"; then
      return 0
    fi
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  stop_sim
  return 1
}
port=$EDOG_SIM_TCP_PORT
until start_sim "$port"; do
  log "the simulator did not start on port $port: $(tail -n 1 "$work/sim.log" 2>/dev/null)"
  port=$((port + 1))
  [ "$port" -le $((EDOG_SIM_TCP_PORT + 9)) ] || fail "no simulator on ports $EDOG_SIM_TCP_PORT..$((port - 1))"
done
export EDOG_SIM_TCP_PORT=$port
# The bridge lets in only who shows its token; wine reaches the file through its Z: drive.
export EDOG_SIM_TOKEN_FILE="Z:$work/state/tcp-token"
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

winpath() { local p=$1; echo "Z:${p//\//\\}"; }  # wine's Z: drive is /

# The window's layout as the driver read it (client area, every shown control's id, class
# and place) against the reference: the same controls, each edge within 2 pixels.
compare_layout() {  # DRIVER_LOG REFERENCE
  [ -f "$2" ] || fail "no reference $2 (the client: and control: lines of $1)"
  python3 - "$1" "$2" <<'PY' || fail "edog.exe's layout differs from $2 (above)"
import sys
def read(path):
    return [l.strip().split() for l in open(path, encoding="utf-8", errors="replace")
            if l.startswith(("client:", "control:"))]
got, want = read(sys.argv[1]), read(sys.argv[2])
bad = []
if len(got) != len(want):
    bad.append(f"{len(got)} controls and client lines, the reference has {len(want)}")
for g, w in zip(got, want):
    k = 1 if g[0] == "client:" else 3  # the numbers come after the id and class
    if g[:k] != w[:k] or len(g) != len(w) or any(abs(int(a) - int(b)) > 2 for a, b in zip(g[k:], w[k:])):
        bad.append(f"{' '.join(g)} (reference: {' '.join(w)})")
for line in bad:
    print("test-windows: layout:", line)
sys.exit(1 if bad else 0)
PY
  log "the window's layout matches $(basename "$2"): $(grep -c '^control:' "$1") controls, each edge within 2 pixels"
}

# The screenshot against the reference: the same size, and after a blur that turns glyphs
# into grey patches, at most 0.3 % of the pixels further apart than 20 %: a blank or
# half-drawn window, a missing picture or a window of another size fail; the layout itself
# is compare_layout's.
compare_with_reference() {  # SHOT REFERENCE
  local shot=$1 ref=$2 size want differ limit
  [ -f "$ref" ] || fail "no reference $ref (look at $shot and copy it there)"
  size=$(identify -format '%wx%h' "$shot") want=$(identify -format '%wx%h' "$ref")
  [ "$size" = "$want" ] || fail "the screenshot $shot is $size, the reference $ref $want"
  convert "$shot" -blur 0x2 "$work/shot-blurred.png" && convert "$ref" -blur 0x2 "$work/ref-blurred.png" ||
    fail "could not blur the screenshots"
  differ=$(compare -metric AE -fuzz 20% "$work/shot-blurred.png" "$work/ref-blurred.png" null: 2>&1 || true)
  limit=$(( ${size%x*} * ${size#*x} * 3 / 1000 ))
  [[ "$differ" =~ ^[0-9]+$ ]] || fail "compare said: $differ"
  [ "$differ" -le "$limit" ] ||
    fail "the screenshot $shot differs from $ref in $differ pixels (at most $limit)"
  log "the screenshot matches $(basename "$ref"): $differ pixels differ (at most $limit)"
}
software=$(winpath "$BUILD/demo/edogsoftware.hdr")
if [ "$WHERE" = guest ]; then  # in its memory, as the programs
  cp "$BUILD/demo/edogsoftware.hdr" "$work/" && software=$(winpath "$work/edogsoftware.hdr")
fi
# The programs run from the build's bin folder, as a user runs them (in the guest: copies in
# its memory bound over them). Waits are longer under TCG, 10 to 20 times slower.
progs=$BIN
slow=1
if [ "$WHERE" = guest ]; then
  # The stand-in's probe of the simulator must answer within 40 ms: not under TCG.
  export EDOG_SIM_PROBE_MS=5000
  slow=5
fi

# 1. The test programs under wine: the core, device and command-line ones and the Win32 layer.
# A failure is reported at once and fails the run at its end, so that one slow run (the
# guest's) shows every step's outcome.
begin
ctest_failed=0
if ! EDOG_TEST_SIM=1 EDOG_TEST_COM=$COM EDOG_TEST_SERIAL_IMAGE=$software \
     ctest --preset "$PRESET" -j1 --timeout $((180 * slow)) >"$work/ctest.log" 2>&1; then
  tail -n 60 "$work/ctest.log"
  log "FAILED: ctest under wine ($BUILD/Testing/Temporary/LastTest.log); the other steps go on"
  ctest_failed=1
fi
log "ctest under wine: $(grep -E 'tests passed' "$work/ctest.log" | tail -n 1) ($(took))"

# edogtool.exe update of all three parts, run in folder $1 with its output in $2; $3 names
# the run. Fails unless the simulator stored three more complete jobs.
update_all_three() {
  local folder=$1 out=$2 what=$3 before after
  before=$(jobs_complete download)
  begin
  (cd "$folder" && timeout 300 "${WINE[@]}" edogtool.exe update --voice --map --software) >"$out" 2>&1 ||
    { cat "$out"; fail "$what"; }
  after=$(jobs_complete download)
  [ $((after - before)) -eq 3 ] ||
    { cat "$out" "$work/state/journal.jsonl"; fail "$what: expected 3 complete jobs, got $((after - before))"; }
  log "$what: 3 complete jobs ($(took))"
}

# A folder of its own with edogtool.exe, the package and the stand-ins, or the DLLs of the
# folder $2 where it has them.
program_folder() {  # FOLDER [DLL FOLDER]
  mkdir -p "$1"
  cp "$progs/edogtool.exe" "$progs/qzkt.dll" "$1/"
  for dll in HaldenUSB.dll Kova100.dll; do
    if [ -n "${2:-}" ] && [ -f "$2/$dll" ]; then cp "$2/$dll" "$1/"; else cp "$progs/$dll" "$1/"; fi
  done
}

# 2. The command line, as a user runs it: the update package beside the program.
update_all_three "$progs" "$work/update.log" "edogtool.exe update"

# The same with each vendor-style DLL set of the test suite beside the programs, in a folder
# of their own, as a user's folder with the device maker's files would be.
for set_dir in "$BUILD"/tests/vendor-style/*/; do
  [ -d "$set_dir" ] || continue
  name=$(basename "$set_dir")
  program_folder "$work/vendor-$name" "$set_dir"
  update_all_three "$work/vendor-$name" "$work/update-$name.log" "edogtool.exe update with the $name DLLs"
done

if [ "$ARCH" = x86 ]; then
  # A Chinese program folder and a Chinese TMP (a user's account under C:\Users\张三),
  # under code page 1252, where neither has an ANSI name. Wine takes TMP from the registry;
  # the run's value is put back afterwards. The temp folder's time shows it was used.
  program_folder "$work/更新程序"
  tmp_cn=$work/张三的临时文件夹
  mkdir -p "$tmp_cn"
  touch -d '2001-01-01' "$tmp_cn"
  old_tmp=$("${WINE[@]}" reg query 'HKCU\Environment' /v TMP 2>/dev/null | tr -d '\r' |
            sed -n 's/^ *TMP *REG_[A-Z_]* *//p')
  [ -n "$old_tmp" ] || fail "no TMP in the wine prefix's HKCU\\Environment"
  "${WINE[@]}" reg add 'HKCU\Environment' /v TMP /t REG_EXPAND_SZ /d "$(winpath "$tmp_cn")" /f >/dev/null 2>&1 ||
    fail "could not set TMP in HKCU\\Environment"
  LC_ALL=en_US.UTF-8 update_all_three "$work/更新程序" "$work/update-cn.log" \
    "edogtool.exe update from a Chinese folder with a Chinese TMP, code page 1252"
  "${WINE[@]}" reg add 'HKCU\Environment' /v TMP /t REG_EXPAND_SZ /d "$old_tmp" /f >/dev/null 2>&1 ||
    fail "could not put TMP in HKCU\\Environment back to $old_tmp"
  [ "$(stat -c %Y "$tmp_cn")" -gt "$(date -d 2001-01-02 +%s)" ] ||
    fail "the update did not use the Chinese TMP $tmp_cn"

  # 3. voice through each vendor-style calling convention, from a Chinese folder with a
  # Chinese wave file name, under code page 936 (the Chinese names are ANSI names) and 1252
  # (they are not: the encoder gets 8.3 short paths). The encoded file kept beside the wave
  # file is named as the program named it for the encoder.
  python3 - "$work/提示音.wav" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
    w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(i / 8.0))) for i in range(4000)))
PY
  for set_dir in "$BUILD"/tests/vendor-style/*/; do
    [ -f "$set_dir/Kova100.dll" ] || continue
    name=$(basename "$set_dir")
    for cp in 936 1252; do
      locale=zh_CN.UTF-8
      [ "$cp" = 936 ] || locale=en_US.UTF-8
      folder=$work/语音-$name-$cp
      program_folder "$folder" "$set_dir"
      cp "$work/提示音.wav" "$folder/"
      begin
      (cd "$folder" && LC_ALL=$locale timeout 300 "${WINE[@]}" edogtool.exe voice --keep-temp 提示音.wav) \
        >"$work/voice.log" 2>&1 || { cat "$work/voice.log"; fail "voice with the $name Kova100.dll under code page $cp"; }
      [ -s "$folder/KOVA_DATA.HDR" ] || { cat "$work/voice.log"; fail "voice ($name, $cp) wrote no KOVA_DATA.HDR"; }
      encoded=$(cd "$folder" && ls -- *.enc 2>/dev/null | tr '\n' ' ')
      if [ "$cp" = 936 ]; then
        [ "$encoded" = "提示音.enc " ] ||
          fail "voice ($name): the encoder did not get the ANSI name under code page 936 (encoded: ${encoded:-none}; zh_CN.UTF-8 in $LOCPATH?)"
      else
        [ -n "$encoded" ] && [ "$encoded" != "提示音.enc " ] && [[ "$encoded" == *"~"* ]] ||
          fail "voice ($name): the encoder did not get an 8.3 path under code page 1252 (encoded: ${encoded:-none})"
      fi
      log "voice with the $name Kova100.dll from a Chinese folder, code page $cp: encoded as ${encoded% } ($(took))"
    done
  done

  # 4. A 64-bit DLL beside the 32-bit program: the message names the bitness and the build.
  program_folder "$work/bitness" "$(dirname "$dll64")"
  cp "$work/提示音.wav" "$work/bitness/"
  begin
  if (cd "$work/bitness" && timeout 300 "${WINE[@]}" edogtool.exe voice 提示音.wav) >"$work/bitness.log" 2>&1; then
    cat "$work/bitness.log"; fail "voice succeeded with a 64-bit Kova100.dll"
  fi
  grep -q "it is a 64-bit DLL and this program is 32-bit (x86); put the device maker's 32-bit DLL in its place" "$work/bitness.log" ||
    { cat "$work/bitness.log"; fail "voice with a 64-bit Kova100.dll did not name its bitness"; }
  log "a 64-bit Kova100.dll beside the x86 program: named, with what to do ($(took))"
  # The same through doctor: that check fails and names the fix.
  begin
  if (cd "$work/bitness" && timeout 300 "${WINE[@]}" edogtool.exe doctor) >"$work/doctor.log" 2>&1; then
    cat "$work/doctor.log"; fail "doctor passed with a 64-bit Kova100.dll"
  fi
  grep -q "^FIX  voice encoder library: .*it is a 64-bit DLL and this program is 32-bit (x86); put the device maker's 32-bit DLL in its place" "$work/doctor.log" ||
    { cat "$work/doctor.log"; fail "doctor did not name the 64-bit Kova100.dll and its fix"; }
  log "doctor beside a 64-bit Kova100.dll: $(grep '^FIX  voice encoder library' "$work/doctor.log" | head -n 1) ($(took))"
fi

begin
before=$(jobs_complete serial-download)
(cd "$BIN" && timeout $((300 * slow)) "${WINE[@]}" edogtool.exe send-serial --port $COM "$software") >"$work/serial.log" 2>&1 ||
  { cat "$work/serial.log"; fail "edogtool.exe send-serial"; }
after=$(jobs_complete serial-download)
[ $((after - before)) -eq 1 ] || { cat "$work/state/journal.jsonl"; fail "no complete serial job"; }
log "edogtool.exe send-serial over $COM: 1 complete job ($(took))"

if [ "$GUI" = 1 ]; then
# 5. The window, as a person uses it: tests/windows/WindowDriver.cpp waits for the status
# line to read 成功, says "ready" (the screenshot is taken then), ticks the three contents,
# presses 更新 and answers the boxes; the journal must hold three more complete jobs and
# the last box, the summary, the three successes.
begin
shot=$BUILD/edog-main-window.png
driver=$BUILD/tests/edog-window-driver.exe
[ -f "$driver" ] || fail "no $driver (the build makes it with edog.exe)"
rm -f "$shot" "$work/go"
before=$(jobs_complete download)
rc=0
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  work=$1 progs=$2 shot=$3 driver=$4 wait=$5 settle=$6 go=$7
  shift 7
  (cd "$progs" && exec timeout $((wait * 2)) "$@" edog.exe) >"$work/edog.log" 2>&1 &
  timeout $((wait * 2)) "$@" "$driver" --go "$go" --wait "$wait" --start $((wait / 5)) \
    >"$work/driver.log" 2>"$work/driver.err" &
  d=$!
  while kill -0 $d 2>/dev/null && ! grep -q "^ready" "$work/driver.log"; do sleep 0.5; done
  if grep -q "^ready" "$work/driver.log"; then
    sleep "$settle"
    import -window root "$shot"
    touch "$work/go"
  fi
  rc=0
  wait $d || rc=$?
  wineserver -k 2>/dev/null || true
  exit $rc
' _ "$work" "$progs" "$shot" "$driver" $((300 * slow)) $((2 * slow)) "$(winpath "$work/go")" "${WINE[@]}" || rc=$?
tr -d '\r' <"$work/driver.log" >"$BUILD/edog-window-driver.log"  # an artefact with the screenshot
grep -v -e '^control:' -e '^client:' "$BUILD/edog-window-driver.log" | sed 's/^/test-windows: edog.exe: /'
[ $rc -eq 0 ] || { cat "$work/driver.err" "$work/edog.log"; fail "edog.exe's window did not do the update (above)"; }
grep -q '^status: .*成功' "$work/driver.log" || fail "edog.exe's status line did not read 成功"
summary=$(grep '^box: ' "$work/driver.log" | tail -n 1)
for done_text in 语音文件更新成功! 数据库文件更新成功! 软件更新成功!; do
  [[ "$summary" == *"$done_text"* ]] || fail "edog.exe's summary box lacks $done_text: $summary"
done
after=$(jobs_complete download)
[ $((after - before)) -eq 3 ] ||
  { cat "$work/state/journal.jsonl"; fail "edog.exe's 更新: expected 3 complete jobs, got $((after - before))"; }
log "edog.exe's 更新 with the three contents ticked: 3 complete jobs, the summary box says so ($(took))"
[ -s "$shot" ] || fail "no screenshot of edog.exe"
compare_layout "$BUILD/edog-window-driver.log" "$ROOT/tests/windows/edog-main-window.layout"
compare_with_reference "$shot" "$ROOT/tests/windows/edog-main-window.png"
if [ "$ARCH" = x64 ]; then
  # Only a window that has run gets into a zip.
  scripts/pack-windows.sh x64 || fail "packing the x64 zips"
  python3 scripts/check-windows-zip.py --version "$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")" \
    "dist/edog-windows-x64.zip" || fail "the user zip dist/edog-windows-x64.zip"
fi
else
  log "NOTICE: built without wxWidgets (--no-gui): no window ran, so no zip was made"
fi

# 6. Counts the device confirmed: against a device that vanishes after 20000 bytes,
# send-usb names as sent what the device's journal says it received (a write counts once
# the device has the block, not once a pipe buffer has it).
begin
stop_sim
start_sim "$EDOG_SIM_TCP_PORT" --vanish-after 20000 || fail "no simulator with --vanish-after on port $EDOG_SIM_TCP_PORT"
if (cd "$progs" && timeout $((120 * slow)) "${WINE[@]}" edogtool.exe send-usb "$software") >"$work/vanish.log" 2>&1; then
  cat "$work/vanish.log"; fail "send-usb reported success to a device that vanished"
fi
# "... stopped taking data after N of M bytes" or "... has gone or stopped answering after N of M bytes"
sent=$(sed -n 's/^edogtool send-usb: .* after \([0-9]*\) of [0-9]* bytes.*/\1/p' "$work/vanish.log")
received=$(python3 -c 'import json, sys; print(json.loads(open(sys.argv[1]).readlines()[-1])["received"])' \
  "$work/state/journal.jsonl")
[ -n "$sent" ] && [ "$sent" = "$received" ] ||
  { cat "$work/vanish.log"; fail "send-usb counted ${sent:-nothing} bytes as sent, the device received $received"; }
log "send-usb against a vanishing device: $sent bytes counted, as many as the device received ($(took))"
[ "$ctest_failed" = 0 ] || fail "ctest under wine (above); every other step passed"
log "passed ($WHERE) in $(( $(date +%s) - start )) s"
