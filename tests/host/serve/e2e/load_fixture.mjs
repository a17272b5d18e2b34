// What the load and abuse tests need beside serve_fixture.mjs: the server's
// memory and open descriptors as /proc shows them, a generated tree, and
// raw exchanges that report a hang instead of waiting for one.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import { fileURLToPath } from 'node:url';

// The deadlines the abuse test gives the server for a request head and for
// a body that stops (--head-timeout, --body-timeout), shorter than the
// defaults so that the stalled cases end sooner; deadlines_test.mjs holds
// the defaults to theirs.
export const REQUEST_TIMEOUT_MS = 5000;
export const DEADLINE_OPTIONS = ['--head-timeout', '5', '--body-timeout', '5'];

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The memory and descriptors of process `pid`: { rssKiB, dataKiB, fds }.
export function processStats(pid) {
  const status = fs.readFileSync(`/proc/${pid}/status`, 'latin1');
  const field = (name) => Number(new RegExp(`^${name}:\\s+(\\d+) kB`, 'm').exec(status)[1]);
  return {
    rssKiB: field('VmRSS'),
    dataKiB: field('VmData'),
    fds: fs.readdirSync(`/proc/${pid}/fd`).length,
  };
}

// Asks the heap probe (heap_probe.cpp, preloaded into the server with
// TAVIK_HEAP_PROBE_DIR = `folder`) for the bytes the server has in use on its
// heap. Resolves to that count in KiB, fractions kept.
export async function heapInUseKiB(folder, timeoutMs = 5000) {
  const answer = `${folder}/heap`;
  fs.rmSync(answer, { force: true });
  fs.writeFileSync(`${folder}/ask`, '');
  const deadline = Date.now() + timeoutMs;
  while (!fs.existsSync(answer)) {
    if (Date.now() > deadline) throw new Error('the heap probe did not answer');
    await sleep(10);
  }
  return Number(fs.readFileSync(answer, 'latin1')) / 1024;
}

// Waits until process `pid` has at most `fds` descriptors open, at most
// `timeoutMs` (the server closes a connection shortly after its client).
// Resolves to the last count seen.
export async function settledFds(pid, fds, timeoutMs = 5000) {
  const deadline = Date.now() + timeoutMs;
  let count = processStats(pid).fds;
  while (count > fds && Date.now() < deadline) {
    await sleep(50);
    count = processStats(pid).fds;
  }
  return count;
}

// A tree of `files` generated documents in `folder`, made by the shared
// make-corpus tool (TAVIK_MAKE_CORPUS, or shared/tools/make-corpus beside
// the repository).
export function makeCorpus(folder, files, seed = 11) {
  const tool = process.env.TAVIK_MAKE_CORPUS ||
    fileURLToPath(new URL('../../../../../shared/tools/make-corpus', import.meta.url));
  if (!fs.existsSync(tool)) throw new Error(`make-corpus not found at ${tool}`);
  execFileSync('python3', [tool, '--files', String(files), '--avg-bytes', '2000',
    '--seed', String(seed), folder], { stdio: 'ignore' });
  return folder;
}

// Sends `bytes` on a new connection (in `pieces`, `gapMs` apart, when
// given) and reads until the server closes it or `timeoutMs` passes.
// Resolves to { statusLine, status, received, closed, ms, answerMs }:
// `closed` is false when the server still held the connection at the
// timeout, `answerMs` is when a whole response head had come (or `ms`
// without one).
export function exchange(port, bytes, { timeoutMs = 3000, pieces, gapMs = 0 } = {}) {
  return new Promise((resolve) => {
    const started = Date.now();
    const socket = net.connect(port, '127.0.0.1');
    let received = Buffer.alloc(0);
    let answerMs = null;
    let done = false;
    const finish = (closed) => {
      if (done) return;
      done = true;
      clearTimeout(timer);
      socket.destroy();
      const text = received.toString('latin1');
      const statusLine = text.slice(0, Math.max(0, text.indexOf('\r\n')));
      const match = /^HTTP\/\S+ (\d{3})/.exec(statusLine);
      const ms = Date.now() - started;
      resolve({ statusLine, status: match ? Number(match[1]) : 0, received: text,
        closed, ms, answerMs: answerMs ?? ms });
    };
    const timer = setTimeout(() => finish(false), timeoutMs);
    socket.on('connect', async () => {
      for (const piece of pieces ?? [bytes]) {
        if (done) return;
        socket.write(piece);
        if (gapMs) await sleep(gapMs);
      }
    });
    socket.on('data', (data) => {
      received = Buffer.concat([received, data]);
      if (answerMs === null && received.indexOf('\r\n\r\n') >= 0) answerMs = Date.now() - started;
    });
    socket.on('error', () => finish(true));
    socket.on('close', () => finish(true));
  });
}

// Opens `count` connections to `port` and sends each `greeting` (possibly
// nothing). Resolves to the sockets once all are connected; each records in
// `closedAt` when the server closed it, and in `received` what it sent.
export async function openIdle(port, count, greeting = '') {
  const sockets = await Promise.all(Array.from({ length: count }, () =>
    new Promise((resolve, reject) => {
      const socket = net.connect(port, '127.0.0.1', () => {
        if (greeting) socket.write(greeting);
        resolve(socket);
      });
      socket.closedAt = null;
      socket.received = '';
      socket.on('data', (data) => { socket.received += data.toString('latin1'); });
      socket.on('error', () => {});
      socket.on('close', () => { socket.closedAt = Date.now(); });
      socket.once('error', reject);
    })));
  return sockets;
}

// A Lua string literal holding `bytes` exactly.
function luaString(bytes) {
  let literal = '"';
  for (const byte of bytes) {
    const printable = byte >= 0x20 && byte < 0x7f && byte !== 0x22 && byte !== 0x5c;
    literal += printable ? String.fromCharCode(byte) : `\\${String(byte).padStart(3, '0')}`;
  }
  return literal + '"';
}

// The wrk script: posts the form with `term` (letters only), counts answers
// that are not `page` (a Buffer), and prints its counts and wrk's own when
// the run ends.
export function wrkScript(page, term) {
  return `
wrk.method = "POST"
wrk.body = "q=${term}"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
local expected = ${luaString(page)}
local threads = {}
function setup(thread) table.insert(threads, thread) end
function init(args) answers = 0; wrong = 0 end
function response(status, headers, body)
  answers = answers + 1
  if status ~= 200 or body ~= expected then wrong = wrong + 1 end
end
function done(summary, latency, requests)
  local answers, wrong = 0, 0
  for _, thread in ipairs(threads) do
    answers = answers + thread:get("answers")
    wrong = wrong + thread:get("wrong")
  end
  local e = summary.errors
  io.write(string.format("tavik-wrk: requests %d seconds %.3f answers %d wrong %d " ..
    "connect %d read %d write %d status %d timeout %d " ..
    "p50 %d p99 %d max %d\\n", summary.requests, summary.duration / 1e6, answers, wrong,
    e.connect, e.read, e.write, e.status, e.timeout,
    latency:percentile(50), latency:percentile(99), latency.max))
end
`;
}

// Runs wrk with the script `script` (from wrkScript) at `connections` for
// `seconds`, waiting at most `timeout` for an answer, with the further
// arguments `extra`. Resolves to the counts its script printed, with
// `errors` (socket errors, timeouts and non-2xx answers together) and `rps`.
export function runWrk(url, script, seconds, { connections, timeout, extra = [] }) {
  return new Promise((resolve, reject) => {
    const child = spawn('wrk', ['-t2', `-c${connections}`, `-d${seconds}s`, '--timeout', timeout,
      '-s', script, ...extra, url], { stdio: ['ignore', 'pipe', 'pipe'] });
    let output = '';
    child.stdout.on('data', (data) => { output += data; });
    child.stderr.on('data', (data) => { output += data; });
    child.on('error', reject);
    child.on('exit', (code) => {
      const line = /tavik-wrk: (.*)/.exec(output);
      if (code !== 0 || !line) {
        reject(new Error(`wrk failed (${code}): ${output}`));
        return;
      }
      const counts = {};
      for (const [, name, value] of line[1].matchAll(/(\w+) ([\d.]+)/g)) counts[name] = Number(value);
      counts.errors = counts.connect + counts.read + counts.write + counts.status + counts.timeout;
      counts.rps = counts.requests / counts.seconds;
      resolve(counts);
    });
  });
}

// Opens `count` connections to `port` that each send a request head
// promising a 1,000-byte body, then a byte of it every `byteEveryMs` (spread
// over the interval). Resolves to { sockets, stop() }.
export async function trickleBodies(port, count, byteEveryMs = 2000) {
  const head = 'POST /search HTTP/1.1\r\nHost: x\r\nContent-Type: ' +
    'application/x-www-form-urlencoded\r\nContent-Length: 1000\r\n\r\nq=';
  const sockets = [];
  for (let i = 0; i < count; i += 100) {
    sockets.push(...await Promise.all(Array.from({ length: Math.min(100, count - i) }, () =>
      new Promise((resolve, reject) => {
        const socket = net.connect(port, '127.0.0.1', () => {
          socket.write(head);
          resolve(socket);
        });
        socket.closedAt = null;
        socket.received = '';
        socket.on('data', (data) => { socket.received += data.toString('latin1'); });
        socket.on('close', () => { socket.closedAt = Date.now(); });
        socket.on('error', () => {});
        socket.once('error', reject);
      }))));
  }
  // A tenth of the sockets send their byte every tenth of the interval.
  let tick = 0;
  const timer = setInterval(() => {
    for (let i = tick % 10; i < sockets.length; i += 10) {
      if (sockets[i].closedAt === null) sockets[i].write('x');
    }
    ++tick;
  }, byteEveryMs / 10);
  return {
    sockets,
    stop: () => {
      clearInterval(timer);
      for (const socket of sockets) socket.destroy();
    },
  };
}
