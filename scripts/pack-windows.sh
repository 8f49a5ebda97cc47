#!/usr/bin/env bash
# Packs the Windows build (build-windows/bin) into dist/edog-windows-x64.zip: the programs,
# the stand-in libraries, the demo update package and a short README. Every file sits in
# one folder, so the programs find their libraries and the package beside themselves.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BIN=build-windows/bin
OUT=dist/edog-windows-x64
files=(edog.exe edogtool.exe HaldenUSB.dll Kova100.dll qzkt.dll)
for f in "${files[@]}"; do
  [ -f "$BIN/$f" ] || { echo "pack-windows: $BIN/$f is missing (run scripts/build-windows.sh)" >&2; exit 1; }
done
rm -rf "$OUT" "$OUT.zip"
mkdir -p "$OUT"
for f in "${files[@]}"; do cp "$BIN/$f" "$OUT/"; done
x86_64-w64-mingw32-strip "$OUT"/*.exe "$OUT"/HaldenUSB.dll "$OUT"/Kova100.dll
# Notepad wants CR LF.
sed 's/$/\r/' >"$OUT/README.txt" <<'TEXT'
edog for Windows (64-bit)

Unpack this folder anywhere and start edog.exe. No installation and no other DLL is
needed. edogtool.exe is the same tool for the command line (edogtool --help).

Files
  edog.exe        the update tool (window)
  edogtool.exe    the update tool and developer tools (command line)
  qzkt.dll        the update package the window sends (a data file: replace it with the
                  package of the update you received)
  HaldenUSB.dll   stand-in for the device's USB library: reaches the device simulator
                  (edog-sim --tcp, on 127.0.0.1, port EDOG_SIM_TCP_PORT, default 53117)
  Kova100.dll     stand-in voice encoder (G.726 ADPCM, 4 and 3 bits per sample)

The real device
  Put the device maker's HaldenUSB.dll (and, for the voice tools, Kova100.dll) into this
  folder, replacing the stand-ins. They must be 64-bit DLLs. The programs look for them
  in their own folder first, then on the system's search path.
TEXT
(cd dist && rm -f edog-windows-x64.zip && zip -qr edog-windows-x64.zip edog-windows-x64)
echo "pack-windows: dist/edog-windows-x64.zip ($(du -k dist/edog-windows-x64.zip | cut -f1) KiB)"
