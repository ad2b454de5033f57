"""Benchmark of the Windows executables under Wine, each figure beside a
baseline measured in the same run and labelled with how it ran. Writes
build/bench.md.

    python3 tools/bench.py [--polling-seconds 120] [--runs 5] [x86] [x64]

- crossing to first commit: the overlay is stepped over the limit at a known
  time; the delay to the first commit, against the poll interval (2000 ms).
- OK to exit: from MessageBoxA's return to ExitProcess in Wine's relay log
  (the watchdog's own share) and from the key press to the process's end on
  the wall clock, against the 100 ms step. Only where the machine can show
  the architecture's window.
- CPU while polling below the limit, per poll, against a program that only
  sleeps 2000 ms in a loop, per sleep, both running side by side for the same
  time. Read in nanoseconds from every thread's schedstat: the 10 ms tick of
  /proc/PID/stat cannot tell the two apart.
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


def cpu_ns(pid):
    """Time on a CPU of every live thread of the process, in nanoseconds."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            total += int((task / "schedstat").read_text().split()[0])
        except (OSError, ValueError):
            pass  # a thread that has just ended
    return total


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
        if wine.can_show_windows(arch) and run.probe_box(30000) is not None:
            run.press_ok()
            run.wait(60)
        else:
            run.stop()
        if commits:
            delays.append(commits[0].ms - at)
    return delays


def exit_delays(arch, runs):
    """The watchdog's own share from the relay log, and the wall clock's."""
    own, wall = [], []
    for index in range(runs):
        run = wine.Run(arch, f"bench-exit-{index}", f"volume {V1} letter=C size=2M\n",
                       ini="[TOVRIN]\nlimit=1\n").start()
        if run.probe_box(30000) is None:
            run.stop()
            continue
        time.sleep(0.5 + 0.13 * index)
        run.press_ok()
        run.wait(60)
        wall.append(run.ok_to_exit_ms)
        relay = run.relay()
        returned = [c for c in relay if c.kind == "Ret" and c.api == "MessageBoxA"]
        exited = [c for c in relay if c.kind == "Call" and c.api == "ExitProcess"]
        if returned and exited:
            own.append((exited[0].seconds - returned[0].seconds) * 1000)
    return own, wall


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
    start = (cpu_ns(run.process.pid), cpu_ns(sleeper.pid))
    polls_before = len(run.journal().of("EwfMgrGetProtectedVolumeList"))
    time.sleep(seconds)
    end = (cpu_ns(run.process.pid), cpu_ns(sleeper.pid))
    polls = len(run.journal().of("EwfMgrGetProtectedVolumeList")) - polls_before
    run.stop()
    sleeper.kill()
    sleeper.wait()
    return end[0] - start[0], end[1] - start[1], polls


def summary(values, unit):
    if not values:
        return "not measured"
    return (f"mean {statistics.mean(values):.0f} {unit}, min {min(values):.0f}, "
            f"max {max(values):.0f} (n={len(values)})")


def wine_version():
    return subprocess.run(["/usr/lib/wine/wine64", "--version"], capture_output=True,
                          text=True).stdout.strip()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("arches", nargs="*", default=["x86", "x64"])
    parser.add_argument("--polling-seconds", type=int, default=120)
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()

    wine.setup(options.arches)
    rows = []
    try:
        for arch in options.arches:
            how = f"{wine.how_it_runs(arch)} {'32' if arch == 'x86' else '64'}-bit Wine"
            crossing = crossing_delays(arch, options.runs)
            rows.append((arch, how, "overlay crossing the limit to first commit",
                         summary(crossing, "ms"), "poll interval 2000 ms"))
            if wine.can_show_windows(arch):
                own, wall = exit_delays(arch, options.runs)
                rows.append((arch, how, "OK to ExitProcess (relay log: the watchdog's own share)",
                             summary(own, "ms"), "one step 100 ms"))
                rows.append((arch, how, "key press on OK to process end (wall clock)",
                             summary(wall, "ms"), "one step 100 ms"))
            else:
                rows.append((arch, how, "OK to exit", "not measured: "
                             + wine.why_no_windows(arch), "one step 100 ms"))
            watchdog, baseline, polls = polling_cpu(arch, options.polling_seconds)
            sleeps = options.polling_seconds / 2
            rows.append((arch, how, f"CPU per poll ({polls} polls in "
                                    f"{options.polling_seconds} s)",
                         f"{watchdog / max(polls, 1) / 1000:.0f} µs "
                         f"({watchdog / 1e6:.1f} ms in all)",
                         f"sleep-only program {baseline / sleeps / 1000:.0f} µs per 2 s "
                         f"({baseline / 1e6:.1f} ms in all)"))
    finally:
        wine.teardown(options.arches)

    machine = (f"{platform.node()}: {os.cpu_count()} cores, Linux {platform.release()}, "
               f"{wine_version()}")
    lines = [f"Measured {time.strftime('%Y-%m-%d')} on {machine}; {options.runs} runs each, "
             f"{options.polling_seconds} s of polling.", "",
             "| exe | how it ran | measure | result | baseline |", "|---|---|---|---|---|"]
    lines += [f"| {a} | {h} | {m} | {r} | {b} |" for a, h, m, r, b in rows]
    report = "\n".join(lines) + "\n"
    (ROOT / "build").mkdir(exist_ok=True)
    (ROOT / "build" / "bench.md").write_text(report)
    print(report)


if __name__ == "__main__":
    main()
