// tavik-serve as an operator meets it: what it says when it will not start
// (a site its user cannot read, an address it cannot listen on, no site or
// two), that it says when it serves the demo site, and its health check
// and metrics, read with Prometheus' own parser while the work moves them.
// The cases about users run the server as nobody (through setpriv), from a
// copy of the programs that nobody may run, and need root to do so.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, it } from 'node:test';

import {
  Connection, paths, request, runServer, search, startServer,
} from './serve_fixture.mjs';

const isRoot = process.getuid?.() === 0;
const asNobody = ['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups'];
const readMetrics = fileURLToPath(new URL('read_metrics.py', import.meta.url));

// A folder of the test's own that nobody may read, holding copies of the
// server and the library, and of the demo site. Returns { root, serve,
// site, remove() }.
function unprivilegedCopy() {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavik-operator-'));
  fs.chmodSync(root, 0o755);
  const serve = path.join(root, 'tavik-serve');
  fs.copyFileSync(paths.serve, serve);
  fs.copyFileSync(paths.extension, path.join(root, 'libtavik.so'));
  fs.chmodSync(serve, 0o755);
  const site = path.join(root, 'site');
  fs.cpSync(paths.site, site, { recursive: true });
  return { root, serve, site, remove: () => fs.rmSync(root, { recursive: true, force: true }) };
}

// The exposition text read by prometheus_client's parser: { family: { type,
// samples: [[name, labels, value]] } }.
function parseExposition(text) {
  const parsed = spawnSync(paths.python, [readMetrics], { input: text, encoding: 'utf8' });
  assert.equal(parsed.status, 0, `the exposition format's parser refused it: ${parsed.stderr}`);
  return JSON.parse(parsed.stdout);
}

// The value of the sample `name` with `labels` in `families`.
function sample(families, name, labels = {}) {
  for (const family of Object.values(families)) {
    for (const [sampleName, sampleLabels, value] of family.samples) {
      if (sampleName === name && JSON.stringify(sampleLabels) === JSON.stringify(labels)) {
        return value;
      }
    }
  }
  throw new Error(`no sample ${name} ${JSON.stringify(labels)}`);
}

async function scrape(port, target = '/metrics') {
  const response = await request(port, 'GET', target);
  assert.equal(response.status, 200);
  assert.equal(response.headers['content-type'], 'text/plain; version=0.0.4; charset=utf-8');
  return { families: parseExposition(response.body), bytes: response.body.length };
}

async function failsWithOneLine(args, pattern, options) {
  const { code, stderr } = await runServer(args, options);
  assert.equal(code, 1, `${args.join(' ')}: ${stderr}`);
  assert.equal(stderr.split('\n').filter(Boolean).length, 1, stderr);
  assert.match(stderr, /^tavik-serve: /);
  assert.match(stderr, pattern);
}

const escape = (text) => text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');

describe('tavik-serve refusing to start', () => {
  let copy;
  before(() => { copy = unprivilegedCopy(); });
  after(() => copy.remove());

  it('names the folder, the user and what is missing when it cannot read its site',
    { skip: !isRoot && 'needs root to run the server as nobody' }, async () => {
      const parent = path.join(copy.root, 'closed');
      const site = path.join(parent, 'site');
      fs.mkdirSync(site, { recursive: true });
      const user = escape('user nobody (uid 65534)');
      for (const [siteMode, parentMode, pattern] of [
        [0o700, 0o755, `${user} cannot read the document root ${escape(site)}: the folder ` +
          'lacks read and search permission \\(r-x\\)'],
        [0o711, 0o755, `${user} cannot read the document root ${escape(site)}: the folder ` +
          'lacks read permission \\(r\\): it cannot list the folder'],
        [0o744, 0o755, `${user} cannot read the document root ${escape(site)}: the folder ` +
          'lacks search permission \\(x\\)'],
        [0o755, 0o750, `${user} cannot reach the document root ${escape(site)}: the folder ` +
          `${escape(parent)} above it lacks search permission \\(x\\)`],
      ]) {
        fs.chmodSync(site, siteMode);
        fs.chmodSync(parent, parentMode);
        await failsWithOneLine(['--port', '0', '--docroot', site], new RegExp(pattern),
          { serve: copy.serve, wrapper: asNobody });
      }
    });

  it('says why it cannot listen', async () => {
    const first = await startServer(['--extension', paths.extension, '--threads', '4']);
    try {
      await failsWithOneLine(['--port', String(first.port), '--extension', paths.extension],
        new RegExp(`cannot listen on 127\\.0\\.0\\.1:${first.port}: the address is in use: ` +
          `another program listens on port ${first.port}$`, 'm'));
    } finally {
      // Killed: a stop that lets requests finish takes civetweb 2 s.
      await first.stop('SIGKILL');
    }
    await failsWithOneLine(['--port', '0', '--bind', '192.0.2.1', '--extension', paths.extension],
      /cannot listen on 192\.0\.2\.1:0: the address is not available: 192\.0\.2\.1 is not an address of this machine$/m);
    const unprivilegedStart = Number(
      fs.readFileSync('/proc/sys/net/ipv4/ip_unprivileged_port_start', 'utf8'));
    if (isRoot && unprivilegedStart > 81) {
      await failsWithOneLine(['--port', '81', '--docroot', copy.site],
        /cannot listen on 127\.0\.0\.1:81: permission denied: ports below 1024 need privileges/,
        { serve: copy.serve, wrapper: asNobody });
    }
  });

  it('refuses a --docroot that is empty or given twice, saying where the site is set', async () => {
    await failsWithOneLine(['--docroot', ''],
      /--docroot is empty: no site is set \(the service tavik-serve@PORT takes it from TAVIK_DOCROOT in \/etc\/default\/tavik-serve\)/);
    await failsWithOneLine(['--docroot', '/srv/a', '--docroot=/srv/b'],
      /--docroot is given twice \('\/srv\/a' and '\/srv\/b'\): set the site in one place/);
  });

  it('says so when it serves the demo site, and not otherwise', async () => {
    const demo = await startServer(['--extension', paths.extension, '--threads', '4']);
    await demo.stop('SIGKILL');
    assert.match(demo.output(),
      /^tavik-serve: serving the demo site \/\S+ \(--docroot DIR serves yours\) on http:\/\/127\.0\.0\.1:\d+\/ /);
    const given = await startServer(['--extension', paths.extension, '--docroot', paths.site,
      '--threads', '4']);
    await given.stop('SIGKILL');
    assert.match(given.output(), /^tavik-serve: serving \/\S+ on http:/);
    assert.doesNotMatch(given.output(), /demo/);
  });
});

describe('tavik-serve\'s health check and metrics', {
  skip: !isRoot && 'needs root to run the server as nobody',
}, () => {
  let copy;
  let server;

  before(async () => {
    copy = unprivilegedCopy();
    server = await startServer(['--docroot', copy.site, '--threads', '8', '--head-timeout', '1'],
      { serve: copy.serve, wrapper: asNobody });
  });

  after(async () => {
    fs.chmodSync(copy.site, 0o755);
    await server?.stop('SIGKILL');
    copy.remove();
  });

  it('answers the health check while its user can read the site, and 503 when it cannot', async () => {
    const well = await request(server.port, 'GET', '/healthz');
    assert.equal(well.status, 200);
    assert.equal(well.body, 'ok\n');
    assert.equal(well.headers['content-type'], 'text/plain; charset=utf-8');
    assert.equal((await request(server.port, 'HEAD', '/healthz')).status, 200);
    assert.equal((await request(server.port, 'POST', '/healthz', { body: 'x' })).status, 405);

    fs.chmodSync(copy.site, 0o700);
    try {
      const ill = await request(server.port, 'GET', '/healthz');
      assert.equal(ill.status, 503);
      assert.equal(ill.body, 'unavailable: user nobody (uid 65534) cannot read the document ' +
        `root ${copy.site}: the folder lacks read and search permission (r-x): it can ` +
        'neither list the folder nor open what it holds\n');
      assert.equal(sample((await scrape(server.port)).families, 'tavik_serve_site_readable'), 0);
    } finally {
      fs.chmodSync(copy.site, 0o755);
    }
    assert.equal((await request(server.port, 'GET', '/healthz')).status, 200);
    assert.equal(sample((await scrape(server.port)).families, 'tavik_serve_site_readable'), 1);
  });

  it('gives metrics Prometheus\' parser reads, whose counters move with the work', async () => {
    const first = await scrape(server.port);
    const types = Object.fromEntries(Object.entries(first.families)
      .map(([name, family]) => [name, family.type]));
    assert.deepEqual(types, {
      tavik_serve_requests: 'counter',
      tavik_serve_request_duration_seconds: 'histogram',
      tavik_serve_timeouts: 'counter',
      tavik_serve_too_large: 'counter',
      tavik_serve_refused: 'counter',
      tavik_serve_sent_bytes: 'counter',
      tavik_serve_unreadable: 'counter',
      tavik_serve_requests_in_flight: 'gauge',
      tavik_serve_workers_busy: 'gauge',
      tavik_serve_workers: 'gauge',
      tavik_serve_site_readable: 'gauge',
    });
    assert.equal(sample(first.families, 'tavik_serve_workers'), 8);
    assert.equal(sample(first.families, 'tavik_serve_requests_in_flight'), 1, 'the scrape itself');
    assert.ok(sample(first.families, 'tavik_serve_workers_busy') >= 1);

    // The work, and the bodies it was sent: the first scrape's among them,
    // as it is counted once it has gone.
    let bodyBytes = first.bytes;
    const note = (response) => { bodyBytes += response.body.length; return response; };
    for (const term of ['quokka', 'search', 'zzqxv']) {
      assert.equal(note(await search(server.port, term)).status, 200);
    }
    assert.equal(note(await request(server.port, 'GET', '/missing.htm')).status, 404);
    // A sub-folder and a file the server's user may not read: the search
    // finds nothing there, the file gets 403, and both are counted.
    const news = path.join(copy.site, 'news');
    const intro = path.join(copy.site, 'guide', 'intro.htm');
    fs.chmodSync(news, 0o700);
    fs.chmodSync(intro, 0o600);
    try {
      const hidden = note(await search(server.port, 'quokka', '/search/news'));
      assert.equal(hidden.status, 200);
      assert.match(hidden.body, /No hits found/);
      assert.equal(note(await request(server.port, 'GET', '/guide/intro.htm')).status, 403);
    } finally {
      fs.chmodSync(news, 0o755);
      fs.chmodSync(intro, 0o644);
    }
    const connection = await Connection.open(server.port);
    try {
      connection.write('POST /search HTTP/1.1\r\nHost: x\r\nContent-Length: 5000000\r\n\r\n');
      assert.equal(note(await connection.read()).status, 413);
    } finally {
      connection.close();
    }
    // A head that stops half-way gets 408 at the 1 s deadline.
    const slow = await Connection.open(server.port);
    try {
      slow.write('GET /content.htm HTTP/1.1\r\nHost: x\r\n');
      assert.equal(note(await slow.read()).status, 408);
    } finally {
      slow.close();
    }

    // A request's counts are made once its answer has gone.
    let second;
    for (let attempt = 0; attempt < 50; ++attempt) {
      second = await scrape(server.port);
      if (sample(second.families, 'tavik_serve_sent_bytes_total') >= bodyBytes) break;
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
    const moved = (name, labels) =>
      sample(second.families, name, labels) - sample(first.families, name, labels);
    // 2xx: the first scrape, three searches, the unreadable folder's.
    assert.equal(moved('tavik_serve_requests_total', { class: '2xx' }), 5);
    // 4xx: 404, 403, 413 and 408.
    assert.equal(moved('tavik_serve_requests_total', { class: '4xx' }), 4);
    assert.equal(moved('tavik_serve_requests_total', { class: '5xx' }), 0);
    assert.equal(moved('tavik_serve_timeouts_total'), 1);
    assert.equal(moved('tavik_serve_too_large_total'), 1);
    assert.equal(moved('tavik_serve_unreadable_total', { what: 'search_folder' }), 1);
    assert.equal(moved('tavik_serve_unreadable_total', { what: 'file' }), 1);
    assert.equal(moved('tavik_serve_sent_bytes_total'), bodyBytes);
    // Every request but the 408, which civetweb refused before it began,
    // has its time in the histogram.
    assert.equal(moved('tavik_serve_request_duration_seconds_count'), 8);
    assert.ok(moved('tavik_serve_request_duration_seconds_sum') > 0);
    const buckets = second.families.tavik_serve_request_duration_seconds.samples
      .filter(([name]) => name.endsWith('_bucket'));
    assert.equal(buckets.at(-1)[1].le, '+Inf');
    assert.equal(buckets.at(-1)[2], sample(second.families, 'tavik_serve_request_duration_seconds_count'));
    for (let i = 1; i < buckets.length; ++i) assert.ok(buckets[i][2] >= buckets[i - 1][2]);
  });
});

describe('tavik-serve stopping, with its own paths moved', { skip: !paths.probe }, () => {
  it('fails its health check and counts the requests it refuses, while its metrics are given', async () => {
    // The probe's answers go as they are written, so that the test sees
    // one in flight ("first" before "last").
    const server = await startServer(['--extension', paths.probe, '--health-path', '/ping/',
      '--metrics-path', '/stats', '--threads', '8', '--whole-answer-limit', '0']);
    try {
      assert.equal((await request(server.port, 'GET', '/ping')).body, 'ok\n');
      assert.equal((await request(server.port, 'GET', '/healthz')).status, 404,
        'the default path is the site\'s again');
      const connection = await Connection.open(server.port);
      try {
        connection.send('GET', '/search?sleep=1000');
        await connection.waitFor(() => connection.buffer.includes('first'));
        server.child.kill('SIGTERM');
        let refused;
        for (let attempt = 0; attempt < 12; ++attempt) {
          await new Promise((resolve) => setTimeout(resolve, 100));
          refused = await request(server.port, 'GET', '/search');
          if (refused.status === 503) break;
        }
        assert.equal(refused.status, 503);
        const health = await request(server.port, 'GET', '/ping');
        assert.equal(health.status, 503);
        assert.equal(health.body, 'unavailable: the server is stopping\n');
        // A request's answer reaches the client just before the server
        // counts it done, so the scrape is made again until the health
        // check and the refused requests have left the count.
        let families;
        for (let attempt = 0; attempt < 20; ++attempt) {
          ({ families } = await scrape(server.port, '/stats'));
          if (sample(families, 'tavik_serve_requests_in_flight') === 2) break;
          await new Promise((resolve) => setTimeout(resolve, 25));
        }
        assert.equal(sample(families, 'tavik_serve_refused_total'), 1);
        assert.equal(sample(families, 'tavik_serve_requests_in_flight'), 2,
          'the request finishing and the scrape');
        assert.equal((await connection.read()).body, 'first\nlast\n');
      } finally {
        connection.close();
      }
    } finally {
      const { code } = await server.exited;
      assert.equal(code, 0);
    }
  });

  it('refuses its own paths at or below the mount, or both at one path', async () => {
    await failsWithOneLine(['--metrics-path', '/search/metrics'],
      /\/search\/metrics lies at or below the mount \/search/);
    await failsWithOneLine(['--health-path', '/x', '--metrics-path', '/x'],
      /--health-path and --metrics-path are both \/x/);
  });
});
