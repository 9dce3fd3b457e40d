#!/usr/bin/env python3
"""snapshot_bench.py - wall time of corvina-cli snapshot against du -sb and duc index.

Usage:
  bench/capture/snapshot_bench.py --cli build-release/bin/corvina-cli --tree /tmp/t-large [--runs 5]
  bench/capture/snapshot_bench.py --cli ... --tree /tmp/t-medium --make 20000 200000
  bench/capture/snapshot_bench.py --cli ... --before OTHER/corvina-cli --tree ...   # two builds side by side
  bench/capture/snapshot_bench.py --cli ... --tree ... --threads 1,2,4,8,16 \
      --latency-tree /tmp/t-small --latency-bench build-release/bin/walk_latency_bench

Runs each command --runs times on a warm cache (one untimed warm-up pass of du
first), alternating the commands so that drift hits all alike (every other run in
reverse order), and prints the median wall time of each and its ratio to du -sb,
with the CPU seconds used (all threads): on a machine shared with other work the
CPU figures say more. Every snapshot goes into a fresh database in --work. Also reports peak memory (/usr/bin/time -v) and
database bytes per files row of the --files run.

Then a reader's wait: while a snapshot --files run is writing into a database
that holds one snapshot already, `list` and `info latest` are started once
the run has written more than its page cache holds, and their wall time and
exit code are printed (--reader-runs times each). With --before, every figure
is measured for both builds in the same run.

--threads adds `snapshot --threads N` (directories only) for each N. With
--latency-tree, walk_latency_bench times the walk alone over that tree at the
same thread counts, without and with a fixed delay per call (--delay-us), and
du -sb of that tree is printed beside it.
"""
import argparse
import os
import resource
import shutil
import sqlite3
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MAKE_TREE = os.path.normpath(os.path.join(HERE, "..", "..", "..", "shared", "bench", "make_tree.py"))


def timed(command, env=None):
    """Wall seconds and CPU seconds (user + system, all threads) of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, env=env)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def peak_kb(command):
    result = subprocess.run(["/usr/bin/time", "-v"] + command, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=True)
    for line in result.stderr.splitlines():
        if "Maximum resident set size" in line:
            return int(line.split(":")[1])
    return -1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", required=True, help="corvina-cli of a Release build")
    parser.add_argument("--tree", required=True, help="tree to measure (made with --make when missing)")
    parser.add_argument("--make", nargs=2, type=int, metavar=("DIRS", "FILES"),
                        help="build the tree with make_tree.py first if it does not exist")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--work", default="/tmp/corvina-bench-work", help="folder for databases")
    parser.add_argument("--no-duc", action="store_true", help="leave duc index out")
    parser.add_argument("--before", help="a second corvina-cli (an earlier build) measured beside --cli")
    parser.add_argument("--reader-runs", type=int, default=3)
    parser.add_argument("--readers-only", action="store_true", help="measure only the readers' wait")
    parser.add_argument("--threads", help="thread counts for snapshot --threads N, as 1,2,4,8,16")
    parser.add_argument("--latency-tree", help="tree for walk_latency_bench (small: every call waits)")
    parser.add_argument("--latency-bench", help="walk_latency_bench of a Release build")
    parser.add_argument("--delay-us", type=int, default=200)
    parser.add_argument("--skip-readers", action="store_true", help="leave the readers' wait out")
    parser.add_argument("--layouts", action="store_true",
                        help="measure only the two layouts of the files table: size and comparisons")
    args = parser.parse_args()

    if not os.path.isdir(args.tree):
        if not args.make:
            sys.exit(f"{args.tree} does not exist; pass --make DIRS FILES")
        subprocess.run([sys.executable, MAKE_TREE, "--root", args.tree, "--dirs", str(args.make[0]),
                        "--files", str(args.make[1]), "--seed", "1"], check=True)
    os.makedirs(args.work, exist_ok=True)
    db = os.path.join(args.work, "bench.mdb")
    ducdb = os.path.join(args.work, "bench.duc")
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(args.work, "config"), HOME=args.work)

    def fresh(path):
        for suffix in ("", "-journal", "-wal", "-shm"):
            if os.path.exists(path + suffix):
                os.remove(path + suffix)

    clis = [("", args.cli)] + ([("before: ", args.before)] if args.before else [])
    cases = [("du -sb", ["du", "-sb", args.tree], None)]
    for label, cli in clis:
        cases += [
            (label + "snapshot (directories only)", [cli, "snapshot", args.tree, "--db", db], db),
            (label + "snapshot --files --min-size 1M", [cli, "snapshot", args.tree, "--db", db, "--files",
                                                        "--min-size", "1M"], db),
            (label + "snapshot --files", [cli, "snapshot", args.tree, "--db", db, "--files"], db),
        ]
    for count in (args.threads.split(",") if args.threads else []):
        cases.append((f"snapshot --threads {count}", [args.cli, "snapshot", args.tree, "--db", db, "--threads", count],
                      db))
    if not args.no_duc and shutil.which("duc"):
        cases.append(("duc index", ["duc", "index", "-q", "-d", ducdb, args.tree], ducdb))

    subprocess.run(["du", "-sb", args.tree], stdout=subprocess.DEVNULL, check=True)  # warm the cache
    if args.layouts:
        report_layouts(args.cli, args, env, fresh)
        return
    if args.readers_only:
        report_readers(clis, args, db, env, fresh)
        return
    times = {name: [] for name, _, _ in cases}
    cpu = {name: [] for name, _, _ in cases}
    for run in range(args.runs):
        # Every other run in reverse order, so that no command always follows the same one (the
        # writes of the one before it are still going to disk).
        for name, command, database in (cases if run % 2 == 0 else reversed(cases)):
            if database:
                fresh(database)
            wall, used = timed(command, env)
            times[name].append(wall)
            cpu[name].append(used)
        print(f"run {run + 1}/{args.runs} done", file=sys.stderr)

    base = statistics.median(times["du -sb"])
    load = os.getloadavg()[0]
    print(f"tree {args.tree}, {args.runs} runs, warm cache, load average {load:.2f}, medians:")
    for name, _, _ in cases:
        m = statistics.median(times[name])
        c = statistics.median(cpu[name])
        print(f"  {name:34s} {m:7.2f} s  {m / base:5.2f} x du -sb   (cpu {c:6.2f} s)")
    if "duc index" in times:
        ratio = statistics.median(times["duc index"]) / statistics.median(times["snapshot --files"])
        print(f"  duc index / snapshot --files: {ratio:.2f} x")

    for label, cli in clis:
        fresh(db)
        kb = peak_kb([cli, "snapshot", args.tree, "--db", db, "--files"])
        size = written(db)
        with sqlite3.connect(db) as connection:
            files = connection.execute("SELECT count(*) FROM files").fetchone()[0]
            dirs = connection.execute("SELECT count(*) FROM Dir").fetchone()[0]
            # A build that records blocks on disk; a sparse tree gives every file a Filedisk row.
            has_disk = connection.execute("SELECT count(*) FROM sqlite_master WHERE name = 'Filedisk'").fetchone()[0]
            disk = connection.execute("SELECT count(*) FROM Filedisk").fetchone()[0] if has_disk else None
        print(f"  {label}peak memory of snapshot --files: {kb / 1024:.1f} MB")
        print(f"  {label}database: {size} bytes, {files} files rows, {dirs} Dir rows, "
              + (f"{disk} Filedisk rows, " if disk is not None else "")
              + f"{size / max(files, 1):.0f} bytes per files row (all rows included)")

    if args.latency_tree:
        report_latency(args)
    if not args.skip_readers:
        report_readers(clis, args, db, env, fresh)


def report_latency(args):
    """The walk alone at each thread count, without and with a delay per call, beside du -sb."""
    counts = args.threads or "1,2,4,8,16"
    subprocess.run(["du", "-sb", args.latency_tree], stdout=subprocess.DEVNULL, check=True)
    du = statistics.median(timed(["du", "-sb", args.latency_tree])[0] for _ in range(args.runs))
    print(f"walk alone over {args.latency_tree} (du -sb {du:.3f} s), load average {os.getloadavg()[0]:.2f}:")
    for delay in (0, args.delay_us):
        out = subprocess.run([args.latency_bench, args.latency_tree, "--delay-us", str(delay), "--threads", counts,
                              "--runs", str(args.runs)], stdout=subprocess.PIPE, text=True, check=True).stdout
        for line in out.splitlines():
            wall = float(line.split(":")[1].split()[0])
            print(f"  {line}   {wall / du:6.2f} x du -sb")


# The previous layout of a new file: a rowid files table beside a File1 index.
PREVIOUS_LAYOUT = """
CREATE TABLE Control (Snapshot TEXT, Basepath TEXT, Description TEXT, Collfiles TEXT, Filelimit INTEGER,
  Totdirs INTEGER, Totfiles INTEGER, Totbytes INTEGER, Totbytesf REAL, Filetot INTEGER, Filesize INTEGER,
  Filesizef REAL);
CREATE UNIQUE INDEX Index1 ON Control (Snapshot);
CREATE TABLE files (Snapshot TEXT, Filename TEXT, Filesize INTEGER, Filetype TEXT, Filedir TEXT,
  Fileattr INTEGER, Filedate TEXT);
CREATE UNIQUE INDEX File1 ON files (Snapshot, Filedir, Filename);
CREATE TABLE Dir (Snapshot TEXT, Entrytype TEXT, Dirname TEXT, Shortname TEXT, Parentdir TEXT,
  Dirlevel INTEGER, Files INTEGER, Totsize INTEGER, TotsizeF REAL);
CREATE INDEX DirParent ON Dir (Snapshot, Parentdir);
CREATE INDEX DirName ON Dir (Snapshot, Dirname);
"""

BARE_SCAN = "select count(*), sum(length(Filedir) + length(Filename) + Filesize) from files"
COMPARISONS = ("changed-files", "new-files", "deleted-files")


def report_layouts(cli, args, env, fresh):
    """Bytes per files row after two every-file snapshots, in the previous
    layout and in the current one, and each comparison of the pair against a
    bare scan of the files table by the sqlite3 shell, side by side."""
    databases = {}
    for layout in ("previous", "current"):
        db = os.path.join(args.work, f"layout-{layout}.mdb")
        fresh(db)
        if layout == "previous":
            with sqlite3.connect(db) as connection:
                connection.executescript(PREVIOUS_LAYOUT)
        for _ in range(2):
            subprocess.run([cli, "snapshot", args.tree, "--db", db, "--files"], env=env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        databases[layout] = db
    load = os.getloadavg()[0]
    print(f"tree {args.tree}, two snapshot --files runs per layout, load average {load:.2f} (shared machine)")
    for layout, db in databases.items():
        size = written(db)
        with sqlite3.connect(db) as connection:
            files = connection.execute("SELECT count(*) FROM files").fetchone()[0]
        print(f"  {layout:8s} layout: {size} bytes, {files} files rows, {size / max(files, 1):.0f} bytes per files row")
    commands = {}
    for layout, db in databases.items():
        commands[(layout, "bare sqlite3 scan")] = ["sqlite3", db, BARE_SCAN]
        for kind in COMPARISONS:
            commands[(layout, kind)] = [cli, "analyse", kind, "--compare", "previous", "--format", "csv", "--db", db]
    times = {name: [] for name in commands}
    for _ in range(args.runs + 1):  # the first round warms the cache
        for name, command in commands.items():
            times[name].append(timed(command, env)[0])
    for layout in databases:
        bare = statistics.median(times[(layout, "bare sqlite3 scan")][1:])
        print(f"  {layout} layout, medians of {args.runs} runs at the base path:")
        print(f"    {'bare sqlite3 scan':18s} {bare * 1000:8.0f} ms")
        for kind in COMPARISONS:
            m = statistics.median(times[(layout, kind)][1:])
            kb = peak_kb(commands[(layout, kind)])
            print(f"    {kind:18s} {m * 1000:8.0f} ms  {m / bare:5.2f} x the bare scan   peak {kb / 1024:.0f} MB")


def report_readers(clis, args, db, env, fresh):
    for label, cli in clis:
        waits = reader_waits(cli, args.tree, db, env, fresh, args.reader_runs)
        for reader, figures in waits.items():
            text = ", ".join(f"{wall:.2f} s (exit {code})" for wall, code in figures)
            print(f"  {label}{reader} during a running snapshot --files: {text}")


def written(db):
    """Bytes of the database and its log together."""
    return sum(os.path.getsize(db + s) for s in ("", "-wal") if os.path.exists(db + s))


def reader_waits(cli, tree, db, env, fresh, runs):
    """Wall time and exit code of readers started in the middle of a run."""
    readers = {"list": [cli, "list", "--db", db], "info latest": [cli, "info", "latest", "--db", db]}
    figures = {name: [] for name in readers}
    for _ in range(runs):
        fresh(db)
        subprocess.run([cli, "snapshot", tree, "--db", db], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        writer = subprocess.Popen([cli, "snapshot", tree, "--db", db, "--files"], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Far more than the page cache: a rollback journal locks readers out from here on.
        start = time.perf_counter()
        before = written(db)
        while writer.poll() is None and time.perf_counter() - start < 30:
            if written(db) - before > 64 << 20:
                break
            time.sleep(0.01)
        for name, command in readers.items():
            begin = time.perf_counter()
            done = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            figures[name].append((time.perf_counter() - begin, done.returncode))
        if writer.poll() is not None:
            print("  (the run ended before the readers started: use a larger tree)", file=sys.stderr)
        writer.wait()
    return figures


if __name__ == "__main__":
    main()
