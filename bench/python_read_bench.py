#!/usr/bin/env python3
"""The Python module's reads against floors measured in the same run.

  market daily:  Tree.market("daily") of the full sample market (all
                 securities, 60 days of daily lines) into one frame, against
                 reading the same files' bytes in this process, and against
                 pandas.read_csv of the same rows exported as CSV;
  one 1-minute:  Tree.minutes() of one security over its whole retention
                 (a file of 120 days), as a frame and as an array, against
                 reading the file's bytes.

The trees are made once by marbloom-samplegen and marbloom-cli of the build
(about ten minutes) and kept in <build>/bench-python/
for later runs. Each time is the best of several runs on a warm cache.

  bench/python_read_bench.py BUILD
"""
import datetime
import os
import shutil
import subprocess
import sys
import tempfile
import time

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build-bench")
sys.path.insert(0, os.path.join(build, "python"))
import marbloom  # noqa: E402
import pandas as pd  # noqa: E402

CLI = os.path.join(build, "src/cli/marbloom-cli")
SAMPLEGEN = os.path.join(build, "tools/samplegen/marbloom-samplegen")
ROOT = os.path.join(build, "bench-python")


def weekdays(first, count):
    day, days = datetime.date(*first), []
    while len(days) < count:
        if day.weekday() < 5:
            days.append(day.strftime("%Y%m%d"))
        day += datetime.timedelta(days=1)
    return days


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_tree(name, days, tick_days, securities):
    """A work directory whose tree holds `days` of daily lines of the sample
    market of `securities` and the minute lines of the last `tick_days`,
    made from realistic tick days (the other days' short tick days, quicker
    to make, are not converted); made once."""
    work = os.path.join(ROOT, name, "work")
    done = os.path.join(ROOT, name, "made")
    if os.path.exists(done):
        return work
    history = os.path.join(ROOT, name, "hist") + "/"
    os.makedirs(work, exist_ok=True)
    cli = [CLI, "-q", "--no-undo", "-C", work]
    run(*cli, "settings", "set", "VIPDOC=" + history)
    for batch in range(0, len(days), 20):
        dates = days[batch:batch + 20]
        for date in dates:
            full = ["--full"] if date in days[-tick_days:] else []
            run(SAMPLEGEN, "day", "--date", date, "--securities", str(securities), *full, "--tree", history)
        run(*cli, "daily", "convert", "--from", dates[0], "--to", dates[-1])
        ticks = [date for date in dates if date in days[-tick_days:]]
        if ticks:
            run(*cli, "tick", "convert", "--from", ticks[0], "--to", ticks[-1])
            run(*cli, "minutes", "build", "--from", ticks[0], "--to", ticks[-1])
        for converted in ("refmhq", "newdatetick"):  # the sources, no longer needed
            shutil.rmtree(history + converted, ignore_errors=True)
    open(done, "w").close()
    return work


def best(call, runs=5):
    """The shortest wall time of `runs` calls, and the shortest process time
    (every thread's CPU time)."""
    wall, cpu = [], []
    for _ in range(runs):
        began, began_cpu = time.perf_counter(), time.process_time()
        call()
        wall.append(time.perf_counter() - began)
        cpu.append(time.process_time() - began_cpu)
    return min(wall), min(cpu)


def read_bytes(paths):
    for path in paths:
        fd = os.open(path, os.O_RDONLY)
        try:
            while os.read(fd, 1 << 20):
                pass
        finally:
            os.close(fd)


def daily_paths(history):
    """Every daily file, as a listing of the three markets' folders finds them."""
    paths = []
    for market in ("bj", "sh", "sz"):
        folder = os.path.join(history, market, "lday")
        paths += [os.path.join(folder, name) for name in sorted(os.listdir(folder)) if name.endswith(".day")]
    return paths


def line(name, measured, floor, unit=1e3, label="ms"):
    print(f"  {name:34} wall {measured[0] * unit:8.1f} {label} (ratio {measured[0] / floor[0]:5.2f})"
          f"   cpu {measured[1] * unit:8.1f} {label} (ratio {measured[1] / floor[1]:5.2f})")


def bench_market(work):
    tree = marbloom.open(work)
    codes = tree.securities("daily")
    daily_paths.cached = daily_paths(tree.history_dir)
    frame = tree.market("daily")
    floor = best(lambda: read_bytes(daily_paths(tree.history_dir)))
    floor_listed = best(lambda: read_bytes(daily_paths.cached))
    ours = best(lambda: tree.market("daily"))
    listed = best(lambda: tree.market("daily", codes))
    array = best(lambda: tree.market("daily", as_array=True))
    with tempfile.TemporaryDirectory() as scratch:
        csv = os.path.join(scratch, "market.csv")
        frame.to_csv(csv)
        pandas_csv = best(lambda: pd.read_csv(csv, parse_dates=["date"], index_col=["code", "date"]), runs=3)
    print(f"market daily: {len(codes)} securities, {len(frame)} rows; load average {os.getloadavg()[0]:.1f}")
    print(f"  floor: list the folders, read the files' bytes  wall {floor[0] * 1e3:.1f} ms   cpu {floor[1] * 1e3:.1f} ms")
    line("market('daily') frame (at most 1.3)", ours, floor)
    line("market('daily') array", array, floor)
    line("market('daily', codes) frame", listed, floor_listed)
    print("    (against reading the files of a list made beforehand)")
    line("pandas.read_csv of the rows", pandas_csv, ours)
    print("    (ratio against the frame's time: at least 10 expected)")


def bench_minutes(work):
    tree = marbloom.open(work)
    code = tree.securities("1min")[0]
    path = os.path.join(tree.history_dir, code[:2], "minline", code + ".01")
    frame = tree.minutes(code)
    floor = best(lambda: read_bytes([path]), runs=50)
    days = frame.index.normalize().nunique()
    print(f"one 1-minute: {code}, {days} days, {len(frame)} bars, {os.path.getsize(path)} bytes")
    print(f"  floor: read the file's bytes  wall {floor[0] * 1e6:.0f} us")
    line("minutes() frame (at most 1.3)", best(lambda: tree.minutes(code), runs=50), floor, 1e6, "us")
    line("minutes() array", best(lambda: tree.minutes(code, as_array=True), runs=50), floor, 1e6, "us")


if __name__ == "__main__":
    bench_minutes(make_tree("retention", weekdays((2024, 1, 2), 120), 120, 8))
    bench_market(make_tree("market", weekdays((2024, 1, 2), 60), 5, 16000))
