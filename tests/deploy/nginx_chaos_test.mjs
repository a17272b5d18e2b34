// nginx in front of three tavik-serve backends on the 5,000-document tree,
// under 16 connections of form posts and searches by URL whose every body is
// checked against the page for its query: first without chaos, then while a
// random backend is killed (SIGKILL) every 1 to 3 s and started again at
// once, then while a random backend's port is cut off the network (every
// packet to or from it dropped) for 5 s every 1 to 3 s. No request may get
// an error or a cut or wrong page: a backend holds its answer until the
// search is done, so one that dies has sent nothing, and nginx asks
// another.
//
// It runs in a network namespace of its own (ctest starts it through
// in_own_network.sh: `unshare --net`, its loopback up), where the cut is an
// nftables rule that goes with the namespace; it refuses to run anywhere
// else.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import { makeCorpus } from '../host/serve/e2e/load_fixture.mjs';
import { Connection } from '../host/serve/e2e/serve_fixture.mjs';
import {
  logLines, sleep, startBackend, startFront, workFolder,
} from './nginx_fixture.mjs';

const BACKENDS = 3;
const CONNECTIONS = 16;
const QUIET_SECONDS = 10;
const CHAOS_SECONDS = 30;
const GAP_MS = [1000, 3000];
const CUT_MS = 5000;
// A request not answered in this long counts as lost: past nginx's own
// proxy_read_timeout (60 s). A request caught on a connection whose packets
// are dropped waits for the cut to end and for TCP to send again (about
// 6 s after a 5 s cut, 12 s or 25 s when the same backend is cut again
// before TCP's next try).
const ANSWER_LIMIT_MS = 65000;
const FORM = { 'Content-Type': 'application/x-www-form-urlencoded' };
// Classic form posts and searches by URL (HTML and JSON), with hits, with
// none, past the classic search's limit, on a later page, below the mount.
const QUERIES = [
  { method: 'POST', target: '/search', body: 'q=Quokka' },
  { method: 'POST', target: '/search', body: 'q=zzqxv' },
  { method: 'POST', target: '/search', body: 'q=the' },
  { method: 'POST', target: '/search/d003', body: 'q=line+file' },
  { method: 'GET', target: '/search?q=quokka' },
  { method: 'GET', target: '/search?q=quokka&format=json' },
  { method: 'GET', target: '/search?q=the+of&page=2' },
  { method: 'GET', target: '/search/d001?q=ban+isne&format=json' },
];
const NFT_TABLE = ['inet', 'tavik_chaos'];
// Further options for the backends, to see what the test catches: with
// "--whole-answer-limit 0" (each answer sent as it is written) the kills
// cut answers nginx had begun to pass on.
const BACKEND_OPTIONS = (process.env.TAVIK_CHAOS_BACKEND_OPTIONS ?? '').split(/\s+/)
  .filter(Boolean);

// The tree, made once into the build folder (15 s) and kept for later runs.
function corpusTree() {
  const tree = process.env.TAVIK_CHAOS_TREE;
  if (!tree) throw new Error('TAVIK_CHAOS_TREE is not set: run the test through ctest');
  const done = path.join(tree, '.complete');
  if (!fs.existsSync(done)) {
    fs.rmSync(tree, { recursive: true, force: true });
    makeCorpus(tree, 5000);
    fs.writeFileSync(done, '');
  }
  return tree;
}

// A random number source the run prints its seed of.
function randomSource(seed) {
  let state = seed >>> 0;
  return () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

function nft(...args) {
  execFileSync(process.env.TAVIK_NFT || 'nft', args, { stdio: ['ignore', 'ignore', 'pipe'] });
}

// The answer to `query` on `connection`: its status and body, or the way it
// failed.
async function ask(connection, query) {
  connection.send(query.method, query.target,
    query.body === undefined ? {} : { headers: FORM, body: query.body });
  return connection.read({ timeoutMs: ANSWER_LIMIT_MS });
}

// Runs `connections` clients for `seconds`, each on a kept-alive connection
// to `port`, each asking the queries in turn from its own place in the
// list and checking every answer against `expected`. Resolves to the
// counts and the latencies in ms.
async function load(port, expected, seconds, connections) {
  const result = {
    requests: 0, ok: 0, status: 0, cut: 0, wrong: 0, lost: 0, timeout: 0, connect: 0,
    latencies: [],
    firstFaults: [],
  };
  const fault = (kind, query, detail) => {
    result[kind] += 1;
    if (result.firstFaults.length < 5) {
      result.firstFaults.push(`${kind}: ${query.method} ${query.target} ${query.body ?? ''}` +
        ` ${detail}`.slice(0, 300));
    }
  };
  const end = Date.now() + seconds * 1000;
  await Promise.all(Array.from({ length: connections }, async (_, client) => {
    let connection = null;
    for (let turn = client; Date.now() < end; ++turn) {
      const index = turn % QUERIES.length;
      const query = QUERIES[index];
      if (connection === null) {
        try {
          connection = await Connection.open(port);
        } catch (error) {
          fault('connect', query, error.message);
          await sleep(10);
          continue;
        }
      }
      ++result.requests;
      const started = performance.now();
      let response;
      try {
        response = await ask(connection, query);
      } catch (error) {
        // The connection stayed silent, or ended: inside the answer (a cut
        // one), or before any of it.
        const kind = /timed out/.test(error.message) ? 'timeout'
          : connection.buffer.length > 0 ? 'cut' : 'lost';
        fault(kind, query, error.message);
        connection.close();
        connection = null;
        continue;
      }
      result.latencies.push(performance.now() - started);
      if (response.status !== 200) {
        fault('status', query, response.statusLine);
      } else if (response.body === expected[index]) {
        ++result.ok;
      } else if (expected[index].startsWith(response.body)) {
        fault('cut', query, `${response.body.length} of ${expected[index].length} bytes`);
      } else {
        fault('wrong', query, response.body.slice(0, 200));
      }
      if (response.headers.connection === 'close' || connection.ended) {
        connection.close();
        connection = null;
      }
    }
    connection?.close();
  }));
  const sorted = result.latencies.sort((a, b) => a - b);
  const at = (share) => sorted[Math.min(sorted.length - 1, Math.floor(share * sorted.length))];
  result.p50 = at(0.5);
  result.p99 = at(0.99);
  result.max = sorted[sorted.length - 1];
  result.errors = result.status + result.cut + result.wrong + result.lost + result.timeout +
    result.connect;
  return result;
}

function summary(name, seconds, result, extra = '') {
  return `${name}: ${result.requests} requests in ${seconds} s ` +
    `(${(result.requests / seconds).toFixed(0)}/s), ${result.ok} right; non-2xx ` +
    `${result.status}, cut ${result.cut}, wrong ${result.wrong}, lost ${result.lost}, ` +
    `timed out ${result.timeout}, no connection ${result.connect}; ` +
    `latency p50 ${result.p50.toFixed(1)} ms, ` +
    `p99 ${result.p99.toFixed(1)} ms, max ${result.max.toFixed(1)} ms${extra}` +
    (result.firstFaults.length ? `; first faults: ${result.firstFaults.join(' | ')}` : '');
}

describe('nginx in front of three backends under chaos', () => {
  let folder;
  let tree;
  let backends;
  let front;
  let expected;
  const seed = Number(process.env.TAVIK_CHAOS_SEED ?? Date.now() % 1000000);
  const random = randomSource(seed);
  const gap = () => GAP_MS[0] + random() * (GAP_MS[1] - GAP_MS[0]);

  before(async () => {
    // The cut must never reach the machine's own network: the test runs in
    // a namespace made for it (in_own_network.sh), whose one interface is
    // its loopback.
    const outer = process.env.TAVIK_OUTER_NETNS;
    const interfaces = fs.readFileSync('/proc/net/dev', 'latin1').split('\n').slice(2)
      .map((line) => line.split(':')[0].trim()).filter(Boolean);
    assert.ok(outer && fs.readlinkSync('/proc/self/ns/net') !== outer &&
      interfaces.join() === 'lo', 'the chaos test runs only in a network namespace of ' +
      `its own, with its loopback alone (through ctest); here: ${interfaces.join(', ')}`);
    tree = corpusTree();
    folder = workFolder('chaos');
    backends = [];
    for (let i = 0; i < BACKENDS; ++i) {
      const log = path.join(folder, `backend-${i}.log`);
      backends.push({ log, server: await startBackend(tree, log, 0, BACKEND_OPTIONS) });
    }
    front = await startFront(folder, tree, backends.map(({ server }) => server.port));

    // The page for each query, from one backend alone; every other backend,
    // and nginx, must give the same.
    expected = [];
    for (const query of QUERIES) {
      const pages = [];
      for (const port of [...backends.map(({ server }) => server.port), front.port]) {
        const connection = await Connection.open(port);
        try {
          const response = await ask(connection, query);
          assert.equal(response.status, 200, `${query.target} ${query.body ?? ''}`);
          pages.push(response.body);
        } finally {
          connection.close();
        }
      }
      for (const page of pages) assert.equal(page, pages[0], `${query.target} ${query.body ?? ''}`);
      expected.push(pages[0]);
    }
    assert.match(expected[2], /narrow/, 'the classic search past its limit');
    assert.ok(expected[4].includes('<mark>'), 'the word search finds quokka');

    nft('add', 'table', ...NFT_TABLE);
    nft('add', 'chain', ...NFT_TABLE, 'input', '{ type filter hook input priority 0; }');
  });

  after(async () => {
    try {
      nft('delete', 'table', ...NFT_TABLE);
    } catch {
      // Not made, or gone with a failed start.
    }
    for (const backend of backends ?? []) {
      const { child } = backend.server;
      if (child.exitCode === null && child.signalCode === null) await backend.server.stop();
    }
    if (front) await front.stop();
    if (folder) fs.rmSync(folder, { recursive: true, force: true });
  });

  // Starts backend `index` again on its port, as a supervisor would.
  async function restart(index) {
    const backend = backends[index];
    for (let attempt = 1; ; ++attempt) {
      try {
        backend.server = await startBackend(tree, backend.log, backend.server.port,
          BACKEND_OPTIONS);
        return;
      } catch (error) {
        if (attempt >= 20) throw error;
        await sleep(50);
      }
    }
  }

  // The lines of nginx's error log about its backends (one refused, reset,
  // closed or timed out: nginx passed the request on), counted by what they
  // say, from line `from` on.
  const upstreamLines = () => front.errors().split('\n')
    .filter((line) => /upstream/.test(line));
  function retried(from) {
    const counts = {};
    for (const line of upstreamLines().slice(from)) {
      const what = /\] \d+#\d+: \*\d+ (.*?)(?: while|,)/.exec(line)?.[1] ?? line;
      counts[what] = (counts[what] ?? 0) + 1;
    }
    const total = Object.values(counts).reduce((sum, count) => sum + count, 0);
    return { total, text: `${total} (${Object.entries(counts).map(([what, count]) =>
      `${what}: ${count}`).join('; ')})` };
  }

  it('answers every request the same without chaos', async (t) => {
    const result = await load(front.port, expected, QUIET_SECONDS, CONNECTIONS);
    t.diagnostic(summary('no chaos', QUIET_SECONDS, result));
    assert.equal(result.errors, 0);
    assert.equal(result.ok, result.requests);
  });

  it('answers every request while backends are killed and started again', async (t) => {
    const errorsBefore = upstreamLines().length;
    const answeredBefore = backends.map(({ log }) => logLines(log).length);
    const end = Date.now() + CHAOS_SECONDS * 1000;
    const kills = [];
    const chaos = (async () => {
      for (;;) {
        await sleep(gap());
        if (Date.now() > end - 500) return;
        const index = Math.floor(random() * BACKENDS);
        const { server } = backends[index];
        const killed = Date.now();
        server.child.kill('SIGKILL');
        await server.exited;
        const gone = Date.now();
        await restart(index);
        kills.push({ index, exitMs: gone - killed, downMs: Date.now() - killed });
      }
    })();
    const result = await load(front.port, expected, CHAOS_SECONDS, CONNECTIONS);
    await chaos;
    const answered = backends.map(({ log }, i) => logLines(log).length - answeredBefore[i]);
    t.diagnostic(summary('SIGKILL', CHAOS_SECONDS, result,
      `; seed ${seed}; ${kills.length} kills (backends ${kills.map(({ index }) => index).join('')}` +
      `, each gone after ${Math.max(...kills.map(({ exitMs }) => exitMs))} ms at most and ` +
      `serving again after ${Math.min(...kills.map(({ downMs }) => downMs))} to ` +
      `${Math.max(...kills.map(({ downMs }) => downMs))} ms); requests nginx passed on: ` +
      `${retried(errorsBefore).text}; answered by each backend: ${answered.join(', ')}`));
    assert.ok(kills.length >= CHAOS_SECONDS / GAP_MS[1] - 1, `${kills.length} kills`);
    assert.ok(retried(errorsBefore).total > 0, 'the kills caught requests in flight');
    assert.ok(answered.every((count) => count > 0), 'every backend answered');
    assert.equal(result.errors, 0);
    assert.equal(result.ok, result.requests);
  });

  it('answers every request while backends are cut off the network for 5 s', async (t) => {
    const errorsBefore = upstreamLines().length;
    const end = Date.now() + CHAOS_SECONDS * 1000;
    const cuts = [];
    const chaos = (async () => {
      for (;;) {
        await sleep(gap());
        if (Date.now() > end - CUT_MS) return;
        const index = Math.floor(random() * BACKENDS);
        const port = String(backends[index].server.port);
        nft('add', 'rule', ...NFT_TABLE, 'input', 'tcp', 'dport', port, 'drop');
        nft('add', 'rule', ...NFT_TABLE, 'input', 'tcp', 'sport', port, 'drop');
        try {
          await sleep(CUT_MS);
        } finally {
          nft('flush', 'chain', ...NFT_TABLE, 'input');
        }
        cuts.push(index);
      }
    })();
    const result = await load(front.port, expected, CHAOS_SECONDS, CONNECTIONS);
    await chaos;
    t.diagnostic(summary('network cut', CHAOS_SECONDS, result,
      `; seed ${seed}; ${cuts.length} cuts of ${CUT_MS} ms (backends ${cuts.join('')}); ` +
      `requests nginx passed on: ${retried(errorsBefore).text}`));
    assert.ok(cuts.length >= 3, `${cuts.length} cuts`);
    assert.equal(result.errors, 0);
    assert.equal(result.ok, result.requests);
  });
});
