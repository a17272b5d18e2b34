#!/usr/bin/env python3
"""Load benchmark of tavik-serve: wrk posts searches to the server, next to
the same searches made in-process by tavik-search --repeat, which loads the
extension and calls it directly, without HTTP. The ratio of the two shows
what the server adds: sockets, HTTP parsing, framing and threads. Then the
same searches through nginx in front of one tavik-serve (deploy/nginx/),
next to tavik-serve alone in the same run: the ratio shows what the front
costs; and, where mod_tavik is built, through Apache httpd with the module
(its event model), beside both.

usage: serve_bench.py BUILD DATA [--duration SECONDS]
BUILD holds tavik-serve, tavik-search and libtavik.so; the trees go to DATA.
Prints Markdown tables. Every request must succeed: errors are counted and
shown, and the run fails when there are any.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

from apache_front import Apache
from nginx_front import Front

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAKE_CORPUS = os.environ.get(
    "TAVIK_MAKE_CORPUS", os.path.join(TOP, "..", "shared", "tools", "make-corpus"))
TERM = "Quokka"  # a few hits: every search reads the whole tree
CONNECTIONS = (1, 16)
FRONT_CONNECTIONS = (16, 64)
# wrk's wait for an answer: long enough that a slow search is not an error.
WRK_TIMEOUT = "10s"
# name, make-corpus arguments, what it is
TREES = (
    ("small", ["--files", "60", "--avg-bytes", "2000", "--seed", "7"],
     "60 documents, 2 KB on average"),
    ("corpus", [], "make-corpus defaults: 5,000 documents, 12 KB on average"),
)


def make_tree(data, name, arguments):
    tree = os.path.join(data, "serve-" + name)
    if not os.path.exists(os.path.join(tree, ".complete")):
        subprocess.run(["rm", "-rf", tree], check=True)
        subprocess.run([sys.executable, MAKE_CORPUS, tree, *arguments],
                       check=True, stdout=subprocess.DEVNULL)
        open(os.path.join(tree, ".complete"), "w").close()
    return tree


def tree_size(tree):
    count = size = 0
    for folder, _, names in os.walk(tree):
        for name in names:
            if ".htm" in name.lower():
                count += 1
                size += os.path.getsize(os.path.join(folder, name))
    return count, size


class Server:
    def __init__(self, build, tree, *options):
        self.process = subprocess.Popen(
            [os.path.join(build, "tavik-serve"), "--port", "0", "--docroot", tree,
             *options],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        match = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
        if not match:
            self.process.kill()
            raise RuntimeError("tavik-serve did not start: " + line)
        self.port = int(match.group(1))
        self.url = "http://127.0.0.1:%d/search" % self.port

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=60)


def run_wrk(url, connections, duration, script):
    threads = min(connections, os.cpu_count() or 1)
    output = subprocess.run(
        ["wrk", "-t%d" % threads, "-c%d" % connections, "-d%ds" % duration,
         "--timeout", WRK_TIMEOUT, "--latency", "-s", script, url],
        check=True, capture_output=True, text=True).stdout
    result = {"rps": float(re.search(r"Requests/sec:\s+([\d.]+)", output).group(1)),
              "requests": int(re.search(r"(\d+) requests in", output).group(1))}
    for percentile in ("50", "90", "99"):
        match = re.search(r"^\s+%s%%\s+([\d.]+)(us|ms|s)\s*$" % percentile, output, re.M)
        value = float(match.group(1)) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[match.group(2)]
        result["p" + percentile] = value
    errors = 0
    socket = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)",
                       output)
    if socket:
        errors += sum(int(group) for group in socket.groups())
    non_2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", output)
    if non_2xx:
        errors += int(non_2xx.group(1))
    result["errors"] = errors
    return result


def time_in_process(build, tree, repeat):
    """Milliseconds per search when one tavik-search process runs `repeat`."""
    result = subprocess.run(
        [os.path.join(build, "tavik-search"), "--repeat", str(repeat), tree, TERM],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return float(re.search(r"([\d.]+) ms each", result.stderr).group(1))


def run_in_process(build, tree, parallel, duration):
    """Searches per second when `parallel` tavik-search processes each run
    the search over and over in-process for about `duration` seconds."""
    each_ms = time_in_process(build, tree, 5)
    share = min(parallel, os.cpu_count() or 1) / parallel
    repeat = max(3, int(duration * 1000.0 / each_ms * share))
    command = [os.path.join(build, "tavik-search"), "--repeat", str(repeat), tree, TERM]
    started = time.monotonic()
    processes = [subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL) for _ in range(parallel)]
    for process in processes:
        if process.wait() != 0:
            raise RuntimeError("tavik-search failed")
    return parallel * repeat / (time.monotonic() - started)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("data")
    parser.add_argument("--duration", type=int, default=10)
    args = parser.parse_args()
    os.makedirs(args.data, exist_ok=True)

    with tempfile.NamedTemporaryFile("w", suffix=".lua", delete=False) as script:
        script.write('wrk.method = "POST"\n'
                     'wrk.body = "q=%s"\n'
                     'wrk.headers["Content-Type"] = '
                     '"application/x-www-form-urlencoded"\n' % TERM)
    print("tavik-serve under wrk, POST q=%s, %d s per row; %d cores.\n"
          % (TERM, args.duration, os.cpu_count() or 1))
    print("| tree | connections | requests/s | p50 ms | p90 ms | p99 ms | errors "
          "| in-process searches/s | server / in-process |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    failed = False
    notes = []
    for name, arguments, description in TREES:
        tree = make_tree(args.data, name, arguments)
        count, size = tree_size(tree)
        notes.append("- %s: %s (%d documents, %.1f MB)"
                     % (name, description, count, size / 1e6))
        server = Server(args.build, tree)
        try:
            for connections in CONNECTIONS:
                load = run_wrk(server.url, connections, args.duration, script.name)
                in_process = run_in_process(args.build, tree, connections,
                                            args.duration)
                failed = failed or load["errors"] > 0
                print("| %s | %d | %.0f | %.2f | %.2f | %.2f | %d | %.0f | %.2f |"
                      % (name, connections, load["rps"], load["p50"], load["p90"],
                         load["p99"], load["errors"], in_process,
                         load["rps"] / in_process))
                sys.stdout.flush()
        finally:
            server.stop()
    print()
    print("\n".join(notes))
    print("- in-process: `tavik-search --repeat N`, one process per connection, "
          "each running the search N times for about the same time")

    print("\nThe same searches through nginx in front of one tavik-serve "
          "(deploy/nginx/), next to tavik-serve alone, %d s per row.\n" % args.duration)
    print("| tree | connections | alone requests/s | alone p99 ms | alone errors "
          "| nginx requests/s | nginx p99 ms | nginx errors | nginx / alone |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    module = os.path.join(args.build, "mod_tavik.so")
    with_apache = os.path.exists(module)
    apache_rows = []
    for name, arguments, _ in TREES:
        tree = make_tree(args.data, name, arguments)
        server = Server(args.build, tree, "--trusted-proxy", "127.0.0.1")
        apache = None
        try:
            front = Front(tree, [server.port])
            if with_apache:
                apache = Apache(tree, module, os.path.join(args.build, "libtavik.so"))
            try:
                for connections in FRONT_CONNECTIONS:
                    alone = run_wrk(server.url, connections, args.duration, script.name)
                    through = run_wrk(front.base + "/search", connections, args.duration,
                                      script.name)
                    failed = failed or alone["errors"] > 0 or through["errors"] > 0
                    print("| %s | %d | %.0f | %.2f | %d | %.0f | %.2f | %d | %.2f |"
                          % (name, connections, alone["rps"], alone["p99"], alone["errors"],
                             through["rps"], through["p99"], through["errors"],
                             through["rps"] / alone["rps"]))
                    sys.stdout.flush()
                    if apache:
                        inside = run_wrk(apache.base + "/search", connections,
                                         args.duration, script.name)
                        failed = failed or inside["errors"] > 0
                        apache_rows.append((name, connections, alone, through, inside))
            finally:
                front.stop()
                if apache:
                    apache.stop()
        finally:
            server.stop()
    print("\n- wrk, nginx and tavik-serve share the machine's cores; a second "
          "backend on the same cores could only share them too, so none is measured")
    if apache_rows:
        print("\nThe same searches through Apache httpd with mod_tavik (event model, "
              "4 children of 640 threads), beside tavik-serve alone and nginx in front "
              "from the rows above, %d s per row.\n" % args.duration)
        print("| tree | connections | server | requests/s | p99 ms | errors | / alone |")
        print("|---|---:|---|---:|---:|---:|---:|")
        for name, connections, alone, through, inside in apache_rows:
            for server_name, load in (("tavik-serve alone", alone),
                                      ("nginx in front", through),
                                      ("Apache, mod_tavik", inside)):
                print("| %s | %d | %s | %.0f | %.2f | %d | %.2f |"
                      % (name, connections, server_name, load["rps"], load["p99"],
                         load["errors"], load["rps"] / alone["rps"]))
    elif not with_apache:
        print("\n- no Apache rows: mod_tavik is not built here (Debian: apache2-dev)")
    os.unlink(script.name)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
