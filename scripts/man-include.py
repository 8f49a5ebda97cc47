#!/usr/bin/env python3
"""Writes a help2man include file with a COMMANDS section: every edogtool command's --help,
so that `man edogtool` shows the subcommands too.

    scripts/man-include.py EDOGTOOL OUTPUT
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cli_help  # noqa: E402


def roff(text):
    """Plain text as roff lines: backslashes escaped, no line taken for a request."""
    lines = []
    for line in text.rstrip("\n").split("\n"):
        line = line.replace("\\", "\\e")
        if line.startswith((".", "'")):
            line = "\\&" + line
        lines.append(line)
    return "\n".join(lines)


def main(edogtool, output):
    parts = ["[COMMANDS]"]
    for name in cli_help.edogtool_commands(edogtool):
        parts += [f'.SS "edogtool {name}"', ".nf", roff(cli_help.run_help([edogtool, name])), ".fi"]
    with open(output, "w", encoding="utf-8") as f:
        f.write("\n".join(parts) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
