// mod_tavik in Apache's event model under wrk: at 16 and 64 connections no
// error and no wrong page; then, during a third run, two graceful restarts
// (apachectl -k graceful: the same binary and configuration), still no
// error, and the processes' memory and descriptors flat across them: each
// restart unloads the library in the old children and loads it in new
// ones, and the parent loads and unloads it once to check it.
//
// The third run asks on a new connection for each request. On a kept-alive
// connection, a restart's old child closes the connection when it is idle,
// and a request the client sends at that instant gets no answer: HTTP's
// race between a server's close and a client's next request, which
// browsers meet by sending the request again. wrk counts it as an error
// instead; docs/apache.md gives the figures.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import { paths, request } from '../serve/e2e/serve_fixture.mjs';
import { makeCorpus, processStats, runWrk, wrkScript } from '../serve/e2e/load_fixture.mjs';
import {
  EVENT_LINES, childrenOf, configuration, runFolders, shareLibrary, sleep,
  startApacheOnFreePort,
} from './apache_fixture.mjs';

const SECONDS = 10;
const TERM = 'Quokka';
const RESTARTS_AT_MS = [3000, 6000];
// What the parent may grow by over the second restart (the first warms
// Apache's configuration pools up), and a new child beyond the largest
// before the restarts; a leak in each load and unload of the library would
// show in the parent, and in the children it forks.
const PARENT_GROWTH_KIB = 256;

// The parent's and its children's memory and descriptors.
function snapshot(parent) {
  const children = childrenOf(parent).map((pid) => ({ pid, ...processStats(pid) }));
  return {
    parent: processStats(parent),
    children,
    childRssKiB: Math.max(...children.map((child) => child.rssKiB)),
    childFds: Math.max(...children.map((child) => child.fds)),
  };
}

// Waits until the children are all new (none of `old`), at most 10 s.
async function renewed(parent, old) {
  const deadline = Date.now() + 10000;
  for (;;) {
    const now = childrenOf(parent);
    if (now.length > 0 && now.every((pid) => !old.includes(pid))) return now;
    if (Date.now() > deadline) throw new Error(`the children were not renewed: ${now}`);
    await sleep(100);
  }
}

const describeCounts = (counts) => `${counts.requests} requests, ${counts.rps.toFixed(0)}/s, ` +
  `p50 ${counts.p50 / 1000} ms, p99 ${counts.p99 / 1000} ms; errors ${counts.errors} (connect ` +
  `${counts.connect}, read ${counts.read}, write ${counts.write}, status ${counts.status}, ` +
  `timeout ${counts.timeout}), wrong pages ${counts.wrong}`;

describe('mod_tavik in Apache\'s event model under load and graceful restarts', () => {
  let folders;
  let server;
  let script;

  before(async () => {
    folders = runFolders('load');
    const tree = makeCorpus(path.join(folders.shared, 'tree'), 300);
    fs.chmodSync(folders.shared, 0o755);
    const extension = shareLibrary(folders.shared, paths.extension);
    server = await startApacheOnFreePort(folders.root, (port) => configuration({
      root: folders.root, port, site: tree, extension, mpmLines: EVENT_LINES,
    }));
    const page = await request(server.port, 'POST', '/search', {
      body: `q=${TERM}`, headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
    });
    assert.equal(page.status, 200);
    assert.match(page.body, /hit\(s\) found/);
    script = path.join(folders.root, 'search.lua');
    fs.writeFileSync(script, wrkScript(Buffer.from(page.body, 'latin1'), TERM));
  });

  after(async () => {
    if (server) await server.stop();
    folders?.remove();
  });

  it('answers every request right at 16 and 64 connections', async (t) => {
    for (const connections of [16, 64]) {
      const counts = await runWrk(`${server.base}/search`, script, SECONDS,
        { connections, timeout: '10s', extra: ['--latency'] });
      t.diagnostic(`${connections} connections: ${describeCounts(counts)}`);
      assert.ok(counts.requests > 0);
      assert.equal(counts.answers, counts.requests);
      assert.equal(counts.errors, 0);
      assert.equal(counts.wrong, 0);
    }
  });

  it('keeps answering through two graceful restarts, and leaks nothing across them', async (t) => {
    const before = snapshot(server.pid);
    const closing = path.join(folders.root, 'search-closing.lua');
    fs.writeFileSync(closing, `${fs.readFileSync(script, 'latin1')}\n` +
      'wrk.headers["Connection"] = "close"\n');
    const load = runWrk(`${server.base}/search`, closing, SECONDS,
      { connections: 16, timeout: '10s', extra: ['--latency'] });
    const started = Date.now();
    const parents = [];
    let children = before.children.map((child) => child.pid);
    for (const at of RESTARTS_AT_MS) {
      await sleep(at - (Date.now() - started));
      server.graceful();
      children = await renewed(server.pid, children);
      parents.push(processStats(server.pid));
    }
    const counts = await load;
    // The restarted children have served the load's end; measured idle.
    await sleep(500);
    const afterRestarts = snapshot(server.pid);
    t.diagnostic(`during two graceful restarts: ${describeCounts(counts)}`);
    t.diagnostic(`parent VmRSS/VmData KiB, fds: before ${before.parent.rssKiB}/` +
      `${before.parent.dataKiB}, ${before.parent.fds}; after the first restart ` +
      `${parents[0].rssKiB}/${parents[0].dataKiB}, ${parents[0].fds}; after the second ` +
      `${parents[1].rssKiB}/${parents[1].dataKiB}, ${parents[1].fds}`);
    t.diagnostic(`children (largest VmRSS KiB, most fds): before ${before.childRssKiB}, ` +
      `${before.childFds} in ${before.children.length}; after ${afterRestarts.childRssKiB}, ` +
      `${afterRestarts.childFds} in ${afterRestarts.children.length}`);
    assert.equal(counts.answers, counts.requests);
    assert.equal(counts.errors, 0);
    assert.equal(counts.wrong, 0);
    assert.equal(parents[1].fds, before.parent.fds);
    assert.ok(parents[1].dataKiB - parents[0].dataKiB <= PARENT_GROWTH_KIB,
      `the parent's VmData grew by ${parents[1].dataKiB - parents[0].dataKiB} KiB`);
    assert.ok(parents[1].rssKiB - parents[0].rssKiB <= PARENT_GROWTH_KIB,
      `the parent's VmRSS grew by ${parents[1].rssKiB - parents[0].rssKiB} KiB`);
    assert.ok(afterRestarts.childFds <= before.childFds,
      `a child holds ${afterRestarts.childFds} descriptors, ${before.childFds} before`);
    assert.ok(afterRestarts.childRssKiB <= before.childRssKiB + PARENT_GROWTH_KIB,
      `a child holds ${afterRestarts.childRssKiB} KiB, ${before.childRssKiB} before`);
  });
});
