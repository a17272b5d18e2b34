// tavik-serve's own deadlines, at their defaults, against clients that
// trickle: a request head sent a byte a second must get 408 once its 10 s
// are up, a body sent a byte every 2 s once its 20 s (and 2 ms for each of
// its bytes) are, and the workers they held must serve others at once.
import assert from 'node:assert/strict';
import net from 'node:net';
import { after, before, describe, it } from 'node:test';

import { paths, resultRows, search, startServer } from './serve_fixture.mjs';
import { sleep } from './load_fixture.mjs';

const HEAD_DEADLINE_MS = 10000;
const BODY_DEADLINE_MS = 20000;
// The server keeps its deadlines to a tenth of a second; the margin tells a
// deadline kept late on a loaded two-core machine from one not kept at all.
const MARGIN_MS = 1500;

// Sends `first` at once, then one byte of `rest` every `gapMs`, until the
// server answers and closes or `limitMs` passes. Resolves to { statusLine,
// answeredMs, closedMs, sent }.
function trickle(port, first, rest, gapMs, limitMs) {
  return new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1');
    const started = Date.now();
    let received = '';
    let answeredMs = null;
    let sent = 0;
    let timer = null;
    const finish = (closed) => {
      clearInterval(timer);
      clearTimeout(limit);
      socket.destroy();
      resolve({ statusLine: received.split('\r\n')[0], answeredMs,
        closedMs: closed ? Date.now() - started : null, sent });
    };
    const limit = setTimeout(() => finish(false), limitMs);
    socket.on('connect', () => {
      socket.write(first);
      timer = setInterval(() => {
        if (sent < rest.length) socket.write(rest[sent++]);
      }, gapMs);
    });
    socket.on('data', (data) => {
      received += data.toString('latin1');
      if (answeredMs === null) answeredMs = Date.now() - started;
    });
    socket.on('error', () => {});
    socket.on('close', () => finish(true));
  });
}

describe('tavik-serve deadlines at their defaults', () => {
  let server;
  let page;

  before(async () => {
    // Two workers: the two trickling clients hold both.
    server = await startServer(['--extension', paths.extension, '--threads', '2']);
    page = (await search(server.port, 'quokka')).body;
    assert.equal(resultRows(page).length, 2);
  });

  after(async () => {
    const { code } = await server.stop();
    assert.equal(code, 0);
  });

  it('answers trickling heads and bodies 408 at their deadlines, freeing the workers', async (t) => {
    const head = trickle(server.port, '', 'POST /search HTTP/1.1\r\nHost: x\r\n' +
      'Content-Length: 8\r\n\r\nq=quokka', 1000, HEAD_DEADLINE_MS + 5000);
    const body = trickle(server.port, 'POST /search HTTP/1.1\r\nHost: x\r\n' +
      'Content-Length: 1000\r\n\r\n', 'q='.padEnd(1000, 'x'), 2000, BODY_DEADLINE_MS + 5000);
    // A search that comes while both workers are held waits for the first
    // to be freed, and is answered then.
    await sleep(2000);
    const started = Date.now();
    const waiting = search(server.port, 'quokka').then((answer) =>
      ({ answer, ms: Date.now() - started + 2000 }));
    const [headResult, bodyResult, searched] = await Promise.all([head, body, waiting]);
    t.diagnostic(`head: ${headResult.statusLine} after ${headResult.answeredMs} ms, ` +
      `${headResult.sent} bytes; body: ${bodyResult.statusLine} after ` +
      `${bodyResult.answeredMs} ms, ${bodyResult.sent} bytes; the search beside them ` +
      `was answered after ${searched.ms} ms`);

    assert.equal(headResult.statusLine, 'HTTP/1.1 408 Request Timeout');
    assert.ok(headResult.answeredMs >= HEAD_DEADLINE_MS - 200, `${headResult.answeredMs} ms`);
    assert.ok(headResult.answeredMs <= HEAD_DEADLINE_MS + MARGIN_MS, `${headResult.answeredMs} ms`);
    assert.notEqual(headResult.closedMs, null, 'the server closed the connection');

    assert.equal(bodyResult.statusLine, 'HTTP/1.1 408 Request Timeout');
    assert.ok(bodyResult.answeredMs >= BODY_DEADLINE_MS - 200, `${bodyResult.answeredMs} ms`);
    assert.ok(bodyResult.answeredMs <= BODY_DEADLINE_MS + MARGIN_MS, `${bodyResult.answeredMs} ms`);
    assert.notEqual(bodyResult.closedMs, null, 'the server closed the connection');

    assert.equal(searched.answer.body, page);
    assert.ok(searched.ms >= HEAD_DEADLINE_MS - 200, 'the workers were not held');
    assert.ok(searched.ms <= headResult.answeredMs + MARGIN_MS, `${searched.ms} ms`);

    // Both workers are free again.
    const again = Date.now();
    await Promise.all([search(server.port, 'quokka'), search(server.port, 'quokka')]);
    assert.ok(Date.now() - again < MARGIN_MS);
  });
});
