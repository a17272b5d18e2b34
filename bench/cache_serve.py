#!/usr/bin/env python3
"""tavik-serve under load with the summary cache off and on: wrk posts one
term at a time to the server on the 5,000-document make-corpus tree, after
a warm-up of single requests that fills the cache (and warms the page cache
the same way when it is off). An absent term and a rare one.

usage: cache_serve.py BUILD DATA [--duration SECONDS] [--connections N]
BUILD holds tavik-serve and libtavik.so; the tree goes to DATA. Prints a
Markdown table. Every request must succeed: errors are counted and shown,
and the run fails when there are any.
"""
import argparse
import os
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import serve_bench  # noqa: E402  (the tree, the server and wrk)

TERMS = (("zzqxv", "absent"), ("Quokka", "rare"))
SETTINGS = (("off", {"TAVIK_CACHE_MB": "0"}),
            ("on", {"TAVIK_CACHE_MB": "256"}))
WARM_UP_REQUESTS = 40


def post(url, term):
    request = urllib.request.Request(url, data=("q=" + term).encode(),
                                     method="POST")
    with urllib.request.urlopen(request, timeout=60) as response:
        response.read()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("data")
    parser.add_argument("--duration", type=int, default=10)
    parser.add_argument("--connections", type=int, default=16)
    args = parser.parse_args()
    os.makedirs(args.data, exist_ok=True)
    tree = serve_bench.make_tree(args.data, "corpus", [])
    # The cache trusts only documents older than two seconds.
    time.sleep(2.1)
    count, size = serve_bench.tree_size(tree)

    print("tavik-serve under wrk, %d connections, %d s per row, after %d "
          "single requests; %d cores; %d documents, %.1f MB.\n"
          % (args.connections, args.duration, WARM_UP_REQUESTS,
             os.cpu_count() or 1, count, size / 1e6))
    print("| term | cache | requests/s | p50 ms | p90 ms | p99 ms | errors "
          "| on / off |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    failed = False
    for term, kind in TERMS:
        with tempfile.NamedTemporaryFile("w", suffix=".lua",
                                         delete=False) as script:
            script.write('wrk.method = "POST"\n'
                         'wrk.body = "q=%s"\n'
                         'wrk.headers["Content-Type"] = '
                         '"application/x-www-form-urlencoded"\n' % term)
        rates = {}
        for name, environment in SETTINGS:
            os.environ.update(environment)
            server = serve_bench.Server(args.build, tree)
            try:
                for _ in range(WARM_UP_REQUESTS):
                    post(server.url, term)
                load = serve_bench.run_wrk(server.url, args.connections,
                                           args.duration, script.name)
            finally:
                server.stop()
            rates[name] = load["rps"]
            failed = failed or load["errors"] > 0
            ratio = ("%.1f" % (load["rps"] / rates["off"])
                     if name == "on" else "")
            print("| %s (%s) | %s | %.0f | %.2f | %.2f | %.2f | %d | %s |"
                  % (term, kind, name, load["rps"], load["p50"], load["p90"],
                     load["p99"], load["errors"], ratio))
            sys.stdout.flush()
        os.unlink(script.name)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
