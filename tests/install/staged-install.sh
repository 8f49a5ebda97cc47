#!/usr/bin/env bash
# Installs the build into a staging folder (DESTDIR) and runs the installed programs from
# there: no file of the build folder is used, so the plug-ins must come from lib/edog and
# the update package from share/edog.
#   tests/install/staged-install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "staged-install: $*" >&2; exit 1; }

# Under `umask 002` (many distributions' default), so that modes following the builder's
# umask show: every installed folder must be 0755 and every file 0644 or 0755.
(umask 002; DESTDIR=$work/stage cmake --install "$build" --prefix /usr >"$work/install.log")
root=$work/stage/usr
odd=$(find "$root" \( -type d ! -perm 0755 \) -o \( -type f ! -perm 0644 ! -perm 0755 \) |
      sed "s|^$work/stage||")
[ -z "$odd" ] || fail "installed with modes of the builder's umask: $odd"
# The Debian package made under the same umask: its folders 0755 too (lintian's
# non-standard-dir-perm), its files as installed.
if command -v dpkg-deb >/dev/null && [ -f "$build/CPackConfig.cmake" ]; then
  (umask 002; cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) ||
    fail "cpack: $(cat "$work/cpack.log")"
  deb=$(ls "$work"/deb/edog_*.deb)
  odd=$(dpkg-deb -c "$deb" | awk '($1 ~ /^d/ && $1 != "drwxr-xr-x") ||
                                  ($1 ~ /^-/ && $1 != "-rw-r--r--" && $1 != "-rwxr-xr-x")')
  [ -z "$odd" ] || fail "the .deb has modes of the builder's umask: $odd"
fi
for f in bin/edog bin/edogtool bin/edog-sim lib/edog/libHaldenUSB.so lib/edog/libKova100.so \
         share/edog/qzkt.dll share/man/man1/edog.1.gz share/man/man1/edogtool.1.gz \
         share/man/man1/edog-sim.1.gz share/applications/edog.desktop \
         share/icons/hicolor/48x48/apps/edog.png share/doc/edog/copyright; do
  [ -e "$root/$f" ] || fail "not installed: $f"
done
# The real device's library and its udev rule, where the build made the library (libusb found).
usb_library=no
if [ -e "$build/bin/libHaldenUSB-usb.so" ]; then
  usb_library=yes
  for f in lib/edog/libHaldenUSB-usb.so share/edog/udev/60-edog-usb.rules.in; do
    [ -e "$root/$f" ] || fail "not installed: $f"
  done
fi

# Nothing of the build may help: no library path, another working folder, an empty home.
unset LD_LIBRARY_PATH EDOG_SIM_STATE EDOG_DEVICE_LIBRARY EDOG_USB_ID XDG_CONFIG_HOME
export HOME=$work/home XDG_DATA_HOME=$work/home/data EDOG_DEVICE_SOCKET=$work/device.sock
mkdir -p "$HOME"
cd "$work"

version=$(sed -n 's/^project(edog VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
[ "$("$root/bin/edogtool" --version)" = "edogtool $version" ] || fail "edogtool --version"
[ "$("$root/bin/edog-sim" --version)" = "edog-sim $version" ] || fail "edog-sim --version"
[ "$("$root/bin/edog" --version)" = "edog $version" ] || fail "edog --version"
"$root/bin/edogtool" --help | grep -q "^  update " || fail "edogtool --help lists no update"
"$root/bin/edogtool" update --help | grep -q -- "--package" || fail "edogtool update --help"
zcat "$root/share/man/man1/edogtool.1.gz" | grep -q 'edogtool update' || fail "man page has no commands"
# The pages keep the Chinese texts of the help (help2man's own locale is C by default).
zcat "$root/share/man/man1/edog.1.gz" | grep -qF '(语音, 数据, 软件) and press 更新.' ||
  fail "edog.1 lost its Chinese text: $(zcat "$root/share/man/man1/edog.1.gz" | grep -F 'and press')"
zcat "$root/share/man/man1/edogtool.1.gz" | grep -qF 'renew the voice prompts (语音)' ||
  fail "edogtool.1 lost its Chinese text"

# The voice encoder plug-in from lib/edog.
cp /usr/share/sounds/alsa/Front_Center.wav "$work/prompt.wav"
"$root/bin/edogtool" voice -o voice.hdr "$work/prompt.wav" >"$work/voice.log" ||
  fail "edogtool voice: $(cat "$work/voice.log")"
[ -s "$work/voice.hdr" ] || fail "edogtool voice wrote no voice.hdr"

# The real device's library from lib/edog: usb-list loads it and lists, opening nothing.
if [ $usb_library = yes ]; then
  "$root/bin/edogtool" usb-list >"$work/usb-list.log" 2>&1 ||
    fail "edogtool usb-list did not load the installed USB library: $(cat "$work/usb-list.log")"
  # Installed programs reach the real device unless told otherwise; with no ids configured
  # the update says what to do, naming the installed udev rule template.
  if "$root/bin/edogtool" update --voice >"$work/real.log" 2>&1; then fail "update without a device succeeded"; fi
  grep -qF "no USB device is configured: with the device attached, run 'edogtool usb-setup'" "$work/real.log" ||
    fail "the installed update did not use the real device's library: $(cat "$work/real.log")"
  grep -qF "$root/share/edog/udev/60-edog-usb.rules.in" "$work/real.log" ||
    fail "the hint does not name the installed udev rule: $(cat "$work/real.log")"
fi

# The device library from lib/edog, the package from share/edog, the installed simulator.
"$root/bin/edog-sim" --state "$work/state" --no-serial >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -S "$EDOG_DEVICE_SOCKET" ] && break; sleep 0.1; done
[ -S "$EDOG_DEVICE_SOCKET" ] || fail "the installed simulator did not start: $(cat "$work/sim.log")"
"$root/bin/edogtool" update --device sim --voice --map --software >"$work/update.log" 2>&1 ||
  fail "edogtool update failed: $(cat "$work/update.log")"
grep -qF "更新包: $root/bin/../share/edog/qzkt.dll" "$work/update.log" ||
  fail "update did not name the installed package: $(cat "$work/update.log")"
[ "$(grep -cE '"outcome": ?"complete"' "$work/state/journal.jsonl")" = 3 ] ||
  fail "the simulator did not store three complete jobs"
echo "staged-install: modes 0755/0644 under umask 002 (install and .deb), installed programs, plug-ins (USB library: $usb_library), package, man pages and menu entry work"
