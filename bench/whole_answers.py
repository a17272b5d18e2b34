#!/usr/bin/env python3
"""What whole answers cost tavik-serve: wrk sends requests to the server on
the 5,000-document make-corpus tree, once with each answer held until the
search is done and sent whole with its length (the default), once with
each sent as the extension writes it (--whole-answer-limit 0, as before),
at 16 and 64 connections, with the summary cache as the environment sets it
(on by default). Two sets of requests: a form post whose search ends at
once (q=the, which every document holds: the page that asks to narrow the
search), where the server's own work is most of the cost; and a mix of form
posts and searches by URL, HTML and JSON. Each run has a server of its own,
warmed up for 3 s with the same requests; the two ways alternate, for the
given number of rounds. Memory is the server's peak resident size (VmHWM)
over its life.

usage: whole_answers.py BUILD DATA [--duration SECONDS] [--rounds N]
BUILD holds tavik-serve and libtavik.so; the tree goes to DATA. Prints a
Markdown table. Every request must succeed: errors are counted and shown,
and the run fails when there are any.
"""
import argparse
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import serve_bench  # noqa: E402  (the tree, the server and wrk)

CONNECTIONS = (16, 64)
MODES = (("streamed", ["--whole-answer-limit", "0"]), ("whole", []))
WARM_UP_SECONDS = 3
FORM = '{ ["Content-Type"] = "application/x-www-form-urlencoded" }'
# name, the requests sent in turn (wrk.format arguments)
REQUEST_SETS = (
    ("POST q=the", ['"POST", "/search", %s, "q=the"' % FORM]),
    ("mix", ['"POST", "/search", %s, "q=Quokka"' % FORM,
             '"GET", "/search?q=quokka"',
             '"POST", "/search", %s, "q=zzqxv"' % FORM,
             '"GET", "/search?q=quokka&format=json"']),
)


def wrk_script(requests):
    return ("local requests = {}\nlocal turn = 0\n"
            "function init(args)\n  requests = {\n%s  }\nend\n"
            "function request()\n  turn = turn %% #requests + 1\n"
            "  return requests[turn]\nend\n"
            % "".join("    wrk.format(%s),\n" % each for each in requests))


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise RuntimeError("no VmHWM for %d" % pid)


def measure(build, tree, options, connections, duration, script):
    server = serve_bench.Server(build, tree, *options)
    try:
        base = "http://127.0.0.1:%d" % server.port
        serve_bench.run_wrk(base, connections, WARM_UP_SECONDS, script)
        result = serve_bench.run_wrk(base, connections, duration, script)
        result["peak_mib"] = peak_kib(server.process.pid) / 1024.0
        return result
    finally:
        server.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("data")
    parser.add_argument("--duration", type=int, default=10)
    parser.add_argument("--rounds", type=int, default=2)
    args = parser.parse_args()
    os.makedirs(args.data, exist_ok=True)
    tree = serve_bench.make_tree(args.data, "corpus", [])
    cache = os.environ.get("TAVIK_CACHE_MB", "the default, 256")

    print("tavik-serve on the 5,000-document tree, answers streamed and whole, "
          "%d s per run, %d rounds; summary cache MiB: %s; %d cores.\n"
          % (args.duration, args.rounds, cache, os.cpu_count() or 1))
    print("| requests | connections | answers | requests/s | p50 ms | p99 ms | errors "
          "| peak RSS MiB |")
    print("|---|---:|---|---:|---:|---:|---:|---:|")
    failed = False
    summary = []
    for set_name, requests in REQUEST_SETS:
        with tempfile.NamedTemporaryFile("w", suffix=".lua", delete=False) as script:
            script.write(wrk_script(requests))
        for connections in CONNECTIONS:
            runs = {name: [] for name, _ in MODES}
            for _ in range(args.rounds):
                for name, options in MODES:
                    result = measure(args.build, tree, options, connections,
                                     args.duration, script.name)
                    failed = failed or result["errors"] > 0
                    runs[name].append(result)
                    print("| %s | %d | %s | %.0f | %.2f | %.2f | %d | %.1f |"
                          % (set_name, connections, name, result["rps"], result["p50"],
                             result["p99"], result["errors"], result["peak_mib"]))
                    sys.stdout.flush()
            mean = {name: {key: sum(run[key] for run in values) / len(values)
                           for key in ("rps", "p50", "p99", "peak_mib")}
                    for name, values in runs.items()}
            summary.append((set_name, connections, mean["streamed"], mean["whole"]))
        os.unlink(script.name)

    print("\nMeans over the rounds; the ratios and differences are whole against "
          "streamed.\n")
    print("| requests | connections | streamed requests/s | whole requests/s | whole / streamed "
          "| streamed p50 ms | whole p50 ms | streamed p99 ms | whole p99 ms "
          "| streamed peak MiB | whole peak MiB | peak difference MiB |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for set_name, connections, streamed, whole in summary:
        print("| %s | %d | %.0f | %.0f | %.2f | %.2f | %.2f | %.2f | %.2f | %.1f | %.1f | %+.1f |"
              % (set_name, connections, streamed["rps"], whole["rps"],
                 whole["rps"] / streamed["rps"], streamed["p50"], whole["p50"],
                 streamed["p99"], whole["p99"], streamed["peak_mib"], whole["peak_mib"],
                 whole["peak_mib"] - streamed["peak_mib"]))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
