"""A bot made with the kit, packed for a league or the league's web site:
python3 -m reversi_bot.pack FOLDER [--bot module:Class] [-o bot.tar.gz]

A jailed bot sees its own folder and nothing else of the organiser's, so the archive carries a
copy of this kit beside the bot's files, and a `run` script that starts it."""

from __future__ import annotations

import argparse
import io
import os
import sys
import tarfile
from typing import List, Optional, Tuple

from .cli import Parser

MAX_ARCHIVE_BYTES = 16 << 20
"""The largest upload the site takes."""
MAX_ENTRIES = 2000
"""The most entries the site unpacks."""
MAX_PATH_BYTES = 240
"""The longest path in an archive the site unpacks."""
SKIPPED = {"__pycache__", ".git", ".hg", ".svn", ".mypy_cache", ".pytest_cache"}
"""Folders left out: caches and version control."""
KIT = os.path.dirname(os.path.abspath(__file__))


def run_script(bot: str) -> str:
    """The `run` of a packed bot: the kit's command line with the bot, from the bot's folder
    (python3 -m puts the working folder first on the module path)."""
    return f'#!/bin/sh\nexec python3 -m reversi_bot --bot {bot} "$@"\n'


def _files(folder: str) -> List[Tuple[str, str]]:
    """(path in the archive, path on disk) of every file of the bot's folder, sorted; folders
    in SKIPPED and the archive being written are left out."""
    found = []
    for top, dirs, names in os.walk(folder):
        dirs[:] = sorted(d for d in dirs if d not in SKIPPED)
        for name in sorted(names):
            path = os.path.join(top, name)
            found.append((os.path.relpath(path, folder).replace(os.sep, "/"), path))
    return found


def _kit_files() -> List[Tuple[str, str]]:
    return [("reversi_bot/" + name, os.path.join(KIT, name)) for name in sorted(os.listdir(KIT))
            if name.endswith(".py")]


def _add_text(archive: tarfile.TarFile, name: str, text: str) -> None:
    data = text.encode()
    info = tarfile.TarInfo(name)
    info.size = len(data)
    info.mode = 0o755
    archive.addfile(info, io.BytesIO(data))


def pack(folder: str, bot: Optional[str], out: str) -> List[str]:
    """Writes the archive; the list of what it holds. ValueError when the bot cannot be packed
    as the site would take it."""
    files = [f for f in _files(folder) if os.path.abspath(f[1]) != os.path.abspath(out)]
    names = {name for name, _ in files}
    if "run" not in names and not bot:
        raise ValueError(f"{folder} has no run script: name the bot with --bot module:Class")
    if "run" in names and bot:
        raise ValueError(f"{folder} has a run script already: leave out --bot")
    if not any(name.startswith("reversi_bot/") for name in names):
        files += _kit_files()
    if len(files) + 1 > MAX_ENTRIES:
        raise ValueError(f"{len(files)} files: the site takes at most {MAX_ENTRIES}")
    long = next((name for name, _ in files if len(name.encode()) > MAX_PATH_BYTES), None)
    if long:
        raise ValueError(f"{long}: longer than {MAX_PATH_BYTES} bytes")
    with tarfile.open(out, "w:gz") as archive:
        for name, path in files:
            archive.add(path, arcname=name, recursive=False)
        if bot:
            _add_text(archive, "run", run_script(bot))
    if os.path.getsize(out) > MAX_ARCHIVE_BYTES:
        os.unlink(out)
        raise ValueError(f"the archive is larger than the site's {MAX_ARCHIVE_BYTES} bytes")
    return sorted([name for name, _ in files] + (["run"] if bot else []))


def main(argv: Optional[List[str]] = None) -> int:
    """Runs the command line (default: sys.argv[1:]) and returns the exit status."""
    parser: argparse.ArgumentParser = Parser(
        prog="python3 -m reversi_bot.pack",
        description="Packs a bot's folder with this kit into a tar.gz archive that a league "
        "or the league's web site runs: the folder's files, the kit (unless the folder has "
        "its own reversi_bot), and a run script for --bot.")
    parser.add_argument("folder", help="the bot's folder")
    parser.add_argument("--bot", metavar="MODULE:CLASS",
                        help="the bot's class, as python3 -m reversi_bot --bot names it from "
                        "the folder; writes the run script (leave it out when the folder has "
                        "one)")
    parser.add_argument("-o", "--output", default="bot.tar.gz", help="the archive to write "
                        "(default: %(default)s)")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.folder):
        parser.error(f"{args.folder} is not a folder")
    try:
        held = pack(args.folder, args.bot, args.output)
    except (OSError, ValueError) as error:
        print(f"Cannot pack {args.folder}: {error}", file=sys.stderr)
        return 1
    print(f"Wrote {args.output}: {len(held)} files, run as ./run")
    return 0


if __name__ == "__main__":
    sys.exit(main())
