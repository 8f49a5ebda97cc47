#!/usr/bin/env python3
"""scripts/check-windows-zip.py on user zips made here: each case plants one fault a user
would suffer (a file that overwrites the vendor's, a folder, a program without its
manifest or version, or one that imports a function Windows 7 lacks) and expects the
checker to name it; the clean zip must pass. The programs are tiny PE files with an import
table, so the checker reads their imports with objdump as it reads the real ones."""
import os
import struct
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECK = os.path.join(ROOT, "scripts", "check-windows-zip.py")
MANIFEST = open(os.path.join(ROOT, "app", "windows", "program.manifest.in"), "rb").read()


def version_entry(key, value):
    # As windres lays it out: key, NUL, padding to 4 bytes, value, NUL.
    k = key.encode("utf-16-le") + b"\0\0"
    pad = b"\0\0" if len(k) % 4 else b""
    return k + pad + value.encode("utf-16-le") + b"\0\0"


# What every program of ours imports, all there since Windows XP.
PLAIN_IMPORTS = {"KERNEL32.dll": ["CreateFileW", "LoadLibraryExW"], "USER32.dll": ["MessageBoxW"]}


def pe_with_imports(imports):
    """A 32-bit PE file whose one section holds the import table of `imports`."""
    rva, size = 0x1000, 0x1000
    dlls = list(imports.items())
    descriptors = 20 * (len(dlls) + 1)
    tables, strings = b"", b""
    rows = []
    for dll, functions in dlls:
        thunks = []
        for function in functions:
            thunks.append(struct.pack("<I", rva + 0x800 + len(strings)))
            strings += struct.pack("<H", 0) + function.encode() + b"\0"
            strings += b"\0" * (len(strings) % 2)
        name = rva + 0x800 + len(strings)
        strings += dll.encode() + b"\0" + b"\0" * ((len(dll) + 1) % 2)
        lookup = rva + descriptors + len(tables)
        tables += b"".join(thunks) + b"\0" * 4
        address = rva + descriptors + len(tables)
        tables += b"".join(thunks) + b"\0" * 4
        rows.append(struct.pack("<IIIII", lookup, 0, 0, name, address))
    section = b"".join(rows) + b"\0" * 20 + tables
    section = section.ljust(0x800, b"\0") + strings
    section = section.ljust(size, b"\0")
    coff = struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 0xE0, 0x0102)
    optional = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 2, 0, 0, size, 0, rva, rva,
                           rva, 0x400000, 0x1000, 0x200, 6, 1, 0, 0, 6, 1, 0, rva + size,
                           0x200, 0, 3, 0, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    directories = [(0, 0)] * 16
    directories[1] = (rva, descriptors)
    optional += b"".join(struct.pack("<II", *d) for d in directories)
    header = struct.pack("<8sIIIIIIHHI", b".idata", size, rva, size, 0x200, 0, 0, 0, 0, 0xC0000040)
    dos = b"MZ".ljust(0x3C, b"\0") + struct.pack("<I", 0x40)
    head = (dos + b"PE\0\0" + coff + optional + header).ljust(0x200, b"\0")
    return head + section


def program(manifest=MANIFEST, version="1.0", imports=None):
    # The manifest and version resource follow the section, where the checker finds them.
    data = pe_with_imports(imports or PLAIN_IMPORTS) + manifest
    if version is not None:
        data += "VS_VERSION_INFO".encode("utf-16-le") + version_entry("FileVersion", version)
        data += version_entry("ProductVersion", version)
    return data


README = ("\ufeff解压 Unpack HaldenUSB.dll Kova100.dll qzkt.dll\r\nWindows 7 SP1\r\n").encode("utf-8")


def clean():
    return {"edog.exe": program(), "edogtool.exe": program(), "README.txt": README}


def changed(name, data):
    """The clean zip with one file added, replaced or (data None) left out."""
    files = clean()
    if data is None:
        files.pop(name, None)
    else:
        files[name] = data
    return files


CASES = [
    ("clean", clean(), []),
    ("vendor USB library", changed("HaldenUSB.dll", b"MZ"), ["overwrite the device maker's haldenusb.dll"]),
    ("encoder, other case", changed("KOVA100.DLL", b"MZ"), ["overwrite the device maker's kova100.dll"]),
    ("update package", changed("qzkt.dll", b"pkg"), ["overwrite the device maker's qzkt.dll"]),
    ("any other DLL", changed("zlib1.dll", b"MZ"), ["a DLL in the user zip"]),
    ("top folder", {"edog/" + k: v for k, v in clean().items()}, ["in a sub-folder", "edog.exe: missing"]),
    ("no readme", changed("README.txt", None), ["README.txt: missing"]),
    ("readme without BOM", changed("README.txt", README[3:]), ["no UTF-8 byte order mark"]),
    ("readme with LF lines", changed("README.txt", README.replace(b"\r\n", b"\n")), ["not ended by CR LF"]),
    ("no manifest", changed("edog.exe", program(manifest=b"")), ["edog.exe: no application manifest"]),
    ("no long paths", changed("edog.exe", program(manifest=MANIFEST.replace(b"<longPathAware", b"<x"))),
     ["manifest lacks long-path awareness"]),
    ("UTF-8 code page", changed("edogtool.exe", program(manifest=MANIFEST.replace(
        b"</windowsSettings>", b"<activeCodePage>UTF-8</activeCodePage></windowsSettings>"))),
     ["changes the ANSI code page"]),
    ("no version", changed("edogtool.exe", program(version=None)), ["edogtool.exe: no version resource"]),
    ("old version", changed("edogtool.exe", program(version="0.9")), ["FileVersion is not 1.0"]),
    ("Vista claimed", changed("edog.exe", program(manifest=MANIFEST.replace(
        b"<!-- 7 -->", b'<!-- 7 --><supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>'))),
     ["manifest claims Windows Vista"]),
    ("Windows 8 import", changed("edogtool.exe", program(imports={
        "KERNEL32.dll": ["CreateFileW", "GetSystemTimePreciseAsFileTime"]})),
     ["edogtool.exe: imports GetSystemTimePreciseAsFileTime from KERNEL32.dll (Windows 8)"]),
    ("loader update import", changed("edog.exe", program(imports={
        "USER32.dll": ["MessageBoxW"], "KERNEL32.dll": ["SetDefaultDllDirectories"]})),
     ["edog.exe: imports SetDefaultDllDirectories from KERNEL32.dll"]),
    ("DLL Windows 7 lacks", changed("edog.exe", program(imports={"SHCORE.dll": ["GetScaleFactorForDevice"]})),
     ["imports GetScaleFactorForDevice from SHCORE.dll (Windows 8.1)"]),
]


def main():
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for title, files, expected in CASES:
            path = os.path.join(tmp, "user.zip")
            with zipfile.ZipFile(path, "w") as z:
                for name, data in files.items():
                    z.writestr(name, data)
            run = subprocess.run([sys.executable, CHECK, "--version", "1.0", path],
                                 capture_output=True, text=True)
            ok = (run.returncode == 0) == (not expected) and all(e in run.stderr for e in expected)
            if not ok:
                failed += 1
                print(f"FAIL {title}: rc={run.returncode}\n{run.stderr}")
            else:
                print(f"ok   {title}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
