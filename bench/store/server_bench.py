#!/usr/bin/env python3
"""server_bench.py - corvina-cli snapshot --files into a database server against the same into a file.

Usage:
  bench/store/server_bench.py --cli build-release/bin/corvina-cli --tree /tmp/t-medium [--make 20000 200000] [--runs 3]
  bench/store/server_bench.py --cli ... --cli-before OLD/corvina-cli --tree ...   # two builds side by side

Starts a throwaway server of its own (tests/server/pg_server.sh: a temporary
folder, a Unix socket, fsync off as the tests run it, or --fsync to keep the
server's default), then times the snapshot of the tree with every file, into
a fresh file and into a fresh server database, alternately, --runs times on
a warm cache. Prints each median with its CPU seconds and the ratio of the
server's time to the file's, and the load average before and after. The
server's CPU is that of its backends (compare_bench.ServerCpu); autovacuum
is off. With --cli-before, the older build takes its two snapshots in each
run too, after the newer one's, and its medians follow.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import resource
import time

from compare_bench import ServerCpu

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
MAKE_TREE = os.path.normpath(os.path.join(ROOT, "..", "shared", "bench", "make_tree.py"))
PG_SERVER = os.path.join(ROOT, "tests", "server", "pg_server.sh")


def timed(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--cli-before", help="an older corvina-cli measured beside --cli")
    parser.add_argument("--tree", required=True)
    parser.add_argument("--make", nargs=2, type=int, metavar=("DIRS", "FILES"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--fsync", action="store_true", help="keep the server's fsync on")
    args = parser.parse_args()

    if args.make and not os.path.isdir(args.tree):
        subprocess.run([sys.executable, MAKE_TREE, "--root", args.tree, "--dirs", str(args.make[0]),
                        "--files", str(args.make[1]), "--seed", "7"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["du", "-sb", args.tree], stdout=subprocess.DEVNULL, check=True)  # warm the cache

    work = tempfile.mkdtemp(prefix="corvina-server-bench.")
    server_dir = os.path.join(work, "server")
    location = subprocess.run([PG_SERVER, "start", server_dir], check=True, text=True,
                              stdout=subprocess.PIPE).stdout.strip()
    try:
        # Its workers would analyse the last run's tables in the middle of the next one.
        subprocess.run(["psql", location, "-X", "-q", "-c", "ALTER SYSTEM SET autovacuum = off",
                        "-c", "SELECT pg_reload_conf()"], check=True, stdout=subprocess.DEVNULL)
        if args.fsync:
            subprocess.run(["psql", location, "-X", "-q", "-c", "ALTER SYSTEM SET fsync = on",
                            "-c", "SELECT pg_reload_conf()"], check=True, stdout=subprocess.DEVNULL)
        clis = [("", args.cli)] + ([("before: ", args.cli_before)] if args.cli_before else [])
        figures = {(label, engine): [] for label, _ in clis for engine in ("file", "server")}
        backends = {label: [] for label, _ in clis}
        server_cpu = ServerCpu(server_dir)
        load = os.getloadavg()
        for run in range(args.runs):
            for number, (label, cli) in enumerate(clis):
                db_file = os.path.join(work, f"run{run}.mdb")
                figures[(label, "file")].append(timed([cli, "snapshot", "--files", "--db", db_file, "--", args.tree]))
                os.remove(db_file)
                for suffix in ("-wal", "-shm"):
                    if os.path.exists(db_file + suffix):
                        os.remove(db_file + suffix)
                name = f"bench{run}_{number}"
                subprocess.run(["psql", location, "-X", "-q", "-c", f"CREATE DATABASE {name}"], check=True)
                target = location.replace("dbname=postgres", f"dbname={name}")
                # Both runs make their tables: a new file, an empty database.
                figure, cpu = server_cpu.around(
                    lambda: timed([cli, "snapshot", "--files", "--db", target, "--", args.tree]))
                figures[(label, "server")].append(figure)
                backends[label].append(cpu)
                rows = subprocess.run(["psql", target, "-X", "-A", "-t", "-c", "SELECT count(*) FROM files"],
                                      check=True, text=True, stdout=subprocess.PIPE).stdout.strip()
                print(f"run {run + 1}: {label}file {figures[(label, 'file')][-1][0]:.2f} s, "
                      f"server {figures[(label, 'server')][-1][0]:.2f} s ({rows} files rows)", flush=True)
        after = os.getloadavg()
        print(f"medians of {args.runs} runs, load average {load[0]:.2f} {load[1]:.2f} before, "
              f"{after[0]:.2f} {after[1]:.2f} after:")
        for label, _ in clis:
            medians = {engine: (statistics.median(w for w, _ in figures[(label, engine)]),
                                statistics.median(c for _, c in figures[(label, engine)]))
                       for engine in ("file", "server")}
            print(f"{label}snapshot --files into a file:   {medians['file'][0]:.2f} s wall, "
                  f"{medians['file'][1]:.2f} s CPU")
            print(f"{label}snapshot --files into a server: {medians['server'][0]:.2f} s wall, "
                  f"{medians['server'][1]:.2f} s CPU client, {statistics.median(backends[label]):.2f} s server")
            print(f"{label}server / file: {medians['server'][0] / medians['file'][0]:.2f} x (target at most 2.0 x)")
    finally:
        subprocess.run([PG_SERVER, "stop", server_dir], check=False)
        subprocess.run(["rm", "-rf", work], check=False)


if __name__ == "__main__":
    main()
