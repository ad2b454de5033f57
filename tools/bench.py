"""Benchmark of the Windows executables under Wine, each figure beside a
baseline measured in the same run. Writes build/bench.md.

    python3 tools/bench.py [--polling-seconds 120] [--runs 5] [x64] [x86]

- crossing to first commit: the overlay is stepped over the limit at a known
  time; the delay to the first commit, against the poll interval (2000 ms).
- OK to exit: from MessageBoxA's return to ExitProcess in Wine's relay log,
  against the 100 ms step (x64 only: no 32-bit window can be shown here).
- CPU time while polling below the limit, against a program that only
  sleeps 2000 ms in a loop, both running side by side for the same time.
"""

import argparse
import os
import platform
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import wine  # noqa: E402

V1 = r"\Device\HarddiskVolume1"


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def crossing_delays(arch, runs):
    delays = []
    for index in range(runs):
        # A different phase each run, so the crossing falls anywhere in a poll.
        at = 3000 + index * 400
        run = wine.Run(arch, f"bench-crossing-{index}",
                       f"volume {V1} letter=C size=10M\nstep {V1} at={at} size=20M\n",
                       ini="[TOVRIN]\nlimit=16\n").start()
        commits = run.wait_for(lambda j: j.of("EwfMgrCommitAndDisableLive"),
                               60).of("EwfMgrCommitAndDisableLive")
        if arch == "x64" and run.probe_box(30000) is not None:
            run.press_ok()
            run.wait(60)
        else:
            run.stop()
        if commits:
            delays.append(commits[0].ms - at)
    return delays


def exit_delays(arch, runs):
    delays = []
    for index in range(runs):
        run = wine.Run(arch, f"bench-exit-{index}", f"volume {V1} letter=C size=2M\n",
                       ini="[TOVRIN]\nlimit=1\n").start()
        if run.probe_box(30000) is None:
            run.stop()
            continue
        time.sleep(0.5 + 0.13 * index)
        run.press_ok()
        run.wait(60)
        relay = run.relay()
        returned = [c for c in relay if c.kind == "Ret" and c.api == "MessageBoxA"]
        exited = [c for c in relay if c.kind == "Call" and c.api == "ExitProcess"]
        if returned and exited:
            delays.append((exited[0].seconds - returned[0].seconds) * 1000)
    return delays


def polling_cpu(arch, seconds):
    run = wine.Run(arch, "bench-polling", f"volume {V1} letter=C size=1M\n",
                   ini="[TOVRIN]\nlimit=1000\n")
    env = wine.base_env(arch)
    sleeper = subprocess.Popen([wine.LOADERS[arch], str(ROOT / "build" / "sim" / arch /
                                                        "sleeper.exe")],
                               env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    run.start()
    time.sleep(5)  # past start-up, which is Wine's cost, not the loop's
    start = (cpu_seconds(run.process.pid), cpu_seconds(sleeper.pid))
    time.sleep(seconds)
    end = (cpu_seconds(run.process.pid), cpu_seconds(sleeper.pid))
    polls = len(run.journal().of("EwfMgrGetProtectedVolumeList"))
    run.stop()
    sleeper.kill()
    sleeper.wait()
    return end[0] - start[0], end[1] - start[1], polls


def summary(values, unit):
    if not values:
        return "not measured"
    return (f"mean {statistics.mean(values):.0f} {unit}, min {min(values):.0f}, "
            f"max {max(values):.0f} (n={len(values)})")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("arches", nargs="*", default=["x64", "x86"])
    parser.add_argument("--polling-seconds", type=int, default=120)
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()

    wine.setup(options.arches)
    rows = []
    try:
        for arch in options.arches:
            crossing = crossing_delays(arch, options.runs)
            rows.append((arch, "overlay crossing the limit to first commit",
                         summary(crossing, "ms"), "poll interval 2000 ms"))
            if arch == "x64":
                leaving = exit_delays(arch, options.runs)
                rows.append((arch, "OK to process exit (the watchdog's own share)",
                             summary(leaving, "ms"), "one step 100 ms"))
            watchdog, baseline, polls = polling_cpu(arch, options.polling_seconds)
            rows.append((arch, f"CPU time in {options.polling_seconds} s of polling "
                               f"({polls} polls)",
                         f"{watchdog * 1000:.0f} ms", f"sleep-only program {baseline * 1000:.0f} ms"))
    finally:
        wine.teardown(options.arches)

    machine = (f"{platform.node()}: {os.cpu_count()} cores, Linux {platform.release()}, "
               f"{subprocess.run(['/usr/lib/wine/wine64', '--version'], capture_output=True, text=True).stdout.strip()}"
               f"{', x86 under qemu-i386 user-mode emulation' if 'x86' in options.arches else ''}")
    lines = [f"Measured {time.strftime('%Y-%m-%d')} on {machine}.", "",
             "| exe | measure | result | baseline |", "|---|---|---|---|"]
    lines += [f"| {a} | {m} | {r} | {b} |" for a, m, r, b in rows]
    report = "\n".join(lines) + "\n"
    (ROOT / "build").mkdir(exist_ok=True)
    (ROOT / "build" / "bench.md").write_text(report)
    print(report)


if __name__ == "__main__":
    main()
