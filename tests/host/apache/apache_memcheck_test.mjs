// One Apache process (-X: no children) with mod_tavik under Valgrind's leak
// check over 200 requests of every kind: searches with hits, without, to
// the overflow page, by URL, below the mount, HEAD, a chunked body, a body
// past the read-ahead, a body over the limit, an escape, another method.
// Valgrind must find no invalid access and no lost block: in the module, in
// the library it loads twice (the check at start, then the child's own
// load, unloaded at exit) and in the requests.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import { paths, request } from '../serve/e2e/serve_fixture.mjs';
import {
  configuration, runFolders, shareLibrary, startApacheOnFreePort,
} from './apache_fixture.mjs';

const REQUESTS = 200;
const form = { 'Content-Type': 'application/x-www-form-urlencoded' };
const KINDS = [
  ['POST', '/search', { body: 'q=quokka', headers: form }, 200],
  ['POST', '/search', { body: 'q=zzqxv', headers: form }, 200],
  ['POST', '/search', { body: 'q=zebra', headers: form }, 200],
  ['GET', '/search?q=quokka', {}, 200],
  ['GET', '/search/news?q=Quokka', {}, 200],
  ['GET', '/search?q=quokka&format=json', {}, 200],
  ['HEAD', '/search?q=quokka', {}, 200],
  ['POST', '/search', { body: '7\r\nq=quokk\r\n1\r\na\r\n0\r\n\r\n',
    headers: { ...form, 'Transfer-Encoding': 'chunked' } }, 200],
  ['POST', '/search', { body: `q=quokka&pad=${'x'.repeat(60000)}`, headers: form }, 200],
  ['POST', '/search', { body: 'q='.padEnd(1048577, 'x'), headers: form }, 413],
  ['GET', '/search/outside', {}, 403],
  ['PUT', '/search', { body: 'q=1' }, 405],
];

describe('mod_tavik in one Apache process under Valgrind', () => {
  let folders;
  let server;

  before(async () => {
    folders = runFolders('memcheck');
    const site = path.join(folders.shared, 'site');
    fs.cpSync(paths.site, site, { recursive: true });
    fs.writeFileSync(path.join(site, 'many.htm'),
      Array.from({ length: 300 }, (_, i) => `<p>zebra line ${i}</p>\n`).join(''));
    fs.mkdirSync(path.join(folders.shared, 'outside'));
    fs.symlinkSync(path.join(folders.shared, 'outside'), path.join(site, 'outside'));
    const extension = shareLibrary(folders.shared, paths.extension);
    server = await startApacheOnFreePort(folders.root, (port) => configuration({
      root: folders.root, port, site, extension,
    }), {
      timeoutMs: 60000,
      flags: ['-X'],
      wrapper: [process.env.TAVIK_VALGRIND, '--leak-check=full',
        '--errors-for-leak-kinds=definite,indirect', '--error-exitcode=99',
        `--log-file=${folders.root}/valgrind.log`],
    });
  });

  after(async () => {
    if (server) await server.stop();
    folders?.remove();
  });

  it(`finds no invalid access and no lost block over ${REQUESTS} requests`, async (t) => {
    for (let i = 0; i < REQUESTS; ++i) {
      const [method, target, options, status] = KINDS[i % KINDS.length];
      const response = await request(server.port, method, target, options);
      assert.equal(response.status, status, `${method} ${target}`);
    }
    const { code, signal } = await server.stop();
    server = null;
    const log = fs.readFileSync(path.join(folders.root, 'valgrind.log'), 'latin1');
    const summary = log.split('\n').filter((line) =>
      /definitely lost|indirectly lost|possibly lost|still reachable|ERROR SUMMARY/.test(line));
    t.diagnostic(summary.map((line) => line.replace(/^==\d+== +/, '')).join('; '));
    assert.equal(signal, null, log);
    assert.equal(code, 0, log);
    assert.match(log, /ERROR SUMMARY: 0 errors/);
    assert.match(log, /HEAP SUMMARY/);
  });
});
