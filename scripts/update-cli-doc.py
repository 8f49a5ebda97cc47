#!/usr/bin/env python3
"""Rewrites the help blocks of docs/CLI.md from the programs' own --help.

    scripts/update-cli-doc.py [--check] [BIN_DIR]     (BIN_DIR default build/bin)

Everything between the BEGIN and END markers is generated; the rest of the page is
written by hand. With --check nothing is written: exit status 1 and a diff when the page
and the programs disagree (the ctest `cli-doc` runs that).
"""
import difflib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cli_help  # noqa: E402

BEGIN = "<!-- BEGIN HELP: made by scripts/update-cli-doc.py, do not edit by hand -->"
END = "<!-- END HELP -->"


def render(blocks):
    out = [BEGIN, ""]
    for title, text in blocks:
        out += [f"### `{title}`", "", "```text", text.rstrip("\n"), "```", ""]
    out.append(END)
    return "\n".join(out)


def main(argv):
    check = "--check" in argv
    rest = [a for a in argv if a != "--check"]
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    bin_dir = rest[0] if rest else os.path.join(root, "build", "bin")
    page = os.path.join(root, "docs", "CLI.md")
    with open(page, encoding="utf-8") as f:
        old = f.read()
    start, end = old.find(BEGIN), old.find(END)
    if start < 0 or end < start:
        sys.exit(f"{page}: the BEGIN/END help markers are missing")
    new = old[:start] + render(cli_help.help_blocks(bin_dir)) + old[end + len(END):]
    if new == old:
        return 0
    if check:
        sys.stdout.writelines(difflib.unified_diff(
            old.splitlines(True), new.splitlines(True), "docs/CLI.md", "the programs' --help"))
        print("\ndocs/CLI.md differs from the programs' --help: run scripts/update-cli-doc.py")
        return 1
    with open(page, "w", encoding="utf-8") as f:
        f.write(new)
    print(f"rewrote the help blocks of {page}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
