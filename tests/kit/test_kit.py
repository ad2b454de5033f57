"""The operator's kit (tools/release.sh) made from temporary trees with small
fixture executables and guides. From the repository's root:

    python3 -m unittest discover -s tests/kit -v
"""

import hashlib
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import unicodedata
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.dont_write_bytecode = True
sys.path.insert(0, str(ROOT / "tools"))
import kit  # noqa: E402

EXECUTABLES = ["x86/tovrin.exe", "x86/tovrin-check.exe", "x64/tovrin.exe", "x64/tovrin-check.exe"]
WINDOWS = ["tovrin.ini", "tovrin-task.xml", "install.cmd", "uninstall.cmd"]
PAYLOAD = EXECUTABLES + WINDOWS + ["README.txt", "README-ja.txt"]
ENTRIES = PAYLOAD + ["SHA256SUMS", "SHA1SUMS"]
# Text entries for Notepad and cmd: CRLF, no BOM. The task is UTF-16, apart.
TEXTS = ["tovrin.ini", "install.cmd", "uninstall.cmd", "README.txt", "README-ja.txt", "SHA256SUMS", "SHA1SUMS"]
TASK_NS = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}

GUIDE_EN = "# Tovrin\n\nCopy tovrin.exe and tovrin.ini into C:\\Tovrin\\.\r\n\n    limit=128\n"
# NEC and IBM extensions (circled digit, the ladder-hashigo taka) are in code
# page 932 but not in plain Shift_JIS; half-width kana take one byte.
GUIDE_JA = "# Tovrin 案内\n\nオーバーレイが一杯になると書き戻します。\n①設定は髙橋さんへ。ｶﾅ\n"


def executable(name):
    """Bytes that a text conversion would change: CR, LF, CRLF and NUL."""
    return b"MZ\r\n\n\r\x00" + hashlib.sha256(name.encode()).digest() * 40


CMAKELISTS = "cmake_minimum_required(VERSION 3.20)\nproject(tovrin VERSION 1.0.0 LANGUAGES CXX)\n"


def make_tree(base, cmakelists=CMAKELISTS, guide_en=GUIDE_EN, guide_ja=GUIDE_JA, **windows):
    """A source tree with its dist/ beside the docs; returns (source, dist).
    The files of windows/ are the repository's, or bytes given by name
    (task="..." for tovrin-task.xml, install="..." for install.cmd)."""
    source = Path(base) / "src"
    dist = source / "dist"
    (source / "docs").mkdir(parents=True)
    (source / "windows").mkdir()
    (source / "CMakeLists.txt").write_text(cmakelists)
    for name in WINDOWS:
        given = windows.get(name.split(".")[0].replace("tovrin-", ""))
        target = source / "windows" / name
        if given is None:
            shutil.copyfile(ROOT / "windows" / name, target)
        else:
            target.write_bytes(given if isinstance(given, bytes) else given.encode("utf-8"))
    for name, text in (("guide.en.md", guide_en), ("guide.ja.md", guide_ja)):
        path = source / "docs" / name
        path.write_bytes(text if isinstance(text, bytes) else text.encode("utf-8"))
    for name in EXECUTABLES:
        (dist / name).parent.mkdir(parents=True, exist_ok=True)
        (dist / name).write_bytes(executable(name))
    return source, dist


def release(source, dist, *args, umask=None, env=None, cwd=None):
    command = ["bash", str(ROOT / "tools" / "release.sh"), "--source", str(source), "--dist", str(dist), *args]
    return subprocess.run(command, capture_output=True, text=True, cwd=cwd or ROOT, env=env,
                          preexec_fn=(lambda: os.umask(umask)) if umask is not None else None)


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


class TempCase(unittest.TestCase):
    def temp(self):
        directory = tempfile.mkdtemp(prefix="tovrin-kit-")
        self.addCleanup(shutil.rmtree, directory)
        return Path(directory)


class Archive(TempCase):
    """One kit, looked at entry by entry."""

    @classmethod
    def setUpClass(cls):
        cls.base = Path(tempfile.mkdtemp(prefix="tovrin-kit-"))
        cls.addClassCleanup(shutil.rmtree, cls.base)
        cls.source, cls.dist = make_tree(cls.base)
        cls.out = cls.base / "kit.zip"
        cls.run_ = release(cls.source, cls.dist, "--out", str(cls.out))
        if cls.run_.returncode != 0:
            raise AssertionError(cls.run_.stderr)
        cls.data = cls.out.read_bytes()
        with zipfile.ZipFile(cls.out) as archive:
            cls.infos = archive.infolist()
            cls.comment = archive.comment
            cls.files = {info.filename: archive.read(info) for info in cls.infos}

    def test_entries_are_the_kit_in_its_order(self):
        self.assertEqual([info.filename for info in self.infos], ENTRIES)

    def test_headers_carry_nothing_that_varies(self):
        self.assertEqual(self.comment, b"")
        for info in self.infos:
            with self.subTest(entry=info.filename):
                self.assertEqual(info.date_time, kit.KIT_TIME)
                self.assertEqual(info.create_system, 3)
                self.assertEqual(info.external_attr, 0o100644 << 16)
                self.assertEqual(info.compress_type, zipfile.ZIP_STORED)
                self.assertEqual((info.extra, info.comment, info.flag_bits), (b"", b"", 0))
                # The local header is written apart from the central one.
                fields = struct.unpack_from("<4s5H3L2H", self.data, info.header_offset)
                self.assertEqual(fields[0], b"PK\x03\x04")
                year, month, day, hour, minute, second = kit.KIT_TIME
                dos_time = hour << 11 | minute << 5 | second // 2
                dos_date = (year - 1980) << 9 | month << 5 | day
                self.assertEqual(fields[2:6], (0, zipfile.ZIP_STORED, dos_time, dos_date))
                self.assertEqual(fields[10], 0, "local extra field")
                self.assertEqual(self.data[info.header_offset + 30:][:fields[9]], info.filename.encode())

    def test_nothing_of_the_machine(self):
        for trace in (str(self.base), os.path.basename(self.base), os.environ.get("USER", ""),
                      socket.gethostname()):
            if len(trace) >= 4:
                self.assertNotIn(trace.encode(), self.data)

    def test_executables_byte_for_byte(self):
        for name in EXECUTABLES:
            with self.subTest(entry=name):
                self.assertEqual(self.files[name], (self.dist / name).read_bytes())

    def test_text_entries_end_lines_in_crlf(self):
        for name in TEXTS:
            with self.subTest(entry=name):
                text = self.files[name]
                self.assertTrue(text.endswith(b"\r\n"))
                self.assertIsNone(re.search(rb"(?<!\r)\n|\r(?!\n)", text), "bare LF or CR")
                self.assertFalse(text.startswith((b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff")), "BOM")

    def test_texts_read_back_as_their_sources(self):
        source = {name: (ROOT / "windows" / name).read_text() for name in WINDOWS}
        for name, codec, expected in (("tovrin.ini", "ascii", source["tovrin.ini"]),
                                      ("install.cmd", "ascii", source["install.cmd"]),
                                      ("uninstall.cmd", "ascii", source["uninstall.cmd"]),
                                      ("tovrin-task.xml", "utf-16-le", "\ufeff" + source["tovrin-task.xml"]),
                                      ("README.txt", "ascii", GUIDE_EN), ("README-ja.txt", "cp932", GUIDE_JA)):
            with self.subTest(entry=name):
                self.assertEqual(self.files[name].decode(codec), crlf(expected))

    def test_sums_list_every_other_entry_by_path(self):
        for name, algorithm in (("SHA256SUMS", "sha256"), ("SHA1SUMS", "sha1")):
            with self.subTest(entry=name):
                lines = self.files[name].decode("ascii").splitlines()
                expected = [f"{hashlib.new(algorithm, self.files[path]).hexdigest()}  {path}"
                            for path in sorted(PAYLOAD)]
                self.assertEqual(lines, expected)

    def test_sums_check_passes_and_fails_after_a_change(self):
        unpacked = self.temp()
        with zipfile.ZipFile(self.out) as archive:
            archive.extractall(unpacked)
        for tool, sums in (("sha256sum", "SHA256SUMS"), ("sha1sum", "SHA1SUMS")):
            with self.subTest(tool=tool):
                check = subprocess.run([tool, "--strict", "-c", sums], cwd=unpacked, capture_output=True, text=True)
                self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
                self.assertEqual(check.stdout.splitlines(), [f"{path}: OK" for path in sorted(PAYLOAD)])
        altered = unpacked / "x64" / "tovrin-check.exe"
        altered.write_bytes(altered.read_bytes()[:-1] + b"\x01")
        for tool, sums in (("sha256sum", "SHA256SUMS"), ("sha1sum", "SHA1SUMS")):
            with self.subTest(tool=tool, altered=True):
                check = subprocess.run([tool, "-c", sums], cwd=unpacked, capture_output=True, text=True)
                self.assertNotEqual(check.returncode, 0)
                self.assertIn("x64/tovrin-check.exe: FAILED", check.stdout.splitlines())
                self.assertIn("x64/tovrin.exe: OK", check.stdout.splitlines())

    def test_prints_each_entry_and_the_archive_hash(self):
        lines = self.run_.stdout.splitlines()
        self.assertEqual(len(lines), len(ENTRIES) + 1)
        for line, name in zip(lines, ENTRIES):
            size = f"{len(self.files[name]):,}"
            self.assertRegex(line, rf"^{re.escape(name)} +{re.escape(size)} bytes$")
        self.assertEqual(lines[-1], f"{hashlib.sha256(self.data).hexdigest()}  {self.out}")


class TaskDefinition(unittest.TestCase):
    """The packed task as schtasks /Create /XML reads it, setting by setting."""

    @classmethod
    def setUpClass(cls):
        base = Path(tempfile.mkdtemp(prefix="tovrin-kit-"))
        cls.addClassCleanup(shutil.rmtree, base)
        source, dist = make_tree(base)
        run = release(source, dist, "--out", str(base / "kit.zip"))
        if run.returncode != 0:
            raise AssertionError(run.stderr)
        with zipfile.ZipFile(base / "kit.zip") as archive:
            cls.data = archive.read("tovrin-task.xml")
            cls.install = archive.read("install.cmd").decode("ascii")
            cls.uninstall = archive.read("uninstall.cmd").decode("ascii")
        cls.task = ElementTree.fromstring(cls.data)

    def find(self, path):
        found = self.task.findall(path, TASK_NS)
        self.assertEqual(len(found), 1, f"{path}: {len(found)} elements, not 1")
        return found[0]

    def test_written_as_task_scheduler_exports(self):
        self.assertTrue(self.data.startswith(b"\xff\xfe"), "no UTF-16LE byte-order mark")
        text = self.data[2:].decode("utf-16-le")
        self.assertTrue(text.startswith('<?xml version="1.0" encoding="UTF-16"?>\r\n'), text[:60])
        self.assertIsNone(re.search(r"(?<!\r)\n|\r(?!\n)", text), "bare LF or CR")
        self.assertTrue(text.endswith("</Task>\r\n"))

    def test_settings(self):
        # Absent, Task Scheduler would stop the watchdog after 72 hours and keep
        # it from starting on batteries; each one is therefore spelt out.
        for path, expected in (
            ("t:Settings/t:ExecutionTimeLimit", "PT0S"),
            ("t:Settings/t:DisallowStartIfOnBatteries", "false"),
            ("t:Settings/t:StopIfGoingOnBatteries", "false"),
            ("t:Settings/t:MultipleInstancesPolicy", "IgnoreNew"),
            ("t:Settings/t:Enabled", "true"),
            ("t:Principals/t:Principal/t:GroupId", "S-1-5-32-544"),
            ("t:Principals/t:Principal/t:RunLevel", "HighestAvailable"),
            # Absent, 7: below normal, slow to react when writes are heaviest.
            ("t:Settings/t:Priority", "4"),
            ("t:Actions/t:Exec/t:Command", "C:\\Tovrin\\tovrin.exe"),
        ):
            with self.subTest(path):
                self.assertEqual(self.find(path).text, expected)

    def test_starts_at_any_users_log_on(self):
        self.assertEqual(self.task.tag, "{%s}Task" % TASK_NS["t"])
        # 1.2 is what Standard 7's Task Scheduler reads; 8 reads it too.
        self.assertEqual(self.task.get("version"), "1.2")
        self.assertEqual([child.tag.split("}")[1] for child in self.find("t:Triggers")], ["LogonTrigger"])
        trigger = self.find("t:Triggers/t:LogonTrigger")
        self.assertIsNone(trigger.find("t:UserId", TASK_NS), "the trigger names one account")
        self.assertNotEqual(trigger.findtext("t:Enabled", "true", TASK_NS), "false")
        principal = self.find("t:Principals/t:Principal")
        self.assertIsNone(principal.find("t:UserId", TASK_NS), "the principal names one account")
        # Valid only with a user identifier; a group principal runs in the
        # session of the member who logs on.
        self.assertIsNone(principal.find("t:LogonType", TASK_NS), "LogonType beside a GroupId")
        self.assertEqual(self.find("t:Actions").get("Context"), principal.get("id"))
        self.assertEqual(len(self.find("t:Actions")), 1, "more than one action")
        self.assertIsNone(self.find("t:Actions/t:Exec").find("t:Arguments", TASK_NS))

    def test_scripts_install_where_the_task_starts(self):
        command = self.find("t:Actions/t:Exec/t:Command").text
        for name, script in (("install.cmd", self.install), ("uninstall.cmd", self.uninstall)):
            with self.subTest(name):
                target = re.search(r'^set "TARGET=(.*)"\r$', script, re.M)
                self.assertIsNotNone(target, "no TARGET")
                self.assertEqual(target.group(1) + "\\tovrin.exe", command)


class Reproducible(TempCase):
    def test_same_bytes_from_any_run(self):
        source, dist = make_tree(self.temp())
        first = release(source, dist, "--out", str(dist / "first.zip"))
        self.assertEqual(first.returncode, 0, first.stderr)
        expected = (dist / "first.zip").read_bytes()

        def other_tree():
            return make_tree(self.temp() / "somewhere" / "else")

        def touched_tree():
            source, dist = other_tree()
            for path in [*source.rglob("*")]:
                if path.is_file():
                    os.utime(path, (1e9, 1e9))
                    path.chmod(0o755 if path.suffix == ".exe" else 0o600)
            return source, dist

        foreign = dict(os.environ, TZ="Pacific/Kiritimati", LC_ALL="C", LANG="ja_JP.UTF-8", USER="someone")
        variants = (
            ("the same tree again", lambda: (source, dist), {}),
            ("another path", other_tree, {}),
            ("another umask, time zone and locale", other_tree, {"umask": 0o077, "env": foreign}),
            ("other file times and modes", touched_tree, {"umask": 0o002}),
            ("started from another folder", other_tree, {"cwd": "/"}),
        )
        for label, tree, options in variants:
            with self.subTest(label):
                source_, dist_ = tree()
                out = self.temp() / "kit.zip"
                run = release(source_, dist_, "--out", str(out), **options)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(out.read_bytes(), expected)

    def test_version_names_the_default_archive(self):
        for cmakelists, name in (
            ("project(tovrin VERSION 2.3.4 LANGUAGES CXX)\n", "tovrin-2.3.4.zip"),
            ("cmake_minimum_required(VERSION 3.20)\nproject(tovrin\n    VERSION 1.2\n    LANGUAGES CXX)\n",
             "tovrin-1.2.zip"),
        ):
            with self.subTest(name):
                source, dist = make_tree(self.temp(), cmakelists=cmakelists)
                run = release(source, dist)
                self.assertEqual(run.returncode, 0, run.stderr)
                # Nothing else is left beside it, such as the temporary file it was written as.
                self.assertEqual(sorted(path.name for path in dist.iterdir()), [name, "x64", "x86"])
                self.assertEqual(run.stdout.splitlines()[-1].split("  ")[1], str(dist / name))


class Refuses(TempCase):
    """Each failure names what is wrong and leaves the previous kit as it was."""

    def refused(self, source, dist):
        out = dist / "kit.zip"
        out.write_bytes(b"previous kit")
        run = release(source, dist, "--out", str(out))
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stdout, "")
        self.assertEqual(out.read_bytes(), b"previous kit")
        self.assertEqual(sorted(path.name for path in dist.iterdir()), ["kit.zip", "x64", "x86"])
        return run.stderr

    def test_guides_that_cannot_be_written(self):
        for label, guide, text, expected in (
            ("accent in the English guide", "guide_en", "# Tovrin\n\nCafé\n", ["guide.en.md:3:4: U+00E9", "ASCII"]),
            ("dash in the English guide", "guide_en", "a \u2014 b", ["guide.en.md:1:3: U+2014", "README.txt"]),
            ("emoji in the Japanese guide", "guide_ja", "# 案内\n注意 \U0001F600\n",
             ["guide.ja.md:2:4: U+1F600", "code page 932"]),
            ("wave dash that reads back as a tilde", "guide_ja", "1\u301c2\n",
             ["guide.ja.md:1:2: U+301C", "U+FF5E"]),
            ("guide that is not UTF-8", "guide_ja", "# 案内\n\nOK\n".encode("cp932"), ["guide.ja.md:1: not UTF-8"]),
            ("empty guide", "guide_en", "\n", ["guide.en.md is empty"]),
            ("accent in install.cmd", "install", "@echo off\necho Caf\u00e9\n",
             ["install.cmd:2:9: U+00E9", "ASCII"]),
            ("task that is not well-formed", "task", '<?xml version="1.0" encoding="UTF-16"?>\n<Task>\n</Tsk>\n',
             ["tovrin-task.xml:3:3: not a well-formed UTF-16 task"]),
            ("task that says it is UTF-8", "task", '<?xml version="1.0" encoding="UTF-8"?>\n<Task/>\n',
             ["tovrin-task.xml:1:", "not a well-formed UTF-16 task"]),
        ):
            with self.subTest(label):
                source, dist = make_tree(self.temp(), **{guide: text})
                message = self.refused(source, dist)
                for part in expected:
                    self.assertIn(part, message)
                self.assertEqual(len(message.splitlines()), 1, message)

    def test_every_offending_character_is_named(self):
        source, dist = make_tree(self.temp(), guide_en="é\nok\nñ and ü\n", guide_ja="\U0001F600\n")
        lines = self.refused(source, dist).splitlines()
        self.assertEqual([re.search(r"guide\.\w+\.md:\d+:\d+", line).group() for line in lines],
                         ["guide.en.md:1:1", "guide.en.md:3:1", "guide.en.md:3:7", "guide.ja.md:1:1"])

    def test_missing_executable(self):
        for name in EXECUTABLES:
            with self.subTest(name):
                source, dist = make_tree(self.temp())
                (dist / name).unlink()
                arch = name.split("/")[0]
                other = "x64" if arch == "x86" else "x86"
                message = self.refused(source, dist)
                self.assertEqual(len(message.splitlines()), 1, message)
                self.assertIn(f"missing {dist / name}:", message)
                self.assertIn(f"cmake --preset win-{arch} && cmake --build --preset win-{arch}", message)
                self.assertNotIn(f"win-{other}", message)

    def test_missing_sources(self):
        for label, edit, expected in (
            ("no guide", lambda source: (source / "docs" / "guide.en.md").unlink(), "guide.en.md"),
            ("no version", lambda source: (source / "CMakeLists.txt").write_text("project(tovrin CXX)\n"),
             "project(tovrin VERSION"),
            ("no profile", lambda source: (source / "windows" / "tovrin.ini").unlink(), "tovrin.ini"),
        ):
            with self.subTest(label):
                source, dist = make_tree(self.temp())
                edit(source)
                self.assertIn(expected, self.refused(source, dist))



# Notepad shows about 80 columns; East Asian wide and full-width characters
# take two, and so do the ambiguous ones (x, arrows, circled digits), which
# code page 932 fonts draw full width. Commands and the check's lines are
# exempt: a command is typed on one line, and a report line is quoted as the
# check prints it.
COLUMNS = 78
NO_LINE_START = set("、。，．）」』】〕・ーぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ！？：；")
LIST_ITEM = re.compile(r"^( *)(- |\d+\. )")
KATAKANA = "ァ-ヺー"


def guide_blocks(text):
    """(is_code, first line number, lines) per block; code is indented four
    past the text of the list item it follows, or past the margin."""
    found, content, number, block = [], 0, 0, []
    for number, line in enumerate(text.split("\n") + [""], 1):
        if line.strip():
            block.append(line)
            continue
        if not block:
            continue
        first = block[0]
        indent, item = len(first) - len(first.lstrip(" ")), LIST_ITEM.match(first)
        if first.startswith("#") or (indent == 0 and not item):
            content = 0
        is_code = not item and indent >= content + 4
        for line_ in block if not is_code else []:
            match = LIST_ITEM.match(line_)
            content = len(match.group(0)) if match else content
        found.append((is_code, number - len(block), block))
        block = []
    return found


def columns(text):
    return sum(2 if unicodedata.east_asian_width(c) in "WFA" else 1 for c in text)


class Guides(unittest.TestCase):
    """Both guides as Notepad shows them, and the same commands in each."""

    @classmethod
    def setUpClass(cls):
        cls.guides = {name: guide_blocks((ROOT / "docs" / name).read_text(encoding="utf-8"))
                      for name in ("guide.en.md", "guide.ja.md")}

    def prose(self):
        for name, found in self.guides.items():
            for is_code, first, block in found:
                for offset, line in enumerate(block if not is_code else []):
                    yield name, first + offset, line

    def test_prose_lines(self):
        for name, number, line in self.prose():
            with self.subTest(f"{name}:{number}"):
                self.assertLessEqual(columns(line), COLUMNS, line)
                self.assertNotIn(line.lstrip()[:1], NO_LINE_START, line)
                # A label that fits on a line stays whole; a quoted report line may wrap.
                for opening, closing in (("「", "」"), ("[", "]"), ("『", "』")):
                    tail = line.rsplit(opening, 1)[1] if opening in line else None
                    rest = self.next_line(name, number)
                    if tail is not None and closing not in tail and closing in rest:
                        label = opening + tail + rest.split(closing, 1)[0] + closing
                        self.assertGreater(columns(label), 60, f"label split: {line}")
                self.assertIsNone(re.search(f"[{KATAKANA}]$", line) and
                                  re.match(f"[{KATAKANA}]", self.next_line(name, number)),
                                  f"katakana word split: {line}")

    def next_line(self, name, number):
        for is_code, first, block in self.guides[name]:
            if not is_code and first <= number < first + len(block) - 1:
                return block[number - first + 1].lstrip()
        return ""

    def test_same_commands_in_both(self):
        # Blocks pair up in order; a block the Japanese guide translates keeps
        # every untranslated line where the English one has it.
        english, japanese = ([[line.strip() for line in block] for is_code, _, block in self.guides[name] if is_code]
                             for name in ("guide.en.md", "guide.ja.md"))
        self.assertEqual(len(english), len(japanese))
        for index, (en, ja) in enumerate(zip(english, japanese)):
            with self.subTest(block=index, first=en[0]):
                if all(line.isascii() for line in ja):
                    self.assertEqual(ja, en)
                else:
                    self.assertEqual(len(ja), len(en))
                    self.assertEqual([line for line in ja if line.isascii()],
                                     [e for e, j in zip(en, ja) if j.isascii()])

    def test_checks_catch_what_they_are_for(self):
        for label, text, failing in (
            ("wide line", "あ" * 40 + "\n", "test_prose_lines"),
            ("small kana first", "あいう\nっと\n", "test_prose_lines"),
            ("label split", "[ファイル名を\n指定して実行] を選びます\n", "test_prose_lines"),
            ("katakana split", "ウォッチ\nドッグ\n", "test_prose_lines"),
        ):
            with self.subTest(label):
                case = Guides(failing)
                case.guides = {"guide.ja.md": guide_blocks(text)}
                self.assertFalse(case.run().wasSuccessful())
        case = Guides("test_same_commands_in_both")
        case.guides = {"guide.en.md": guide_blocks("a\n\n    ewfmgr c: -commit\n"),
                       "guide.ja.md": guide_blocks("あ\n\n    ewfmgr c: -enable\n")}
        self.assertFalse(case.run().wasSuccessful())

class Conversion(unittest.TestCase):
    def test_line_ends_bom_and_final_newline(self):
        for label, raw, expected in (
            ("LF", b"a\nb\n", b"a\r\nb\r\n"),
            ("CRLF kept single", b"a\r\nb\r\n", b"a\r\nb\r\n"),
            ("bare CR", b"a\rb\n", b"a\r\nb\r\n"),
            ("no final newline", b"a\n\nb", b"a\r\n\r\nb\r\n"),
            ("BOM dropped", b"\xef\xbb\xbfa\n", b"a\r\n"),
            ("blank lines kept", b"a\n\n\n", b"a\r\n\r\n\r\n"),
        ):
            with self.subTest(label), tempfile.NamedTemporaryFile() as file:
                file.write(raw)
                file.flush()
                self.assertEqual(kit.encode(kit.read_text(file.name), "ascii", file.name, "README.txt"), expected)


if __name__ == "__main__":
    unittest.main()
