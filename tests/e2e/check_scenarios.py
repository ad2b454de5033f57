"""End-to-end scenarios of the installation check, tovrin-check.exe, under
Wine: the simulated EWFAPI.dll in the prefix's system folder, the watchdog,
its profile and the check together in a folder of their own on C:, as on a
protected machine. One scenario a run:

    check_scenarios.py ARCH SCENARIO

Every scenario also proves that the check changed nothing: no state-changing
call in the simulator's journal, and the watchdog's folder the same, file for
file and byte for byte, after the check as before it.
"""

import getpass
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

import wine
from scenarios import (V1, V2, V3, Failed, Skipped, check, limit_ini, run_scenario, unchecked,
                       volume)

EXIT_READY, EXIT_WARNINGS, EXIT_NOT_READY, EXIT_USAGE = 0, 1, 2, 3
# Seconds a run of the check may take before it counts as hung; qemu carries
# the 32-bit Wine slowly.
RUN_TIMEOUT = {"native": 60, "qemu-i386": 180}
WATCH_INTERVAL = 2.0
WATCH_SLACK = {"native": 0.5, "qemu-i386": 1.5}
# How long Ctrl+C may take to end /watch before it counts as not delivered.
CTRL_C_WAIT = 10
STATE_CHANGING = ("EwfMgrCommitAndDisableLive", "EwfMgrEnable")
# Wine gives every file to the Unix account that runs it and keeps no
# permissions a test could narrow to Administrators and SYSTEM, so these are
# always a warning naming that account here.
ACCESS_KEYS = ("access.folder", "access.parent", "access.file", "access.profile")
SYSTEM_LIBRARY = "C:\\windows\\system32\\EWFAPI.dll"
# The copy beside the watchdog journals under a variable of its own, so that
# anything its code did would show apart from the system library's journal.
JOURNAL_VARIABLE = b"EWFSIM_JOURNAL"
COPY_JOURNAL_VARIABLE = b"EWFSIM_COPYLOG"

FINDING = re.compile(r"^(ok|note|WARNING|PROBLEM) +(\S+) +(\S.*)$")
WATCH_LINE = re.compile(
    r"^(\d\d):(\d\d):(\d\d)  total (\d+\.\d) MiB  change ([+-]\d+\.\d) MiB  "
    r"growth (-|(\d+\.\d) MiB/h)  limit (\d+) MiB  room (\d+\.\d) MiB$")
SUMMARY = re.compile(
    r"^summary: (\d+) s, peak (\d+\.\d) MiB, mean growth (-?\d+\.\d) MiB/h, the limit of "
    r"(\d+) MiB comes first at that rate, in (?:(\d+) h )?(\d+) min; the end of the room in "
    r"(?:(\d+) h )?(\d+) min$")
# Wine's own lines on stderr, and the X library's reports under qemu.
WINE_LINE = re.compile(r"^([0-9a-f]+:)+(fixme|err|warn|trace):|^\d+\.\d+:[0-9a-f]+:|"
                       r"^X Error of failed request:|^  (Major|Minor) opcode|^  Resource id|"
                       r"^  (Current )?[Ss]erial")


def timeout(arch):
    return RUN_TIMEOUT[wine.how_it_runs(arch)]


# ---- the machine: the write filter library in the system folder ----


install_library = wine.install_library


def tovrin_process_ids(arch):
    """The process ids Wine gives the prefix's tovrin.exe processes; None
    where Wine cannot list its processes."""
    try:
        processes = wine.windows_processes(arch)
    except (subprocess.SubprocessError, OSError, UnicodeError) as error:
        print(f"note: Wine's process list cannot be read ({error})")
        return None
    return sorted(pid for name, pid in processes if name.lower() == "tovrin.exe")


def wine_account():
    """The account Wine runs everything as: the Unix user's name."""
    return getpass.getuser()


# ---- how the watchdog starts, and what the next restart keeps ----

# Long before the prefix's wineserver, or the host, last started: under Wine
# a file's creation time follows its Unix modification time.
BEFORE_BOOT = time.mktime((2020, 1, 1, 0, 0, 0, 0, 0, -1))
TASK_NAME = "TovrinE2E"
RUN_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
POLICIES_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System"
GOOD_PRINCIPAL = "<GroupId>S-1-5-32-544</GroupId><RunLevel>HighestAvailable</RunLevel>"
GOOD_SETTINGS = ("<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
                 "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
                 "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit><Enabled>true</Enabled>"
                 "<Priority>4</Priority>")


def date_before_boot(folder):
    """The installation as committed before the last boot: the folder and
    everything in it dated 2020."""
    for path in [*folder.rglob("*"), folder]:
        os.utime(path, (BEFORE_BOOT, BEFORE_BOOT))


def task_file(arch):
    """The task's file in the prefix's task store, which Wine names "tasks":
    a second folder "Tasks" beside it would split the store on Linux."""
    system = wine.drive_c(arch) / "windows" / "system32"
    store = next((p for p in system.iterdir() if p.name.lower() == "tasks"), system / "tasks")
    return store / TASK_NAME


def write_task(arch, command, principal=GOOD_PRINCIPAL, settings=GOOD_SETTINGS):
    """A task file as Task Scheduler's Export writes it (UTF-16LE with its
    mark), straight into the prefix's Tasks folder: Wine's schtasks /XML keeps
    neither trigger nor principal nor command."""
    xml = ('<?xml version="1.0" encoding="UTF-16"?>\r\n'
           '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">'
           '<Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>'
           f'<Principals><Principal id="Author">{principal}</Principal></Principals>'
           f'<Settings>{settings}</Settings>'
           f'<Actions Context="Author"><Exec><Command>{command}</Command></Exec></Actions>'
           '</Task>\r\n')
    path = task_file(arch)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(b"\xff\xfe" + xml.encode("utf-16-le"))
    os.utime(path, (BEFORE_BOOT, BEFORE_BOOT))


def remove_task(arch):
    task_file(arch).unlink(missing_ok=True)


def reg(arch, *args):
    wine.wine(arch, "reg", *args, "/f", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
              stdin=subprocess.DEVNULL, timeout=timeout(arch), check=True)


def expect_no_start(report, arch):
    """Nothing in the prefix starts the watchdog: a problem, or a warning
    while some tovrin.exe runs."""
    ids = tovrin_process_ids(arch)
    finding = report.get("start")
    if ids is None:
        level = finding.level
        check(level in ("WARNING", "PROBLEM"), f"start: {level} {finding.value}")
    else:
        level = "WARNING" if ids else "PROBLEM"
    expect(report, "start", level,
           "nothing found starts tovrin.exe at log-on, though it runs now" if level == "WARNING"
           else "nothing starts tovrin.exe at log-on: create its task from tovrin-task.xml")
    return [(level, "start")]


def expect_kept(report):
    expect(report, "persist", "ok", "nothing of the installation or its start lives only in an overlay")


# ---- one installation and the check's runs in it ----


@dataclass
class Finding:
    level: str
    key: str
    value: str


@dataclass
class Report:
    code: int
    lines: list
    stderr: list
    findings: list
    verdict: str

    def all_of(self, key):
        return [f for f in self.findings if f.key == key]

    def get(self, key):
        found = self.all_of(key)
        check(len(found) == 1, f"{len(found)} '{key}' lines, not 1")
        return found[0]

    def keys(self):
        return [f.key for f in self.findings]

    def not_ok(self):
        return sorted((f.level, f.key) for f in self.findings if f.level != "ok")


def own_stderr(raw):
    return [line for line in raw.decode(errors="replace").splitlines() if not WINE_LINE.match(line)]


def parse_report(code, stdout, stderr):
    """The report by the contract: plain ASCII, one "LEVEL KEY VALUE" line a
    finding in padded columns, one verdict line that agrees with the findings
    and the exit code."""
    check(all(byte < 0x80 for byte in stdout), "the report is not plain ASCII")
    lines = stdout.decode("ascii").split("\n")
    check(lines[-1] == "", "the report does not end with a line end")
    lines = [line[:-1] if line.endswith("\r") else line for line in lines[:-1]]
    check(lines, "the check printed nothing")
    findings = []
    for line in lines[:-1]:
        match = FINDING.match(line)
        check(match, f"not a finding line: {line!r}")
        level, key, value = match.groups()
        check(line[8:].startswith(key + " ") and (len(key) >= 15 or line[24:] == value),
              f"columns not padded to 8 and 24: {line!r}")
        findings.append(Finding(level, key, value))
    verdict = lines[-1]
    problems = sum(f.level == "PROBLEM" for f in findings)
    warnings = sum(f.level == "WARNING" for f in findings)
    if problems:
        expected = (rf"verdict: not ready \({problems} problems?, {warnings} warnings?\)",
                    EXIT_NOT_READY)
    elif warnings:
        expected = (rf"verdict: ready with warnings \({warnings}\)", EXIT_WARNINGS)
    else:
        expected = (r"verdict: ready", EXIT_READY)
    check(re.fullmatch(expected[0], verdict),
          f"verdict {verdict!r} for {problems} problem(s) and {warnings} warning(s)")
    check(code == expected[1], f"exit code {code} for {verdict!r}, not {expected[1]}")
    return Report(code, lines, own_stderr(stderr), findings, verdict)


def snapshot(folder: Path):
    """Every file and folder under `folder`, with the files' bytes hashed."""
    state = {}
    for path in sorted(folder.rglob("*")):
        name = str(path.relative_to(folder))
        state[name] = "folder" if path.is_dir() else hashlib.sha256(path.read_bytes()).hexdigest()
    return state


def differences(before, after):
    return ([f"added {n}" for n in after if n not in before]
            + [f"removed {n}" for n in before if n not in after]
            + [f"changed {n}" for n in before if n in after and before[n] != after[n]])


class Installation:
    """The watchdog, the check and the profile in C:\\e2e-check\\NAME\\Tovrin;
    the simulator's scenario and journals beside that folder, not in it."""

    def __init__(self, arch, name, scenario="", ini=None, exe_folder=None, prefix=None,
                 fresh=False):
        self.arch = arch
        # The prefix: the executables' own architecture's, or a 64-bit one
        # for the 32-bit executables.
        self.prefix = prefix or arch
        self.root = wine.drive_c(self.prefix) / "e2e-check" / name
        self.windows_root = "C:\\e2e-check\\" + name
        shutil.rmtree(self.root, ignore_errors=True)
        self.folder = self.root / "Tovrin"
        self.folder.mkdir(parents=True)
        source = exe_folder or wine.ROOT / "dist" / arch
        for program in ("tovrin.exe", "tovrin-check.exe"):
            shutil.copyfile(source / program, self.folder / program)
        if ini is not None:
            (self.folder / "tovrin.ini").write_bytes(ini.encode())
        (self.root / "ewfsim.txt").write_text(scenario)
        self.fresh = fresh
        self.check_exe = self.win("Tovrin", "tovrin-check.exe")
        self.watchdog = None
        self.watchdogs = []
        self.outputs = []
        self.runs = 0

    def win(self, *parts):
        return "\\".join([self.windows_root, *parts])

    def env(self, journal="check.log"):
        env = wine.base_env(self.prefix)
        env["EWFSIM_SCENARIO"] = self.win("ewfsim.txt")
        env["EWFSIM_JOURNAL"] = self.win(journal)
        env["EWFSIM_COPYLOG"] = self.win("copy.log")
        return env

    def journal(self, name="check.log"):
        return wine.read_journal(self.root / name)

    def put_copy_beside(self):
        """The full library beside the watchdog, journalling to copy.log."""
        data = (wine.ROOT / "build" / "sim" / self.arch / "EWFAPI.dll").read_bytes()
        check(data.count(JOURNAL_VARIABLE) == 1, "the library names its journal variable "
              f"{data.count(JOURNAL_VARIABLE)} times, not once")
        (self.folder / "EWFAPI.dll").write_bytes(
            data.replace(JOURNAL_VARIABLE, COPY_JOURNAL_VARIABLE))

    def start_watchdog(self, polled="watchdog.log", journal="watchdog.log", exe=None):
        """tovrin.exe from its folder (or `exe`, a Windows path beside the
        root), journalling to `journal`; returns once the journal `polled`
        shows its first poll. Each one started is kept, to be stopped."""
        exe = exe or self.win("Tovrin", "tovrin.exe")
        self.watchdog_out = open(self.root / f"{journal}.out", "wb")
        self.outputs.append(self.watchdog_out)
        self.watchdog = subprocess.Popen(
            [wine.LOADERS[self.arch], exe], cwd=self.folder,
            env=self.env(journal), stdin=subprocess.DEVNULL, stdout=self.watchdog_out,
            stderr=subprocess.STDOUT)
        self.watchdogs.append(self.watchdog)
        deadline = time.monotonic() + timeout(self.arch)
        while not self.journal(polled).of("EwfMgrGetProtectedVolumeList"):
            check(self.watchdog.poll() is None,
                  f"the watchdog ended at once, exit code {self.watchdog.returncode}")
            check(time.monotonic() < deadline, "the watchdog did not poll")
            time.sleep(0.2)

    def stop_watchdog(self):
        for watchdog in self.watchdogs:
            if watchdog.poll() is None:
                watchdog.kill()
                watchdog.wait()
        for output in self.outputs:
            output.close()
        self.watchdogs, self.outputs = [], []

    def run_check(self, *args):
        """The check with these arguments; its report, printed whole."""
        self.runs += 1
        out_path = self.root / f"check-{self.runs}.out"
        err_path = self.root / f"check-{self.runs}.err"
        shown = " ".join(a if len(a) < 60 else a[:40] + f"...({len(a)} characters)" for a in args)
        print(f"--- {self.arch}: tovrin-check.exe {shown}".rstrip())
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            try:
                code = wine.wine(self.arch, self.check_exe, *args, env=self.env(), stdout=out,
                                 stderr=err, stdin=subprocess.DEVNULL,
                                 timeout=timeout(self.arch)).returncode
            except subprocess.TimeoutExpired:
                code = None
        stdout, stderr = out_path.read_bytes(), err_path.read_bytes()
        sys.stdout.write(stdout.decode(errors="replace").replace("\r\n", "\n"))
        for line in stderr.decode(errors="replace").splitlines():
            print(f"[stderr] {line}")
        print(f"--- exit code {code}")
        if code is None:
            # Tells a hang of ours from one of Wine's services.
            hung = wine.hung_probe(self.arch, 30)
            check(False, f"the check did not end within {timeout(self.arch)} s; " +
                  (f"nor did Wine's own '{hung}'" if hung else "Wine's own programs still end"))
        return code, stdout, stderr

    def report(self, *args):
        # Installed and committed before the last boot, unless the scenario
        # is about what was written since.
        if not self.fresh:
            date_before_boot(self.folder)
        return parse_report(*self.run_check(*args))


# ---- what every scenario must show ----


def check_changes_nothing(inst, before, journals=("check.log",), read=True):
    """No write filter call that changes state, the simulator's lists and
    handles all given back, and the watchdog's folder untouched. `read`: the
    check must have reached the library, so that the first is not vacuous."""
    changed = differences(before, snapshot(inst.folder))
    check(not changed, f"the watchdog's folder changed: {changed}")
    for name in journals:
        journal = inst.journal(name)
        calls = [c for c in journal.calls if c.api in STATE_CHANGING]
        check(not calls, f"{name}: state-changing calls {[(c.api, c.args) for c in calls]}")
        if name == "check.log":
            if read:
                check(journal.of("EwfMgrGetProtectedVolumeList"),
                      "the check never asked the library for the volumes")
                check(journal.end.startswith("outstanding lists 0, entries 0, handles 0, misuse 0"),
                      f"the check left something in the library: {journal.end!r}")
        print(f"{name}: {len(journal.calls)} calls, none that changes state; "
              f"end: {journal.end or '(not unloaded, or never loaded)'}")
    print(f"the watchdog's folder: {len(before)} entries, unchanged")


def expect(report, key, level, *words):
    finding = report.get(key)
    check(finding.level == level, f"{key} is {finding.level}, not {level}: {finding.value}")
    for word in words:
        check(word in finding.value, f"{key}: {word!r} not in {finding.value!r}")
    return finding


def expect_not_ok(report, expected):
    check(report.not_ok() == sorted(expected),
          f"not ok: {report.not_ok()}, expected exactly {sorted(expected)}")


def expect_wine_access(report, keys=ACCESS_KEYS):
    """What Wine cannot show: each access finding names Wine's own account,
    the owner of everything, as the only one besides the administrators (for
    access.parent: who may delete in the folder that holds the install
    folder). Wine's NetUserGetLocalGroups puts that account in
    Administrators: ok, or a warning where a scenario turns UAC on. Wine's
    drives are NTFS to the check: no access.filesystem."""
    account = re.escape(wine_account())
    who = rf"[^ ;,]+\\{account}( \(owner\))? \(an administrator\)"
    uac = "; with UAC on, an administrator's unelevated programs hold its account too"
    check("access.filesystem" not in report.keys(), "Wine's drive C: read as without permissions")
    not_ok = []
    for key in keys:
        finding = report.get(key)
        if finding.level == "ok":
            pattern = (rf": deleted or renamed in (.+) only by administrators: {who}$"
                       if key == "access.parent" else rf": changed only by administrators: {who}$")
        else:
            check(finding.level == "WARNING" and uac in finding.value, f"{key}: {finding.value}")
            not_ok.append(("WARNING", key))
            pattern = (rf": may be deleted or renamed, and another folder put in its place, by "
                       rf"{who}{re.escape(uac)}" if key == "access.parent" else
                       rf": may also be changed by {who}{re.escape(uac)}")
        check(re.search(pattern, finding.value, re.IGNORECASE),
              f"{key} names more or other than Wine's account: {finding.value!r}")
    return not_ok


RUNNING_DETAILS = ("running.path", "running.rights", "running.session")


def running_summary(name, ids):
    """The running line for these process ids: ok for one, a warning for more."""
    listed = ", ".join(str(i) for i in ids)
    if len(ids) == 1:
        return "ok", f"{name} is running, process id {listed}"
    return "WARNING", (f"{name} is running {len(ids)} times, process ids {listed}: each shows "
                       "its own warning and makes its own pass; keep one start and end the others")


def expect_copy(report, pid, path, checked=None):
    """One running copy as Wine shows every process: Administrators enabled
    in its token and session 1, the console's. `checked`: the file the check
    was given, when the copy runs from another."""
    paths = [f for f in report.all_of("running.path") if f.value.startswith(f"{pid}: ")]
    check(len(paths) == 1, f"{len(paths)} running.path lines for process {pid}, not 1")
    if checked is None:
        check(paths[0].level == "ok" and paths[0].value.lower() == f"{pid}: {path}".lower(),
              f"running.path {paths[0].level} {paths[0].value!r}, not ok {path}")
    else:
        expected = (f"{pid}: {path}, another file than the one checked ({checked}): end it and "
                    "start the one checked, or check that one")
        check(paths[0].level == "WARNING" and paths[0].value.lower() == expected.lower(),
              f"running.path {paths[0].level} {paths[0].value!r}, not WARNING {expected!r}")
    for key, value in (("running.rights", f"{pid}: Administrators enabled in its token"),
                       ("running.session", f"{pid}: session 1, the console's")):
        check(any(f.level == "ok" and f.value == value for f in report.all_of(key)),
              f"no 'ok {key} {value}' in {[(f.level, f.value) for f in report.all_of(key)]}")


def expect_running(report, arch, name="tovrin.exe"):
    """The running lines against the prefix's processes as Wine lists them."""
    ids = tovrin_process_ids(arch) if name == "tovrin.exe" else []
    if ids is None:
        finding = report.get("running")
        check(re.fullmatch(rf"{re.escape(name)} is running(, process id| \d+ times, process "
                           rf"ids) \d+(, \d+)*(: .*)?", finding.value)
              or finding.level == "WARNING" and "is not running" in finding.value,
              f"running: {finding.level} {finding.value}")
        return [] if finding.level == "ok" else [("WARNING", "running")]
    if not ids:
        expect(report, "running", "WARNING", f"{name} is not running")
        check(not [k for k in report.keys() if k in RUNNING_DETAILS],
              "details of a watchdog that does not run")
        return [("WARNING", "running")]
    level, value = running_summary(name, ids)
    expect(report, "running", level, value)
    # Copies left by other runs are Wine's like any: only their count is judged.
    return [] if level == "ok" else [("WARNING", "running")]


def expect_library_found(report):
    finding = expect(report, "library", "ok")
    check(finding.value.lower() == SYSTEM_LIBRARY.lower(),
          f"library {finding.value!r}, not the system folder's")


def expect_system(report, arch):
    expect(report, "system", "ok", "Windows ", "32-bit" if arch == "x86" else "64-bit")


ROOM = re.compile(r"^room (\d+\.\d) MiB \(available memory (\d+\.\d) (of|MiB read, more than the "
                  r"physical memory of) (\d+\.\d) MiB(?:, so at most all of it)?; ([^)]*)\), "
                  r"the limit needs (\d+\.\d) MiB")


def host_memory_mib():
    """The Linux host's physical memory, which Wine reports as the machine's."""
    for line in Path("/proc/meminfo").read_text().splitlines():
        if line.startswith("MemTotal:"):
            return int(line.split()[1]) / 1024
    raise Failed("no MemTotal in /proc/meminfo")


def expect_room(report, arch, level, *words):
    """The room line as Wine's figures make it: the host's memory, and on
    32-bit XP-era Windows free system PTEs that Wine reads as 0, so unknown. Returns
    the room, the physical memory and the need, in MiB."""
    finding = expect(report, "room", level, *words)
    keys = report.keys()
    check(keys.index("room") == keys.index("total") + 1, f"room not right after total: {keys}")
    match = ROOM.match(finding.value)
    check(match, f"room figures not as expected: {finding.value!r}")
    room, available, form, total, ptes, need = match.groups()
    # 32-bit 6.x hands system PTEs address space on demand: the count is
    # read only for the XP era, where Wine gives 0.
    xp_era = report.get("system").value.startswith("Windows 5.")
    check(ptes == ("system PTEs are no bound on 64-bit Windows" if arch == "x64"
                   else "free system PTEs unknown" if xp_era
                   else "the kernel address space left for system PTEs is not read"),
          f"{arch}: the PTEs read {ptes!r}")
    host = host_memory_mib()
    if wine.how_it_runs(arch) == "qemu-i386" and host >= 4096:
        # qemu-i386 hands a 32-bit program sysinfo's totalram cut to 32 bits,
        # and Wine takes the physical memory from it; the available memory
        # it reads whole from /proc/meminfo.
        cut = host % 4096
        check(abs(float(total) - cut) <= 1.0,
              f"physical memory {total} MiB, neither the host's {host:.1f} MiB nor the "
              f"{cut:.1f} MiB qemu-i386 leaves of it")
        check(form == ("of" if float(available) <= float(total) else "MiB read, more than the "
                       "physical memory of"), f"available above physical memory not said so: "
              f"{finding.value!r}")
        check(room == min(available, total, key=float),
              f"room {room} MiB, not the available memory bounded by physical memory")
        unchecked(f"the physical memory in the room line against the host's {host:.1f} MiB: "
                  "under qemu-i386, 32-bit Wine reads it through sysinfo, whose totalram qemu "
                  f"cuts to 32 bits ({total} MiB)")
    else:
        check(form == "of" and room == available,
              f"room {room} MiB, not the available memory {available} MiB")
        check(abs(float(total) - host) <= max(1.0, host * 0.01),
              f"physical memory {total} MiB, the host has {host:.1f} MiB")
    print(f"room: {finding.level} {finding.value} (the host has {host:.1f} MiB)")
    return float(room), float(total), float(need)


def expect_ends_after_watchdog(report):
    """The contract: a watchdog path that leads to no executable ends the
    report there."""
    check(report.keys() in (["watchdog"], ["system", "watchdog"]),
          f"the report goes on past the watchdog line: {report.keys()}")


# ---- the scenarios ----


HEALTHY_KEYS = ["system", "watchdog", "profile", "profile.value", "limit", "library",
                "library.calls", "volumes", "volume.C", "volume.D", "total", "room",
                "access.folder", "access.parent", "access.file", "access.profile", "warning",
                "running", "running.path", "running.rights", "running.session", "start",
                "persist"]


def healthy(arch):
    install_library(arch)
    # Both programs as they ship, out of the release archive.
    inst = Installation(arch, "healthy", volume(V1, "C", "12M") + volume(V2, "D", "3584K"),
                        ini=limit_ini(64), exe_folder=wine.kit(arch))
    others = tovrin_process_ids(arch)
    try:
        inst.start_watchdog()
        running = tovrin_process_ids(arch)
        if running is None or others is None:
            print("Wine's process ids cannot be read: the running line is checked for a number")
        else:
            ours = sorted(set(running) - set(others))
            check(len(ours) == 1, f"Wine lists tovrin.exe as {running}, before the start {others}")
            print(f"Wine's process ids of tovrin.exe: {running}; the one started here: {ours[0]}")
        # Started as the guide says: the kit's own task file, its command
        # changed to this folder as the guide says for another folder.
        shipped = (wine.kit(arch).parent / "tovrin-task.xml").read_bytes()
        check(shipped[:2] == b"\xff\xfe", "the kit's task file is not UTF-16 with its mark")
        xml = shipped[2:].decode("utf-16-le").replace("C:\\Tovrin\\tovrin.exe",
                                                       inst.win("Tovrin", "tovrin.exe"))
        task_file(arch).write_bytes(b"\xff\xfe" + xml.encode("utf-16-le"))
        os.utime(task_file(arch), (BEFORE_BOOT, BEFORE_BOOT))
        before = snapshot(inst.folder)
        report = inst.report()
        check_changes_nothing(inst, before, journals=("check.log", "watchdog.log"))
        check(inst.watchdog.poll() is None, "the watchdog ended during the check")
    finally:
        inst.stop_watchdog()
        remove_task(arch)

    check(report.keys() == HEALTHY_KEYS, f"findings {report.keys()}, not {HEALTHY_KEYS}")
    expect_system(report, arch)
    expect(report, "watchdog", "ok", f"{inst.win('Tovrin', 'tovrin.exe')}, {arch}")
    expect(report, "profile", "ok", inst.win("Tovrin", "tovrin.ini"))
    expect(report, "profile.value", "ok", "limit=64")
    expect(report, "limit", "ok", "64 MiB")
    expect_library_found(report)
    expect(report, "library.calls", "ok", "all 10 write filter calls")
    expect(report, "volumes", "ok", "2 protected volumes")
    expect(report, "volume.C", "ok", f"{V1} RAM enabled boot=none data=12.0 MiB")
    expect(report, "volume.D", "ok", f"{V2} RAM enabled boot=none data=3.5 MiB")
    expect(report, "total", "ok", "15.5 MiB, below the limit of 64 MiB")
    expect_room(report, arch, "ok", "), the limit needs 48.5 MiB")
    expect(report, "warning", "ok", "Message Box Default Reply is off")
    if running is None or others is None:
        check(re.fullmatch(r"tovrin\.exe is running, process id \d+",
                           expect(report, "running", "ok").value), "running: no process id")
    else:
        expect(report, "running", *running_summary("tovrin.exe", running))
        expect_copy(report, ours[0], inst.win("Tovrin", "tovrin.exe"))
    expect(report, "start", "ok", f"task \\{TASK_NAME}: {inst.win('Tovrin', 'tovrin.exe')}, at "
           "log-on, elevated, in the user's session, never stopped by Task Scheduler")
    expect_kept(report)
    expect_not_ok(report, expect_wine_access(report))
    check(report.code == EXIT_READY, f"exit code {report.code}")
    print(f"exit code 0: Wine gives every file to its own account ({wine_account()}), which its "
          f"NetUserGetLocalGroups puts in Administrators; every finding is ok")


def access_denied(arch):
    install_library(arch)
    inst = Installation(arch, "access-denied", volume(V1, "C", "12M")
                        + "fail EwfMgrGetProtectedVolumeList error=5\n", ini=limit_ini(64))
    before = snapshot(inst.folder)
    report = inst.report()
    check_changes_nothing(inst, before)
    expect(report, "volumes", "PROBLEM", "access denied", "run the check elevated",
           "the watchdog must be started elevated too")
    check(not [k for k in report.keys() if k.startswith("volume.") or k in ("total", "room")],
          "volumes, a total or a room reported although the list was refused")
    check([c.result for c in inst.journal().of("EwfMgrGetProtectedVolumeList")] == ["null, LE 5"],
          "the list was not asked for exactly once, and refused")
    expect(report, "persist", "note", "the write filter's volumes were not read")
    expect_not_ok(report, [("PROBLEM", "volumes"), ("note", "persist")]
                  + expect_wine_access(report) + expect_running(report, arch)
                  + expect_no_start(report, arch))
    check(report.code == EXIT_NOT_READY, f"exit code {report.code}")


def copy_beside(arch):
    install_library(arch)
    inst = Installation(arch, "copy-beside", volume(V1, "C", "12M"), ini=limit_ini(64))
    inst.put_copy_beside()
    before = snapshot(inst.folder)
    report = inst.report()
    check_changes_nothing(inst, before)
    expect(report, "library", "PROBLEM",
           f"{inst.win('Tovrin', 'EWFAPI.dll')}: a copy beside the watchdog", "delete it")
    expect(report, "library.calls", "ok", "all 10")
    read = expect(report, "library.read", "note", "volumes read through")
    check(read.value.lower().endswith(SYSTEM_LIBRARY.lower()), f"read through {read.value!r}")
    expect(report, "volume.C", "ok", "data=12.0 MiB")
    copy_journal = inst.root / "copy.log"
    if copy_journal.exists():
        raise Failed(f"the copy's code ran in the check: {copy_journal.read_text()!r}")
    print("copy.log: none, so the check never started the copy (its start-up opens "
          "copy.log first, as the control below shows)")
    begins = [line for line in inst.journal().other if line.endswith(" begin")]
    check(len(begins) == 1, f"{len(begins)} libraries started in the check, not 1")
    # The control: the watchdog does load the copy, whose journal then shows it.
    try:
        inst.start_watchdog(polled="copy.log")
    finally:
        inst.stop_watchdog()
    check(not (inst.root / "watchdog.log").exists(), "the watchdog loaded the system's library")
    print("the watchdog started from that folder loads the copy: copy.log shows its polls")
    expect_not_ok(report, [("PROBLEM", "library"), ("note", "library.read")]
                  + expect_wine_access(report) + expect_running(report, arch)
                  + expect_no_start(report, arch))
    check(report.code == EXIT_NOT_READY, f"exit code {report.code}")


def old_library(arch):
    # Windows would refuse to start a watchdog against this library, Wine does
    # not: the check alone is judged.
    install_library(arch, "old")
    try:
        inst = Installation(arch, "old-library", volume(V1, "C", "12M"), ini=limit_ini(64))
        before = snapshot(inst.folder)
        report = inst.report()
        check_changes_nothing(inst, before)
    finally:
        install_library(arch)
    expect_library_found(report)
    missing = report.all_of("library.calls")
    check(len(missing) == 1, f"{len(missing)} library.calls lines, not 1")
    calls = expect(report, "library.calls", "PROBLEM", "EwfMgrCommitAndDisableLive is missing",
                   "Windows will refuse to start the watchdog")
    # Wine reports 6.1: XP Embedded's service pack is advice for XP-era systems only.
    check("XP Embedded" not in calls.value, f"XP Embedded's advice on 6.1: {calls.value!r}")
    expect(report, "volume.C", "ok", "data=12.0 MiB")
    expect_not_ok(report, [("PROBLEM", "library.calls")] + expect_wine_access(report)
                  + expect_running(report, arch)
                  + expect_no_start(report, arch))
    check(report.code == EXIT_NOT_READY, f"exit code {report.code}")


def planted_forwarder(arch):
    """A planted EWFAPI.dll beside the watchdog whose EwfMgrClose forwards to
    evil.dll beside it: the check must name the forwarder and never run
    evil.dll, whose start-up would write evil-ran.txt."""
    install_library(arch)
    inst = Installation(arch, "planted-forwarder", volume(V1, "C", "12M"), ini=limit_ini(64))
    planted = wine.ROOT / "build" / "sim" / arch / "planted"
    for name in ("EWFAPI.dll", "evil.dll"):
        shutil.copyfile(planted / name, inst.folder / name)
    marker = inst.folder / "evil-ran.txt"
    before = snapshot(inst.folder)
    report = inst.report()
    check_changes_nothing(inst, before)
    if marker.exists():
        raise Failed(f"evil.dll ran in the check: {marker.read_bytes()!r}")
    print("evil-ran.txt: none, so the check never ran evil.dll")
    expect(report, "library", "PROBLEM", inst.win("Tovrin", "EWFAPI.dll"), "a copy beside")
    expect(report, "library.calls", "PROBLEM", "EwfMgrClose forwards elsewhere",
           "would load evil.dll")
    read = expect(report, "library.read", "note", "volumes read through")
    check(read.value.lower().endswith(SYSTEM_LIBRARY.lower()), f"read through {read.value!r}")
    expect(report, "volume.C", "ok", "data=12.0 MiB")
    expect_not_ok(report, [("PROBLEM", "library"), ("PROBLEM", "library.calls"),
                           ("note", "library.read")] + expect_wine_access(report)
                  + expect_running(report, arch) + expect_no_start(report, arch))
    check(report.code == EXIT_NOT_READY, f"exit code {report.code}")
    # The control: the watchdog started there does load the copy, and so
    # evil.dll, whose start-up then leaves its file.
    watchdog = subprocess.Popen([wine.LOADERS[arch], inst.win("Tovrin", "tovrin.exe")],
                                cwd=inst.folder, env=inst.env("watchdog.log"),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + timeout(arch)
        while not marker.exists() and time.monotonic() < deadline:
            time.sleep(0.2)
    finally:
        watchdog.kill()
        watchdog.wait()
    check(marker.exists(), "the control failed: the watchdog did not run evil.dll either")
    print(f"control: the watchdog from that folder ran evil.dll: {marker.read_text()!r}")


def horm(arch):
    install_library(arch)
    inst = Installation(arch, "horm", volume(V1, "C", "12M", "horm=1") + volume(V2, "D", "1M"),
                        ini=limit_ini(64))
    before = snapshot(inst.folder)
    report = inst.report()
    check_changes_nothing(inst, before)
    expect(report, "horm", "PROBLEM", "C: hibernate once, resume many is active",
           "do not use it on HORM images")
    check([c.args for c in inst.journal().of("EwfMgrIsHORMActivated")] == [V1, V2],
          "HORM was not asked of each volume once")
    expect_not_ok(report, [("PROBLEM", "horm")] + expect_wine_access(report)
                  + expect_running(report, arch) + expect_no_start(report, arch))
    check(report.code == EXIT_NOT_READY, f"exit code {report.code}")


def wow64(arch):
    """An x86 watchdog on 64-bit Windows gets the 32-bit library from
    SysWOW64: both checks name that folder; the x64 check reads the volumes
    through its own library."""
    check(arch == "x64", "runs in the 64-bit prefix only")
    x86 = wine.ROOT / "dist" / "x86"
    if not (x86 / "tovrin.exe").exists() or not (wine.ROOT / "build/sim/x86/EWFAPI.dll").exists():
        raise Skipped("the x86 build is not there: build the win-x86 preset first")
    install_library("x64")
    wow64_library = "C:\\windows\\syswow64\\EWFAPI.dll"
    for check_arch in ("x86", "x64"):
        inst = Installation(check_arch, f"wow64-{check_arch}", volume(V1, "C", "12M"),
                            ini=limit_ini(64), exe_folder=x86, prefix="x64")
        if check_arch == "x64":
            shutil.copyfile(wine.ROOT / "dist" / "x64" / "tovrin-check.exe",
                            inst.folder / "tovrin-check.exe")
        before = snapshot(inst.folder)
        report = inst.report()
        check_changes_nothing(inst, before)
        expect(report, "system", "ok", "64-bit")
        expect(report, "watchdog", "WARNING", ", x86: 64-bit Windows runs it as 32-bit")
        library = expect(report, "library", "ok")
        check(library.value.lower() == wow64_library.lower(),
              f"the {check_arch} check names {library.value!r}, not SysWOW64's")
        expect(report, "library.calls", "ok", "all 10")
        expected = [("WARNING", "watchdog")]
        if check_arch == "x64":
            read = expect(report, "library.read", "note", "volumes read through")
            check(read.value.lower().endswith(SYSTEM_LIBRARY.lower()),
                  f"read through {read.value!r}")
            expected.append(("note", "library.read"))
        expect(report, "volume.C", "ok", "data=12.0 MiB")
        expect_not_ok(report, expected + expect_wine_access(report)
                      + expect_running(report, "x64") + expect_no_start(report, "x64"))


def disk_overlay(arch):
    install_library(arch)
    inst = Installation(arch, "disk-overlay", volume(V1, "C", "12M", "type=disk")
                        + volume(V2, "D", "1M"), ini=limit_ini(64))
    before = snapshot(inst.folder)
    report = inst.report()
    check_changes_nothing(inst, before)
    expect(report, "volume.C", "PROBLEM", f"{V1} disk enabled", "a disk overlay",
           "needs RAM overlays")
    check("data=" not in report.get("volume.C").value,
          "a disk overlay's map size shown as RAM data")
    expect(report, "volume.D", "ok", f"{V2} RAM enabled boot=none data=1.0 MiB")
    # As the watchdog measures: the record's field, whatever the overlay.
    expect(report, "total", "ok", "13.0 MiB, below the limit of 64 MiB")
    expect_not_ok(report, [("PROBLEM", "volume.C")] + expect_wine_access(report)
                  + expect_running(report, arch)
                  + expect_no_start(report, arch))
    check(report.code == EXIT_NOT_READY, f"exit code {report.code}")


def first_volume_fails(arch):
    # Listed first without a letter and refused by the library, as a
    # system-reserved partition may be: shown, and the others still measured.
    install_library(arch)
    inst = Installation(arch, "first-volume-fails", volume(V3, "C", "500M")
                        + volume(V1, "C", "12M") + volume(V2, "D", "1M")
                        + f"fail EwfMgrGetDriveLetterFromVolumeName error=0 volume={V3}\n"
                        + f"fail EwfMgrOpenProtected error=2 volume={V3}\n", ini=limit_ini(64))
    before = snapshot(inst.folder)
    report = inst.report()
    check_changes_nothing(inst, before)
    expect(report, "volume.?", "WARNING", f"{V3} EwfMgrOpenProtected failed (error 2)",
           "not measured")
    expect(report, "volume.C", "ok", f"{V1} RAM enabled boot=none data=12.0 MiB")
    expect(report, "volume.D", "ok", f"{V2} RAM enabled boot=none data=1.0 MiB")
    expect(report, "total", "ok",
           "13.0 MiB without 1 volume(s) that could not be read, below the limit of 64 MiB")
    expect_not_ok(report, [("WARNING", "volume.?")] + expect_wine_access(report)
                  + expect_running(report, arch) + expect_no_start(report, arch))


def profile_missing(arch):
    install_library(arch)
    inst = Installation(arch, "profile-missing", volume(V1, "C", "12M"))
    before = snapshot(inst.folder)
    report = inst.report()
    check_changes_nothing(inst, before)
    expect(report, "profile", "WARNING", f"{inst.win('Tovrin', 'tovrin.ini')}: missing",
           "the watchdog uses 128 MiB")
    expect(report, "limit", "ok", "128 MiB (default)")
    check("profile.value" not in report.keys(), "a value read from a missing profile")
    expect(report, "total", "ok", "12.0 MiB, below the limit of 128 MiB")
    expect_not_ok(report, [("WARNING", "profile")]
                  + expect_wine_access(report, ("access.folder", "access.parent", "access.file"))
                  + expect_running(report, arch)
                  + expect_no_start(report, arch))
    check(report.code >= EXIT_WARNINGS, f"exit code {report.code}")


def limit_zero(arch):
    install_library(arch)
    inst = Installation(arch, "limit-zero", volume(V1, "C", "12M"), ini=limit_ini(0))
    before = snapshot(inst.folder)
    report = inst.report()
    check_changes_nothing(inst, before)
    expect(report, "profile.value", "ok", "limit=0")
    expect(report, "limit", "WARNING", "0 MiB", "0 or below",
           "writes back at its first poll")
    expect(report, "total", "WARNING", "12.0 MiB, at or above the limit of 0 MiB",
           "writes back at its first poll")
    expect_room(report, arch, "ok", "), the limit needs 0.0 MiB")
    expect_not_ok(report, [("WARNING", "limit"), ("WARNING", "total")]
                  + expect_wine_access(report) + expect_running(report, arch)
                  + expect_no_start(report, arch))
    # Nothing starts the watchdog here: a problem unless some tovrin.exe runs.
    check(report.code == (EXIT_NOT_READY if report.get("start").level == "PROBLEM"
                          else EXIT_WARNINGS), f"exit code {report.code}")


# ---- how the watchdog starts at the next log-on ----


WINLOGON = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\Winlogon"


def report_with_task(arch, name, winlogon=(), **task):
    """The check's report with a task for the watchdog in the prefix's Tasks
    folder (write_task's principal and settings) and the given Winlogon
    values, both removed afterwards."""
    install_library(arch)
    inst = Installation(arch, name, volume(V1, "C", "12M"), ini=limit_ini(64))
    try:
        write_task(arch, inst.win("Tovrin", "tovrin.exe"), **task)
        for value, data in winlogon:
            reg(arch, "add", WINLOGON, "/v", value, "/t", "REG_SZ", "/d", data)
        before = snapshot(inst.folder)
        report = inst.report()
        check_changes_nothing(inst, before)
    finally:
        remove_task(arch)
        for value, _ in winlogon:
            reg(arch, "delete", WINLOGON, "/v", value)
    return inst, report


def start_task(arch):
    """The task as the kit ships it, in the prefix's Tasks folder: a start
    with nothing wrong."""
    inst, report = report_with_task(arch, "start-task")
    expect(report, "start", "ok", f"task \\{TASK_NAME}: {inst.win('Tovrin', 'tovrin.exe')}, "
           "at log-on, elevated, in the user's session, never stopped by Task Scheduler")
    expect_kept(report)
    expect_not_ok(report, expect_wine_access(report) + expect_running(report, arch))
    check(report.code == EXIT_WARNINGS, f"exit code {report.code}")


def start_task_72h(arch):
    """A task stopped 72 hours after each log-on and not elevated: both are
    problems of the one start."""
    inst, report = report_with_task(arch, "start-task-72h",
                                    principal="<GroupId>S-1-5-32-544</GroupId>",
                                    settings=GOOD_SETTINGS.replace("PT0S", "PT72H"))
    expect(report, "start", "PROBLEM", f"task \\{TASK_NAME}: {inst.win('Tovrin', 'tovrin.exe')}: "
           "not elevated (RunLevel is not HighestAvailable)", "measures 0",
           "Task Scheduler stops it 72 hours after each log-on (ExecutionTimeLimit PT72H)",
           "recreate it: schtasks /Create /TN Tovrin /XML tovrin-task.xml /F")
    expect_kept(report)
    expect_not_ok(report, [("PROBLEM", "start")] + expect_wine_access(report)
                  + expect_running(report, arch))
    check(report.code == EXIT_NOT_READY, f"exit code {report.code}")


def start_service_account(arch):
    """A task that runs as SYSTEM, with no LogonType, as real service-account
    tasks are stored: a problem. Automatic log-on set for an account: Wine's
    NetUserGetLocalGroups puts every account in Administrators, so the check
    says nothing of it (a non-administrator, and a folder that cannot be
    listed, which root always can, are shown by the host tests only)."""
    inst, report = report_with_task(
        arch, "start-service",
        winlogon=(("AutoAdminLogon", "1"), ("DefaultUserName", "kiosk"),
                  ("DefaultDomainName", "KIOSK")),
        principal="<UserId>NT AUTHORITY\\SYSTEM</UserId><RunLevel>HighestAvailable</RunLevel>")
    expect(report, "start", "PROBLEM", f"task \\{TASK_NAME}: {inst.win('Tovrin', 'tovrin.exe')}: "
           "not in the user's session (UserId NT AUTHORITY\\SYSTEM): nobody sees its warning",
           "recreate it: schtasks /Create /TN Tovrin /XML tovrin-task.xml /F")
    expect_kept(report)
    expect_not_ok(report, [("PROBLEM", "start")] + expect_wine_access(report)
                  + expect_running(report, arch))
    check(report.code == EXIT_NOT_READY, f"exit code {report.code}")


def limit_above_memory(arch):
    """A limit larger than the machine's memory, whatever else is known."""
    install_library(arch)
    limit = 1000000
    inst = Installation(arch, "limit-above-memory", volume(V1, "C", "12M"), ini=limit_ini(limit))
    before = snapshot(inst.folder)
    report = inst.report()
    check_changes_nothing(inst, before)
    expect(report, "limit", "ok", f"{limit} MiB")
    expect(report, "total", "ok", f"12.0 MiB, below the limit of {limit} MiB")
    room, total, need = expect_room(
        report, arch, "PROBLEM", "; the limit is more than the machine's physical memory: lower "
        "the limit to at most ")
    check(total < limit, f"the host's memory, {total} MiB, is not below the limit")
    check(abs(need - (limit - 12.0)) < 0.05, f"the limit needs {need} MiB, not {limit - 12} MiB")
    # The highest sound limit: the total now plus three quarters of the room.
    highest = int(report.get("room").value.rsplit(" ", 2)[1])
    expected = min(12.0 + room * 3 / 4, total)
    check(abs(highest - expected) <= 1, f"lower the limit to at most {highest} MiB, expected "
          f"about {expected:.1f} MiB")
    expect_not_ok(report, [("PROBLEM", "room")] + expect_wine_access(report)
                  + expect_running(report, arch) + expect_no_start(report, arch))
    check(report.code == EXIT_NOT_READY, f"exit code {report.code}")


def start_run_value(arch):
    """A Run value written by wine reg add: under User Account Control
    (EnableLUA=1, as Windows installs it) what Explorer starts gets a filtered
    token, a problem; with EnableLUA=0, as Wine's prefix has it, the same
    value is a good start. Wine's own processes always hold the full token."""
    install_library(arch)
    inst = Installation(arch, "start-run-value", volume(V1, "C", "12M"), ini=limit_ini(64))
    watchdog = inst.win("Tovrin", "tovrin.exe")
    query = wine.wine(arch, "reg", "query", POLICIES_KEY, "/v", "EnableLUA", capture_output=True,
                      stdin=subprocess.DEVNULL, timeout=timeout(arch))
    found = re.search(r"EnableLUA\s+REG_DWORD\s+0x([0-9a-fA-F]+)", query.stdout.decode(errors="replace"))
    try:
        reg(arch, "add", RUN_KEY, "/v", TASK_NAME, "/t", "REG_SZ", "/d", watchdog)
        reg(arch, "add", POLICIES_KEY, "/v", "EnableLUA", "/t", "REG_DWORD", "/d", "1")
        before = snapshot(inst.folder)
        default = inst.report()
        reg(arch, "add", POLICIES_KEY, "/v", "EnableLUA", "/t", "REG_DWORD", "/d", "0")
        off = inst.report()
        check_changes_nothing(inst, before)
    finally:
        reg(arch, "delete", RUN_KEY, "/v", TASK_NAME)
        # The prefix as it was: Wine's own setting of EnableLUA, or none.
        if found:
            reg(arch, "add", POLICIES_KEY, "/v", "EnableLUA", "/t", "REG_DWORD", "/d",
                str(int(found.group(1), 16)))
        else:
            reg(arch, "delete", POLICIES_KEY, "/v", "EnableLUA")
    version = expect(default, "system", "ok").value.split()[1]
    head = f"HKLM Run value {TASK_NAME}: {watchdog}"
    # The Run key was written just now, and the hives live on C:, whose
    # overlay is on: that is lost at the next restart, and said so.
    lost = []
    for report in (default, off):
        persist = [f for f in report.all_of("persist") if f.level != "ok"]
        check(persist and all(f.level == "PROBLEM" and f.value.startswith(
              "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run: written since the last "
              "boot on C:") for f in persist), f"persist: {[f.value for f in persist]}")
        lost.append([("PROBLEM", "persist")] * len(persist))
    if int(version.split(".")[0]) >= 6:
        expect(default, "start", "PROBLEM", head + ": User Account Control gives it a "
               "filtered token", "measures 0", "tovrin-task.xml")
        expect_not_ok(default, [("PROBLEM", "start")] + lost[0] + expect_wine_access(default)
                      + expect_running(default, arch))
    else:
        expect(default, "start", "ok", head + ", at log-on by Explorer")
    expect(off, "start", "ok", head + ", at log-on by Explorer")
    expect_not_ok(off, lost[1] + expect_wine_access(off) + expect_running(off, arch))


# ---- what the next restart keeps ----


def persist_new(arch):
    """Installed just now on C:, whose overlay is on: the folder, the watchdog
    and its profile are lost at the next restart."""
    install_library(arch)
    inst = Installation(arch, "persist-new", volume(V1, "C", "12M"), ini=limit_ini(64),
                        fresh=True)
    before = snapshot(inst.folder)
    report = inst.report()
    check_changes_nothing(inst, before)
    lost = report.all_of("persist")
    wanted = [inst.win("Tovrin"), inst.win("Tovrin", "tovrin.exe"), inst.win("Tovrin", "tovrin.ini")]
    check([f.value.split(": written")[0] for f in lost] == wanted,
          f"persist lines {[f.value for f in lost]}, not for {wanted}")
    for finding in lost:
        check(finding.level == "PROBLEM" and finding.value.endswith(
              ": written since the last boot on C:, whose overlay is on: lost at the next "
              "restart: run `ewfmgr C: -commit`, then restart"), f"persist: {finding}")
    expect_not_ok(report, [("PROBLEM", "persist")] * 3 + expect_wine_access(report)
                  + expect_running(report, arch) + expect_no_start(report, arch))
    check(report.code == EXIT_NOT_READY, f"exit code {report.code}")


def persist_commit(arch):
    """Installed just now, with commit pending for C: kept, said as a note."""
    install_library(arch)
    inst = Installation(arch, "persist-commit", volume(V1, "C", "12M", "boot=commit"),
                        ini=limit_ini(64), fresh=True)
    before = snapshot(inst.folder)
    report = inst.report()
    check_changes_nothing(inst, before)
    expect(report, "volume.C", "ok", "boot=commit")
    expect(report, "persist", "note", "C: the pending boot command is commit: the changes are "
           "kept at the next restart")
    expect_not_ok(report, [("note", "persist")] + expect_wine_access(report)
                  + expect_running(report, arch) + expect_no_start(report, arch))


def persist_old(arch):
    """Installed before the prefix started: nothing to lose."""
    install_library(arch)
    inst = Installation(arch, "persist-old", volume(V1, "C", "12M"), ini=limit_ini(64))
    before = snapshot(inst.folder)
    report = inst.report()
    check_changes_nothing(inst, before)
    expect_kept(report)
    expect_not_ok(report, expect_wine_access(report) + expect_running(report, arch)
                  + expect_no_start(report, arch))


def bad_path(arch, name, path_of, *words):
    install_library(arch)
    inst = Installation(arch, name, volume(V1, "C", "12M"), ini=limit_ini(64))
    path = path_of(inst)
    before = snapshot(inst.folder)
    report = inst.report(path)
    check_changes_nothing(inst, before, read=False)
    expect(report, "watchdog", "PROBLEM", *words)
    expect_ends_after_watchdog(report)
    check(report.code == EXIT_NOT_READY, f"exit code {report.code}")


def path_missing(arch):
    bad_path(arch, "path-missing", lambda inst: inst.win("Tovrin", "guard.exe"),
             "guard.exe: not found")


def path_folder(arch):
    bad_path(arch, "path-folder", lambda inst: inst.win("Tovrin"),
             "Tovrin: a folder, not the watchdog's executable")


def path_not_executable(arch):
    bad_path(arch, "path-not-executable", lambda inst: inst.win("Tovrin", "tovrin.ini"),
             "tovrin.ini: not a Windows executable")


def path_too_long(arch):
    def long_path(inst):
        path = inst.win("Tovrin", "a" * 250, "tovrin.exe")
        check(len(path) > 259, "the path is not too long")
        return path
    bad_path(arch, "path-too-long", long_path, "longer than Windows allows")


# Each must be refused with one usage line and nothing else.
USAGE_ERRORS = [["/x"], ["-x"], ["/watch", "/x"], ["a.exe", "b.exe"], ["/watch", "a.exe", "b.exe"]]


def usage(arch):
    install_library(arch)
    inst = Installation(arch, "usage", volume(V1, "C", "12M"), ini=limit_ini(64))
    before = snapshot(inst.folder)
    for args in USAGE_ERRORS:
        code, stdout, stderr = inst.run_check(*args)
        check(code == EXIT_USAGE, f"{args}: exit code {code}, not 3")
        check(stdout == b"", f"{args}: printed on stdout: {stdout!r}")
        lines = own_stderr(stderr)
        check(len(lines) == 1 and lines[0].startswith("usage: tovrin-check.exe"),
              f"{args}: stderr {lines}, not one usage line")
    check(not inst.journal().calls, "the library was called for a usage error")
    check_changes_nothing(inst, before, read=False)


# Lines before the first measurement: the system, the watchdog, the heading.
HEAD = 3


def watch(arch):
    install_library(arch)
    inst = Installation(arch, "watch", volume(V1, "C", "12M", "growth=64K"), ini=limit_ini(64))
    before = snapshot(inst.folder)
    out_path = inst.root / "watch.out"
    print(f"--- {arch}: tovrin-check.exe /watch")
    with open(out_path, "wb") as out, open(inst.root / "watch.err", "wb") as err:
        env = inst.env()
        if wine.how_it_runs(arch) == "qemu-i386":
            # Wine's report of a lock wait that timed out, which tells its delays from ours.
            env["WINEDEBUG"] = "-all,err+sync"
        process = subprocess.Popen([wine.LOADERS[arch], inst.check_exe, "/watch"], env=env,
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=err)
    started = time.monotonic()
    arrivals = []
    try:
        # Each line as it arrives, with the time it was seen.
        deadline = started + timeout(arch)
        while len(arrivals) < HEAD + 5 and time.monotonic() < deadline and process.poll() is None:
            lines = out_path.read_bytes().split(b"\r\n")[:-1]
            while len(arrivals) < len(lines):
                arrivals.append((time.monotonic(), time.localtime()))
            time.sleep(0.05)
        ctrl_c = ctrl_c_result(process, out_path)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    ended = time.monotonic()
    text = out_path.read_bytes().decode(errors="replace")
    sys.stdout.write(text.replace("\r\n", "\n"))
    for line in (inst.root / "watch.err").read_text(errors="replace").splitlines():
        print(f"[stderr] {line}")
    print(f"--- exit code {process.returncode}")
    lines = text.split("\r\n")[:-1]

    # Which system and watchdog, as findings, then the heading.
    findings = [FINDING.match(line) for line in lines[:HEAD - 1]]
    check(all(findings) and [(f.group(1), f.group(2)) for f in findings]
          == [("ok", "system"), ("ok", "watchdog")], f"before the heading: {lines[:HEAD - 1]}")
    check(findings[1].group(3) == f"{inst.win('Tovrin', 'tovrin.exe')}, {arch}",
          f"watchdog {findings[1].group(3)}")
    check(len(lines) >= HEAD and lines[HEAD - 1] == "watching all protected RAM overlays every 2 s; "
          f"limit 64 MiB from {inst.win('Tovrin', 'tovrin.ini')}; Ctrl+C ends",
          f"heading {lines[HEAD - 1:HEAD]}")
    measured = [WATCH_LINE.match(line) for line in lines[HEAD:HEAD + 4]]
    check(len(measured) == 4 and all(measured), f"not 4 measurement lines: {lines[HEAD:HEAD + 4]}")
    totals = [float(m.group(4)) for m in measured]
    check(all(b > a for a, b in zip(totals, totals[1:])), f"the total does not grow: {totals}")
    check(measured[0].group(5) == "+0.0" and measured[0].group(6) == "-",
          f"the first line has a change or growth: {lines[HEAD]}")
    for m in measured[1:]:
        check(abs(float(m.group(5)) - (float(m.group(4)) - totals[0])) < 0.15,
              f"change {m.group(5)} against the first total {totals[0]}: {m.group(0)}")
        # 64 KiB a second is 225 MiB an hour.
        check(m.group(7) and abs(float(m.group(7)) - 225.0) <= 225.0 * 0.1,
              f"growth {m.group(6)}, not about 225 MiB/h")
        check(m.group(8) == "64", f"limit {m.group(8)}")
    slack = WATCH_SLACK[wine.how_it_runs(arch)]
    gaps = [round(b[0] - a[0], 2) for a, b in zip(arrivals[HEAD:HEAD + 4], arrivals[HEAD + 1:HEAD + 4])]
    check(all(abs(g - WATCH_INTERVAL) <= slack for g in gaps), f"lines {gaps} s apart, not 2 s")
    stamps = [int(m.group(1)) * 3600 + int(m.group(2)) * 60 + int(m.group(3)) for m in measured]
    clock_gaps = [(b - a) % 86400 for a, b in zip(stamps, stamps[1:])]
    check(all(1 <= g <= 3 for g in clock_gaps), f"clock times {clock_gaps} s apart")
    seen = arrivals[HEAD][1]
    seen_at = seen.tm_hour * 3600 + seen.tm_min * 60 + seen.tm_sec
    check(min((stamps[0] - seen_at) % 86400, (seen_at - stamps[0]) % 86400) <= 3,
          f"first line's clock {lines[HEAD][:8]}, seen at {time.strftime('%H:%M:%S', seen)}")
    print(f"measurement lines {gaps} s apart; totals {totals}")

    journal = inst.journal()
    check(len(journal.of("EwfMgrGetProtectedVolumeList")) >= 4, "fewer measurements than lines")
    check_changes_nothing(inst, before, read=False)
    judge_ctrl_c(ctrl_c, lines, process.returncode, journal, arch, started, ended,
                 arrivals, (inst.root / "watch.err").read_text(errors="replace"))


@dataclass
class CtrlC:
    outcome: str
    summary_after: float = None
    ended_after: float = None


def ctrl_c_result(process, out_path):
    """Ctrl+C as Wine delivers it: SIGINT to the Windows process's own Wine
    process, which Wine turns into CTRL_C_EVENT for the console's handlers.
    When the summary appears and when the process ends, in seconds after it."""
    if process.poll() is not None:
        return CtrlC("ended before Ctrl+C")
    sent = time.monotonic()
    os.kill(process.pid, signal.SIGINT)
    summary_after = None
    while process.poll() is None and time.monotonic() - sent < CTRL_C_WAIT:
        if summary_after is None and b"\r\nsummary: " in out_path.read_bytes():
            summary_after = time.monotonic() - sent
        time.sleep(0.02)
    if process.poll() is None:
        return CtrlC(f"no end within {CTRL_C_WAIT} s of SIGINT", summary_after)
    if summary_after is None and b"\r\nsummary: " in out_path.read_bytes():
        summary_after = time.monotonic() - sent
    ended_after = time.monotonic() - sent
    summary = "no summary" if summary_after is None else f"summary {summary_after:.2f} s"
    return CtrlC(f"{summary} and end {ended_after:.2f} s after SIGINT", summary_after,
                 ended_after)


# Under qemu-i386: Wine's wait for the console's handler list that missed the
# handler's release, and qemu's report of a crash in Wine's teardown.
LOST_WAKE = re.compile(r':err:sync:RtlpWaitForCriticalSection section \S+ "[^"]*console_section" '
                       r"wait timed out in thread \S+, blocked by 0000,")
QEMU_CRASH = "qemu: uncaught target signal 11 (Segmentation fault)"


def judge_ctrl_c(ctrl_c, lines, code, journal, arch, started, ended, arrivals, stderr):
    print(f"Ctrl+C: {ctrl_c.outcome}")
    check(ctrl_c.outcome != "ended before Ctrl+C", f"/watch ended by itself, exit code {code}")
    if ctrl_c.ended_after is None and ctrl_c.summary_after is None:
        message = ("Ctrl+C not delivered: SIGINT to the Wine process of tovrin-check.exe "
                   f"brought neither a summary nor an end within {CTRL_C_WAIT} s")
        if wine.how_it_runs(arch) == "native":
            # Native Wine 8 turns SIGINT into CTRL_C_EVENT: the check ignored it.
            raise Failed(message)
        raise Skipped(f"{message}; under qemu-i386 Wine may not get the signal, so the summary "
                      "was not checked")
    summary = SUMMARY.match(lines[-1])
    check(summary, f"no summary line after Ctrl+C; last line {lines[-1]!r}")
    seconds, peak, growth, limit, hours, minutes, room_hours, room_minutes = summary.groups()
    last = WATCH_LINE.match(lines[-2])
    check(last, f"the line before the summary is not a measurement: {lines[-2]!r}")
    check(peak == last.group(4), f"peak {peak} MiB, not the last total {last.group(4)} MiB")
    check(abs(float(growth) - float(last.group(7))) <= 0.2,
          f"mean growth {growth} MiB/h, last line's {last.group(7)}")
    # Whole minutes, rounded down, from figures the lines round to 0.1 MiB.
    left = int(hours or 0) * 60 + int(minutes)
    expected_left = (int(limit) - float(peak)) / float(growth) * 60
    check(limit == "64" and expected_left - 1.5 <= left <= expected_left + 0.5,
          f"the limit in {left} min, expected about {expected_left:.1f} min")
    room_left = int(room_hours or 0) * 60 + int(room_minutes)
    expected_room = float(last.group(9)) / float(growth) * 60
    check(abs(room_left - expected_room) <= max(1.5, expected_room * 0.001),
          f"the end of the room in {room_left} min, expected about {expected_room:.1f} min")
    # Between the span of the lines seen and the whole run, start-up included.
    span = arrivals[-1][0] - arrivals[HEAD][0]
    elapsed = ended - started
    check(span - 1 <= int(seconds) <= elapsed + 1,
          f"summary says {seconds} s; lines seen over {span:.1f} s, the run took {elapsed:.1f} s")
    print(f"summary checked: {lines[-1]}")
    # Ctrl+C ends the program: once the summary is out, nothing is left to wait for.
    slack = WATCH_SLACK[wine.how_it_runs(arch)]
    if wine.how_it_runs(arch) == "qemu-i386" and LOST_WAKE.search(stderr) and QEMU_CRASH in stderr:
        # After the summary the program removes its handler, which waits for
        # the handler's thread to let go of Wine's list of handlers: the
        # thread does within 0.1 s, but under qemu the wait misses it and
        # runs to Wine's 5 s timeout, and then Wine crashes in the library's
        # unloading (NtWriteFile of its journal): nothing after the summary
        # can be judged.
        unchecked("the end within the slack after the summary, the exit code 0 and the library's "
                  "release after Ctrl+C: under qemu-i386 Wine's lock wait missed the Ctrl+C "
                  "handler's release and ran to its 5 s timeout (ended "
                  f"{ctrl_c.ended_after:.2f} s after Ctrl+C), and Wine then crashed in qemu "
                  f"(exit code {code})")
        return
    check(ctrl_c.ended_after is not None and ctrl_c.ended_after <= ctrl_c.summary_after + slack,
          f"/watch printed its summary {ctrl_c.summary_after:.2f} s after Ctrl+C but "
          + (f"ended only {ctrl_c.ended_after:.2f} s after it" if ctrl_c.ended_after is not None
             else f"had not ended {CTRL_C_WAIT} s after it"))
    check(code == EXIT_READY, f"exit code {code} after Ctrl+C, not 0")
    check(journal.end.startswith("outstanding lists 0, entries 0, handles 0, misuse 0"),
          f"the library was not released after Ctrl+C: {journal.end!r}")


def started_copies(arch, inst, starts):
    """Starts watchdogs, each (journal, exe), and returns the process ids Wine
    gives them, or None where Wine's process list cannot be read."""
    others = tovrin_process_ids(arch)
    for journal, exe in starts:
        inst.start_watchdog(polled=journal, journal=journal, exe=exe)
    running = tovrin_process_ids(arch)
    if running is None or others is None:
        return None
    ours = sorted(set(running) - set(others))
    check(len(ours) == len(starts), f"Wine lists tovrin.exe as {running}, before {others}")
    check(running == ours, f"other copies of tovrin.exe run in the prefix: {others}")
    print(f"Wine's process ids of the copies started here: {ours}")
    return ours


def expect_started_elsewhere(report):
    """Something runs the watchdog now, and nothing the check can see starts
    it at log-on: the copies here were started by the test."""
    expect(report, "start", "WARNING",
           "nothing found starts tovrin.exe at log-on, though it runs now")
    expect_kept(report)
    return [("WARNING", "start")]


def two_running(arch):
    install_library(arch)
    inst = Installation(arch, "two-running", volume(V1, "C", "12M"), ini=limit_ini(64))
    exe = inst.win("Tovrin", "tovrin.exe")
    try:
        ids = started_copies(arch, inst, [("watchdog.log", exe), ("watchdog2.log", exe)])
        before = snapshot(inst.folder)
        report = inst.report()
        check_changes_nothing(inst, before,
                              journals=("check.log", "watchdog.log", "watchdog2.log"))
    finally:
        inst.stop_watchdog()
    if ids is None:
        raise Skipped("Wine's process list cannot be read: the copies' ids are unknown")
    expect(report, "running", *running_summary("tovrin.exe", ids))
    for pid in ids:
        expect_copy(report, pid, exe)
    expect_not_ok(report, [("WARNING", "running")] + expect_started_elsewhere(report)
                  + expect_wine_access(report))
    check(report.code == EXIT_WARNINGS, f"exit code {report.code}")


def running_elsewhere(arch):
    install_library(arch)
    inst = Installation(arch, "running-elsewhere", volume(V1, "C", "12M"), ini=limit_ini(64))
    # An older installation beside this one, still running.
    old = inst.root / "Old"
    old.mkdir()
    shutil.copyfile(inst.folder / "tovrin.exe", old / "tovrin.exe")
    elsewhere = inst.win("Old", "tovrin.exe")
    try:
        ids = started_copies(arch, inst, [("watchdog.log", elsewhere)])
        before = snapshot(inst.folder)
        report = inst.report()
        check_changes_nothing(inst, before, journals=("check.log", "watchdog.log"))
    finally:
        inst.stop_watchdog()
    if ids is None:
        raise Skipped("Wine's process list cannot be read: the copy's id is unknown")
    expect(report, "running", *running_summary("tovrin.exe", ids))
    expect_copy(report, ids[0], elsewhere, checked=inst.win("Tovrin", "tovrin.exe"))
    expect_not_ok(report, [("WARNING", "running.path")] + expect_started_elsewhere(report)
                  + expect_wine_access(report))
    check(report.code == EXIT_WARNINGS, f"exit code {report.code}")


SCENARIOS = {f.__name__: f for f in [
    healthy, access_denied, copy_beside, planted_forwarder, old_library, disk_overlay,
    first_volume_fails, horm,
    profile_missing, limit_zero, limit_above_memory, path_missing, path_folder,
    path_not_executable, path_too_long, usage, watch, wow64, two_running, running_elsewhere,
    start_task, start_task_72h, start_service_account, start_run_value, persist_new, persist_commit, persist_old]}


if __name__ == "__main__":
    sys.exit(run_scenario(SCENARIOS, sys.argv[1], sys.argv[2]))
