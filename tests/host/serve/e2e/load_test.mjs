// tavik-serve under load: wrk posts searches at 64 connections for 30 s on a
// generated tree. Every answer must be the full, right page, other clients
// must get answers meanwhile, and the server's memory and descriptors must
// be where they were once the load is over.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import { paths, resultRows, search, startServer } from './serve_fixture.mjs';
import { makeCorpus, processStats, settledFds, sleep } from './load_fixture.mjs';

const SECONDS = Number(process.env.TAVIK_LOAD_SECONDS || 30);
const CONNECTIONS = 64;
const TERM = 'Quokka';
// Growth allowed from before the load to after it. The server runs with
// malloc tuned so that its data size follows the memory in use: one arena,
// no per-thread cache, blocks of 16 KiB and more mapped on their own, and
// free memory at the top of the heap given back. A leak then cannot hide in
// the holes earlier requests left: one of 16 bytes a request (some 40,000
// requests in the run) passes the margin. The resident size also counts the
// stack pages of worker threads first used during the run.
const DATA_MARGIN_KIB = 512;
const RSS_MARGIN_KIB = 1024;
// Clients beside the load are answered within this.
const ANSWER_LIMIT_MS = 2000;

// A Lua string literal holding `bytes` exactly.
function luaString(bytes) {
  let literal = '"';
  for (const byte of bytes) {
    const printable = byte >= 0x20 && byte < 0x7f && byte !== 0x22 && byte !== 0x5c;
    literal += printable ? String.fromCharCode(byte) : `\\${String(byte).padStart(3, '0')}`;
  }
  return literal + '"';
}

// The wrk script: posts the form, counts answers that are not `page`, and
// prints its counts and wrk's own when the run ends.
function wrkScript(page) {
  return `
wrk.method = "POST"
wrk.body = "q=${TERM}"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
local expected = ${luaString(page)}
local threads = {}
function setup(thread) table.insert(threads, thread) end
function init(args) answers = 0; wrong = 0 end
function response(status, headers, body)
  answers = answers + 1
  if status ~= 200 or body ~= expected then wrong = wrong + 1 end
end
function done(summary, latency, requests)
  local answers, wrong = 0, 0
  for _, thread in ipairs(threads) do
    answers = answers + thread:get("answers")
    wrong = wrong + thread:get("wrong")
  end
  local e = summary.errors
  io.write(string.format("tavik-wrk: requests %d seconds %.3f answers %d wrong %d " ..
    "connect %d read %d write %d status %d timeout %d " ..
    "p50 %d p99 %d max %d\\n", summary.requests, summary.duration / 1e6, answers, wrong,
    e.connect, e.read, e.write, e.status, e.timeout,
    latency:percentile(50), latency:percentile(99), latency.max))
end
`;
}

// Runs wrk and resolves to the counts its script printed.
function runWrk(url, script, seconds, extra = []) {
  return new Promise((resolve, reject) => {
    const child = spawn('wrk', ['-t2', `-c${CONNECTIONS}`, `-d${seconds}s`, '--timeout', '2s',
      '-s', script, ...extra, url], { stdio: ['ignore', 'pipe', 'pipe'] });
    let output = '';
    child.stdout.on('data', (data) => { output += data; });
    child.stderr.on('data', (data) => { output += data; });
    child.on('error', reject);
    child.on('exit', (code) => {
      const line = /tavik-wrk: (.*)/.exec(output);
      if (code !== 0 || !line) {
        reject(new Error(`wrk failed (${code}): ${output}`));
        return;
      }
      const counts = {};
      for (const [, name, value] of line[1].matchAll(/(\w+) ([\d.]+)/g)) counts[name] = Number(value);
      counts.errors = counts.connect + counts.read + counts.write + counts.status + counts.timeout;
      counts.rps = counts.requests / counts.seconds;
      resolve(counts);
    });
  });
}

describe(`tavik-serve under ${SECONDS} s of wrk at ${CONNECTIONS} connections`, () => {
  let root;
  let server;
  let page;
  let script;
  let idle;

  before(async () => {
    root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavik-load-'));
    const tree = makeCorpus(path.join(root, 'tree'), 300);
    // See DATA_MARGIN_KIB. The variables reach the server, which this
    // process starts.
    process.env.MALLOC_ARENA_MAX = '1';
    process.env.GLIBC_TUNABLES = ['tcache_count=0', 'mmap_threshold=16384',
      'trim_threshold=0', 'top_pad=0'].map((tunable) => `glibc.malloc.${tunable}`).join(':');
    server = await startServer(['--docroot', tree, '--extension', paths.extension]);
    // Before any connection: a closed one may take the server a moment.
    idle = processStats(server.child.pid);
    page = Buffer.from((await search(server.port, TERM)).body, 'latin1');
    script = path.join(root, 'search.lua');
    fs.writeFileSync(script, wrkScript(page));
  });

  after(async () => {
    if (server) {
      const { code } = await server.stop();
      assert.equal(code, 0, 'the server stops cleanly after the load');
    }
    fs.rmSync(root, { recursive: true, force: true });
  });

  it('answers every search with the whole page, keeps memory and descriptors', async (t) => {
    assert.ok(resultRows(page.toString('latin1')).length > 0, 'the term has hits in the tree');
    const url = `${server.base}/search`;

    // Warm-up: a connection per request first, so that every worker thread
    // has run a search, then kept-alive connections as in the run.
    const churn = await runWrk(url, script, 4, ['-H', 'Connection: close']);
    const warm = await runWrk(url, script, 3);
    for (const counts of [churn, warm]) {
      assert.equal(counts.errors + counts.wrong, 0, JSON.stringify(counts));
    }
    assert.equal(await settledFds(server.child.pid, idle.fds), idle.fds);
    const before = processStats(server.child.pid);

    // The load, and beside it a client that searches on a new connection
    // every half second.
    let loading = true;
    const probes = [];
    const prober = (async () => {
      while (loading) {
        const started = Date.now();
        const answer = await search(server.port, TERM);
        probes.push({ ms: Date.now() - started, right: answer.body === page.toString('latin1') });
        await sleep(500);
      }
    })();
    const load = await runWrk(url, script, SECONDS, ['--latency']);
    loading = false;
    await prober;

    const fds = await settledFds(server.child.pid, before.fds);
    const afterLoad = processStats(server.child.pid);
    const slowest = Math.max(...probes.map((probe) => probe.ms));
    t.diagnostic(`wrk: ${load.requests} requests in ${load.seconds} s, ${load.rps.toFixed(0)}/s, ` +
      `latency p50 ${load.p50} us, p99 ${load.p99} us, max ${load.max} us; ` +
      `socket errors ${load.connect + load.read + load.write}, non-2xx ${load.status}, ` +
      `timeouts ${load.timeout}, wrong pages ${load.wrong}`);
    t.diagnostic(`server before: VmRSS ${before.rssKiB} KiB, VmData ${before.dataKiB} KiB, ` +
      `${before.fds} fds; after: VmRSS ${afterLoad.rssKiB} KiB, VmData ${afterLoad.dataKiB} KiB, ` +
      `${afterLoad.fds} fds (idle at start: VmRSS ${idle.rssKiB} KiB)`);
    t.diagnostic(`clients beside the load: ${probes.length} searches, slowest ${slowest} ms`);

    assert.ok(load.requests > SECONDS * 50, `only ${load.requests} requests`);
    assert.equal(load.answers, load.requests);
    assert.equal(load.errors, 0, 'no socket errors, timeouts or non-2xx answers');
    assert.equal(load.wrong, 0, 'every answer is the whole page');
    assert.ok(probes.length >= SECONDS, `${probes.length} searches beside the load`);
    assert.ok(probes.every((probe) => probe.right), 'the clients beside the load get the page');
    assert.ok(slowest < ANSWER_LIMIT_MS, `a client beside the load waited ${slowest} ms`);
    assert.equal(fds, before.fds, 'every connection closed');
    assert.ok(afterLoad.dataKiB <= before.dataKiB + DATA_MARGIN_KIB,
      `VmData grew from ${before.dataKiB} to ${afterLoad.dataKiB} KiB`);
    assert.ok(afterLoad.rssKiB <= before.rssKiB + RSS_MARGIN_KIB,
      `VmRSS grew from ${before.rssKiB} to ${afterLoad.rssKiB} KiB`);
  });
});
