#!/usr/bin/env python3
"""server_bench.py - corvina-cli snapshot --files into a database server against the same into a file.

Usage:
  bench/store/server_bench.py --cli build-release/bin/corvina-cli --tree /tmp/t-medium [--make 20000 200000] [--runs 3]

Starts a throwaway server of its own (tests/server/pg_server.sh: a temporary
folder, a Unix socket, fsync off as the tests run it, or --fsync to keep the
server's default), then times the snapshot of the tree with every file, into
a fresh file and into a fresh server database, alternately, --runs times on
a warm cache. Prints each median with its CPU seconds and the ratio of the
server's time to the file's.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import resource
import time

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
        if args.fsync:
            subprocess.run(["psql", location, "-X", "-q", "-c", "ALTER SYSTEM SET fsync = on",
                            "-c", "SELECT pg_reload_conf()"], check=True, stdout=subprocess.DEVNULL)
        figures = {"file": [], "server": []}
        for run in range(args.runs):
            db_file = os.path.join(work, f"run{run}.mdb")
            figures["file"].append(timed([args.cli, "snapshot", "--files", "--db", db_file, "--", args.tree]))
            os.remove(db_file)
            for suffix in ("-wal", "-shm"):
                if os.path.exists(db_file + suffix):
                    os.remove(db_file + suffix)
            name = f"bench{run}"
            subprocess.run(["psql", location, "-X", "-q", "-c", f"CREATE DATABASE {name}"], check=True)
            target = location.replace("dbname=postgres", f"dbname={name}")
            # Both runs make their tables: a new file, an empty database.
            figures["server"].append(timed([args.cli, "snapshot", "--files", "--db", target, "--", args.tree]))
            rows = subprocess.run(["psql", target, "-X", "-A", "-t", "-c", "SELECT count(*) FROM files"],
                                  check=True, text=True, stdout=subprocess.PIPE).stdout.strip()
            print(f"run {run + 1}: file {figures['file'][-1][0]:.2f} s, server {figures['server'][-1][0]:.2f} s "
                  f"({rows} files rows)", flush=True)
        medians = {k: (statistics.median(w for w, _ in v), statistics.median(c for _, c in v))
                   for k, v in figures.items()}
        print(f"snapshot --files into a file:   {medians['file'][0]:.2f} s wall, {medians['file'][1]:.2f} s CPU")
        print(f"snapshot --files into a server: {medians['server'][0]:.2f} s wall, {medians['server'][1]:.2f} s CPU "
              f"(client only)")
        print(f"server / file: {medians['server'][0] / medians['file'][0]:.2f} x (target at most 2.0 x)")
    finally:
        subprocess.run([PG_SERVER, "stop", server_dir], check=False)
        subprocess.run(["rm", "-rf", work], check=False)


if __name__ == "__main__":
    main()
