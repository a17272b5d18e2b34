// Starts tavik-serve as a user starts it and talks HTTP/1.1 to it over raw
// sockets, so every byte of framing and every connection is visible.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run the tests through ctest`);
  return value;
}

export const paths = {
  serve: required('TAVIK_SERVE'),
  extension: required('TAVIK_EXTENSION'),
  probe: process.env.TAVIK_PROBE_EXTENSION,
  heapProbe: process.env.TAVIK_HEAP_PROBE,
  site: required('TAVIK_SITE'),
  artifacts: process.env.TAVIK_ARTIFACTS,
  python: process.env.TAVIK_PYTHON,
};

// A copy of the demo site in a fresh folder, beside a folder outside it that
// the site links to: site/outside -> outside/, and site/leak.htm ->
// outside/secret.htm. Returns { root, site, outside, remove() }.
export function makeSiteWithEscapes() {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavik-serve-'));
  const site = path.join(root, 'site');
  const outside = path.join(root, 'outside');
  fs.cpSync(paths.site, site, { recursive: true });
  fs.mkdirSync(outside);
  fs.writeFileSync(path.join(outside, 'secret.htm'), 'quokka secret\n');
  fs.symlinkSync(outside, path.join(site, 'outside'));
  fs.symlinkSync(path.join(outside, 'secret.htm'), path.join(site, 'leak.htm'));
  return {
    root,
    site,
    outside,
    remove: () => fs.rmSync(root, { recursive: true, force: true }),
  };
}

// Runs tavik-serve with `args` and waits for the line that gives its URL.
// `serve` is the program, `wrapper` the command that runs it (setpriv, to
// run it as another user). Resolves to { child, port, base, output(),
// errors(), stop() }.
export function startServer(args, { timeoutMs = 10000, serve = paths.serve, wrapper = [] } = {}) {
  const command = [...wrapper, serve, '--port', '0', ...args];
  const child = spawn(command[0], command.slice(1), {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let stdout = '';
  let stderr = '';
  child.stdout.on('data', (data) => { stdout += data; });
  child.stderr.on('data', (data) => { stderr += data; });
  const exited = new Promise((resolve) => {
    child.on('exit', (code, signal) => resolve({ code, signal }));
  });
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => {
      child.kill('SIGKILL');
      reject(new Error(`tavik-serve did not start: ${stderr}`));
    }, timeoutMs);
    const check = () => {
      const match = /http:\/\/127\.0\.0\.1:(\d+)\//.exec(stdout);
      if (!match) return;
      clearTimeout(timer);
      child.stdout.off('data', check);
      const port = Number(match[1]);
      resolve({
        child,
        port,
        base: `http://127.0.0.1:${port}`,
        output: () => stdout,
        errors: () => stderr,
        exited,
        stop: async (signal = 'SIGTERM') => {
          child.kill(signal);
          return exited;
        },
      });
    };
    child.stdout.on('data', check);
    exited.then(({ code }) => {
      clearTimeout(timer);
      reject(new Error(`tavik-serve exited with ${code}: ${stderr}`));
    });
  });
}

// Runs tavik-serve with `args` to its end (`serve` and `wrapper` as for
// startServer). Resolves to { code, stdout, stderr }.
export function runServer(args, { timeoutMs = 10000, serve = paths.serve, wrapper = [] } = {}) {
  return new Promise((resolve) => {
    const command = [...wrapper, serve, ...args];
    const child = spawn(command[0], command.slice(1), { stdio: ['ignore', 'pipe', 'pipe'] });
    let stdout = '';
    let stderr = '';
    child.stdout.on('data', (data) => { stdout += data; });
    child.stderr.on('data', (data) => { stderr += data; });
    const timer = setTimeout(() => child.kill('SIGKILL'), timeoutMs);
    child.on('exit', (code) => {
      clearTimeout(timer);
      resolve({ code, stdout, stderr });
    });
  });
}

// One client connection. Responses are parsed by their framing: chunks, a
// Content-Length, or the end of the connection.
export class Connection {
  static open(port) {
    return new Promise((resolve, reject) => {
      const socket = net.connect(port, '127.0.0.1', () => resolve(new Connection(socket)));
      socket.once('error', reject);
    });
  }

  constructor(socket) {
    this.socket = socket;
    this.buffer = Buffer.alloc(0);
    this.ended = false;
    this.waiters = [];
    socket.on('data', (data) => {
      this.buffer = Buffer.concat([this.buffer, data]);
      this.wake();
    });
    socket.on('end', () => { this.ended = true; this.wake(); });
    socket.on('close', () => { this.ended = true; this.wake(); });
    socket.on('error', () => { this.ended = true; this.wake(); });
  }

  wake() {
    const waiters = this.waiters;
    this.waiters = [];
    for (const waiter of waiters) waiter();
  }

  // Waits until `ready()` holds or the connection ends, at most timeoutMs.
  async waitFor(ready, timeoutMs = 10000) {
    const deadline = Date.now() + timeoutMs;
    while (!ready() && !this.ended) {
      const left = deadline - Date.now();
      if (left <= 0) throw new Error('timed out waiting for the server');
      await new Promise((resolve) => {
        const timer = setTimeout(resolve, left);
        this.waiters.push(() => { clearTimeout(timer); resolve(); });
      });
    }
    return ready();
  }

  write(bytes) { this.socket.write(bytes); }

  // Sends a request; `body` gets its Content-Length unless `headers` frame
  // it otherwise.
  send(method, target, { headers = {}, body } = {}) {
    let head = `${method} ${target} HTTP/1.1\r\nHost: 127.0.0.1\r\n`;
    const names = Object.keys(headers).map((name) => name.toLowerCase());
    if (body !== undefined && !names.includes('content-length') &&
        !names.includes('transfer-encoding')) {
      head += `Content-Length: ${Buffer.byteLength(body)}\r\n`;
    }
    for (const [name, value] of Object.entries(headers)) {
      head += `${name}: ${value}\r\n`;
    }
    this.write(head + '\r\n' + (body ?? ''));
  }

  // Reads the next response. `head` says it answers a HEAD request (no body
  // follows); each wait for more bytes lasts at most `timeoutMs`. Resolves
  // to { status, statusLine, headers, body, raw }.
  async read({ head = false, timeoutMs = 10000 } = {}) {
    await this.waitFor(() => this.buffer.indexOf('\r\n\r\n') >= 0, timeoutMs);
    const end = this.buffer.indexOf('\r\n\r\n');
    if (end < 0) throw new Error(`connection ended inside a head: ${this.buffer}`);
    const lines = this.buffer.subarray(0, end).toString('latin1').split('\r\n');
    const statusLine = lines.shift();
    const headers = {};
    for (const line of lines) {
      const colon = line.indexOf(':');
      const name = line.slice(0, colon).toLowerCase();
      const value = line.slice(colon + 1).trim();
      headers[name] = name in headers ? `${headers[name]}, ${value}` : value;
    }
    let at = end + 4;
    const status = Number(statusLine.split(' ')[1]);
    let body = Buffer.alloc(0);
    const bodyless = head || status === 204 || status === 304 || status < 200;
    if (bodyless) {
      // Nothing follows.
    } else if (/chunked/i.test(headers['transfer-encoding'] ?? '')) {
      const pieces = [];
      for (;;) {
        await this.waitFor(() => this.buffer.indexOf('\r\n', at) >= 0, timeoutMs);
        const lineEnd = this.buffer.indexOf('\r\n', at);
        if (lineEnd < 0) throw new Error('connection ended inside a chunk size');
        const size = parseInt(this.buffer.subarray(at, lineEnd).toString(), 16);
        if (Number.isNaN(size)) throw new Error('bad chunk size');
        const chunkStart = lineEnd + 2;
        await this.waitFor(() => this.buffer.length >= chunkStart + size + 2, timeoutMs);
        if (this.buffer.length < chunkStart + size + 2) {
          throw new Error('connection ended inside a chunk');
        }
        if (this.buffer.subarray(chunkStart + size, chunkStart + size + 2).toString() !== '\r\n') {
          throw new Error('chunk not ended by CR LF');
        }
        at = chunkStart + size + 2;
        if (size === 0) break;
        pieces.push(this.buffer.subarray(chunkStart, chunkStart + size));
      }
      body = Buffer.concat(pieces);
    } else if (headers['content-length'] !== undefined) {
      const length = Number(headers['content-length']);
      await this.waitFor(() => this.buffer.length >= at + length, timeoutMs);
      body = this.buffer.subarray(at, at + length);
      at += body.length;
    } else {
      await this.waitFor(() => false, timeoutMs).catch(() => {});
      body = this.buffer.subarray(at);
      at = this.buffer.length;
    }
    const raw = this.buffer.subarray(0, at);
    this.buffer = this.buffer.subarray(at);
    return { status, statusLine, headers, body: body.toString('latin1'), raw };
  }

  // Resolves once the server has closed the connection (false on timeout).
  async closedByServer(timeoutMs = 5000) {
    try {
      return await this.waitFor(() => this.ended, timeoutMs);
    } catch {
      return false;
    }
  }

  close() { this.socket.destroy(); }
}

// One request on a connection of its own.
export async function request(port, method, target, options = {}) {
  const connection = await Connection.open(port);
  try {
    connection.send(method, target, options);
    return await connection.read({ head: method === 'HEAD' });
  } finally {
    connection.close();
  }
}

// A browser's form post of `term` to the mount.
export function search(port, term, target = '/search') {
  const body = 'q=' + encodeURIComponent(term).replace(/%20/g, '+');
  return request(port, 'POST', target, {
    headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
    body,
  });
}

// The links of a result page and their hit counts, in page order.
export function resultRows(page) {
  return [...page.matchAll(/<a href=([^>]+)>[^<]*<\/a> - (\d+) hit\(s\)/g)]
    .map((match) => ({ link: match[1], hits: Number(match[2]) }));
}
