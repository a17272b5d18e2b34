// mod_tavik in Apache's event model against 2,000 clients that trickle a
// request body a byte every 2 s, with mod_reqtimeout and the process model
// as docs/apache.md recommends them, while a client beside them searches
// every half second: every search is answered, and at once. Apache reads a
// body on a worker thread, so each slow client holds one until
// mod_reqtimeout cuts it off (its body stops for good after 10 s at this
// rate); the workers the recommended model has beyond them serve the
// searches.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';

import { paths, search } from '../serve/e2e/serve_fixture.mjs';
import { trickleBodies } from '../serve/e2e/load_fixture.mjs';
import {
  EVENT_LINES, REQTIMEOUT_LINES, apache, configuration, runFolders, shareLibrary, sleep,
  startApacheOnFreePort,
} from './apache_fixture.mjs';

const SLOW_CLIENTS = 2000;
const HOLD_MS = 20000;
const SEARCH_EVERY_MS = 500;
// A search answered within this was served, not kept waiting behind the
// slow clients (it takes milliseconds); the margin is for a loaded two-core
// machine.
const ANSWER_LIMIT_MS = 1000;

describe(`mod_tavik in Apache's event model, ${SLOW_CLIENTS} slow clients`, () => {
  let folders;
  let server;
  let page;

  before(async () => {
    folders = runFolders('slow');
    const extension = shareLibrary(folders.shared, paths.extension);
    server = await startApacheOnFreePort(folders.root, (port) => configuration({
      root: folders.root, port, site: paths.site, mpmLines: EVENT_LINES, extension,
      extra: REQTIMEOUT_LINES(apache.modules),
    }));
    page = (await search(server.port, 'quokka')).body;
  });

  after(async () => {
    if (server) await server.stop();
    folders?.remove();
  });

  it('answers every search at once while the slow clients trickle', async (t) => {
    const opened = Date.now();
    const slow = await trickleBodies(server.port, SLOW_CLIENTS);
    const connectedMs = Date.now() - opened;
    const times = [];
    try {
      while (Date.now() - opened < HOLD_MS) {
        const started = Date.now();
        const answer = await search(server.port, 'quokka');
        times.push(Date.now() - started);
        assert.equal(answer.status, 200);
        assert.equal(answer.body, page);
        await sleep(SEARCH_EVERY_MS);
      }
      const cut = slow.sockets.filter((socket) => socket.closedAt !== null);
      const cutAfter = cut.map((socket) => socket.closedAt - opened);
      const answered408 = cut.filter((socket) => socket.received.startsWith('HTTP/1.1 408')).length;
      const slowest = Math.max(...times);
      t.diagnostic(`${SLOW_CLIENTS} slow clients connected in ${connectedMs} ms; ` +
        `${cut.length} cut off by mod_reqtimeout (${answered408} with 408) ` +
        `${cut.length ? `${Math.min(...cutAfter)} to ${Math.max(...cutAfter)} ms` : ''} after ` +
        `the first opened; ${times.length} searches beside them in ${Date.now() - opened} ms, ` +
        `all answered, the slowest in ${slowest} ms`);
      assert.ok(times.length >= HOLD_MS / (SEARCH_EVERY_MS + ANSWER_LIMIT_MS));
      assert.ok(slowest < ANSWER_LIMIT_MS, `a search took ${slowest} ms`);
      // The slow clients were cut off, not searched for.
      assert.ok(slow.sockets.every((socket) => !/Search Results/.test(socket.received)));
    } finally {
      slow.stop();
    }
  });
});
