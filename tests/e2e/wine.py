"""Runs the real Windows executables under Wine, on a virtual display, against
the simulated EWFAPI.dll, and reads back what happened: the simulator's
journal, Wine's relay log of chosen platform calls, and the warning box as the
Win32 API sees it."""

import os
import re
import shutil
import signal
import subprocess
import time
import zipfile
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WORK = ROOT / "build" / "e2e"
CAPTION = "Tovrin V1.00 20070610 Ondrap"
WARNING_TEXT = (
    "EWFライトバッファがいっぱいになったため、ライトバックしています\\n"
    "以降、書き込みパフォーマンスが低下する為、必要に応じPCを再起動してください"
)
LOADERS = {"x86": "/usr/lib/wine/wine", "x64": "/usr/lib/wine/wine64"}
# Calls whose arguments and times Wine's relay log records.
RELAY_INCLUDE = ";".join(
    [
        "user32.MessageBoxA",
        "kernel32.Sleep",
        "kernel32.CreateThread",
        "kernel32.ExitProcess",
        "kernel32.GetPrivateProfileStringA",
    ]
)


# The prefix's settings. One virtual desktop for every program of the prefix:
# windows get a caption bar as on Windows, the probe still finds them, exit
# codes still come back, and Wine no longer waits ~2 s for a closed window to
# be withdrawn, as it does on a bare X server.
REGISTRY = [
    (r"HKCU\Software\Wine\Debug", "RelayInclude", RELAY_INCLUDE),
    (r"HKCU\Software\Wine\Explorer", "Desktop", "Default"),
    (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "1024x768"),
]


def display() -> str:
    return (WORK / "display").read_text().strip()


def base_env(arch: str) -> dict:
    env = dict(os.environ)
    env.update(
        {
            "WINEPREFIX": str(WORK / f"prefix-{arch}"),
            "WINEARCH": "win32" if arch == "x86" else "win64",
            # Code page 932, so MessageBoxA reads the warning as Japanese.
            "LANG": "ja_JP.UTF-8",
            "LC_ALL": "ja_JP.UTF-8",
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=,winedbg.exe=d",
        }
    )
    if (WORK / "display").exists():
        env["DISPLAY"] = display()
    return env


def wine(arch: str, *args, env=None, **kwargs) -> subprocess.CompletedProcess:
    return subprocess.run(
        [LOADERS[arch], *args], env=env or base_env(arch), **kwargs
    )


# ---- the shared set-up: one display, one prefix per architecture ----


QEMU_I386 = Path("/proc/sys/fs/binfmt_misc/qemu-i386")


def can_run_i386() -> bool:
    # A kernel without i386 support refuses the exec itself (ENOEXEC) until
    # qemu is registered for it.
    try:
        return subprocess.run(["/lib/ld-linux.so.2", "--version"],
                              capture_output=True).returncode == 0
    except OSError:
        return False


def qemu_registered() -> bool:
    try:
        return QEMU_I386.read_text().startswith("enabled")
    except OSError:
        return False


def how_it_runs(arch: str) -> str:
    """How this machine runs the architecture's Wine: "native", or "qemu-i386"
    where the kernel cannot run i386 binaries and qemu's user-mode emulator
    runs them instead (registered with binfmt_misc, it takes them even where
    the kernel could). Decided from the machine, each time."""
    if arch == "x86" and (qemu_registered() or not can_run_i386()):
        return "qemu-i386"
    return "native"


def can_show_windows(arch: str) -> bool:
    """32-bit Wine's desktop process crashes under qemu-i386 (its ntdll cannot
    be placed where it wants), so no window appears there."""
    return how_it_runs(arch) == "native"


def why_no_windows(arch: str) -> str:
    return (f"{arch}: this machine runs i386 binaries only through qemu-i386 user-mode "
            "emulation, under which 32-bit Wine cannot show a window")


def can_schedule_tasks(arch: str) -> bool:
    """Under qemu-i386 32-bit Wine's Task Scheduler service does not run
    (schtasks /Create fails: Connect 0x80041315, the service is not
    running), so no task can be registered there."""
    return how_it_runs(arch) == "native"


def why_no_task_scheduler(arch: str) -> str:
    return (f"{arch}: this machine runs i386 binaries only through qemu-i386 user-mode "
            "emulation, under which 32-bit Wine's Task Scheduler service does not run, so "
            "schtasks cannot register a task")


def enable_i386_through_qemu():
    """Some kernels here cannot run i386 binaries, which Wine's 32-bit loader
    is: let qemu's user-mode emulator run them instead."""
    if can_run_i386():
        return
    misc = Path("/proc/sys/fs/binfmt_misc")
    if not (misc / "register").exists():
        subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", str(misc)], check=True)
    if not QEMU_I386.exists():
        rule = (
            r":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00"
            r":\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff"
            r":/usr/bin/qemu-i386:F"
        )
        (misc / "register").write_text(rule)
    if not can_run_i386():
        raise SystemExit("cannot run i386 binaries, even through qemu-i386")


def start_display():
    WORK.mkdir(parents=True, exist_ok=True)
    number = next(n for n in range(90, 200) if not Path(f"/tmp/.X11-unix/X{n}").exists()
                  and not Path(f"/tmp/.X{n}-lock").exists())
    server = subprocess.Popen(
        ["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
    )
    for _ in range(100):
        if Path(f"/tmp/.X11-unix/X{number}").exists():
            break
        time.sleep(0.05)
    (WORK / "display").write_text(f":{number}\n")
    (WORK / "xvfb.pid").write_text(f"{server.pid}\n")


# Wine's 32-bit builtin libraries and programs, which a new prefix's system
# folder gets byte for byte.
BUILTINS_I386 = Path("/usr/lib/i386-linux-gnu/wine/i386-windows")


def restore_builtins(arch: str):
    """Under qemu-i386 the process that fills a new 32-bit prefix crashes on
    some of the largest builtins (qemu leaves the trap number out of the
    signal context, so Wine cannot resolve its own page faults), and
    shell32.dll is among them: without it start.exe and cmd.exe cannot load,
    and every `wine reg`, `wine wmic` or `wine cmd` ends with status 53
    (STATUS_DLL_NOT_FOUND). Put in what Wine's own set-up would have copied:
    every builtin library found nowhere in the prefix."""
    if how_it_runs(arch) != "qemu-i386":
        return
    drive = drive_c(arch)
    present = {p.name.lower() for p in drive.rglob("*") if p.is_file()}
    restored = []
    for builtin in sorted(BUILTINS_I386.glob("*.dll")):
        if builtin.name.lower() not in present:
            shutil.copyfile(builtin, drive / "windows" / "system32" / builtin.name)
            restored.append(builtin.name)
    print(f"{arch}: restored the builtins Wine's set-up left out under qemu-i386: "
          f"{', '.join(restored) or 'none'}")


def prefix_processes(prefix: Path) -> list:
    """The host processes of one prefix, found by the WINEPREFIX they carry:
    under qemu-i386 they are all named qemu-i386, and a hung one may no longer
    answer its wineserver."""
    mark = f"WINEPREFIX={prefix}".encode()
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit() or int(entry.name) == os.getpid():
            continue
        try:
            if mark in (entry / "environ").read_bytes().split(b"\0"):
                found.append(int(entry.name))
        except OSError:
            pass
    return found


def end_prefix(arch: str):
    env = base_env(arch)
    subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=env, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for pid in prefix_processes(Path(env["WINEPREFIX"])):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def cpu_ticks(pid: int) -> int:
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])  # utime + stime
    except (OSError, IndexError, ValueError):
        return 0


def spinning(arch: str, seconds: float = 10) -> list:
    """Wine's processes of the prefix that used more than half a CPU over a
    span when none of ours runs. Under qemu-i386 a Wine service now and then
    loops at full speed from its start on, and starves every later run."""
    prefix = Path(base_env(arch)["WINEPREFIX"])
    before = {pid: cpu_ticks(pid) for pid in prefix_processes(prefix)}
    time.sleep(seconds)
    limit = os.sysconf("SC_CLK_TCK") * seconds / 2
    return [pid for pid, ticks in before.items() if cpu_ticks(pid) - ticks > limit]


def describe(pids: list) -> str:
    names = []
    for pid in pids:
        try:
            names.append(Path(f"/proc/{pid}/cmdline").read_bytes().replace(b"\0", b" ")
                         .decode(errors="replace").strip())
        except OSError:
            names.append(str(pid))
    return "; ".join(names)


ATTEMPTS = 3


def make_prefix(arch: str):
    env = base_env(arch)
    prefix = Path(env["WINEPREFIX"])
    # Under qemu-i386 wineboot takes about a minute, and now and then hangs for
    # good: end it, and make the prefix anew.
    for attempt in range(1, ATTEMPTS + 1):
        shutil.rmtree(prefix, ignore_errors=True)
        try:
            # Wine's services inherit the first command's output: keep it off
            # any pipe a caller waits on.
            wine(arch, "wineboot", "-i", stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL, timeout=300)
            break
        except subprocess.TimeoutExpired:
            end_prefix(arch)
            print(f"{arch}: wineboot did not end within 300 s (attempt {attempt} of "
                  f"{ATTEMPTS}); the prefix is made anew")
    else:
        raise SystemExit(f"{arch}: wineboot hung {ATTEMPTS} times")
    restore_builtins(arch)
    for key, value, data in REGISTRY:
        wine(arch, "reg", "add", key, "/v", value, "/t", "REG_SZ", "/d", data, "/f",
             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300,
             check=True)
    # The desktop process that wineboot started knows nothing of these: end
    # it, and the server, which saves the registry as it goes.
    subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=env, timeout=60)
    subprocess.run(["/usr/lib/wine/wineserver", "-w"], env=env, timeout=60)


# Programs that must end at once on a prefix whose services work: the first
# starts the services; the second asks the mount manager (in winedevice.exe)
# about drive C:, as the check does for each folder it names.
PROBES = (("cmd", "/c", "exit"), ("cmd", "/c", "vol", "c:"))
PROBE_SECONDS = 150


def hung_probe(arch: str, seconds: float = PROBE_SECONDS):
    for probe in PROBES:
        try:
            wine(arch, *probe, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                 stdin=subprocess.DEVNULL, timeout=seconds)
        except subprocess.TimeoutExpired:
            return " ".join(probe)
    return None


def start_services(arch: str):
    env = base_env(arch)
    for attempt in range(1, ATTEMPTS + 1):
        # A persistent server, so that each run does not start Wine's services
        # anew.
        subprocess.Popen(["/usr/lib/wine/wineserver", "-p"], env=env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).wait()
        # Under qemu-i386 a service now and then hangs for good from its start
        # on (seen: the first program, and every volume query after it), or
        # loops at full speed: either way every later run would fail, so end
        # them all and start again.
        hung = hung_probe(arch)
        busy = [] if hung else spinning(arch)
        if not hung and not busy:
            return
        why = (f"'{hung}' did not end within {PROBE_SECONDS} s" if hung else
               f"still busy 10 s after their start: {describe(busy)}")
        print(f"{arch}: Wine's services started anew (attempt {attempt} of {ATTEMPTS}), "
              f"as {why}")
        end_prefix(arch)
    raise SystemExit(f"{arch}: Wine's services did not start cleanly in {ATTEMPTS} tries")


def prepare_prefix(arch: str):
    env = base_env(arch)
    prefix = Path(env["WINEPREFIX"])
    # Named for what the prefix holds, so that an older one is made anew.
    ready = prefix / "tovrin-ready-builtins"
    if not ready.exists():
        make_prefix(arch)
        ready.write_text("ok\n")
    start_services(arch)
    # The first look for a window starts Wine's desktop process, which then
    # lives on with whatever output it inherited: start it here, on nothing.
    # The desktop closes shortly after its last program has ended, and one
    # started while the last closes shows nothing: keep a probe looking for a
    # window that never comes, so the desktop stays for every run.
    probe = ROOT / "build" / "sim" / arch / "boxprobe.exe"
    subprocess.Popen([LOADERS[arch], str(probe), "no such window", "86400000"], env=env,
                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, start_new_session=True)


def setup(arches):
    if "x86" in arches:
        enable_i386_through_qemu()
    start_display()
    for arch in arches:
        prepare_prefix(arch)


def teardown(arches):
    for arch in arches:
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=base_env(arch),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pid_file = WORK / "xvfb.pid"
    if pid_file.exists():
        try:
            os.kill(int(pid_file.read_text()), signal.SIGTERM)
        except ProcessLookupError:
            pass
        pid_file.unlink()
    (WORK / "display").unlink(missing_ok=True)


# ---- one run of the watchdog ----


@dataclass
class Call:
    ms: int
    api: str
    args: str
    result: str


@dataclass
class Journal:
    calls: list = field(default_factory=list)
    end: str = ""
    volumes: dict = field(default_factory=dict)
    other: list = field(default_factory=list)

    def of(self, api):
        return [c for c in self.calls if c.api == api]

    def pass_finished(self):
        """Something was committed and the write-back pass has let go of its
        list: after it the watchdog only waits for the warning's dismissal."""
        return bool(self.of("EwfMgrCommitAndDisableLive")) and \
            self.calls[-1].api == "EwfMgrVolumeNameListDelete"

    def balance(self):
        """Lists handed out and deleted, volume handles opened and closed:
        what the program obtained against what it gave back, by the calls."""
        return (len([c for c in self.of("EwfMgrGetProtectedVolumeList")
                     if c.result.startswith("list")]),
                len(self.of("EwfMgrVolumeNameListDelete")),
                len([c for c in self.of("EwfMgrOpenProtected") if c.result == "handle"]),
                len([c for c in self.of("EwfMgrClose") if c.result == "TRUE"]))


def read_journal(path: Path) -> Journal:
    journal = Journal()
    if not path.exists():
        return journal
    pattern = re.compile(r"^(\d+) (\w+)\((.*?)\)(?: -> (.*))?$")
    for line in path.read_text(errors="replace").splitlines():
        if line.startswith("volume "):
            words = line.split()
            journal.volumes[words[1]] = dict(w.split("=", 1) for w in words[2:])
        elif " end: " in line:
            journal.end = line.split(" end: ", 1)[1]
        elif (match := pattern.match(line)) and match.group(2).startswith("EwfMgr"):
            journal.calls.append(Call(int(match.group(1)), match.group(2), match.group(3),
                                      match.group(4) or ""))
        else:
            journal.other.append(line)
    return journal


@dataclass
class RelayCall:
    seconds: float
    thread: str
    kind: str  # Call or Ret
    api: str
    text: str


def read_relay(path: Path) -> list:
    calls = []
    pattern = re.compile(r"^(\d+\.\d+):([0-9a-f]+):(Call|Ret) +(\w+)\.(\w+)\((.*)$")
    for line in path.read_text(errors="replace").splitlines():
        match = pattern.match(line)
        if match and match.group(4).lower() in ("kernel32", "user32"):
            calls.append(RelayCall(float(match.group(1)), match.group(2), match.group(3),
                                   match.group(5), match.group(6)))
    return calls


def kit(arch: str) -> Path:
    """The folder of the architecture's executables as they ship: the release
    archive unpacked afresh, its SHA256SUMS verified as an operator would,
    and its files the ones just built, so that what ships is what is tested."""
    archives = sorted((ROOT / "dist").glob("tovrin-*.zip"))
    if len(archives) != 1:
        raise AssertionError(f"{len(archives)} release archives in dist/, not 1: run "
                             "bash tools/release.sh after both Windows builds")
    folder = WORK / f"kit-{arch}"
    shutil.rmtree(folder, ignore_errors=True)
    with zipfile.ZipFile(archives[0]) as archive:
        archive.extractall(folder)
    verified = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=folder,
                              capture_output=True, text=True)
    if verified.returncode != 0:
        raise AssertionError(f"{archives[0].name}: SHA256SUMS does not verify:\n"
                             f"{verified.stdout}{verified.stderr}")
    for program in ("tovrin.exe", "tovrin-check.exe"):
        if (folder / arch / program).read_bytes() != (ROOT / "dist" / arch / program).read_bytes():
            raise AssertionError(f"{archives[0].name} holds another {arch}/{program} than the "
                                 "build: run bash tools/release.sh again")
    print(f"from {archives[0].name}: {arch}/ verified against SHA256SUMS")
    return folder / arch


class Run:
    """The watchdog started in a folder of its own with the given INI and
    scenario; `relay` records the chosen platform calls. The executable comes
    from dist/ARCH, or from `exe_folder` (the unpacked kit)."""

    def __init__(self, arch, name, scenario, ini=None, exe_name="tovrin", extra_files=None,
                 exe_folder=None, library_beside=True):
        self.arch = arch
        self.folder = WORK / "runs" / f"{arch}-{name}"
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder.mkdir(parents=True)
        source = exe_folder or ROOT / "dist" / arch
        shutil.copy(source / "tovrin.exe", self.folder / f"{exe_name}.exe")
        # Beside the watchdog, or, as on a protected machine, in the system
        # folder (install_library), told where the scenario and journal are.
        self.extra_env = {}
        if library_beside:
            shutil.copy(ROOT / "build" / "sim" / arch / "EWFAPI.dll", self.folder)
        else:
            self.extra_env = {"EWFSIM_SCENARIO": windows_path(self.folder / "ewfsim.txt"),
                              "EWFSIM_JOURNAL": windows_path(self.folder / "ewfsim.log")}
        (self.folder / "ewfsim.txt").write_text(scenario)
        if ini is not None:
            (self.folder / f"{exe_name}.ini").write_bytes(ini.encode())
        for file_name, text in (extra_files or {}).items():
            (self.folder / file_name).write_text(text)
        self.exe = f"{exe_name}.exe"
        self.process = None
        self.exit_code = None
        self.pressed = self.ended = None

    # Every run started by this process, so that a failed check cannot leave
    # a watchdog with its box up for the next scenario to find.
    started_runs = []

    def start(self):
        Run.started_runs.append(self)
        env = base_env(self.arch)
        env.update(self.extra_env)
        env["WINEDEBUG"] = "-all,+timestamp,+relay"
        self.relay_file = open(self.folder / "relay.txt", "wb")
        self.started = time.monotonic()
        self.stdout_file = open(self.folder / "stdout.txt", "wb")
        self.process = subprocess.Popen([LOADERS[self.arch], self.exe], cwd=self.folder, env=env,
                                        stdin=subprocess.DEVNULL, stdout=self.stdout_file,
                                        stderr=self.relay_file)
        return self

    def probe_box(self, timeout_ms):
        """The warning as the Win32 API reads it, or None when none shows."""
        probe = ROOT / "build" / "sim" / self.arch / "boxprobe.exe"
        # A file, not a pipe: no process that Wine starts may hold our read open.
        output = self.folder / "box.txt"
        with open(output, "wb") as sink:
            result = wine(self.arch, str(probe), CAPTION, str(timeout_ms), stdout=sink,
                          stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                          timeout=timeout_ms / 1000 + 120)
        if result.returncode != 0:
            return None
        box = {"button": [], "static": []}
        for line in output.read_text(encoding="utf-8", errors="replace").splitlines():
            key, _, value = line.partition("=")
            if key in box:
                box[key].append(value)
            else:
                box[key] = value
        return box

    def press_ok(self):
        """Presses Enter on the box, as a user at the keyboard would."""
        env = {**os.environ, "DISPLAY": display()}
        found = subprocess.run(["xdotool", "search", "--name", CAPTION], env=env,
                               capture_output=True, text=True)
        windows = found.stdout.split()
        if not windows:
            raise AssertionError("no warning window to press OK on")
        self.pressed = time.monotonic()
        subprocess.run(["xdotool", "key", "Return"], env=env,
                       capture_output=True)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", str(path)],
                       env={**os.environ, "DISPLAY": display()}, check=True)

    def wait(self, timeout):
        self.exit_code = self.process.wait(timeout=timeout)
        self.ended = time.monotonic()
        self.relay_file.close()
        self.stdout_file.close()
        return self.exit_code

    @property
    def ok_to_exit_ms(self):
        """From the key press on OK to the process's end, on the wall clock."""
        return (self.ended - self.pressed) * 1000

    def stop(self):
        """Ends a watchdog that would poll forever."""
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        elif self.exit_code is None:
            # It ended before it was stopped: keep how.
            self.exit_code = self.process.returncode
        self.relay_file.close()
        self.stdout_file.close()

    @staticmethod
    def stop_all():
        for run in Run.started_runs:
            run.stop()

    def journal(self) -> Journal:
        return read_journal(self.folder / "ewfsim.log")

    def wait_for(self, condition, timeout) -> Journal:
        """The journal once condition(journal) holds, or as it stands after
        `timeout` seconds."""
        deadline = time.monotonic() + timeout
        journal = self.journal()
        while not condition(journal) and time.monotonic() < deadline:
            time.sleep(0.2)
            journal = self.journal()
        return journal

    def relay(self) -> list:
        return read_relay(self.folder / "relay.txt")

    def own_output(self) -> list:
        """What the program itself wrote on stdout and stderr: every line of
        stdout, and the lines of stderr that are not Wine's own (each of
        those starts with its time stamp and thread) nor the X library's
        report of a failed request, nor qemu's of a crash where the program's
        own process did not die of one. 32-bit Wine under qemu makes those
        last two in the desktop process that the box starts, which writes
        where the program does, at times into the middle of a line."""
        others = [r"\s*\d+\.\d+:[0-9a-f]+:",
                  r"\s*(X Error|Major opcode|Minor opcode|Resource id|Atom id|Value|Serial number|"
                  r"Current serial number) (of|in) (failed request|output stream)"]
        if self.exit_code is None or self.exit_code >= 0:
            others.append(r"qemu: uncaught target signal")
        other = re.compile("|".join(others))
        lines = (self.folder / "stdout.txt").read_text(errors="replace").splitlines()
        lines += [line for line in (self.folder / "relay.txt").read_text(errors="replace")
                  .splitlines() if not other.match(line)]
        return lines


# ---- for the installation check: the prefix as a protected machine ----


def windows_path(path: Path) -> str:
    """A Linux path as Wine's programs name it: the root is drive Z:."""
    return "Z:" + str(path.resolve()).replace("/", "\\")


def system_folders(arch: str) -> dict:
    """Where each architecture's EWFAPI.dll lives: one system folder on 32-bit
    Windows; on 64-bit Windows the 32-bit libraries are in SysWOW64."""
    windows = drive_c(arch) / "windows"
    if arch == "x86":
        return {"x86": windows / "system32"}
    return {"x64": windows / "system32", "x86": windows / "syswow64"}


def install_library(arch: str, variant: str = ""):
    """The stand-in library ("" the full one, "old" the one without the live
    commit) into the prefix's system folders, as on a protected machine."""
    for library_arch, folder in system_folders(arch).items():
        source = ROOT / "build" / "sim" / library_arch / variant / "EWFAPI.dll"
        if not source.exists():
            if library_arch == arch:
                raise AssertionError(f"{source} is not built")
            print(f"note: {source} is not built; {folder} keeps what it has")
            continue
        shutil.copyfile(source, folder / "EWFAPI.dll")


def drive_c(arch: str) -> Path:
    """The prefix's C: drive, where a test installs as on a real machine."""
    return WORK / f"prefix-{arch}" / "drive_c"


def windows_processes(arch: str) -> list:
    """(name, process id) of every Windows process of the prefix, as Wine
    itself numbers them (Wine's tasklist is a stub; its wmic is not)."""
    output = WORK / f"processes-{arch}.txt"
    with open(output, "wb") as sink:
        wine(arch, "wmic", "process", "get", "Name,ProcessId", stdout=sink,
             stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=120, check=True)
    data = output.read_bytes()
    text = data.decode("utf-16") if data[:2] == b"\xff\xfe" else data.decode(errors="replace")
    processes = []
    for line in text.splitlines():
        match = re.match(r"^(\S.*?)\s+(\d+)\s*$", line)
        if match:
            processes.append((match.group(1), int(match.group(2))))
    return processes
