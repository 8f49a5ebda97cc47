#!/usr/bin/env python3
"""Checks what Windows users get.

  check-windows-zip.py --version V ZIP           the user zip: its file list, README, programs
  check-windows-zip.py --version V PROGRAM.exe   one program's resources

The user zip must overwrite nothing when unpacked into the device maker's folder: no file
named like the vendor's DLLs or the update package (nor any DLL at all), no sub-folder.
Every program carries an application manifest and a version resource with the project
version, and imports nothing that the oldest Windows the zip promises lacks (the list in
windows-newer-than-7.txt beside this script; the imports are read with binutils' objdump).
Exits 1 naming each fault.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

OLDEST_WINDOWS = "Windows 7 SP1"
NEWER_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows-newer-than-7.txt")
# binutils' own objdump reads both PE flavours; the MinGW ones are the fallback.
OBJDUMPS = ("objdump", "i686-w64-mingw32-objdump", "x86_64-w64-mingw32-objdump")

# The device maker's files in the folder the user zip is unpacked into.
VENDOR_NAMES = {"haldenusb.dll", "kova100.dll", "qzkt.dll"}

# What the manifest of every program must say, each with the reason a user would notice.
MANIFEST_NEEDS = [
    (b"Microsoft.Windows.Common-Controls", "common controls 6 (the system's look)"),
    (b'version="6.0.0.0"', "common controls version 6"),
    (b"<dpiAware", "DPI awareness (sharp text on scaled screens)"),
    (b"<longPathAware", "long-path awareness"),
    (b"<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"", "Windows 7 in supportedOS"),
    (b"<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"", "Windows 10/11 in supportedOS"),
    (b"requestedExecutionLevel level=\"asInvoker\"", "no elevation prompt"),
]


# Windows older than the oldest promised: the manifest must not claim them.
MANIFEST_REFUSES = [
    (b"{e2011457-1546-43c5-a5fe-008deee3d3f0}", f"Windows Vista, older than {OLDEST_WINDOWS}"),
]


def newer_than_oldest(path=NEWER_LIST):
    """{function or lower-case DLL name: since when} from the list."""
    entries = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            name, _, since = line.partition(" ")
            entries[name.lower() if name.lower().endswith(".dll") else name] = since.strip()
    return entries


def imports(data):
    """[(dll, function)] the program imports, or a reason (str) when they cannot be read."""
    with tempfile.NamedTemporaryFile(suffix=".exe") as f:
        f.write(data)
        f.flush()
        for tool in filter(shutil.which, OBJDUMPS):
            run = subprocess.run([tool, "-p", f.name], capture_output=True, text=True,
                                 errors="replace")
            if run.returncode == 0 and "file format pe" in run.stdout:
                break
        else:
            return "its imports cannot be read (no objdump here reads PE files)"
    found, dll = [], None
    for line in run.stdout.splitlines():
        if m := re.match(r"\s*DLL Name:\s*(\S+)", line):
            dll = m.group(1)
        elif not line.strip():
            dll = None
        elif dll and (m := re.match(r"\s+[0-9a-fA-F]+\s+\d+\s+(\S+)", line)):
            found.append((dll, m.group(1)))
    return found


def import_faults(name, data, newer):
    listed = imports(data)
    if isinstance(listed, str):
        return [f"{name}: {listed}"]
    faults = []
    for dll, function in listed:
        since = newer.get(function) or newer.get(dll.lower())
        if since:
            faults.append(f"{name}: imports {function} from {dll} ({since}), which "
                          f"{OLDEST_WINDOWS} lacks: look it up at run time (GetProcAddress)")
    return faults


def utf16(text):
    return text.encode("utf-16-le")


def program_faults(name, data, version, newer):
    faults = []
    if not data.startswith(b"MZ"):
        return [f"{name}: not a Windows program"]
    faults += import_faults(name, data, newer)
    start = data.find(b"<assembly")
    end = data.find(b"</assembly>", start)
    if start < 0 or end < 0:
        faults.append(f"{name}: no application manifest")
    else:
        manifest = data[start:end]
        faults += [f"{name}: manifest lacks {why}" for needle, why in MANIFEST_NEEDS
                   if needle not in manifest]
        faults += [f"{name}: manifest claims {why}" for needle, why in MANIFEST_REFUSES
                   if needle in manifest]
        if b"activeCodePage" in manifest:
            faults.append(f"{name}: manifest changes the ANSI code page the vendor DLLs use")
    if utf16("VS_VERSION_INFO") not in data:
        faults.append(f"{name}: no version resource")
    else:
        for key in ("FileVersion", "ProductVersion"):
            # key, its terminating NUL, padding to 4 bytes, the value and its NUL
            entry = re.escape(utf16(key)) + b"\0\0(?:\0\0)?" + re.escape(utf16(version)) + b"\0\0"
            if not re.search(entry, data):
                faults.append(f"{name}: {key} is not {version}")
    return faults


def zip_faults(path, version, newer):
    faults = []
    with zipfile.ZipFile(path) as z:
        names = z.namelist()
        for entry in names:
            base = entry.rsplit("/", 1)[-1].lower()
            if "/" in entry.rstrip("/"):
                faults.append(f"{entry}: in a sub-folder (the programs must sit beside the vendor's DLLs)")
            if base in VENDOR_NAMES:
                faults.append(f"{entry}: would overwrite the device maker's {base}")
            elif base.endswith(".dll"):
                faults.append(f"{entry}: a DLL in the user zip")
        for want in ("edog.exe", "edogtool.exe", "README.txt"):
            if want not in names:
                faults.append(f"{want}: missing")
        if "README.txt" in names:
            text = z.read("README.txt")
            if not text.startswith(b"\xef\xbb\xbf"):
                faults.append("README.txt: no UTF-8 byte order mark (Notepad shows it garbled)")
            if b"\n" in text.replace(b"\r\n", b""):
                faults.append("README.txt: lines not ended by CR LF")
            body = text.decode("utf-8-sig", errors="replace")
            for needle in ("HaldenUSB.dll", "Kova100.dll", "qzkt.dll", "解压", "Unpack", "Windows 7 SP1"):
                if needle not in body:
                    faults.append(f"README.txt: does not mention {needle}")
        for exe in (n for n in names if n.lower().endswith(".exe")):
            faults += program_faults(exe, z.read(exe), version, newer)
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--version", required=True, help="the project version the programs must carry")
    parser.add_argument("paths", nargs="+", help="user zips or .exe files")
    args = parser.parse_args()
    faults = []
    newer = newer_than_oldest()
    for path in args.paths:
        if path.lower().endswith(".zip"):
            faults += [f"{path}: {f}" for f in zip_faults(path, args.version, newer)]
        else:
            with open(path, "rb") as f:
                faults += program_faults(path, f.read(), args.version, newer)
    for fault in faults:
        print(f"check-windows-zip: {fault}", file=sys.stderr)
    if not faults:
        print(f"check-windows-zip: {' '.join(args.paths)}: passed")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
