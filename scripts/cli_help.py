"""The help texts of the installed or built programs, for the man pages and docs/CLI.md.

Each program answers --help; edogtool lists its commands in its own --help, so a command
added on another branch shows up here without a list to keep.
"""
import os
import re
import subprocess


def run_help(argv):
    """The text a program prints for --help (standard output, exit status 0)."""
    # The help names the user's configuration file: as every user's, not the one of
    # whoever builds (a test runs this with a configuration folder of its own).
    env = dict(os.environ, LC_ALL="C.UTF-8", COLUMNS="80", XDG_CONFIG_HOME="~/.config")
    done = subprocess.run(argv + ["--help"], capture_output=True, env=env, timeout=60)
    if done.returncode != 0:
        raise SystemExit(f"{' '.join(argv)} --help ended with status {done.returncode}")
    return done.stdout.decode("utf-8")


def edogtool_commands(edogtool):
    """The command names in the order edogtool's own --help lists them."""
    text = run_help([edogtool])
    names = []
    listing = False
    for line in text.splitlines():
        if line.startswith("Commands:"):
            listing = True
            continue
        if listing:
            m = re.match(r"^  (\S+)\s", line)
            if not m:
                break
            names.append(m.group(1))
    return names


def help_blocks(bin_dir):
    """(title, help text) for edogtool, each of its commands, edog-sim and edog if built."""
    edogtool = os.path.join(bin_dir, "edogtool")
    blocks = [("edogtool", run_help([edogtool]))]
    for name in edogtool_commands(edogtool):
        blocks.append((f"edogtool {name}", run_help([edogtool, name])))
    for program in ("edog-sim", "edog"):
        path = os.path.join(bin_dir, program)
        if os.access(path, os.X_OK):
            blocks.append((program, run_help([path])))
    return blocks
