#!/usr/bin/env python3
"""Packs the kit an operator receives, dist/tovrin-VERSION.zip:

    x86/tovrin.exe, x86/tovrin-check.exe, x64/tovrin.exe, x64/tovrin-check.exe
    tovrin.ini      the sample profile (windows/tovrin.ini)
    tovrin-task.xml the log-on task for Task Scheduler 2.0, UTF-16LE with a BOM
                    and CRLF, as Task Scheduler's own Export writes a task
    install.cmd, uninstall.cmd
                    the unattended install and removal (windows/), ASCII
    README.txt      docs/guide.en.md, pure ASCII
    README-ja.txt   docs/guide.ja.md in code page 932
    SHA256SUMS      for `sha256sum -c` (coreutils; reads CRLF lines)
    SHA1SUMS        for `sha1sum -c`, and for fciv on XP-era machines

Text files are written with CRLF line ends and, but for the task, no BOM, for
Notepad and cmd. The same
inputs give the same archive bytes on any machine and at any time: entries in
a fixed order, stored (so no zlib version enters), with one fixed time and
mode, no extra fields and no comment. The version comes from CMakeLists.txt.

    python3 tools/kit.py [--source DIR] [--dist DIR] [--out FILE]
"""

import argparse
import hashlib
import io
import os
import re
import stat
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# Every entry carries this time instead of a clock's or a file's (DOS time:
# local, two-second steps, from 1980 on).
KIT_TIME = (2026, 12, 1, 0, 0, 0)
# Regular file, rw-r--r--, recorded as from a Unix host.
KIT_MODE = stat.S_IFREG | 0o644
UNIX_HOST = 3

EXECUTABLES = ("x86/tovrin.exe", "x86/tovrin-check.exe", "x64/tovrin.exe", "x64/tovrin-check.exe")
PROFILE = "windows/tovrin.ini"
TASK = "windows/tovrin-task.xml"
INSTALL = "windows/install.cmd"
UNINSTALL = "windows/uninstall.cmd"
GUIDE_EN = "docs/guide.en.md"
GUIDE_JA = "docs/guide.ja.md"
# Hash files list every other entry, sorted by path; they are the last entries.
SUMS = (("SHA256SUMS", "sha256"), ("SHA1SUMS", "sha1"))


class KitError(Exception):
    """A reason not to make the kit; each line of it is shown to the operator."""


def shown(path):
    """The path relative to the current folder when it lies below it, for short messages."""
    try:
        return str(Path(path).resolve().relative_to(Path.cwd().resolve()))
    except ValueError:
        return str(path)


def read_version(cmakelists):
    try:
        text = Path(cmakelists).read_text(encoding="utf-8")
    except OSError as error:
        raise KitError(f"cannot read {shown(cmakelists)}: {error.strerror}") from None
    match = re.search(r"\bproject\s*\(\s*tovrin\b[^)]*?\bVERSION\s+([0-9]+(?:\.[0-9]+){0,3})\b", text,
                      re.IGNORECASE)
    if not match:
        raise KitError(f"{shown(cmakelists)} has no project(tovrin VERSION ...)")
    return match.group(1)


def read_text(path):
    """The file as text, without a BOM, with LF line ends and a final newline."""
    try:
        data = Path(path).read_bytes()
    except OSError as error:
        raise KitError(f"cannot read {shown(path)}: {error.strerror}") from None
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        line = data.count(b"\n", 0, error.start) + 1
        raise KitError(f"{shown(path)}:{line}: not UTF-8 (byte 0x{data[error.start]:02X})") from None
    text = text.removeprefix("\ufeff")
    text = text.replace("\r\n", "\n").replace("\r", "\n")
    if not text.strip():
        raise KitError(f"{shown(path)} is empty")
    if not text.endswith("\n"):
        text += "\n"
    return text


CODECS = {"ascii": "pure ASCII", "cp932": "code page 932", "utf-16-le": "UTF-16"}


def encode(text, codec, path, entry):
    """The text in the codec, with CRLF line ends. Every character that cannot be
    written, or would read back as another one, is named with its line."""
    problems = []
    for number, line in enumerate(text.split("\n"), 1):
        for column, char in enumerate(line, 1):
            if char.isascii():
                continue  # the same bytes in both code pages
            where = f"{shown(path)}:{number}:{column}: U+{ord(char):04X} '{char}'"
            try:
                back = char.encode(codec).decode(codec)
            except UnicodeEncodeError:
                problems.append(f"{where} cannot be written in {entry}, which is {CODECS[codec]}")
                continue
            # cp932 writes a few characters as their full-width twins.
            if back != char:
                problems.append(f"{where} would read back from {entry} as U+{ord(back):04X} '{back}': "
                                "write that instead")
    if problems:
        raise KitError("\n".join(problems))
    data = text.replace("\n", "\r\n").encode(codec)
    # schtasks /XML reads a task as Task Scheduler writes it: UTF-16 with a BOM.
    return b"\xff\xfe" + data if codec == "utf-16-le" else data


def check_task(data, path):
    """A task file that Task Scheduler would refuse is found here, not on the
    machine: it must parse as XML in the encoding its bytes are in."""
    try:
        ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        line, column = error.position
        raise KitError(f"{shown(path)}:{line}:{column + 1}: not a well-formed UTF-16 task: {error}") from None


def read_executable(dist, name):
    path = Path(dist) / name
    if not path.is_file():
        return None
    data = path.read_bytes()
    if not data:
        raise KitError(f"{shown(path)} is empty: build it again")
    return data


def sums(entries, algorithm):
    lines = (f"{hashlib.new(algorithm, data).hexdigest()}  {name}\r\n"
             for name, data in sorted(entries, key=lambda entry: entry[0].encode()))
    return "".join(lines).encode("ascii")


def gather(source, dist):
    """The archive's entries, in order, as (name, bytes)."""
    entries = []
    missing = []
    for name in EXECUTABLES:
        data = read_executable(dist, name)
        if data is None:
            missing.append(name)
        else:
            entries.append((name, data))
    if missing:
        paths = ", ".join(shown(Path(dist) / name) for name in missing)
        presets = sorted({name.split("/")[0] for name in missing}, reverse=True)
        builds = " and ".join(f"cmake --preset win-{arch} && cmake --build --preset win-{arch}"
                              for arch in presets)
        them = "builds make them" if len(presets) > 1 else "build makes " + ("it" if len(missing) == 1 else "them")
        raise KitError(f"missing {paths}: the Windows {them} ({builds})")

    source = Path(source)
    texts = [("tovrin.ini", PROFILE, "ascii"), ("tovrin-task.xml", TASK, "utf-16-le"),
             ("install.cmd", INSTALL, "ascii"), ("uninstall.cmd", UNINSTALL, "ascii"),
             ("README.txt", GUIDE_EN, "ascii"), ("README-ja.txt", GUIDE_JA, "cp932")]
    problems = []
    for entry, relative, codec in texts:
        path = source / relative
        try:
            data = encode(read_text(path), codec, path, entry)
            if relative == TASK:
                check_task(data, path)
            entries.append((entry, data))
        except KitError as error:
            problems.append(str(error))
    if problems:
        raise KitError("\n".join(problems))

    payload = list(entries)
    for entry, algorithm in SUMS:
        entries.append((entry, sums(payload, algorithm)))
    return entries


def archive(entries):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_STORED) as kit:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=KIT_TIME)
            info.create_system = UNIX_HOST
            info.external_attr = KIT_MODE << 16
            info.compress_type = zipfile.ZIP_STORED
            kit.writestr(info, data)
    return buffer.getvalue()


def write_atomically(out, data):
    """Readers of `out` see the old archive or the whole new one, never a part."""
    out = Path(out)
    out.parent.mkdir(parents=True, exist_ok=True)
    handle, temporary = tempfile.mkstemp(prefix=f".{out.name}.", suffix=".tmp", dir=out.parent)
    try:
        with os.fdopen(handle, "wb") as file:
            file.write(data)
            file.flush()
            os.fsync(file.fileno())
        # mkstemp makes the file private; give it the mode any new file gets here.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)
        os.replace(temporary, out)
    except BaseException:
        Path(temporary).unlink(missing_ok=True)
        raise


def main(argv=None):
    parser = argparse.ArgumentParser(prog="release", description="Packs the operator's kit.")
    parser.add_argument("--source", type=Path, default=ROOT,
                        help="tree with CMakeLists.txt, windows/ (the profile, the task, the install scripts) "
                             "and docs/ (default: this repository)")
    parser.add_argument("--dist", type=Path, default=ROOT / "dist",
                        help="folder holding x86/ and x64/ (default: dist/)")
    parser.add_argument("--out", type=Path, help="archive to write (default: DIST/tovrin-VERSION.zip)")
    args = parser.parse_args(argv)
    try:
        version = read_version(args.source / "CMakeLists.txt")
        out = args.out or args.dist / f"tovrin-{version}.zip"
        entries = gather(args.source, args.dist)
        kit = archive(entries)
        write_atomically(out, kit)
    except KitError as error:
        for line in str(error).splitlines():
            print(f"release: {line}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"release: {error}", file=sys.stderr)
        return 1
    width = max(len(name) for name, _ in entries)
    for name, data in entries:
        print(f"{name:<{width}}  {len(data):>9,} bytes")
    # The sha256sum format, so that the line can be kept and checked later.
    print(f"{hashlib.sha256(kit).hexdigest()}  {shown(out)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
