// nginx in front of tavik-serve backends, as deploy/nginx/ configures it,
// run by the test as an ordinary foreground process: its configuration,
// logs, pid file and temporary files in a folder of the test's own, no
// system service touched. The shipped files are used as they are but for
// the lines that name places (ports, the site, the backends, paths), each
// replaced by an exact match that fails the test when it is no longer
// there.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { paths, startServer } from '../host/serve/e2e/serve_fixture.mjs';

const deploy = fileURLToPath(new URL('../../deploy/nginx/', import.meta.url));
const nginx = process.env.TAVIK_NGINX || '/usr/sbin/nginx';

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// `text` with the line `from` replaced by `to`; throws when `from` is not
// exactly one line of it.
function replaceLine(text, from, to) {
  const lines = text.split('\n');
  const at = lines.findIndex((line) => line.trim() === from);
  if (at < 0 || lines.findIndex((line, i) => i > at && line.trim() === from) >= 0) {
    throw new Error(`the shipped nginx configuration has no single line "${from}"`);
  }
  lines[at] = to;
  return lines.join('\n');
}

// A free loopback port (free a moment ago).
export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
    server.on('error', reject);
  });
}

// Resolves once `port` accepts connections, at most `timeoutMs`.
async function listening(port, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const open = await new Promise((resolve) => {
      const socket = net.connect(port, '127.0.0.1', () => { socket.destroy(); resolve(true); });
      socket.on('error', () => resolve(false));
    });
    if (open) return;
    if (Date.now() > deadline) throw new Error(`nothing listens on ${port}`);
    await sleep(50);
  }
}

// A fresh folder for one test's files in the system's temporary folder,
// readable by nginx's workers (which run as nobody when the test runs as
// root, and may not reach into a checkout below /root).
export function workFolder(name) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), `tavik-${name}-`));
  fs.chmodSync(folder, 0o755);
  return folder;
}

// A copy of the demo site in `folder`, for nginx and the backends alike.
export function copySite(folder) {
  const site = path.join(folder, 'site');
  fs.cpSync(paths.site, site, { recursive: true });
  return site;
}

// Starts a tavik-serve backend serving `site` that trusts the front on the
// loopback address, logging to `accessLog`. `port` 0 picks one; a restarted
// backend is given its old port.
export function startBackend(site, accessLog, port = 0, extra = []) {
  return startServer(['--port', String(port), '--docroot', site, '--extension',
    paths.extension, '--trusted-proxy', '127.0.0.1', '--access-log', accessLog, ...extra]);
}

// Starts nginx in `folder` with the shipped configuration, listening on a
// free loopback port, serving `site` and passing searches to the backends
// on `backendPorts`. Resolves to { port, base, child, accessLog, errors(),
// stop() }.
export async function startFront(folder, site, backendPorts) {
  const port = await freePort();
  let main = fs.readFileSync(path.join(deploy, 'nginx.conf'), 'utf8');
  for (const [from, to] of [
    // Workers run as the default user (nobody) when the test runs as root.
    ['user www-data;', ''],
    ['pid /run/nginx.pid;', `pid ${folder}/nginx.pid;`],
    ['error_log /var/log/nginx/error.log;', `error_log ${folder}/error.log;`],
    ['include /etc/nginx/modules-enabled/*.conf;', ''],
    ['access_log /var/log/nginx/access.log;', `access_log ${folder}/access.log;`],
    ['include /etc/nginx/conf.d/*.conf;', `include ${folder}/temporary-files.conf;`],
    ['include /etc/nginx/sites-enabled/*;', `include ${folder}/tavik.conf;`],
  ]) {
    main = replaceLine(main, from, to);
  }
  // Debian's nginx keeps these in /var/lib/nginx, shared with the system's.
  fs.writeFileSync(path.join(folder, 'temporary-files.conf'), ['client_body', 'proxy', 'fastcgi',
    'uwsgi', 'scgi'].map((kind) => `${kind}_temp_path ${folder}/${kind}_temp;\n`).join(''));

  let siteConf = fs.readFileSync(path.join(deploy, 'tavik.conf'), 'utf8');
  // The shipped backends' lines give way to the test's, with the same
  // parameters.
  const backendLine = /^\s*server 127\.0\.0\.1:8081 (.*);$/m.exec(siteConf);
  const secondLine = /^\s*server 127\.0\.0\.1:8082 .*;$/m.exec(siteConf);
  if (!backendLine || !secondLine) throw new Error('the shipped upstream has no two backend lines');
  siteConf = replaceLine(siteConf, backendLine[0].trim(),
    backendPorts.map((backend) => `    server 127.0.0.1:${backend} ${backendLine[1]};`).join('\n'));
  siteConf = replaceLine(siteConf, secondLine[0].trim(), '');
  siteConf = replaceLine(siteConf, 'listen 80;', `    listen 127.0.0.1:${port};`);
  siteConf = replaceLine(siteConf, 'listen [::]:80;', '');
  siteConf = replaceLine(siteConf, 'root /usr/share/tavik/site;', `    root ${site};`);

  fs.writeFileSync(path.join(folder, 'nginx.conf'), main);
  fs.writeFileSync(path.join(folder, 'tavik.conf'), siteConf);
  fs.mkdirSync(path.join(folder, 'snippets'), { recursive: true });
  fs.copyFileSync(path.join(deploy, 'snippets', 'tavik-proxy.conf'),
    path.join(folder, 'snippets', 'tavik-proxy.conf'));

  const child = spawn(nginx, ['-p', `${folder}/`, '-c', `${folder}/nginx.conf`,
    '-e', `${folder}/error.log`, '-g', 'daemon off;'], { stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  child.stdout.on('data', (data) => { output += data; });
  child.stderr.on('data', (data) => { output += data; });
  const exited = new Promise((resolve) => {
    child.on('exit', (code, signal) => resolve({ code, signal }));
  });
  const errorLog = path.join(folder, 'error.log');
  const errors = () => output +
    (fs.existsSync(errorLog) ? fs.readFileSync(errorLog, 'latin1') : '');
  try {
    await Promise.race([listening(port, 10000),
      exited.then(({ code }) => { throw new Error(`nginx exited with ${code}`); })]);
  } catch (error) {
    child.kill('SIGKILL');
    throw new Error(`${error.message}: ${errors()}`);
  }
  return {
    port,
    base: `http://127.0.0.1:${port}`,
    child,
    accessLog: path.join(folder, 'access.log'),
    errors,
    stop: async () => {
      if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
      return exited;
    },
  };
}

// The lines of the access log at `file` (none when there is none yet).
export function logLines(file) {
  return fs.existsSync(file) ? fs.readFileSync(file, 'latin1').split('\n').filter(Boolean) : [];
}

// The lines of the access log at `file` once `ready(lines)` holds, or as
// they are after `timeoutMs`: a server writes a request's line after its
// answer has gone, so it may come after the client has the answer.
export async function loggedLines(file, ready, timeoutMs = 5000) {
  const deadline = Date.now() + timeoutMs;
  let lines = logLines(file);
  while (!ready(lines) && Date.now() < deadline) {
    await sleep(20);
    lines = logLines(file);
  }
  return lines;
}
