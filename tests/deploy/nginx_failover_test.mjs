// nginx in front of two tavik-serve backends under wrk, one backend killed
// (SIGTERM) in the middle of the run: no client sees an error or a wrong
// page, and the backend, once started again, gets requests again. The
// backend finishes the answers it is giving, answers what comes meanwhile
// with 503, and is gone; nginx passes each request it could not answer to
// the other backend. (A backend killed with SIGKILL, again and again, is
// nginx_chaos_test.mjs.)
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import { resultRows, search } from '../host/serve/e2e/serve_fixture.mjs';
import { runWrk, wrkScript } from '../host/serve/e2e/load_fixture.mjs';
import {
  copySite, logLines, sleep, startBackend, startFront, workFolder,
} from './nginx_fixture.mjs';

const SECONDS = 10;
const CONNECTIONS = 16;
const KILL_AT_MS = 3000;
const RESTART_AT_MS = 4000;
// nginx leaves a failed backend out for its fail_timeout (1 to 2 s with
// the 1s of tavik.conf), then tries it again; the margin is for a loaded
// machine.
const BACK_IN_USE_MS = 10000 + 5000;
const TERM = 'quokka';

describe('nginx in front of two backends, one killed under load', () => {
  let folder;
  let site;
  let backends;
  let front;
  let page;

  before(async () => {
    folder = workFolder('failover');
    site = copySite(folder);
    backends = [];
    for (const name of ['a', 'b']) {
      backends.push(await startBackend(site, path.join(folder, `${name}.log`)));
    }
    front = await startFront(folder, site, backends.map((backend) => backend.port));
    page = (await search(front.port, TERM)).body;
    assert.equal(resultRows(page).length, 2);
  });

  after(async () => {
    for (const backend of backends) {
      if (backend.child.exitCode === null && backend.child.signalCode === null) {
        await backend.stop();
      }
    }
    if (front) await front.stop();
    fs.rmSync(folder, { recursive: true, force: true });
  });

  it('answers every request while a backend dies, and uses it again once back', async (t) => {
    const script = path.join(folder, 'search.lua');
    fs.writeFileSync(script, wrkScript(Buffer.from(page, 'latin1'), TERM));
    const victim = backends[1];
    const victimPort = victim.port;
    const restartedLog = path.join(folder, 'b-restarted.log');
    const load = runWrk(`${front.base}/search`, script, SECONDS,
      { connections: CONNECTIONS, timeout: '10s', extra: ['--latency'] });
    await sleep(KILL_AT_MS);
    const before = logLines(path.join(folder, 'b.log')).length;
    victim.child.kill('SIGTERM');
    const { code } = await victim.exited;
    assert.equal(code, 0, 'the backend stopped cleanly');
    const killedAt = Date.now();
    await sleep(RESTART_AT_MS - KILL_AT_MS);
    backends[1] = await startBackend(site, restartedLog, victimPort);
    const counts = await load;
    t.diagnostic(`wrk: ${counts.requests} requests in ${counts.seconds} s, ` +
      `${counts.rps.toFixed(0)}/s; errors ${counts.errors} (connect ${counts.connect}, read ` +
      `${counts.read}, write ${counts.write}, status ${counts.status}, timeout ` +
      `${counts.timeout}), wrong pages ${counts.wrong}; the killed backend had answered ` +
      `${before} before it died`);
    assert.ok(before > 0, 'the killed backend was in use');
    assert.equal(counts.answers, counts.requests);
    assert.equal(counts.errors, 0);
    assert.equal(counts.wrong, 0);

    // Searches one after another until nginx tries the backend again.
    let searches = 0;
    while (logLines(restartedLog).length === 0 && Date.now() - killedAt < BACK_IN_USE_MS) {
      const answer = await search(front.port, TERM);
      assert.equal(answer.body, page);
      ++searches;
      await sleep(50);
    }
    t.diagnostic(`the restarted backend got its first request ${Date.now() - killedAt} ms ` +
      `after the kill, after ${searches} searches past the load`);
    assert.ok(logLines(restartedLog).length > 0, 'the restarted backend is used again');
  });
});
