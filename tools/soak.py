"""Soak run (not part of CI): the watchdog under Wine for a long time against
an overlay that rises and falls below the limit, then crosses it.

    python3 tools/soak.py [--minutes 30] [--arch x86]

Reports the polls seen, that nothing was committed below the limit, the
write filter's outstanding lists and handles at the end, and the process's
memory at the start and at the end of the polling.
"""

import argparse
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import wine  # noqa: E402

V1, V2 = r"\Device\HarddiskVolume1", r"\Device\HarddiskVolume2"
LIMIT_MIB = 64


def resident_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def scenario(seconds):
    """Rising and falling below 64 MiB every 15 s, crossing at the end."""
    lines = [f"volume {V1} letter=C size=10M", f"volume {V2} letter=D size=2M"]
    levels = [10, 40, 61, 25, 60, 5, 50, 61]
    at, index = 15000, 0
    while at < (seconds - 20) * 1000:
        lines.append(f"step {V1} at={at} size={levels[index % len(levels)]}M")
        at, index = at + 15000, index + 1
    cross_at = seconds * 1000
    lines.append(f"step {V1} at={cross_at} size=70M")
    return "\n".join(lines) + "\n", cross_at


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--arch", default="x86")
    options = parser.parse_args()
    seconds = int(options.minutes * 60)
    text, cross_at = scenario(seconds)

    wine.setup([options.arch])
    try:
        run = wine.Run(options.arch, "soak", text, ini=f"[TOVRIN]\nlimit={LIMIT_MIB}\n").start()
        # Sampled all along: one pair cannot tell a leak from Wine settling.
        samples = []
        started = time.monotonic()
        while time.monotonic() - started < seconds - 5:
            time.sleep(min(30, max(0, seconds - 5 - (time.monotonic() - started))))
            samples.append((time.monotonic() - started, resident_kib(run.process.pid)))
        # The crossing, then the pass; the box shows where Wine can show one.
        run.wait_for(wine.Journal.pass_finished, 120)
        box = run.probe_box(20000) if wine.can_show_windows(options.arch) else None
        if box is not None:
            run.press_ok()
            run.wait(60)
        else:
            run.stop()
        journal = run.journal()
    finally:
        wine.teardown([options.arch])

    lists = journal.of("EwfMgrGetProtectedVolumeList")
    commits = journal.of("EwfMgrCommitAndDisableLive")
    early = [c for c in commits if c.ms < cross_at]
    handed, deleted, opened, closed = journal.balance()
    polls = len(lists) - (1 if commits else 0)
    print(f"{options.arch}, {options.minutes:g} minutes, limit {LIMIT_MIB} MiB")
    print(f"polls: {polls} (about one per 2 s: {seconds / 2:.0f} expected)")
    print(f"commits below the limit: {len(early)}; commits after crossing: {len(commits) - len(early)}")
    print(f"lists handed out {handed}, deleted {deleted}; volume handles opened {opened}, "
          f"closed {closed}")
    if journal.end:
        print(f"simulator at unload: {journal.end}")
    settled = [kib for at, kib in samples if at >= 60] or [samples[-1][1]]
    print(f"resident memory: {samples[0][1]} KiB at {samples[0][0]:.0f} s; from the first "
          f"minute on {settled[0]} KiB, then min {min(settled)}, max {max(settled)}, "
          f"{settled[-1]} KiB at the end ({len(samples)} samples)")
    ok = not early and handed == deleted and opened == closed and commits
    print("soak: " + ("clean" if ok else "FAILED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
