// tavik-serve against clients that misbehave: hundreds of idle connections,
// oversized and malformed requests, bodies that stop, clients that leave in
// the middle of an answer, and kept-alive clients that outnumber the worker
// threads. Every case must end in a 4xx answer or a closed connection,
// within its time, and the server must go on serving with no descriptor
// left open.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import {
  Connection, makeSiteWithEscapes, paths, request, resultRows, search, startServer,
} from './serve_fixture.mjs';
import {
  DEADLINE_OPTIONS, REQUEST_TIMEOUT_MS, exchange, openIdle, processStats, settledFds,
  sleep,
} from './load_fixture.mjs';

// A client that sends its request gets its answer within this, whatever
// the other connections do.
const ANSWER_LIMIT_MS = 2000;
// A request that civetweb can refuse on sight is answered within this.
const PROMPT_MS = 1000;
// One that waits for bytes that never come is cut off at the server's
// deadline for the head or the body, which is kept to a tenth of a second;
// the margin is for a loaded machine.
const STALLED_MS = REQUEST_TIMEOUT_MS + 1500;
const BIG_FILE_BYTES = 8 * 1024 * 1024;

const repeat = (text, count) => text.repeat(count);

// A chunked body of `total` bytes of form data, in chunks of 64 KiB.
function chunkedBody(total) {
  let body = '';
  for (let left = total; left > 0; left -= 65536) {
    const size = Math.min(left, 65536);
    body += `${size.toString(16)}\r\n${repeat('q', size)}\r\n`;
  }
  return body + '0\r\n\r\n';
}

const post = (target, fields, body = '') =>
  `POST ${target} HTTP/1.1\r\nHost: x\r\n${fields}\r\n${body}`;
const get = (target, fields = '') => `GET ${target} HTTP/1.1\r\nHost: x\r\n${fields}\r\n`;

// Requests too large in some part. `answers` lists the statuses allowed;
// 0 stands for a close without an answer.
const OVERSIZED = [
  { name: 'a header field of 20 KiB', bytes: get('/search', `X-Big: ${repeat('x', 20000)}\r\n`),
    answers: [400, 413, 431] },
  { name: '2,000 header fields', bytes: get('/search', repeat('X-Field: y\r\n', 2000)),
    answers: [400, 413, 431] },
  { name: 'a URL of 20 KiB', bytes: get(`/${repeat('a', 20000)}`), answers: [400, 413, 414] },
  { name: 'a search folder name of 12 KiB', bytes: get(`/search/${repeat('a', 12000)}`),
    answers: [403, 404, 414] },
  { name: 'a Content-Length of 2 MB', bytes: post('/search', 'Content-Length: 2000000\r\n', 'q=x'),
    answers: [413] },
  { name: 'a Content-Length past 64 bits',
    bytes: post('/search', 'Content-Length: 99999999999999999999999\r\n', 'q=x'), answers: [413] },
  { name: 'a chunk size past 64 bits',
    bytes: post('/search', 'Transfer-Encoding: chunked\r\n', 'FFFFFFFFFFFFFFFFFF\r\nq=x'),
    answers: [400] },
  // Its length is unknown in advance: the extension searches the first
  // part, and the server stops reading at the limit and closes.
  { name: 'a chunked body of 1.5 MiB', bytes: post('/search', 'Transfer-Encoding: chunked\r\n',
    chunkedBody(1536 * 1024)), answers: [200, 400, 413] },
];

const MALFORMED = [
  { name: 'a request line of one word', bytes: 'HELLO\r\n\r\n', answers: [400] },
  { name: 'a method alone', bytes: 'GET\r\n\r\n', answers: [400] },
  { name: 'an HTTP/0.9 request', bytes: 'GET /\r\n\r\n', answers: [400] },
  { name: 'an HTTP/0.9 request waiting for its answer', bytes: 'GET /\r\n', answers: [408],
    within: STALLED_MS },
  { name: 'an unknown version', bytes: 'GET / HTTP/9.9\r\nHost: x\r\n\r\n', answers: [505] },
  { name: 'the HTTP/2 preface', bytes: 'PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n', answers: [400, 505] },
  { name: 'a lower-case request line', bytes: 'get / http/1.1\r\nHost: x\r\n\r\n', answers: [400] },
  { name: 'a space inside the URL', bytes: 'GET /content .htm HTTP/1.1\r\nHost: x\r\n\r\n',
    answers: [400] },
  { name: 'tabs for spaces', bytes: 'GET\t/\tHTTP/1.1\r\nHost: x\r\n\r\n', answers: [400] },
  { name: 'a NUL in the request line', bytes: 'GET /\0 HTTP/1.1\r\nHost: x\r\n\r\n', answers: [400] },
  { name: 'a NUL in a header value', bytes: get('/', 'X-A: a\0b\r\n'), answers: [400] },
  { name: 'a control byte in a header value', bytes: get('/', 'X-A: a\x01b\r\n'), answers: [400] },
  { name: 'a header line without a colon', bytes: get('/', 'Broken header\r\n'), answers: [400] },
  { name: 'junk bytes', bytes: Buffer.from(Array.from({ length: 3000 }, (_, i) => (i * 7919 + 13) % 256)),
    answers: [0, 400] },
  { name: 'CR alone as line end', bytes: 'GET / HTTP/1.1\rHost: x\r\r', answers: [408],
    within: STALLED_MS },
  { name: 'a URL for another host', bytes: get('http://elsewhere.example/'), answers: [0, 400] },
  { name: 'an asterisk', bytes: 'OPTIONS * HTTP/1.1\r\nHost: x\r\n\r\n', answers: [0, 400] },
  { name: 'CONNECT', bytes: 'CONNECT elsewhere.example:443 HTTP/1.1\r\nHost: x\r\n\r\n',
    answers: [0, 400, 405] },
  { name: 'a Content-Length that is a word', bytes: post('/search', 'Content-Length: abc\r\n', 'q=x'),
    answers: [400, 411] },
  { name: 'a negative Content-Length', bytes: post('/search', 'Content-Length: -5\r\n', 'q=x'),
    answers: [400, 411] },
  { name: 'a Content-Length list', bytes: post('/search', 'Content-Length: 8, 8\r\n', 'q=quokka'),
    answers: [400] },
  { name: 'two Content-Lengths that differ',
    bytes: post('/search', 'Content-Length: 3\r\nContent-Length: 8\r\n', 'q=quokka'),
    answers: [400] },
  { name: 'a Content-Length beside chunks',
    bytes: post('/search', 'Content-Length: 3\r\nTransfer-Encoding: chunked\r\n', '0\r\n\r\n'),
    answers: [400] },
  { name: 'a transfer coding other than chunked',
    bytes: post('/search', 'Transfer-Encoding: gzip\r\n', 'q=x'), answers: [400, 501] },
  { name: 'a bad chunk size', bytes: post('/search', 'Transfer-Encoding: chunked\r\n', 'zz\r\nq=x'),
    answers: [400] },
  { name: 'a body that stops short of its length',
    bytes: post('/search', 'Content-Length: 100\r\n', 'q=quokka'), answers: [408],
    within: STALLED_MS },
  { name: 'a chunked body that stops inside a chunk',
    bytes: post('/search', 'Transfer-Encoding: chunked\r\n', `200000\r\n${repeat('q', 1000)}`),
    answers: [408], within: STALLED_MS },
  { name: 'a chunked body that stops between chunks',
    bytes: post('/search', 'Transfer-Encoding: chunked\r\n', '8\r\nq=quokka\r\n'),
    answers: [408], within: STALLED_MS },
  { name: 'a head that comes a byte at a time and stops',
    pieces: ['G', 'E', 'T', ' ', '/'], gapMs: 300, answers: [408], within: STALLED_MS },
];

// What is wrong with the outcome of one case, or null: it must be an
// allowed answer in time, or a close without one in time, and never a
// server error it did not mean. A connection kept alive after its answer
// must be let go in the end.
function refusalFault(result, { name, answers, within = PROMPT_MS }) {
  const status = result.received === '' ? 0 : result.status;
  const shown = `${name}: ${JSON.stringify(result.statusLine)} after ${result.answerMs} ms`;
  if (!result.closed) return `${name}: the server still held the connection`;
  if (result.answerMs > within) return `${shown}, over ${within} ms`;
  if (!answers.includes(status)) return `${shown}, not one of ${answers}`;
  if (status !== 0 && !/^HTTP\/1\.1 \d{3} [^\r\n]*\r\n/.test(result.received)) {
    return `${shown}: a malformed status line`;
  }
  return null;
}

// Sends every case at once, each on its own connection, and checks them all.
async function assertAllRefused(port, cases) {
  const results = await Promise.all(cases.map((item) =>
    exchange(port, item.bytes, { timeoutMs: STALLED_MS + 1000, pieces: item.pieces,
      gapMs: item.gapMs })));
  const faults = cases.map((item, i) => refusalFault(results[i], item)).filter(Boolean);
  assert.deepEqual(faults, []);
}

describe('tavik-serve with the Tavik extension, under abuse', () => {
  let site;
  let server;
  let page;
  let idleFds;

  // The server answers a search right, on a new connection, in time.
  async function assertServes(term = 'quokka') {
    const started = Date.now();
    const answer = await search(server.port, term);
    const ms = Date.now() - started;
    assert.equal(answer.status, 200);
    assert.equal(answer.body, page.get(term), term);
    assert.ok(ms < ANSWER_LIMIT_MS, `a search took ${ms} ms`);
    return ms;
  }

  before(async () => {
    site = makeSiteWithEscapes();
    fs.writeFileSync(path.join(site.site, 'big.bin'), Buffer.alloc(BIG_FILE_BYTES, 'x'));
    // The server's defaults but for its deadlines: those are what must hold
    // up.
    server = await startServer(['--docroot', site.site, '--extension', paths.extension,
      ...DEADLINE_OPTIONS]);
    // Before any connection: a closed one may take the server a moment.
    idleFds = processStats(server.child.pid).fds;
    page = new Map();
    for (const term of ['quokka', 'the', 'zzqxv']) {
      page.set(term, (await search(server.port, term)).body);
    }
    assert.equal(resultRows(page.get('quokka')).length, 2);
  });

  after(async () => {
    const running = server.child.exitCode === null;
    const { code, signal } = await server.stop();
    site.remove();
    assert.ok(running, 'the server was still running at the end');
    assert.equal(code, 0, `the server stopped with ${code ?? signal}: ${server.errors()}`);
  });

  it('holds 500 idle connections while other clients get answers within 2 s', async (t) => {
    const opened = Date.now();
    const silent = await openIdle(server.port, 250);
    const partial = await openIdle(server.port, 250, 'POST /search HTTP/1.1\r\nHost: x\r\nContent-');
    await sleep(200);
    const held = processStats(server.child.pid).fds;
    assert.ok(held >= idleFds + 500, `the server holds ${held - idleFds} connections`);

    const times = [];
    for (let round = 0; round < 4; ++round) {
      // Five searches at once, then a static file, each on a new connection.
      const started = Date.now();
      const answers = await Promise.all(['quokka', 'the', 'zzqxv', 'quokka', 'the'].map(
        async (term) => ({ term, answer: await search(server.port, term), ms: Date.now() - started })));
      for (const { term, answer, ms } of answers) {
        assert.equal(answer.body, page.get(term), term);
        times.push(ms);
      }
      const fileStarted = Date.now();
      const file = await request(server.port, 'GET', '/content.htm');
      assert.equal(file.status, 200);
      times.push(Date.now() - fileStarted);
    }
    const slowest = Math.max(...times);
    t.diagnostic(`500 idle connections held; ${times.length} answers beside them, ` +
      `slowest ${slowest} ms`);
    assert.ok(slowest < ANSWER_LIMIT_MS, `an answer took ${slowest} ms`);
    assert.ok(Date.now() - opened < REQUEST_TIMEOUT_MS, 'the idle connections were still held');
    assert.ok([...silent, ...partial].every((socket) => socket.closedAt === null));

    // The server lets each go once its head's deadline has passed: a
    // silent one without a word, a half-sent one with 408.
    const deadline = opened + REQUEST_TIMEOUT_MS + 3000;
    const all = [...silent, ...partial];
    while (all.some((socket) => socket.closedAt === null) && Date.now() < deadline) {
      await sleep(100);
    }
    const waits = all.map((socket) => (socket.closedAt ?? Infinity) - opened);
    t.diagnostic(`the server closed them after ${Math.min(...waits)} to ${Math.max(...waits)} ms`);
    assert.ok(waits.every((wait) => wait >= REQUEST_TIMEOUT_MS - 500 && wait !== Infinity),
      `closed after ${Math.min(...waits)} to ${Math.max(...waits)} ms`);
    assert.ok(silent.every((socket) => socket.received === ''));
    assert.ok(partial.every((socket) => socket.received.startsWith('HTTP/1.1 408 ')),
      partial.find((socket) => !socket.received.startsWith('HTTP/1.1 408 '))?.received);
    for (const socket of all) socket.destroy();
    assert.equal(await settledFds(server.child.pid, idleFds), idleFds);
    await assertServes();
  });

  it('answers oversized heads, URLs and bodies with 4xx', async () => {
    await assertAllRefused(server.port, OVERSIZED);
    assert.equal(await settledFds(server.child.pid, idleFds), idleFds);
    await assertServes();
  });

  it('answers malformed requests with 4xx or closes them', async () => {
    await assertAllRefused(server.port, MALFORMED);
    assert.equal(await settledFds(server.child.pid, idleFds), idleFds);
    await assertServes();
  });

  it('closes a connection whose body length is ambiguous, reading no further', async () => {
    // A refused request whose body was not read must not leave that body
    // to be read as the next request.
    const connection = await Connection.open(server.port);
    try {
      connection.write(post('/search', 'Content-Length: 3\r\nContent-Length: 30\r\n',
        'q=x' + get('/outside/secret.htm').slice(0, 27)));
      const refused = await connection.read();
      assert.equal(refused.status, 400);
      assert.equal(refused.headers.connection, 'close');
      assert.ok(await connection.closedByServer());
      assert.equal(connection.buffer.length, 0, 'nothing more came');
    } finally {
      connection.close();
    }
  });

  it('goes on serving after clients leave in the middle of answers', async () => {
    // Each client reads part of an 8 MiB file on a kept-alive connection,
    // then resets the connection.
    await Promise.all(Array.from({ length: 16 }, async () => {
      const connection = await Connection.open(server.port);
      connection.send('GET', '/big.bin');
      await connection.waitFor(() => connection.buffer.length >= 65536);
      assert.ok(connection.buffer.length < BIG_FILE_BYTES, 'the client left before the end');
      connection.socket.resetAndDestroy();
    }));
    // Each client posts a search and leaves before its answer, or after its
    // head.
    await Promise.all(Array.from({ length: 32 }, async (_, i) => {
      const connection = await Connection.open(server.port);
      connection.send('POST', '/search', { body: 'q=the' });
      if (i % 2) await connection.waitFor(() => connection.buffer.indexOf('\r\n\r\n') >= 0);
      connection.close();
    }));
    assert.equal(await settledFds(server.child.pid, idleFds), idleFds);
    await assertServes();
    const file = await request(server.port, 'GET', '/big.bin');
    assert.equal(file.body.length, BIG_FILE_BYTES);
  });
});

describe('tavik-serve with few worker threads', () => {
  let server;

  before(async () => {
    server = await startServer(['--extension', paths.extension, '--threads', '4']);
  });

  after(async () => {
    const { code } = await server.stop();
    assert.equal(code, 0);
  });

  it('shares its workers among more kept-alive clients than it has', async (t) => {
    // Twelve clients search over and over, each on one kept-alive
    // connection, for two seconds. A worker that kept its connection while
    // others waited would serve only the first four.
    const counts = new Array(12).fill(0);
    const stopAt = Date.now() + 2000;
    const probeTimes = [];
    await Promise.all([
      ...counts.map(async (_, i) => {
        let connection = await Connection.open(server.port);
        while (Date.now() < stopAt) {
          connection.send('POST', '/search', { body: 'q=quokka' });
          const answer = await connection.read();
          assert.equal(answer.status, 200);
          counts[i] += 1;
          if (answer.headers.connection === 'close') {
            await connection.closedByServer();
            connection.close();
            connection = await Connection.open(server.port);
          }
        }
        connection.close();
      }),
      (async () => {
        while (Date.now() < stopAt) {
          const started = Date.now();
          await search(server.port, 'quokka');
          probeTimes.push(Date.now() - started);
          await sleep(200);
        }
      })(),
    ]);
    t.diagnostic(`answers per kept-alive client: ${counts.join(' ')}; ` +
      `a new client waited at most ${Math.max(...probeTimes)} ms`);
    assert.ok(Math.min(...counts) >= 5, `answers per client: ${counts.join(' ')}`);
    assert.ok(Math.max(...probeTimes) < ANSWER_LIMIT_MS);
  });
});

describe('tavik-serve with a probe extension, with clients that leave', { skip: !paths.probe }, () => {
  let server;

  before(async () => {
    // Its answers go as they are written, so that a client can leave
    // between two writes.
    server = await startServer(['--extension', paths.probe, '--threads', '8',
      '--whole-answer-limit', '0']);
  });

  after(async () => {
    const { code } = await server.stop();
    assert.equal(code, 0);
  });

  it('goes on serving after clients leave between two writes of the extension', async () => {
    const idle = processStats(server.child.pid).fds;
    await Promise.all(Array.from({ length: 8 }, async () => {
      const connection = await Connection.open(server.port);
      connection.send('GET', '/search?sleep=300');
      await connection.waitFor(() => connection.buffer.includes('first'));
      connection.socket.resetAndDestroy();
    }));
    // The extension's second write fails; the request ends and the
    // connection with it.
    await sleep(500);
    assert.equal(await settledFds(server.child.pid, idle), idle);
    const answer = await request(server.port, 'GET', '/search?sleep=10');
    assert.equal(answer.body, 'first\nlast\n');
  });
});
