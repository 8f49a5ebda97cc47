#!/usr/bin/env python3
"""Checks that no include runs from a lower layer to a higher one.

Each folder may include only the folders named for it below (and itself). Window code
(<wx/...>) may appear only in widgets/, app/ and the ui/ sub-folders. Exit status 1 with
one line per offending include, 0 when the tree keeps its layers.
"""
import os
import re
import sys

ALLOWED = {
    "common": set(),
    "update": {"common"},
    "device": {"common", "update"},
    "tools": {"common", "update"},
    "widgets": {"common"},
    "device/ui": {"common", "update", "device", "widgets"},
    "tools/ui": {"common", "update", "tools", "widgets"},
    "app": {"common", "update", "device", "tools", "widgets", "device/ui", "tools/ui"},
    "plugins": {"common", "update", "device"},
    "sim": {"common", "update", "device"},
    "cli": {"common", "update", "device", "tools", "sim"},
}
WINDOW_LAYERS = {"widgets", "app", "device/ui", "tools/ui"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')


def layer_of(path):
    """The layer a tree-relative path belongs to, or None for files outside the layers."""
    parts = path.split("/")
    if len(parts) > 2 and parts[1] == "ui" and parts[0] in ("device", "tools"):
        return parts[0] + "/ui"
    return parts[0] if parts[0] in ALLOWED else None


def main(root):
    faults = []
    for folder in ALLOWED:
        base = os.path.join(root, folder)
        for dirpath, _, files in os.walk(base):
            for name in files:
                if not name.endswith((".h", ".hpp", ".cpp", ".cc")):
                    continue
                path = os.path.relpath(os.path.join(dirpath, name), root)
                own = layer_of(path)
                if own != folder:
                    continue  # a ui/ file is checked as its own layer
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = m.group(2)
                        if m.group(1) == "<":
                            if target.startswith("wx/") and own not in WINDOW_LAYERS:
                                faults.append(f"{path}:{number}: window header <{target}> outside the window layers")
                            continue
                        to = layer_of(target)
                        if to is None or to == own or to in ALLOWED[own]:
                            continue
                        faults.append(f"{path}:{number}: {own} must not include {target}")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")))
