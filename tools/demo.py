"""The whole story in under a minute: the watchdog installed as the guide
says (the kit's own log-on task, the installation committed before the last
boot) and running under Wine, the installation check's report on that
machine, a simulated RAM overlay that fills past a low limit, the warning on
screen (saved as a PNG), OK pressed, and what the write filter went through.
The simulated write filter library is in the Wine prefix's system folder, as
on a protected machine.

    python3 tools/demo.py [x86|x64]

x86 by default, the executable most protected machines run; x64 where this
machine cannot show a 32-bit window."""

import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import wine  # noqa: E402
from check_scenarios import BEFORE_BOOT, date_before_boot, task_file  # noqa: E402

LIMIT_MIB = 48
QUIET_MS = 8000
# Two protected volumes; C: holds 20 MiB while the check runs, then the kiosk
# writes 8 MiB a second. Steps rather than growth: each process's library
# keeps its own clock, so the check reads the quiet overlay however long
# Wine takes to start it.
SCENARIO = ("volume \\Device\\HarddiskVolume1 letter=C size=20M\n"
            "volume \\Device\\HarddiskVolume2 letter=D size=4M\n"
            + "".join(f"step \\Device\\HarddiskVolume1 at={QUIET_MS + 1000 * n} "
                      f"size={20 + 8 * (n + 1)}M\n" for n in range(5)))
# What only Wine causes in the report of a correct installation, one line each.
ONLY_WINE = {
    "access.": "Wine gives every file to its own account and keeps no permissions, so "
               "the access lines warn",
}


def build(arch):
    preset = f"win-{arch}"
    for command in (["cmake", "--preset", preset], ["cmake", "--build", "--preset", preset, "-j2"]):
        subprocess.run(command, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def register_task(arch, run):
    """The kit's task as Task Scheduler keeps it, its command pointed at the
    demo's folder: Wine's schtasks /XML would keep neither trigger nor
    command, so the file is written into the task store as Export writes it."""
    xml = (ROOT / "windows" / "tovrin-task.xml").read_text(encoding="ascii")
    xml = xml.replace("C:\\Tovrin\\tovrin.exe", wine.windows_path(run.folder / "tovrin.exe"))
    path = task_file(arch).with_name("Tovrin")
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(b"\xff\xfe" + xml.replace("\r\n", "\n").replace("\n", "\r\n")
                     .encode("utf-16-le"))
    return path


def check(arch, run):
    """tovrin-check.exe beside the running watchdog, as the guide has the
    installer run it after the restart that follows the commit."""
    env = wine.base_env(arch)
    env.update(run.extra_env)
    # Its own journal: the watchdog's must show the watchdog alone.
    env["EWFSIM_JOURNAL"] = wine.windows_path(run.folder / "check.log")
    print(f"tovrin-check.exe, run where the watchdog is installed "
          f"({wine.windows_path(run.folder)}):\n")
    result = wine.wine(arch, "tovrin-check.exe", cwd=run.folder, env=env, capture_output=True,
                       stdin=subprocess.DEVNULL, timeout=120)
    print("  " + result.stdout.decode(errors="replace").replace("\r\n", "\n  ").rstrip())
    lines = result.stdout.decode(errors="replace").splitlines()
    explained = set()
    for line in lines:
        for key, why in ONLY_WINE.items():
            if f" {key}" in line and line.split()[0] in ("WARNING", "PROBLEM"):
                explained.add(why)
    print(f"\n  exit code {result.returncode}.")
    for why in sorted(explained):
        print(f"  Only under Wine: {why}.")
    print()


def main():
    arch = sys.argv[1] if len(sys.argv) > 1 else "x86"
    if arch not in ("x86", "x64"):
        raise SystemExit("usage: demo.py [x86|x64]")
    if not wine.can_show_windows(arch):
        print(f"{wine.why_no_windows(arch)}: showing x64 instead")
        arch = "x64"
    build(arch)
    shot = wine.WORK.parent / "demo" / "warning.png"
    shot.parent.mkdir(parents=True, exist_ok=True)
    wine.setup([arch])
    try:
        print(f"{arch}: dist/{arch}/tovrin.exe, {wine.how_it_runs(arch)} Wine")
        print(f"limit {LIMIT_MIB} MiB; C: holds 20 MiB and from {QUIET_MS // 1000} s on grows "
              "8 MiB/s, D: holds 4 MiB")
        wine.install_library(arch)
        run = wine.Run(arch, "demo", SCENARIO, ini=f"[TOVRIN]\nlimit={LIMIT_MIB}\n",
                       library_beside=False)
        shutil.copy(wine.ROOT / "dist" / arch / "tovrin-check.exe", run.folder)
        task = register_task(arch, run)
        # Committed before the last boot, as a finished installation is.
        date_before_boot(run.folder)
        os.utime(task, (BEFORE_BOOT, BEFORE_BOOT))
        try:
            run.start()
            started = time.monotonic()
            check(arch, run)
        finally:
            task.unlink()
        box = run.probe_box(60000)
        if box is None:
            run.stop()
            raise SystemExit("no warning appeared")
        run.screenshot(shot)
        print(f"warning on screen after {time.monotonic() - started:.1f} s: "
              f"\"{box['caption']}\"; screenshot: {shot}")
        print("  " + box["static"][0].replace("\\n", "\n  "))
        time.sleep(1)
        run.press_ok()
        code = run.wait(60)
        print(f"OK pressed; the watchdog exited with code {code}\n")
        journal = run.journal()
        sizes = {}
        for call in journal.calls:
            if call.api == "EwfMgrGetProtectedVolumeConfig":
                sizes[call.args] = call.result.split()[-1]
        print("what the write filter went through:")
        for call in journal.calls:
            if call.api in ("EwfMgrCommitAndDisableLive", "EwfMgrEnable"):
                print(f"  {call.ms / 1000:6.2f} s  {call.api}({call.args}) -> {call.result}")
        print("\nvolume                   last measured   committed     state     next boot")
        for name, state in journal.volumes.items():
            print(f"  {name:22} {int(sizes.get(name, 0)) / 1048576:8.1f} MiB "
                  f"{int(state['committed']) / 1048576:8.1f} MiB  {state['state']:9} "
                  f"{state['boot']}")
        print(f"\nsimulator at unload: {journal.end}")
    finally:
        wine.teardown([arch])


if __name__ == "__main__":
    main()
