#!/usr/bin/env python3
"""history_bench.py - what a history of snapshots costs: database size per snapshot, snapshot time, comparisons.

Usage:
  bench/history/history_bench.py --cli build-rel/bin/corvina-cli [--runs 5]
  bench/history/history_bench.py --cli NEW/corvina-cli --cli-before OLD/corvina-cli   # two builds side by side
  bench/history/history_bench.py --cli ... --analysis-bench build-rel/bench/analysis/analysis_bench
  bench/history/history_bench.py --cli ... --server            # the same on a throwaway server too

Makes (when missing) the tree make_tree.py --dirs 100000 --files 1000000
--seed 1 in --tree (about half a minute; it stays for the next run). Then, for
each binary and each kind of snapshot (with every file, directories only),
each into its own fresh database:

  1. a first snapshot and a second one of the unchanged tree, --runs times
     (every round in fresh databases, du -sb timed in the same round; the
     cache is warmed by an untimed du -sb first): median wall time of each
     snapshot as a multiple of du -sb's median, CPU seconds, peak resident
     memory;
  2. the database size after the first and after the second snapshot of the
     last round (the file plus its -wal once the command has exited; on a
     server, pg_database_size);
  3. 1 % of the files, chosen by random.Random(--seed) once for all
     databases, each grow by 100 bytes; a third snapshot goes into every
     database and its added size is printed; the tree is put back as it was
     (a marker file beside the tree lets the next run undo an interrupted one);
  4. `analyse changed-files --compare previous --limit 0` between the last
     two snapshots (1 % apart) of the every-file database as a whole process:
     median wall of --runs after an untimed run that warms the cache; with
     --analysis-bench, the same analysis in-process (analysis_bench, code 12,
     at the base path).

Every figure stands beside its target and says "met" or "not met". MB are
1,000,000 bytes.
"""
import argparse
import concurrent.futures
import os
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
MAKE_TREE = os.path.normpath(os.path.join(ROOT, "..", "shared", "bench", "make_tree.py"))
PG_SERVER = os.path.join(ROOT, "tests", "server", "pg_server.sh")
sys.path.insert(0, os.path.join(ROOT, "bench", "store"))
from compare_bench import grow, run_child, undo_growth  # noqa: E402

MB = 1e6
MODES = {"files": ["--files"], "dirs": []}
MODE_TEXT = {"files": "with every file", "dirs": "directories only"}
CHANGED_FILES_CODE = "12"


class FileStore:
    name = "file"

    def __init__(self, work):
        self.work = work

    def location(self, binary, mode):
        return os.path.join(self.work, f"{binary}-{mode}.mdb")

    def fresh(self, location):
        for suffix in ("", "-journal", "-wal", "-shm"):
            if os.path.exists(location + suffix):
                os.remove(location + suffix)

    def size(self, location):
        return sum(os.path.getsize(location + s) for s in ("", "-wal") if os.path.exists(location + s))


class ServerStore:
    name = "server"

    def __init__(self, work):
        self.dir = os.path.join(work, "server")
        self.admin = subprocess.run([PG_SERVER, "start", self.dir], check=True, text=True,
                                    stdout=subprocess.PIPE).stdout.strip()

    def stop(self):
        subprocess.run([PG_SERVER, "stop", self.dir], check=False)

    def psql(self, location, sql):
        return subprocess.run(["psql", location, "-X", "-q", "-A", "-t", "-c", sql], check=True, text=True,
                              stdout=subprocess.PIPE).stdout.strip()

    def location(self, binary, mode):
        return self.admin.replace("dbname=postgres", f"dbname=h_{binary}_{mode}")

    def database(self, location):
        return location.split("dbname=")[1].split()[0]

    def fresh(self, location):
        subprocess.run(["psql", self.admin, "-X", "-q", "-c", f"DROP DATABASE IF EXISTS {self.database(location)}"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.psql(self.admin, f"CREATE DATABASE {self.database(location)}")

    def size(self, location):
        return int(self.psql(self.admin, f"SELECT pg_database_size('{self.database(location)}')"))


STARTED = {}  # location -> when its last snapshot started


def snapshot(cli, mode, location, tree, env):
    """Wall seconds, CPU seconds and peak RSS in KB of one snapshot. A run
    that starts in the second of the previous run into the same database
    waits for the next second (the snapshot's key): that wait is not the
    snapshot's, so it happens here, untimed."""
    while int(time.time()) == int(STARTED.get(location, 0)):
        time.sleep(0.01)
    STARTED[location] = time.time()
    return run_child([cli, "snapshot", *MODES[mode], "--db", location, "--", tree], env)[:3]


def changed_files(cli, location):
    return [cli, "analyse", "changed-files", "--compare", "previous", "--limit", "0", "--db", location]


def in_process_ms(analysis_bench, location, runs):
    """The base path's median wall ms of changed files as analysis_bench times it."""
    out = subprocess.run([analysis_bench, location, str(runs), CHANGED_FILES_CODE], check=True, text=True,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    for line in out.splitlines():
        if line.startswith("ChangedFiles "):
            return float(line.split()[1].split("/")[0])
    sys.exit(f"no ChangedFiles line from {analysis_bench}:\n{out}")


def table_bytes(path):
    with sqlite3.connect(path) as connection:
        return connection.execute("SELECT name, sum(pgsize) FROM dbstat GROUP BY name HAVING sum(pgsize) >= 100000 "
                                  "ORDER BY 2 DESC").fetchall()


def verdict(value, target, limit):
    """A target reads "<= limit" (at most) or "< limit" (under)."""
    return "met" if (value <= limit if target.startswith("<=") else value < limit) else "not met"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", required=True, help="corvina-cli of a Release build")
    parser.add_argument("--cli-before", help="an older corvina-cli measured beside --cli, into its own databases")
    parser.add_argument("--tree", default="/tmp/hist1m", help="the tree (made when missing)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the choice of the grown files")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--analysis-bench", help="analysis_bench of a Release build, for changed files in-process")
    parser.add_argument("--server", action="store_true", help="the same on a throwaway server")
    parser.add_argument("--work", help="folder for the databases (a temporary one unless told; kept if told)")
    args = parser.parse_args()

    if not os.path.isdir(args.tree):
        subprocess.run([sys.executable, MAKE_TREE, "--root", args.tree, "--dirs", "100000", "--files", "1000000",
                        "--seed", "1"], check=True)
    marker = args.tree.rstrip("/") + ".grown.json"
    undo_growth(marker)

    work = args.work or tempfile.mkdtemp(prefix="corvina-history-bench.")
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"), HOME=work)
    clis = {"cli": args.cli}
    if args.cli_before:
        clis["before"] = args.cli_before
    stores = [FileStore(work)]
    try:
        if args.server:
            stores.append(ServerStore(work))
        report(args, clis, stores, marker, env)
    finally:
        undo_growth(marker)
        for store in stores:
            if isinstance(store, ServerStore):
                store.stop()
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


def report(args, clis, stores, marker, env):
    # Every measured thing is a column: a binary into one store.
    columns = [(binary, store) for store in stores for binary in clis]
    subprocess.run(["du", "-sb", args.tree], stdout=subprocess.DEVNULL, check=True)  # warm the cache
    load = os.getloadavg()
    du = []
    du_cpu = []
    runs = {}  # (binary, store name, mode, which) -> [(wall, cpu, kb)]
    sizes = {}  # (binary, store name, mode, after which) -> bytes
    for run in range(args.runs):
        figures = run_child(["du", "-sb", args.tree], env)
        du.append(figures[0])
        du_cpu.append(figures[1])
        for binary, store in columns:
            for mode in MODES:
                location = store.location(binary, mode)
                store.fresh(location)
                for which in ("first", "second"):
                    runs.setdefault((binary, store.name, mode, which), []).append(
                        snapshot(clis[binary], mode, location, args.tree, env))
                    sizes[(binary, store.name, mode, which)] = store.size(location)
        print(f"round {run + 1}/{args.runs} done", file=sys.stderr, flush=True)

    # In a child of its own: the million paths it lists would otherwise stay
    # in this process, and every later child's peak memory would count them
    # (the kernel keeps the peak of the forked copy across exec).
    with concurrent.futures.ProcessPoolExecutor(1) as pool:
        grown, total = pool.submit(grow, args.tree, args.seed, marker).result()
    try:
        for binary, store in columns:
            for mode in MODES:
                location = store.location(binary, mode)
                runs[(binary, store.name, mode, "grown")] = [snapshot(clis[binary], mode, location, args.tree, env)]
                sizes[(binary, store.name, mode, "grown")] = store.size(location)
    finally:
        undo_growth(marker)

    process = {}
    in_process = {}
    rows = {}
    for binary, store in columns:
        command = changed_files(clis[binary], store.location(binary, "files"))
        out = subprocess.run(command, env=env, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
        rows[(binary, store.name)] = out.count(b"\n")
        process[(binary, store.name)] = statistics.median(run_child(command, env)[0] for _ in range(args.runs))
        if args.analysis_bench and store.name == "file":
            in_process[binary] = in_process_ms(args.analysis_bench, store.location(binary, "files"), args.runs)

    du_s = statistics.median(du)
    after = os.getloadavg()
    print(f"tree {args.tree}, warm cache; {grown} of its {total} regular files grown "
          f"by 100 bytes (seed {args.seed}) for the third snapshot")
    print(f"du -sb median {du_s:.2f} s wall, {statistics.median(du_cpu):.2f} s CPU, of {args.runs}; load average {load[0]:.2f} {load[1]:.2f} before, "
          f"{after[0]:.2f} {after[1]:.2f} after (2 cores, shared); MB = 1,000,000 bytes")
    head = "".join(f"{binary + ', ' + store.name:>24s}" for binary, store in columns)
    print(f"{'figure':58s} {'target':>14s}{head}")
    print(f"{'':58s} {'(stretch)':>14s}")

    def line(text, target, limit, values, unit):
        cells = "".join(f"{v:>10.2f}{unit:3s}{verdict(v, target, limit):>11s}" if v is not None else f"{'-':>24s}"
                        for v in values)
        print(f"{text:58s} {target:>14s}{cells}")

    def size_of(binary, store, mode, which):
        return sizes[(binary, store.name, mode, which)]

    for mode, limit in (("files", 80), ("dirs", 25)):
        line(f"first snapshot {MODE_TEXT[mode]}: size", f"<= {limit} MB", limit,
             [size_of(b, s, mode, "first") / MB for b, s in columns], " MB")
    for mode in MODES:
        line(f"second, unchanged tree, {MODE_TEXT[mode]}: added", "<= 1 MB", 1,
             [(size_of(b, s, mode, "second") - size_of(b, s, mode, "first")) / MB for b, s in columns], " MB")
    for mode in MODES:
        line(f"after 1% grew, {MODE_TEXT[mode]}: added", "<= 10 MB", 10,
             [(size_of(b, s, mode, "grown") - size_of(b, s, mode, "second")) / MB for b, s in columns], " MB")

    def wall(binary, store, mode, which):
        return statistics.median(r[0] for r in runs[(binary, store.name, mode, which)])

    for mode, limit, stretch in (("files", 1.1, 1.0), ("dirs", 0.8, 0.7)):
        for which in ("first", "second"):
            line(f"{which} snapshot {MODE_TEXT[mode]}: time / du -sb", f"<= {limit} ({stretch})", limit,
                 [wall(b, s, mode, which) / du_s for b, s in columns], " x")
    peak = [max(r[2] for key, figures in runs.items() if key[:2] == (b, s.name) for r in figures) / 1024
            for b, s in columns]
    line("peak resident memory of any snapshot", "< 100 MB", 100, peak, " MB")
    line("changed files, 1% apart, base path, in-process", "< 50 ms", 50,
         [in_process.get(b) if s.name == "file" else None for b, s in columns], " ms")
    line("changed files, 1% apart, whole corvina-cli process", "< 0.3 s", 0.3,
         [process[(b, s.name)] for b, s in columns], " s")

    print("details (medians):")
    for binary, store in columns:
        print(f"  {binary}, {store.name}:")
        for mode in MODES:
            for which in ("first", "second", "grown"):
                figures = runs[(binary, store.name, mode, which)]
                cpu = statistics.median(r[1] for r in figures)
                kb = max(r[2] for r in figures)
                print(f"    {which:6s} snapshot {MODE_TEXT[mode]:16s} {statistics.median(r[0] for r in figures):6.2f} s "
                      f"wall ({len(figures)} runs), CPU {cpu:6.2f} s, peak {kb / 1024:5.1f} MB, "
                      f"database then {size_of(binary, store, mode, which) / MB:7.1f} MB")
        print(f"    changed files prints {rows[(binary, store.name)]} lines")
        if store.name == "file":
            for mode in MODES:
                print(f"    bytes by table and index, {MODE_TEXT[mode]}, three snapshots: "
                      + ", ".join(f"{name} {size / MB:.1f} MB" for name, size in
                                  table_bytes(store.location(binary, mode))))
    if not args.analysis_bench:
        print("changed files in-process: pass --analysis-bench (bench/analysis, built with BUILD_TESTING=ON)")


if __name__ == "__main__":
    main()
