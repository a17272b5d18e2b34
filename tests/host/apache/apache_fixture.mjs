// Apache httpd with mod_tavik, run by the tests as an ordinary foreground
// process: its configuration, server root, logs and pid file in a folder of
// the build (TAVIK_APACHE_RUNS), listening on a free loopback port. The
// site it searches and the extension it loads are copies in a folder of the
// system's temporary folder, as Apache's children run as nobody when the
// tests run as root and may not reach into a checkout below /root. No
// system service and nothing of /etc/apache2 is touched. Apache runs in a
// process group of its own (detached): in the foreground the prefork model
// stops by signalling its whole group, which would otherwise be the test's.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';

import { freePort, sleep, workFolder } from '../../deploy/nginx_fixture.mjs';

function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run the tests through ctest`);
  return value;
}

export const apache = {
  binary: required('TAVIK_APACHE'),
  modules: required('TAVIK_APACHE_MODULES'),
  module: required('TAVIK_APACHE_MODULE'),
  runs: required('TAVIK_APACHE_RUNS'),
};

// The event model as docs/apache.md recommends it for a public site: few
// children, each with its own summary cache, and enough threads that the
// slow clients mod_reqtimeout has not yet cut off leave workers free (Apache
// reads request heads and bodies on a worker thread). No child is stopped
// for being idle: a child that stops closes its kept-alive connections.
export const EVENT_LINES = [
  'StartServers 4', 'ServerLimit 4', 'ThreadLimit 640', 'ThreadsPerChild 640',
  'MaxRequestWorkers 2560', 'MinSpareThreads 25', 'MaxSpareThreads 2560',
];
// mod_reqtimeout as docs/apache.md recommends it: a request head within 10
// s (20 s while it comes at 500 bytes/s), a body that never stops for 10 s
// (more while it comes at 500 bytes/s).
export const REQTIMEOUT_LINES = (modules) => [
  `LoadModule reqtimeout_module ${modules}/mod_reqtimeout.so`,
  'RequestReadTimeout handshake=5 header=10-20,MinRate=500 body=10,MinRate=500',
];

// A folder for one run's files in the build, and one readable by every user
// in the system's temporary folder. Returns { root, shared, remove() }.
export function runFolders(name) {
  fs.mkdirSync(apache.runs, { recursive: true });
  const root = fs.mkdtempSync(path.join(apache.runs, `${name}-`));
  const shared = workFolder(`apache-${name}`);
  return {
    root,
    shared,
    remove: () => {
      fs.rmSync(root, { recursive: true, force: true });
      fs.rmSync(shared, { recursive: true, force: true });
    },
  };
}

// A copy of the library at `library` in `shared`, readable by Apache's
// children.
export function shareLibrary(shared, library) {
  const copy = path.join(shared, path.basename(library));
  fs.copyFileSync(library, copy);
  fs.chmodSync(copy, 0o755);
  return copy;
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

// The configuration of a run: the process model `mpm` (event or prefork)
// with `mpmLines`, mod_tavik loading `extension` (none: its default), the
// site `site` as the DocumentRoot with the mount /search, and `extra` lines
// (modules, mod_reqtimeout, mod_remoteip) before the mount.
export function configuration({ root, port, site, extension, mpm = 'event', mpmLines = [],
  extra = [], mountLines = [] }) {
  const asRoot = process.getuid() === 0;
  return [
    `ServerRoot ${root}`,
    `DefaultRuntimeDir ${root}`,
    `PidFile ${root}/apache.pid`,
    `ErrorLog ${root}/error.log`,
    'LogLevel warn tavik:info',
    `Listen 127.0.0.1:${port}`,
    'ServerName 127.0.0.1',
    ...(asRoot ? ['User nobody', 'Group nogroup'] : []),
    `LoadModule mpm_${mpm}_module ${apache.modules}/mod_mpm_${mpm}.so`,
    ...mpmLines,
    // Without an authorization module Apache refuses every request.
    `LoadModule authz_core_module ${apache.modules}/mod_authz_core.so`,
    `LoadModule tavik_module ${apache.module}`,
    ...(extension ? [`TavikExtension ${extension}`] : []),
    `DocumentRoot ${site}`,
    ...extra,
    '<Location /search>',
    '  SetHandler tavik',
    ...mountLines.map((line) => `  ${line}`),
    '</Location>',
    '',
  ].join('\n');
}

// Starts Apache in the foreground with the configuration `text` written to
// `root`/apache.conf, run by the command `wrapper` when one is given (a
// tool and its options), with `flags` (-X: one process, no children).
// Resolves to { port, base, child, pid, errors(), graceful(), stop() } once
// it listens on `port`; rejects with its output when it exits first.
export async function startApache(root, port, text,
  { env = {}, timeoutMs = 15000, wrapper = [], flags = ['-DFOREGROUND'] } = {}) {
  const conf = path.join(root, 'apache.conf');
  fs.writeFileSync(conf, text);
  const command = [...wrapper, apache.binary, '-f', conf, ...flags];
  const child = spawn(command[0], command.slice(1), {
    stdio: ['ignore', 'pipe', 'pipe'], env: { ...process.env, ...env }, detached: true,
  });
  let output = '';
  child.stdout.on('data', (data) => { output += data; });
  child.stderr.on('data', (data) => { output += data; });
  const exited = new Promise((resolve) => {
    child.on('exit', (code, signal) => resolve({ code, signal }));
  });
  const errorLog = path.join(root, 'error.log');
  const errors = () => output +
    (fs.existsSync(errorLog) ? fs.readFileSync(errorLog, 'latin1') : '');
  try {
    await Promise.race([listening(port, timeoutMs),
      exited.then(({ code }) => { throw new Error(`apache2 exited with ${code}`); })]);
  } catch (error) {
    child.kill('SIGKILL');
    throw new Error(`${error.message}: ${errors()}`);
  }
  return {
    port,
    base: `http://127.0.0.1:${port}`,
    child,
    pid: child.pid,
    exited,
    errors,
    // apachectl -k graceful: the same binary and configuration.
    graceful: () => execFileSync(apache.binary, ['-f', conf, '-k', 'graceful'],
      { stdio: 'pipe' }),
    stop: async () => {
      if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
      return exited;
    },
  };
}

// Starts Apache as startApache does on a free loopback port, with the
// configuration `textFor(port)`. Another process may take the port between
// the moment it is found free and Apache's bind (the wait is longest under
// Valgrind): then it tries again on another, up to 3 times.
export async function startApacheOnFreePort(root, textFor, options = {}) {
  for (let attempt = 1; ; ++attempt) {
    const port = await freePort();
    try {
      return await startApache(root, port, textFor(port), options);
    } catch (error) {
      if (attempt >= 3 || !/could not bind to address|Address already in use/.test(error.message)) {
        throw error;
      }
    }
  }
}

// Runs Apache with the configuration `text` until it exits (for a start
// that must fail), at most `timeoutMs`. Resolves to { code, output }.
export function runApacheToEnd(root, text, { timeoutMs = 15000 } = {}) {
  const conf = path.join(root, 'apache.conf');
  fs.writeFileSync(conf, text);
  return new Promise((resolve) => {
    const child = spawn(apache.binary, ['-f', conf, '-DFOREGROUND'],
      { stdio: ['ignore', 'pipe', 'pipe'], detached: true });
    let output = '';
    child.stdout.on('data', (data) => { output += data; });
    child.stderr.on('data', (data) => { output += data; });
    const timer = setTimeout(() => child.kill('SIGKILL'), timeoutMs);
    child.on('exit', (code) => {
      clearTimeout(timer);
      const log = path.join(root, 'error.log');
      resolve({ code, output: output + (fs.existsSync(log) ? fs.readFileSync(log, 'latin1') : '') });
    });
  });
}

// The process ids of `parent`'s children (Apache's child processes).
export function childrenOf(parent) {
  const pids = [];
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'latin1');
      // The parent's id is the fourth field, after the name in parentheses.
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      if (Number(fields[1]) === parent) pids.push(Number(entry));
    } catch {
      // The process ended meanwhile.
    }
  }
  return pids;
}

export { freePort, sleep };
