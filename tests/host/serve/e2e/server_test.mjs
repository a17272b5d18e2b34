// tavik-serve over HTTP/1.1, as clients see it: the demo site's search, the
// static files, connections kept alive, many searches at once, the paths
// and bodies it refuses, its start and its stop.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import {
  Connection, makeSiteWithEscapes, paths, request, resultRows, runServer,
  search, startServer,
} from './serve_fixture.mjs';

const NO_HITS = '<p><b>No hits found.</b><p></body>';

describe('tavik-serve with the Tavik extension', () => {
  let site;
  let server;
  let accessLog;

  before(async () => {
    site = makeSiteWithEscapes();
    accessLog = path.join(site.root, 'access.log');
    server = await startServer([
      '--docroot', site.site, '--extension', paths.extension,
      '--access-log', accessLog, '--threads', '8',
    ]);
  });

  after(async () => {
    const { code } = await server.stop();
    site.remove();
    assert.equal(code, 0, 'SIGTERM ends the server cleanly');
  });

  it('logs the extension it loaded', async () => {
    const loaded = /loaded .*libtavik\.so: "Tavik\.dll v1\.0", version 1\.0/;
    // Standard error may arrive after the URL on standard output.
    for (let wait = 0; wait < 50 && !loaded.test(server.errors()); ++wait) {
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
    assert.match(server.errors(), loaded);
  });

  it('answers the form post with the ranked page, whose links it serves', async () => {
    const response = await search(server.port, 'quokka');
    assert.equal(response.statusLine, 'HTTP/1.1 200 OK');
    assert.equal(response.headers['content-type'], 'text/html');
    // Held until the search ended, and sent whole with its length.
    assert.equal(response.headers['transfer-encoding'], undefined);
    assert.equal(response.headers['content-length'], String(Buffer.byteLength(response.body, 'latin1')));
    assert.equal(response.headers.server, 'tavik-serve/1.0');
    assert.ok(response.headers.date);
    assert.match(response.body, /Search string - quokka<p>/);
    assert.deepEqual(resultRows(response.body), [
      { link: '/news/2026/wildlife.htm', hits: 6 },
      { link: '/content.htm', hits: 1 },
    ]);
    assert.ok(response.body.endsWith('<p><p><p><b>7 hit(s) found.</b><p>'));

    for (const { link } of resultRows(response.body)) {
      const page = await request(server.port, 'GET', link);
      assert.equal(page.status, 200, link);
      assert.equal(page.body, fs.readFileSync(path.join(site.site, link), 'latin1'));
      assert.match(page.body, /quokka/i);
    }
  });

  it('serves static files, with the search form at the top of the site', async () => {
    const form = await request(server.port, 'GET', '/content.htm');
    assert.equal(form.status, 200);
    assert.match(form.headers['content-type'], /text\/html/);
    assert.match(form.body, /<form method="POST" action="search">/);
    const top = await request(server.port, 'GET', '/');
    assert.equal(top.status, 200);
    assert.equal(top.body, form.body);
    assert.equal((await request(server.port, 'GET', '/missing.htm')).status, 404);
    assert.equal((await request(server.port, 'GET', '/searchx')).status, 404);
    const folder = await request(server.port, 'GET', '/guide?x=1');
    assert.equal(folder.status, 301);
    assert.equal(folder.headers.location, '/guide/?x=1');
    const head = await request(server.port, 'HEAD', '/guide/intro.htm');
    assert.equal(head.status, 200);
    assert.equal(head.body, '');
  });

  it('keeps one connection alive across searches and files', async () => {
    const connection = await Connection.open(server.port);
    try {
      connection.send('POST', '/search', { body: 'q=search' });
      const first = await connection.read();
      assert.equal(first.status, 200);
      assert.equal(first.headers.connection, 'keep-alive');
      assert.match(first.body, /hit\(s\) found\.<\/b><p>$/);

      connection.send('GET', '/content.htm');
      const second = await connection.read();
      assert.equal(second.status, 200);
      assert.match(second.body, /<\/html>\s*$/);

      connection.send('HEAD', '/search');
      const third = await connection.read({ head: true });
      assert.equal(third.status, 200);

      connection.send('POST', '/search', { body: 'q=quokka' });
      const fourth = await connection.read();
      assert.deepEqual(resultRows(fourth.body).map((row) => row.hits), [6, 1]);
      assert.equal(connection.ended, false, 'the server kept the connection');
      assert.equal(connection.buffer.length, 0, 'nothing after the last response');
    } finally {
      connection.close();
    }
  });

  it('answers 32 searches at once, each page complete and correct', async () => {
    const terms = ['quokka', 'search', 'the', 'Tavik', 'limits', 'page', 'zzqxv',
      'html'];
    const expected = new Map();
    for (const term of terms) expected.set(term, (await search(server.port, term)).body);
    const started = [];
    for (let i = 0; i < 32; ++i) {
      const term = terms[i % terms.length];
      started.push(search(server.port, term).then((response) => ({ term, response })));
    }
    const answers = await Promise.all(started);
    for (const { term, response } of answers) {
      assert.equal(response.status, 200, term);
      assert.equal(response.body, expected.get(term), term);
      assert.ok(/hit\(s\) found\.<\/b><p>$/.test(response.body) ||
                response.body.endsWith(NO_HITS), term);
    }
  });

  it('forbids every path that leaves the site or holds a NUL, without searching', async () => {
    for (const target of ['/search/..', '/search/%2e%2e', '/search/%2E%2E/',
      '/search/guide/../..', '/search/outside', '/search/outside/',
      '/search/guide/%2e%2e/outside', '/outside/secret.htm']) {
      const response = await request(server.port, 'GET', target);
      assert.equal(response.status, 403, target);
      assert.doesNotMatch(response.body, /Search Results/, target);
    }
    // A NUL would cut the path short: the whole site searched, or
    // content.htm sent.
    for (const target of ['/search/%00', '/search/guide%00/x', '/content.htm%00.txt']) {
      const response = await request(server.port, 'GET', target);
      assert.equal(response.status, 400, target);
      assert.doesNotMatch(response.body, /Search Results|<form/, target);
    }
    const post = await request(server.port, 'POST', '/search/outside', { body: 'q=quokka' });
    assert.equal(post.status, 403);
    // The whole site's search does not follow the link out either.
    const whole = await search(server.port, 'secret');
    assert.ok(whole.body.endsWith(NO_HITS), whole.body);
  });

  it('searches a folder of the site named below the mount', async () => {
    const response = await search(server.port, 'quokka', '/search/news');
    assert.deepEqual(resultRows(response.body), [{ link: '/2026/wildlife.htm', hits: 6 }]);
  });

  it('answers a GET of the mount, which carries no form', async () => {
    const response = await request(server.port, 'GET', '/search');
    assert.equal(response.status, 200);
    assert.match(response.body, /Search string - <p>/);
    assert.ok(response.body.endsWith(NO_HITS));
  });

  it('answers a search by its URL with the word search, as the site offers it to browsers', async () => {
    const description = await request(server.port, 'GET', '/opensearch.xml');
    assert.equal(description.status, 200);
    const template = /template="([^"]+)"/.exec(description.body)[1];
    assert.match((await request(server.port, 'GET', '/content.htm')).body,
      /<link rel="search" type="application\/opensearchdescription\+xml"/);
    const links = (body) => [...body.matchAll(/<h2 class="tavik-title"><a href="([^"]+)"/g)]
      .map((match) => match[1]);
    for (const [url, expected] of [
      [template.replace('{searchTerms}', 'quokka'), ['/news/2026/wildlife.htm', '/content.htm']],
      ['/search/news?q=Quokka', ['/news/2026/wildlife.htm']],
      ['/search?q=%22rottnest+island%22&utm_source=news', ['/news/2026/wildlife.htm']],
    ]) {
      const got = await request(server.port, 'GET', url);
      assert.equal(got.status, 200, url);
      assert.equal(got.headers['content-type'], 'text/html; charset=utf-8', url);
      assert.deepEqual(links(got.body), expected, url);
    }
    const json = await request(server.port, 'GET', '/search?q=quokka&format=json');
    assert.equal(json.headers['content-type'], 'application/json; charset=utf-8');
    const answer = JSON.parse(json.body);
    assert.equal(answer.total, 2);
    assert.equal(answer.results[0].url, '/news/2026/wildlife.htm');
    assert.equal(answer.results[0].title, 'Field notes: the quokka');
    assert.match(answer.results[0].excerpts[0], /<mark>quokka<\/mark>/i);
    const head = await request(server.port, 'HEAD', '/search?q=quokka');
    assert.equal(head.status, 200);
    assert.equal(head.body, '');
  });

  it('refuses a huge body with 413 without reading it', async () => {
    const connection = await Connection.open(server.port);
    try {
      connection.write('POST /search HTTP/1.1\r\nHost: x\r\n' +
                       'Content-Length: 50000000\r\n\r\nq=quokka');
      const response = await connection.read();
      assert.equal(response.status, 413);
      assert.equal(response.headers.connection, 'close');
      assert.ok(await connection.closedByServer(), 'the server closes the connection');
    } finally {
      connection.close();
    }
  });

  it('answers Expect: 100-continue before the body comes', async () => {
    const connection = await Connection.open(server.port);
    try {
      connection.write('POST /search HTTP/1.1\r\nHost: x\r\nContent-Length: 8\r\n' +
                       'Expect: 100-continue\r\n\r\n');
      const interim = await connection.read();
      assert.equal(interim.statusLine, 'HTTP/1.1 100 Continue');
      connection.write('q=quokka');
      const response = await connection.read();
      assert.equal(response.status, 200);
      assert.equal(resultRows(response.body).length, 2);
    } finally {
      connection.close();
    }
  });

  it('takes a chunked request body', async () => {
    const response = await request(server.port, 'POST', '/search', {
      headers: { 'Transfer-Encoding': 'chunked' },
      body: '3\r\nq=q\r\n5\r\nuokka\r\n0\r\n\r\n',
    });
    assert.equal(resultRows(response.body).length, 2);
  });

  it('answers other methods with 405', async () => {
    const put = await request(server.port, 'PUT', '/search', { body: 'x' });
    assert.equal(put.status, 405);
    assert.equal(put.headers.allow, 'GET, HEAD, POST');
    const post = await request(server.port, 'POST', '/content.htm', { body: 'q=x' });
    assert.equal(post.status, 405);
    assert.equal(post.headers.allow, 'GET, HEAD');
  });

  it('writes a Common Log Format line for every request', async () => {
    await search(server.port, 'quokka');
    // No proxy is trusted: the header is the client's word, and ignored.
    await request(server.port, 'GET', '/content.htm?forwarded', {
      headers: { 'X-Forwarded-For': '198.51.100.7' },
    });
    // A request's line is written once its answer has gone: it may come
    // after the client has it.
    let lines = [];
    for (let wait = 0; wait < 250 && !lines.some((line) => line.includes('?forwarded')); ++wait) {
      if (wait > 0) await new Promise((resolve) => setTimeout(resolve, 20));
      lines = fs.readFileSync(accessLog, 'latin1').trim().split('\n');
    }
    const format = /^127\.0\.0\.1 - - \[\d\d\/\w{3}\/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\] "[^"]+" \d{3} (\d+|-)$/;
    for (const line of lines) assert.match(line, format);
    assert.ok(lines.some((line) => / "POST \/search HTTP\/1\.1" 200 \d+$/.test(line)));
    assert.ok(lines.some((line) => / "GET \/search\/\.\. HTTP\/1\.1" 403 \d+$/.test(line)));
    assert.ok(lines.some((line) => / "GET \/content\.htm HTTP\/1\.1" 200 \d+$/.test(line)));
    assert.ok(lines.some((line) => /^127\.0\.0\.1 .*"GET \/content\.htm\?forwarded /.test(line)));

    // Rotated: renamed, then SIGHUP; later lines go to a new file.
    fs.renameSync(accessLog, `${accessLog}.1`);
    server.child.kill('SIGHUP');
    let rotated = '';
    for (let attempt = 0; attempt < 50 && !rotated.includes('?rotated'); ++attempt) {
      await request(server.port, 'GET', '/content.htm?rotated');
      rotated = fs.existsSync(accessLog) ? fs.readFileSync(accessLog, 'latin1') : '';
      if (!rotated.includes('?rotated')) await new Promise((resolve) => setTimeout(resolve, 20));
    }
    assert.match(rotated, /^127\.0\.0\.1 .*"GET \/content\.htm\?rotated HTTP\/1\.1" 200 \d+\n/);
    assert.equal(server.child.exitCode, null, 'SIGHUP does not stop the server');
  });
});

describe('tavik-serve with links in the site', () => {
  let site;
  let server;

  before(async () => {
    // Besides the escapes of makeSiteWithEscapes (outside/, leak.htm): a
    // link to /etc/passwd, and a link to a document of the site.
    site = makeSiteWithEscapes();
    fs.symlinkSync('/etc/passwd', path.join(site.site, 'pw.htm'));
    fs.symlinkSync(path.join(site.site, 'news', '2026', 'wildlife.htm'),
      path.join(site.site, 'inner.htm'));
    server = await startServer(['--docroot', site.site, '--extension', paths.extension]);
  });

  after(async () => {
    await server.stop();
    site.remove();
  });

  it('reveals no file outside the site, by a GET or by any search', async () => {
    for (const target of ['/pw.htm', '/leak.htm', '/outside/secret.htm']) {
      const response = await request(server.port, 'GET', target);
      assert.equal(response.status, 403, target);
      assert.match(response.body, /The path leads outside the site/);
    }
    for (const term of ['root:x:0:0:root', 'root', 'secret', 'quokka secret', 'bin']) {
      const answer = await search(server.port, term);
      assert.ok(!resultRows(answer.body).some((row) => /pw\.htm|leak\.htm/.test(row.link)),
        `${term}: ${answer.body}`);
    }
    assert.ok((await search(server.port, 'root:x:0:0:root')).body.endsWith(NO_HITS));
  });

  it('searches a link to a document inside the site', async () => {
    const answer = await search(server.port, 'marsupial');
    assert.deepEqual(resultRows(answer.body).map((row) => row.link).sort(),
      ['/inner.htm', '/news/2026/wildlife.htm']);
  });
});

describe('tavik-serve with a probe extension', { skip: !paths.probe }, () => {
  let server;

  before(async () => {
    // The probe's answers go as they are written, so that a test sees one
    // in flight ("first" before "last").
    server = await startServer(['--extension', paths.probe, '--threads', '8',
      '--trusted-proxy', '127.0.0.1', '--whole-answer-limit', '0']);
  });

  after(async () => {
    if (server.child.exitCode === null) await server.stop();
  });

  it('takes the client address from a trusted proxy\'s X-Forwarded-For', async () => {
    for (const [forwarded, client] of [['198.51.100.7', '198.51.100.7'],
      ['203.0.113.1, 198.51.100.7, 127.0.0.1', '198.51.100.7'],
      ['198.51.100.7:80', '127.0.0.1']]) {
      const response = await request(server.port, 'GET', '/search?vars', {
        headers: { 'X-Forwarded-For': forwarded },
      });
      assert.match(response.body, new RegExp(`^REMOTE_ADDR=${client}$`, 'm'), forwarded);
    }
  });

  it('answers 500 when the extension sends no head', async () => {
    const response = await request(server.port, 'GET', '/search?nohead');
    assert.equal(response.status, 500);
    assert.equal(response.headers['content-length'], String(response.body.length));
  });

  it('gives the extension its server variables', async () => {
    const response = await request(server.port, 'POST', '/search/guide?vars', {
      headers: { 'X-Probe': 'yes' }, body: 'q=1',
    });
    const site = fs.realpathSync(paths.site);
    assert.equal(response.body, [
      'REQUEST_METHOD=POST', 'SCRIPT_NAME=/search', `PATH_INFO=${site}/guide`,
      `SERVER_PORT=${server.port}`, 'REMOTE_ADDR=127.0.0.1', 'HTTP_X_PROBE=yes',
      'CONTENT_LENGTH=3', '',
    ].join('\n'));
  });

  it('runs requests side by side on its worker threads', async () => {
    const started = Date.now();
    const answers = await Promise.all(Array.from({ length: 8 }, () =>
      request(server.port, 'GET', '/search?sleep=400')));
    for (const answer of answers) assert.equal(answer.body, 'first\nlast\n');
    // One after another they would take 3.2 s.
    assert.ok(Date.now() - started < 2000, `took ${Date.now() - started} ms`);
  });

  it('lets a request in flight finish when stopped with SIGTERM', async () => {
    const connection = await Connection.open(server.port);
    try {
      connection.send('GET', '/search?sleep=1500');
      await connection.waitFor(() => connection.buffer.includes('first'));
      const stopped = server.stop('SIGTERM');
      // Once the signal is taken, a new request is turned away at once.
      let late;
      for (let attempt = 0; attempt < 12; ++attempt) {
        await new Promise((resolve) => setTimeout(resolve, 100));
        late = await request(server.port, 'GET', '/search');
        if (late.status === 503) break;
      }
      assert.equal(late.status, 503);
      assert.equal(late.headers.connection, 'close');
      const response = await connection.read();
      assert.equal(response.body, 'first\nlast\n');
      const { code } = await stopped;
      assert.equal(code, 0);
    } finally {
      connection.close();
    }
    assert.match(server.errors(), /finishing the requests in flight/);
  });
});

describe('starting tavik-serve', () => {
  it('gives its version', async () => {
    const { code, stdout } = await runServer(['--version']);
    assert.equal(code, 0);
    assert.match(stdout, /^tavik-serve \d+\.\d+\n$/);
  });

  it('explains itself with --help', async () => {
    const { code, stdout } = await runServer(['--help']);
    assert.equal(code, 0);
    assert.match(stdout, /^Usage: tavik-serve/);
    for (const option of ['--port', '--bind', '--docroot', '--extension', '--mount',
      '--threads', '--access-log', '--trusted-proxy', '--head-timeout', '--body-timeout',
      '--body-min-rate', '--health-path', '--metrics-path', '--whole-answer-limit']) {
      assert.ok(stdout.includes(option), option);
    }
  });

  async function failsWithOneLine(args, pattern) {
    const { code, stderr } = await runServer(args);
    assert.notEqual(code, 0, args.join(' '));
    assert.equal(stderr.split('\n').filter(Boolean).length, 1, stderr);
    assert.match(stderr, /^tavik-serve: /);
    assert.match(stderr, pattern);
  }

  it('fails with one line on a bad option', async () => {
    await failsWithOneLine(['--bogus'], /unknown option --bogus/);
    await failsWithOneLine(['--port', 'eighty'], /--port takes/);
    await failsWithOneLine(['--threads'], /--threads needs a value/);
  });

  it('fails with one line on a missing or invalid library', async () => {
    await failsWithOneLine(['--port', '0', '--extension', '/nonexistent/libtavik.so'],
      /cannot load the extension/);
    await failsWithOneLine(['--port', '0', '--extension', '/lib/x86_64-linux-gnu/libc.so.6'],
      /lacks GetExtensionVersion/);
  });

  it('fails with one line on a missing document root', async () => {
    await failsWithOneLine(['--port', '0', '--extension', paths.extension,
      '--docroot', '/nonexistent/site'], /document root/);
  });

  it('fails with one line when the port is taken', async () => {
    const first = await startServer(['--extension', paths.extension]);
    try {
      await failsWithOneLine(['--port', String(first.port), '--extension', paths.extension],
        new RegExp(`cannot listen on 127\\.0\\.0\\.1:${first.port}`));
    } finally {
      await first.stop();
    }
  });
});
