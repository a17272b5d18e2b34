// nginx in front of tavik-serve against 2,000 clients that trickle a
// request body a byte every 2 s: nginx holds them all, the backend never
// sees them, and a client beside them that searches every half second gets
// every answer at once.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import { trickleBodies } from '../host/serve/e2e/load_fixture.mjs';
import { search } from '../host/serve/e2e/serve_fixture.mjs';
import {
  copySite, loggedLines, sleep, startBackend, startFront, workFolder,
} from './nginx_fixture.mjs';

const SLOW_CLIENTS = 2000;
const HOLD_MS = 20000;
const SEARCH_EVERY_MS = 500;
// A search answered within this was served, not kept waiting behind the
// slow clients (it takes milliseconds); the margin is for a loaded two-core
// machine.
const ANSWER_LIMIT_MS = 1000;

describe(`nginx in front of tavik-serve, ${SLOW_CLIENTS} slow clients`, () => {
  let folder;
  let site;
  let backend;
  let backendLog;
  let front;
  let page;

  before(async () => {
    folder = workFolder('slow');
    site = copySite(folder);
    backendLog = path.join(folder, 'backend.log');
    backend = await startBackend(site, backendLog);
    front = await startFront(folder, site, [backend.port]);
    page = (await search(front.port, 'quokka')).body;
  });

  after(async () => {
    if (backend) await backend.stop();
    if (front) await front.stop();
    fs.rmSync(folder, { recursive: true, force: true });
  });

  it('answers every search at once while nginx holds the slow clients', async (t) => {
    const opened = Date.now();
    const slow = await trickleBodies(front.port, SLOW_CLIENTS);
    const times = [];
    try {
      while (Date.now() - opened < HOLD_MS) {
        const started = Date.now();
        const answer = await search(front.port, 'quokka');
        times.push(Date.now() - started);
        assert.equal(answer.status, 200);
        assert.equal(answer.body, page);
        await sleep(SEARCH_EVERY_MS);
      }
      const held = slow.sockets.filter((socket) => socket.closedAt === null).length;
      const slowest = Math.max(...times);
      t.diagnostic(`${held} of ${SLOW_CLIENTS} slow clients held for ${Date.now() - opened} ms; ` +
        `${times.length} searches beside them, all answered, the slowest in ${slowest} ms`);
      assert.equal(held, SLOW_CLIENTS, 'nginx held every slow client');
      assert.ok(slow.sockets.every((socket) => socket.received === ''));
      assert.ok(times.length >= HOLD_MS / (SEARCH_EVERY_MS + ANSWER_LIMIT_MS));
      assert.ok(slowest < ANSWER_LIMIT_MS, `a search took ${slowest} ms`);
    } finally {
      slow.stop();
    }
    // The backend saw the searches and nothing of the slow clients.
    const lines = await loggedLines(backendLog, (logged) => logged.length >= times.length + 1);
    assert.equal(lines.length, times.length + 1);
    assert.ok(lines.every((line) => line.includes('"POST /search HTTP/1.1" 200 ')));
  });
});
