#!/usr/bin/env python3
"""compare_bench.py - corvina-cli analyse changed-files on a server against the same on a file.

Usage:
  bench/store/compare_bench.py --cli build-rel/bin/corvina-cli [--cli-before OLD/corvina-cli] [--runs 5]
  bench/store/compare_bench.py --cli ... [--cli-before ...] --db /tmp/t1m.db   # a pair on a file only

Makes (when missing) the tree make_tree.py --dirs 20000 --files 200000 --seed 1
in --tree, takes an every-file snapshot of it into a fresh file and into a
fresh database of a throwaway server (tests/server/pg_server.sh), grows 1 % of
its files by 100 bytes (chosen by random.Random(--seed), so the same files
every time), takes a second every-file snapshot into both, and puts the tree
back as it was. The snapshots are taken by --cli; the stored layout is the
one both binaries read.

Then times `analyse changed-files --compare previous` at the base path on the
file and on the server, alternately, --runs times after an untimed round that
warms the caches, with --cli and, given --cli-before, the older binary on the
same two databases, rotating the order of the commands from round to round.
Prints each median wall time, the client's CPU seconds, the server's (its
backend's, once the postmaster has reaped it), the client's peak resident
memory (ru_maxrss of the child: on the file that includes the database pages
the analysis maps, up to 1 GB), then the peak of its anonymous memory alone,
sampled from /proc in one extra run of each command, and the ratios server /
file and new / old. On a machine shared with other work, the CPU seconds say
more than the wall times. The server's database is vacuumed and analysed
before the timings, as autovacuum would have done by then on a real one.

--limit is 0 unless told: changed-files reads both snapshots' files in full
whatever the limit (it caps the rows kept, not the query), so a limit would
change nothing in the work and only hide rows; with every row printed, the
two engines' outputs are compared byte for byte before anything is timed.

With --db FILE, no tree and no server: the same timings on a pair that is
already there (analysis_bench_data's million-file pair, bench/analysis/README.md).
"""
import argparse
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
MAKE_TREE = os.path.normpath(os.path.join(ROOT, "..", "shared", "bench", "make_tree.py"))
PG_SERVER = os.path.join(ROOT, "tests", "server", "pg_server.sh")


def run_child(command, env, sample=False):
    """Wall seconds, CPU seconds, peak RSS and (sampled) peak anonymous memory
    in KB of one run. The sampling costs the parent a wake-up every 5 ms, so
    timed runs go without it."""
    start = time.perf_counter()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    anon = 0
    if sample:
        while child.poll() is None:  # poll() reaps the child: its rusage is gone then
            anon = max(anon, anon_kb(child.pid))
            time.sleep(0.005)
        if child.returncode != 0:
            sys.exit(f"failed ({child.returncode}): {' '.join(command)}")
        return None, None, None, anon
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"failed ({child.returncode}): {' '.join(command)}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss, anon


def anon_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("RssAnon:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


class ServerCpu:
    """CPU seconds of the server's backends, as the postmaster's reaped
    children: a backend ends with its client's session, and once the
    postmaster has reaped it, its CPU is in the postmaster's cutime and cstime."""

    def __init__(self, server_dir):
        with open(os.path.join(server_dir, "data", "postmaster.pid")) as f:
            self.pid = int(f.readline())
        self.tick = os.sysconf("SC_CLK_TCK")

    def fields(self, pid):
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()  # the name in parentheses may hold spaces

    def children(self):
        found = set()
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    if int(self.fields(entry)[1]) == self.pid:
                        found.add(entry)
                except (OSError, IndexError):
                    pass  # gone meanwhile
        return found

    def reaped(self):
        fields = self.fields(self.pid)
        return (int(fields[13]) + int(fields[14])) / self.tick

    def around(self, run):
        """What run returns, and the CPU of the backends that served it."""
        lasting = self.children()
        before = self.reaped()
        result = run()
        while not self.children() <= lasting:
            time.sleep(0.001)
        return result, self.reaped() - before


def output_of(command, env):
    return subprocess.run(command, env=env, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout


def regular_files(tree):
    """Every regular file of the tree in a fixed order, so that the seeded
    choice picks the same files on every machine."""
    found = []
    for top, dirs, files in os.walk(tree):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(top, name)
            if not os.path.islink(path):
                found.append(path)
    return found


def grow(tree, seed, marker):
    """Appends 100 bytes to 1 % of the files; what it changed goes to marker
    first, so that an interrupted run is undone by the next one."""
    files = regular_files(tree)
    chosen = random.Random(seed).sample(files, max(1, len(files) // 100))
    before = [(path, os.stat(path).st_size, os.stat(path).st_mtime_ns) for path in chosen]
    with open(marker, "w") as out:
        json.dump(before, out)
    for path, _, _ in before:
        with open(path, "ab") as f:
            f.write(b"x" * 100)
    return len(chosen), len(files)


def undo_growth(marker):
    if not os.path.exists(marker):
        return
    with open(marker) as f:
        for path, size, mtime in json.load(f):
            os.truncate(path, size)
            os.utime(path, ns=(mtime, mtime))
    os.remove(marker)


def make_server_pair(args, cli, work, env):
    """The file and the server location, each with the pair of snapshots."""
    if not os.path.isdir(args.tree):
        subprocess.run([sys.executable, MAKE_TREE, "--root", args.tree, "--dirs", str(args.make[0]),
                        "--files", str(args.make[1]), "--seed", "1"], check=True, stdout=subprocess.DEVNULL)
    marker = args.tree.rstrip("/") + ".grown.json"
    undo_growth(marker)
    subprocess.run(["du", "-sb", args.tree], stdout=subprocess.DEVNULL, check=True)  # warm the cache
    server_dir = os.path.join(work, "server")
    location = subprocess.run([PG_SERVER, "start", server_dir], check=True, text=True,
                              stdout=subprocess.PIPE).stdout.strip()
    subprocess.run(["psql", location, "-X", "-q", "-c", "CREATE DATABASE pair"], check=True)
    server = location.replace("dbname=postgres", "dbname=pair")
    db_file = os.path.join(work, "pair.mdb")
    try:
        for step in ("first", "second"):
            if step == "second":
                grown, total = grow(args.tree, args.seed, marker)
                print(f"grew {grown} of {total} files by 100 bytes (seed {args.seed})", flush=True)
            for db in (db_file, server):
                wall = run_child([cli, "snapshot", "--files", "--db", db, "--", args.tree], env)[0]
                where = "file" if db == db_file else "server"
                print(f"{step} snapshot --files into the {where}: {wall:.1f} s", flush=True)
    finally:
        undo_growth(marker)
    # As a server that has run a while has them: statistics, hint bits, a
    # visibility map. Then autovacuum goes, since its workers would come in
    # the middle of the timings with nothing left to do.
    subprocess.run(["psql", server, "-X", "-q", "-c", "VACUUM (ANALYZE)"], check=True)
    subprocess.run(["psql", server, "-X", "-q", "-c", "ALTER SYSTEM SET autovacuum = off",
                    "-c", "SELECT pg_reload_conf()"], check=True, stdout=subprocess.DEVNULL)
    size = subprocess.run(["psql", server, "-X", "-A", "-t", "-c", "SELECT pg_database_size('pair')"],
                          check=True, text=True, stdout=subprocess.PIPE).stdout.strip()
    print(f"databases: file {os.path.getsize(db_file) / 1e6:.0f} MB, server {int(size) / 1e6:.0f} MB")
    return {"file": db_file, "server": server}, server_dir


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", required=True, help="corvina-cli of a Release build (takes the snapshots)")
    parser.add_argument("--cli-before", help="an older corvina-cli timed beside --cli on the same databases")
    parser.add_argument("--tree", default="/tmp/t200k", help="the tree (made when missing)")
    parser.add_argument("--make", nargs=2, type=int, metavar=("DIRS", "FILES"), default=(20000, 200000))
    parser.add_argument("--seed", type=int, default=1, help="seed of the choice of the grown files")
    parser.add_argument("--db", help="time on this file's pair only: no tree, no server")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--limit", type=int, default=0, help="analyse --limit (0: every row)")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="corvina-compare-bench.")
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"), HOME=work)
    server_dir = None
    try:
        if args.db:
            databases = {"file": args.db}
        else:
            databases, server_dir = make_server_pair(args, args.cli, work, env)
        measure(args, databases, env, ServerCpu(server_dir) if server_dir else None)
    finally:
        if server_dir:
            subprocess.run([PG_SERVER, "stop", server_dir], check=False)
        subprocess.run(["rm", "-rf", work], check=False)


def measure(args, databases, env, server_cpu):
    clis = {"new": args.cli}
    if args.cli_before:
        clis["old"] = args.cli_before
    commands = {}
    for binary, cli in clis.items():
        for engine, db in databases.items():
            commands[(binary, engine)] = [cli, "analyse", "changed-files", "--compare", "previous", "--limit",
                                          str(args.limit), "--unit", "B", "--format", "csv",
                                          "--db", db]
    outputs = {name: output_of(command, env) for name, command in commands.items()}  # also warms the caches
    reference = outputs[("new", "file")]
    for name, text in outputs.items():
        if text != reference:
            sys.exit(f"{'/'.join(name)} prints other rows than new/file: see {' '.join(commands[name])}")
    rows = reference.count(b"\n") - 1  # below the heading
    print(f"every command prints the same {rows} rows (--limit {args.limit})")

    load = os.getloadavg()
    names = list(commands)
    figures = {name: [] for name in names}
    backends = {name: [] for name in names if name[1] == "server"}
    for run in range(args.runs):
        shift = run % len(names)
        for name in names[shift:] + names[:shift]:
            if name in backends:
                figure, cpu = server_cpu.around(lambda: run_child(commands[name], env))
                backends[name].append(cpu)
            else:
                figure = run_child(commands[name], env)
            figures[name].append(figure)
    anon = {name: run_child(commands[name], env, sample=True)[3] for name in names}
    after = os.getloadavg()
    print(f"analyse changed-files at the base path, medians of {args.runs} runs, load average "
          f"{load[0]:.2f} {load[1]:.2f} before, {after[0]:.2f} {after[1]:.2f} after (2 cores, shared):")
    walls = {}
    for name in names:
        walls[name] = statistics.median(f[0] for f in figures[name])
        cpu = statistics.median(f[1] for f in figures[name])
        rss = statistics.median(f[2] for f in figures[name])
        label = f"{name[0]} binary, {name[1]}" if len(clis) > 1 else name[1]
        server = f"{statistics.median(backends[name]):6.2f} s" if name in backends else "      -"
        print(f"  {label:18s} {walls[name]:7.3f} s wall  CPU {cpu:6.2f} s client {server} server  "
              f"peak RSS {rss / 1024:5.0f} MB  peak anonymous {anon[name] / 1024:5.0f} MB (sampled)")
    if "server" in databases:
        for binary in clis:
            ratio = walls[(binary, "server")] / walls[(binary, "file")]
            print(f"  {binary} binary: server / file {ratio:.2f} x" if len(clis) > 1 else f"  server / file {ratio:.2f} x")
    if len(clis) > 1:
        for engine in databases:
            print(f"  {engine}: new / old {walls[('new', engine)] / walls[('old', engine)]:.2f} x")


if __name__ == "__main__":
    main()
