#!/usr/bin/env bash
# Packs a Windows build into two zips in dist/:
#
#   scripts/pack-windows.sh [x86|x64]   (x86: build-windows-x86/, x64: build-windows/)
#
#   edog-windows-<arch>.zip      for users: edog.exe, edogtool.exe and README.txt (which
#                                carries LICENSE), at the zip's top level, to be unpacked
#                                into the folder that holds the device maker's
#                                HaldenUSB.dll, Kova100.dll and qzkt.dll.
#                                It holds no file of those names, so it overwrites none.
#   edog-windows-<arch>-dev.zip  for trying the programs against the simulator: the stand-in
#                                HaldenUSB.dll and Kova100.dll, the demo package qzkt.dll and
#                                README-dev.txt. Never for a user's folder.
# scripts/check-windows-zip.py checks the user zip before this script reports success.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
ARCH=${1:-x86}
case "$ARCH" in
  x86) BUILD=build-windows-x86 STRIP=i686-w64-mingw32-strip BITS=32 ;;
  x64) BUILD=build-windows STRIP=x86_64-w64-mingw32-strip BITS=64 ;;
  *) echo "usage: scripts/pack-windows.sh [x86|x64]" >&2; exit 2 ;;
esac
BIN=$BUILD/bin
NAME=edog-windows-$ARCH
programs=(edog.exe edogtool.exe)
dev_files=(HaldenUSB.dll Kova100.dll qzkt.dll)
for f in "${programs[@]}" "${dev_files[@]}"; do
  [ -f "$BIN/$f" ] || { echo "pack-windows: $BIN/$f is missing (run scripts/build-windows.sh $ARCH)" >&2; exit 1; }
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")

# Notepad reads UTF-8 by its byte order mark and wants CR LF lines.
notepad_text() { printf '\357\273\277'; sed 's/$/\r/'; }

stage=$(mktemp -d /tmp/edog-pack.XXXXXX)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/user" "$stage/dev" dist
for f in "${programs[@]}"; do cp "$BIN/$f" "$stage/user/"; done
for f in "${dev_files[@]}"; do cp "$BIN/$f" "$stage/dev/"; done
$STRIP "$stage"/user/*.exe "$stage/dev/HaldenUSB.dll" "$stage/dev/Kova100.dll"

notepad_text >"$stage/user/README.txt" <<TEXT
edog $version for Windows ($ARCH, $BITS-bit)

【中文】
请把本压缩包里的文件解压到存放设备厂商文件 HaldenUSB.dll、Kova100.dll 和 qzkt.dll 的那个文件夹里，
然后运行 edog.exe。本压缩包不含这三个文件，所以不会覆盖它们。
需要 Windows 7 SP1 或更新的 Windows（到 Windows 11）。
  edog.exe       升级工具（窗口）
  edogtool.exe   同一工具的命令行版本和开发工具（edogtool --help）
qzkt.dll 是升级数据，由厂商提供，每次升级时替换。
程序只从自己所在的文件夹和系统文件夹加载 HaldenUSB.dll 和 Kova100.dll，不从当前目录加载。
本版本是 $BITS 位程序，只能加载 $BITS 位的厂商 DLL。

[English]
Unpack the files of this zip into the folder that holds the device maker's HaldenUSB.dll,
Kova100.dll and qzkt.dll, then start edog.exe. The zip holds none of those three files, so
it overwrites none of them. It needs Windows 7 SP1 or later (up to Windows 11).
  edog.exe       the update tool (window)
  edogtool.exe   the same tool for the command line, and the developer tools (edogtool --help)
qzkt.dll is the update package from the device maker: replace it with each new update.
The programs load HaldenUSB.dll and Kova100.dll only from their own folder and from the
system folder, never from the current folder.
This is a $BITS-bit build: it loads only $BITS-bit DLLs of the device maker.

【许可 / Licence】
edog 以 MIT 许可证发布，全文如下。
edog is under the MIT licence:

$(cat LICENSE)
TEXT

notepad_text >"$stage/dev/README-dev.txt" <<TEXT
edog $version for Windows ($ARCH): stand-ins for trying the programs without the device

NOT for a user's folder: these files carry the device maker's file names and would
replace the real ones.

  HaldenUSB.dll  stand-in for the device's USB library: it reaches the device simulator
                 edog-sim over TCP on 127.0.0.1, port EDOG_SIM_TCP_PORT (default 53117)
  Kova100.dll    stand-in voice encoder (G.726 ADPCM, 4 and 3 bits per sample)
  qzkt.dll       a demo update package (two voice prompts, a camera database, a program)

Unpack $NAME.zip and this zip together into an empty folder of their own. On a Linux
machine (or under wine on the same one) start the simulator:
  edog-sim --tcp                  (or --tcp-port PORT, and set EDOG_SIM_TCP_PORT=PORT)
then run edog.exe, or:  edogtool.exe update --voice --map --software

edog is under the MIT licence:

$(cat LICENSE)
TEXT

rm -f "dist/$NAME.zip" "dist/$NAME-dev.zip"
(cd "$stage/user" && zip -qX "$OLDPWD/dist/$NAME.zip" ./*)
(cd "$stage/dev" && zip -qX "$OLDPWD/dist/$NAME-dev.zip" ./*)
python3 scripts/check-windows-zip.py --version "$version" "dist/$NAME.zip"
echo "pack-windows: dist/$NAME.zip ($(du -k "dist/$NAME.zip" | cut -f1) KiB), dist/$NAME-dev.zip ($(du -k "dist/$NAME-dev.zip" | cut -f1) KiB)"
