// mod_tavik in Apache httpd, under the event and the prefork process
// models: the same requests give the bodies tavik-serve gives, byte for
// byte (form posts and searches by URL) and whole with their length, the
// escapes from the site are refused without a search, and, with a probe
// extension, the server variables (the client's address through
// mod_remoteip), an answer held until the extension returns (up to 4 MiB),
// the 500 of an extension that sends no head or could not be loaded, and a
// library that cannot be loaded stopping the start.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import {
  Connection, makeSiteWithEscapes, paths, request, startServer,
} from '../serve/e2e/serve_fixture.mjs';
import {
  apache, configuration, freePort, runApacheToEnd, runFolders, shareLibrary,
  startApacheOnFreePort,
} from './apache_fixture.mjs';

// A form post of `body` (already form-encoded) to `target`.
const post = (target, body) => ({ method: 'POST', target, body,
  headers: { 'Content-Type': 'application/x-www-form-urlencoded' } });
const get = (target) => ({ method: 'GET', target });

// The requests both servers answer; each must give the same status and
// body. The demo site with links out of it (makeSiteWithEscapes), a link to
// /etc/passwd, and a document of 300 matching lines for the overflow page.
const SAME_ANSWERS = [
  post('/search', 'q=quokka'),                           // hits
  post('/search', 'q=zzqxv'),                            // no hits
  post('/search', 'q=zebra'),                            // the overflow page
  post('/search', `q=${'quokka'.repeat(300)}`),          // a long query
  post('/search', `q=quokka&pad=${'x'.repeat(60000)}`),  // a body past the read-ahead
  post('/search', 'q=%3Cb%3Equokka%3C%2Fb%3E+%26+%22x%22'),  // markup
  post('/search', 'q=root%3Ax%3A0'),                     // the link to /etc/passwd
  post('/search', 'q=secret'),                           // the links out of the site
  post('/search/news', 'q=quokka'),                      // below the mount
  post('/search', 'nothing'),                            // no form value
  get('/search?q=quokka'),                               // searches by URL
  get('/search/news?q=Quokka'),
  get('/search?q=%22rottnest+island%22&utm_source=news'),
  get('/search?q=quokka&format=json'),
  get('/search?q=zebra'),
  get('/search'),
  { method: 'HEAD', target: '/search?q=quokka' },
];

// Escapes, and the statuses each server may refuse them with: tavik-serve
// itself; Apache resolves dot segments before the module sees the path
// ("/search/.." is "/", outside the mount, and ".." above the top is 400),
// refuses an encoded slash and "%00" (404), and the module refuses a link
// out of the site (403).
const ESCAPES = [
  ['/search/..', [403], [400, 403, 404]],
  ['/search/%2e%2e', [403], [400, 403, 404]],
  ['/search/guide/../..', [403], [400, 403, 404]],
  ['/search/../../etc/passwd', [403], [400]],
  ['/search/%2e%2e/%2e%2e/etc/passwd', [403], [400]],
  ['/search/..%2f..%2fetc', [403], [404]],
  ['/search/outside', [403], [403]],
  ['/search/outside/', [403], [403]],
  ['/search/guide/%2e%2e/outside', [403], [403]],
  ['/search/%00', [400], [404]],
  ['/search/guide%00/x', [400], [404]],
];

const MPMS = ['event', 'prefork'];

for (const mpm of MPMS) {
  describe(`mod_tavik under the ${mpm} model beside tavik-serve`, () => {
    let folders;
    let site;
    let serve;
    let server;

    before(async () => {
      folders = runFolders(`same-${mpm}`);
      site = makeSiteWithEscapes();
      fs.chmodSync(site.root, 0o755);
      fs.symlinkSync('/etc/passwd', path.join(site.site, 'pw.htm'));
      fs.writeFileSync(path.join(site.site, 'many.htm'),
        Array.from({ length: 300 }, (_, i) => `<p>zebra line ${i}</p>\n`).join(''));
      serve = await startServer(['--docroot', site.site, '--extension', paths.extension]);
      const extension = shareLibrary(folders.shared, paths.extension);
      server = await startApacheOnFreePort(folders.root, (port) => configuration({
        root: folders.root, port, site: site.site, mpm, extension,
      }));
    });

    after(async () => {
      if (server) await server.stop();
      if (serve) await serve.stop();
      site?.remove();
      folders?.remove();
    });

    it('gives the bodies tavik-serve gives, byte for byte', async () => {
      for (const { method, target, body, headers } of SAME_ANSWERS) {
        const alone = await request(serve.port, method, target, { body, headers });
        const through = await request(server.port, method, target, { body, headers });
        const what = `${method} ${target} ${body ?? ''}`.slice(0, 80);
        assert.equal(alone.status, 200, what);
        assert.equal(through.status, 200, what);
        assert.equal(through.headers['content-type'], alone.headers['content-type'], what);
        assert.equal(through.body, alone.body, what);
        // Both send the answer whole, with its length (for HEAD, the
        // length the body would have).
        assert.equal(through.headers['content-length'], alone.headers['content-length'], what);
        assert.equal(through.headers['transfer-encoding'], undefined, what);
        if (method !== 'HEAD') {
          assert.equal(alone.headers['content-length'],
            String(Buffer.byteLength(alone.body, 'latin1')), what);
        }
      }
      const { method, target, body, headers } = post('/search', 'q=zebra');
      const overflow = await request(server.port, method, target, { body, headers });
      assert.match(overflow.body, /narrow/);
    });

    it('refuses every escape from the site without a search', async () => {
      for (const [target, serveStatuses, apacheStatuses] of ESCAPES) {
        for (const [name, port, statuses] of [['tavik-serve', serve.port, serveStatuses],
          ['Apache', server.port, apacheStatuses]]) {
          const response = await request(port, 'GET', target);
          assert.ok(statuses.includes(response.status), `${name} ${target}: ${response.status}`);
          assert.doesNotMatch(response.body, /Search Results|secret|root:/, `${name} ${target}`);
        }
      }
      const outside = await request(server.port, 'POST', '/search/outside', {
        body: 'q=quokka', headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
      });
      assert.equal(outside.status, 403);
      assert.match(server.errors(), /mod_tavik: \/search\/outside leads outside/);
    });
  });
}

describe('mod_tavik with a probe extension', () => {
  let folders;
  let probe;

  before(() => {
    folders = runFolders('probe');
    probe = shareLibrary(folders.shared, paths.probe);
  });

  after(() => folders?.remove());

  // Runs `check(port, server)` against Apache loading the probe, with
  // `extra` lines and `env`, in a server root of its own; stops it after.
  async function withProbe(name, { extra = [], env = {} }, check) {
    const root = fs.mkdtempSync(path.join(folders.root, `${name}-`));
    const server = await startApacheOnFreePort(root, (port) => configuration({
      root, port, site: folders.shared, extension: probe, extra,
    }), { env });
    try {
      await check(server.port, server);
    } finally {
      await server.stop();
    }
  }

  it('answers the server variables, the client\'s address through mod_remoteip', async () => {
    const otherRoot = path.join(folders.shared, 'other-root');
    fs.mkdirSync(otherRoot, { recursive: true });
    await withProbe('variables', {
      extra: [`LoadModule remoteip_module ${apache.modules}/mod_remoteip.so`,
        'RemoteIPHeader X-Forwarded-For', 'RemoteIPInternalProxy 127.0.0.1',
        // A second mount with a root of its own.
        '<Location /other/>', '  SetHandler tavik', `  TavikRoot ${otherRoot}`, '</Location>'],
    }, async (port, server) => {
      const other = await request(port, 'GET', '/other/below/?vars');
      assert.match(other.body, new RegExp(`^SCRIPT_NAME=/other\nPATH_INFO=${otherRoot}/below\n`,
        'm'));
      const response = await request(port, 'POST', '/search/guide?vars', {
        headers: { 'X-Probe': 'yes', 'X-Forwarded-For': '203.0.113.9' }, body: 'q=1',
      });
      assert.equal(response.status, 200);
      // SERVER_PORT as Apache names its port to a client whose Host field
      // names none (UseCanonicalName Off): 80.
      assert.equal(response.body, [
        'REQUEST_METHOD=POST', 'SCRIPT_NAME=/search', `PATH_INFO=${folders.shared}/guide`,
        'SERVER_PORT=80', 'REMOTE_ADDR=203.0.113.9', 'HTTP_X_PROBE=yes',
        'CONTENT_LENGTH=3', '',
      ].join('\n'));

      // No head: 500, and a line in the error log.
      const headless = await request(port, 'GET', '/search?nohead');
      assert.equal(headless.status, 500);
      assert.match(server.errors(), /ended the request without a response/);
      // Other methods, a body over 1 MiB, and a path only beside the mount.
      assert.equal((await request(port, 'PUT', '/search', { body: 'q=1' })).status, 405);
      assert.equal((await request(port, 'POST', '/search', { body: 'q='.padEnd(1048577, 'x') }))
        .status, 413);
      assert.equal((await request(port, 'GET', '/searchx')).status, 404);
    });
  });

  it('holds each answer until the extension returns, up to 4 MiB', async () => {
    await withProbe('whole', {}, async (port, server) => {
      // The probe writes 100,000 bytes, waits 300 ms and ends: nothing may
      // come before its end.
      const started = Date.now();
      const connection = await Connection.open(port);
      try {
        connection.send('GET', '/search?fill=100000');
        await connection.waitFor(() => connection.buffer.length > 0);
        const waited = Date.now() - started;
        const held = await connection.read();
        assert.ok(waited >= 290, `the first byte came after ${waited} ms`);
        assert.equal(held.headers['content-length'], '100005');
        assert.equal(held.body, `${'x'.repeat(100000)}last\n`);
      } finally {
        connection.close();
      }
      // Past the bound (4 MiB) it goes as it is written, and the log says so.
      const streamed = await request(port, 'GET', '/search?fill=5000000');
      assert.equal(streamed.status, 200);
      assert.equal(streamed.headers['content-length'], undefined);
      assert.equal(streamed.body.length, 5000005);
      assert.match(server.errors(), /mod_tavik: an answer grew past 4194304 bytes/);
    });
  });

  it('answers 500 with a line in the log when the library refused to load', async () => {
    await withProbe('refused', { env: { TAVIK_PROBE_REFUSE_LOAD: '1' } }, async (port, server) => {
      const response = await request(port, 'GET', '/search?q=quokka');
      assert.equal(response.status, 500);
      assert.match(server.errors(), new RegExp(`mod_tavik: the extension ${probe} is not ` +
        `loaded: ${probe}: GetExtensionVersion refused to load`));
    });
  });

  it('does not start with a library it cannot load, or a root that is no folder', async () => {
    const root = fs.mkdtempSync(path.join(folders.root, 'no-root-'));
    const missing = path.join(folders.shared, 'no-such-folder');
    const { code, output } = await runApacheToEnd(root, configuration({
      root, port: await freePort(), site: folders.shared, extension: probe,
      mountLines: [`TavikRoot ${missing}`],
    }));
    assert.notEqual(code, 0, output);
    assert.match(output, new RegExp(`TavikRoot: ${missing} is not a folder`));

    for (const [library, reason] of [[path.join(folders.shared, 'missing.so'), /No such file/],
      [apache.module, /lacks GetExtensionVersion/]]) {
      const root = fs.mkdtempSync(path.join(folders.root, 'unloadable-'));
      const { code, output } = await runApacheToEnd(root, configuration({
        root, port: await freePort(), site: folders.shared, extension: library,
      }));
      assert.notEqual(code, 0, output);
      assert.match(output, new RegExp(`mod_tavik: TavikExtension ${library}: .*`));
      assert.match(output, reason);
    }
  });
});
