// nginx in front of two tavik-serve backends, configured by deploy/nginx/:
// the same pages as tavik-serve alone, the site's files from nginx itself,
// the escapes and oversized bodies refused, the client's address passed on,
// and no search or file that reveals a file a link in the site points to.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import {
  Connection, makeSiteWithEscapes, request, resultRows, search,
} from '../host/serve/e2e/serve_fixture.mjs';
import {
  logLines, loggedLines, startBackend, startFront, workFolder,
} from './nginx_fixture.mjs';

const NO_HITS = '<p><b>No hits found.</b><p></body>';

describe('nginx in front of two tavik-serve backends', () => {
  let folder;
  let site;
  let backends;
  let backendLogs;
  let front;

  before(async () => {
    folder = workFolder('front');
    // The demo site with links out of it (outside/, leak.htm), a link to
    // /etc/passwd and a link that stays inside.
    site = makeSiteWithEscapes();
    fs.chmodSync(site.root, 0o755);
    fs.symlinkSync('/etc/passwd', path.join(site.site, 'pw.htm'));
    fs.symlinkSync(path.join(site.site, 'news', '2026', 'wildlife.htm'),
      path.join(site.site, 'inner.htm'));
    backendLogs = ['a', 'b'].map((name) => path.join(folder, `${name}.log`));
    backends = [];
    for (const log of backendLogs) backends.push(await startBackend(site.site, log));
    front = await startFront(folder, site.site, backends.map((backend) => backend.port));
  });

  after(async () => {
    for (const backend of backends ?? []) await backend.stop();
    if (front) {
      const { signal, code } = await front.stop();
      assert.ok(code === 0 || signal === 'SIGTERM', `nginx ended with ${code ?? signal}`);
    }
    site?.remove();
    fs.rmSync(folder, { recursive: true, force: true });
  });

  it('answers the form post with the page tavik-serve gives alone, whose links work', async () => {
    const alone = await search(backends[0].port, 'quokka');
    const through = await search(front.port, 'quokka');
    assert.equal(through.status, 200);
    assert.equal(through.body, alone.body);
    assert.deepEqual(resultRows(through.body).map((row) => row.link).sort(),
      ['/content.htm', '/inner.htm', '/news/2026/wildlife.htm']);
    for (const { link } of resultRows(through.body)) {
      if (link === '/inner.htm') continue;  // a link, which nginx does not follow
      const file = await request(front.port, 'GET', link);
      assert.equal(file.status, 200, link);
      assert.equal(file.body, fs.readFileSync(path.join(site.site, link), 'latin1'), link);
    }
    // A search by URL goes through nginx as well, with its links as the
    // backend gives them.
    for (const url of ['/search?q=quokka', '/search/news?q=quokka&format=json']) {
      const byUrl = await request(front.port, 'GET', url);
      assert.equal(byUrl.status, 200, url);
      assert.equal(byUrl.body, (await request(backends[1].port, 'GET', url)).body, url);
      assert.match(byUrl.body, /news\/2026\/wildlife\.htm/, url);
    }
    const below = await search(front.port, 'quokka', '/search/news');
    assert.equal(below.body, (await search(backends[1].port, 'quokka', '/search/news')).body);
  });

  it('sends the site\'s files itself; the backends see only searches', async () => {
    const files = [['/content.htm', 200], ['/', 200], ['/guide/intro.htm', 200],
      ['/searchx', 404], ['/missing.htm', 404]];
    for (const [target, status] of files) {
      const response = await request(front.port, 'GET', target);
      assert.equal(response.status, status, target);
    }
    const top = await request(front.port, 'GET', '/');
    assert.match(top.body, /<form method="POST" action="search">/);
    assert.match(top.body, /<form method="GET" action="search" role="search">/);
    const lines = await loggedLines(front.accessLog, (logged) =>
      logged.some((line) => line.includes('"GET /missing.htm HTTP/1.1" 404')));
    assert.ok(lines.some((line) => line.includes('"GET /content.htm HTTP/1.1" 200')));
    for (const line of backendLogs.flatMap((log) => logLines(log))) {
      assert.ok(!files.some(([target]) => line.includes(`"GET ${target} `)), line);
    }
  });

  it('refuses escapes with 403 or 400 and a body over the limit with 413', async () => {
    for (const target of ['/../etc/passwd', '/search/../../etc/passwd',
      '/search/%2e%2e/%2e%2e/etc/passwd', '/search/outside', '/search/outside/',
      '/search/%00', '/content.htm%00.txt', '/leak.htm']) {
      const response = await request(front.port, 'GET', target);
      assert.ok([400, 403].includes(response.status), `${target}: ${response.status}`);
      assert.doesNotMatch(response.body, /Search Results|secret|root:/, target);
    }
    // nginx opens no file through a link; through a linked folder it finds
    // none.
    const linked = await request(front.port, 'GET', '/outside/secret.htm');
    assert.equal(linked.status, 404);
    assert.doesNotMatch(linked.body, /secret/);
    const connection = await Connection.open(front.port);
    try {
      connection.write('POST /search HTTP/1.1\r\nHost: x\r\nContent-Type: ' +
        'application/x-www-form-urlencoded\r\nContent-Length: 2000000\r\n\r\nq=quokka');
      const response = await connection.read();
      assert.equal(response.status, 413);
    } finally {
      connection.close();
    }
  });

  it('passes the client\'s address on, not what the client claims', async () => {
    await request(front.port, 'GET', '/search?q=forwarded', {
      headers: { 'X-Forwarded-For': '203.0.113.9' },
    });
    const forwarded = (lines) => lines.filter((line) => line.includes('/search?q=forwarded'));
    const lines = forwarded((await Promise.all(backendLogs.map((log) =>
      loggedLines(log, (logged) => forwarded(logged).length > 0, 1000)))).flat());
    assert.equal(lines.length, 1);
    assert.match(lines[0], /^127\.0\.0\.1 /);
  });

  it('reveals no file outside the site through a link, and searches a link inside', async () => {
    for (const server of [front, ...backends]) {
      const response = await request(server.port, 'GET', '/pw.htm');
      assert.equal(response.status, 403);
      assert.doesNotMatch(response.body, /root:/);
    }
    for (const term of ['root:x:0:0:root', 'root', 'secret', 'quokka secret']) {
      for (const backend of [front, ...backends]) {
        const answer = await search(backend.port, term);
        assert.ok(!resultRows(answer.body).some((row) => /pw\.htm|leak\.htm/.test(row.link)),
          `${term} on ${backend.port}: ${answer.body}`);
      }
    }
    const passwd = await search(front.port, 'root:x:0:0:root');
    assert.ok(passwd.body.endsWith(NO_HITS), passwd.body);
    const inner = await search(front.port, 'marsupial');
    assert.ok(resultRows(inner.body).some((row) => row.link === '/inner.htm'), inner.body);
  });
});
