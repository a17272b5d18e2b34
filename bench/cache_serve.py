#!/usr/bin/env python3
"""tavik-serve under load with the summary cache off and on: wrk sends one
search at a time to the server on the 5,000-document make-corpus tree (or
the tree --tree names), after a warm-up of single requests that fills the
cache (and warms the page cache the same way when it is off): form posts
for an absent term and a rare one, and a search by URL (the word search)
for the rare one.

usage: cache_serve.py BUILD DATA [--duration SECONDS] [--connections N]
                      [--tree PATH] [--only-on]
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

# The term, what it is, and how it is sent: a form post, or by URL.
SEARCHES = (("zzqxv", "absent", "POST"), ("Quokka", "rare", "POST"),
            ("Quokka", "rare", "GET"))
SETTINGS = (("off", {"TAVIK_CACHE_MB": "0"}),
            ("on", {"TAVIK_CACHE_MB": "256"}))
WARM_UP_REQUESTS = 40


def search(url, term, method):
    if method == "GET":
        request = urllib.request.Request(url + "?q=" + term)
    else:
        request = urllib.request.Request(url, data=("q=" + term).encode(),
                                         method="POST")
    with urllib.request.urlopen(request, timeout=120) as response:
        response.read()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("data")
    parser.add_argument("--duration", type=int, default=10)
    parser.add_argument("--connections", type=int, default=16)
    parser.add_argument("--tree", help="a tree made already (make-corpus)")
    parser.add_argument("--only-on", action="store_true",
                        help="only with the cache on (for large trees)")
    args = parser.parse_args()
    os.makedirs(args.data, exist_ok=True)
    tree = args.tree or serve_bench.make_tree(args.data, "corpus", [])
    # The cache trusts only documents older than two seconds.
    time.sleep(2.1)
    count, size = serve_bench.tree_size(tree)

    print("tavik-serve under wrk, %d connections, %d s per row, after %d "
          "single requests; %d cores; %d documents, %.1f MB.\n"
          % (args.connections, args.duration, WARM_UP_REQUESTS,
             os.cpu_count() or 1, count, size / 1e6))
    print("| search | cache | requests/s | p50 ms | p90 ms | p99 ms | errors "
          "| on / off |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    failed = False
    settings = SETTINGS[1:] if args.only_on else SETTINGS
    for term, kind, method in SEARCHES:
        with tempfile.NamedTemporaryFile("w", suffix=".lua",
                                         delete=False) as script:
            if method == "POST":
                script.write('wrk.method = "POST"\n'
                             'wrk.body = "q=%s"\n'
                             'wrk.headers["Content-Type"] = '
                             '"application/x-www-form-urlencoded"\n' % term)
            else:
                script.write('wrk.path = "/search?q=%s"\n' % term)
        rates = {}
        for name, environment in settings:
            os.environ.update(environment)
            server = serve_bench.Server(args.build, tree)
            try:
                for _ in range(WARM_UP_REQUESTS):
                    search(server.url, term, method)
                load = serve_bench.run_wrk(server.url, args.connections,
                                           args.duration, script.name)
            finally:
                server.stop()
            rates[name] = load["rps"]
            failed = failed or load["errors"] > 0
            ratio = ("%.1f" % (load["rps"] / rates["off"])
                     if name == "on" and "off" in rates else "")
            label = "form post" if method == "POST" else "by URL"
            print("| %s (%s, %s) | %s | %.0f | %.2f | %.2f | %.2f | %d | %s |"
                  % (term, kind, label, name, load["rps"], load["p50"],
                     load["p90"], load["p99"], load["errors"], ratio))
            sys.stdout.flush()
        os.unlink(script.name)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
