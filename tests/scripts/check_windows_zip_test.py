#!/usr/bin/env python3
"""scripts/check-windows-zip.py on user zips made here: each case plants one fault a user
would suffer (a file that overwrites the vendor's, a folder, a program without its
manifest or version) and expects the checker to name it; the clean zip must pass."""
import os
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


def program(manifest=MANIFEST, version="1.0"):
    data = b"MZ" + b"\0" * 62 + manifest
    if version is not None:
        data += "VS_VERSION_INFO".encode("utf-16-le") + version_entry("FileVersion", version)
        data += version_entry("ProductVersion", version)
    return data


README = ("\ufeff解压 Unpack HaldenUSB.dll Kova100.dll qzkt.dll\r\n").encode("utf-8")


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
