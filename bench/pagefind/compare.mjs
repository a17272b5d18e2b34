// Tavik's word search beside Pagefind, the static-index site search, on the
// same trees, in the same headless Chromium, in one run (a measurement, not
// a test): Pagefind's index build (its time and size; Tavik has none), then
// for a rare word, a word nearly every document holds and an absent one,
// the time from a query to its first ten results with their data, the first
// time and again. Pagefind runs in the page from its bundle; Tavik answers
// JSON from tavik-serve (with its summary cache) through the same page's
// origin. Prints Markdown tables.
//
// usage: node compare.mjs BUILD DATA TREE=ROOT:RARE...
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const [build, data, ...trees] = process.argv.slice(2);
const REPEATS = 7;
const FILL_REQUESTS = 60;
const COMMON = 'the';
const ABSENT = 'zzqxv';
const CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
  '--no-first-run', '--disable-background-networking', '--disable-component-update',
  '--disable-sync'];

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

function folderBytes(folder) {
  let total = 0;
  for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
    const full = path.join(folder, entry.name);
    total += entry.isDirectory() ? folderBytes(full) : fs.statSync(full).size;
  }
  return total;
}

function startTavik(root) {
  return new Promise((resolve, reject) => {
    const child = spawn(path.join(build, 'tavik-serve'),
      ['--port', '0', '--docroot', root, '--extension', path.join(build, 'libtavik.so')],
      { env: { ...process.env, TAVIK_CACHE_MB: '256' }, stdio: ['ignore', 'pipe', 'pipe'] });
    let output = '';
    child.stdout.on('data', (chunk) => {
      output += chunk;
      const match = /http:\/\/127\.0\.0\.1:(\d+)/.exec(output);
      if (match) resolve({ child, port: Number(match[1]) });
    });
    child.on('exit', (code) => reject(new Error(`tavik-serve ended (${code}): ${output}`)));
  });
}

// One origin for the page: the harness, Pagefind's bundle, and /search
// passed to tavik-serve.
function startFront(bundle, tavikPort) {
  const server = http.createServer((request, response) => {
    if (request.url.startsWith('/search')) {
      const upstream = http.request({ port: tavikPort, path: request.url, method: 'GET' },
        (answer) => {
          response.writeHead(answer.statusCode, answer.headers);
          answer.pipe(response);
        });
      upstream.end();
      return;
    }
    if (request.url === '/') {
      response.writeHead(200, { 'Content-Type': 'text/html' });
      response.end('<!DOCTYPE html><title>bench</title><p>bench</p>');
      return;
    }
    const file = path.join(bundle, decodeURIComponent(request.url.split('?')[0])
      .replace(/^\/pagefind\//, ''));
    if (!file.startsWith(bundle) || !fs.existsSync(file)) {
      response.writeHead(404);
      response.end();
      return;
    }
    const types = { '.js': 'text/javascript', '.json': 'application/json',
      '.css': 'text/css', '.wasm': 'application/wasm' };
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] ?? 'application/octet-stream' });
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

async function measureTree(name, root, rare, browser) {
  const bundle = path.join(data, `pagefind-${name}`);
  fs.rmSync(bundle, { recursive: true, force: true });
  const started = Date.now();
  const indexed = spawnSync(path.join(here, 'node_modules', '.bin', 'pagefind'),
    ['--site', root, '--glob', '**/*.{htm,html,HTM}', '--output-path', bundle],
    { encoding: 'utf8' });
  const indexSeconds = (Date.now() - started) / 1000;
  if (indexed.status !== 0) throw new Error(`pagefind failed: ${indexed.stderr}`);
  const pages = /Indexed (\d+) pages/.exec(indexed.stdout)?.[1] ?? '?';

  const tavik = await startTavik(root);
  const front = await startFront(bundle, tavik.port);
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${front.address().port}/`);
  await page.evaluate(async () => {
    window.pagefind = await import('/pagefind/pagefind.js');
    await window.pagefind.init();
  });
  const rows = [];
  for (const word of [rare, COMMON, ABSENT]) {
    const pagefindOnce = () => page.evaluate(async (query) => {
      const start = performance.now();
      const search = await window.pagefind.search(query);
      const results = await Promise.all(search.results.slice(0, 10).map((r) => r.data()));
      return { ms: performance.now() - start, total: search.results.length, shown: results.length };
    }, word);
    const tavikOnce = () => page.evaluate(async (query) => {
      const start = performance.now();
      const answer = await (await fetch(`/search?q=${encodeURIComponent(query)}&format=json`)).json();
      return { ms: performance.now() - start, total: answer.total, shown: answer.results.length };
    }, word);
    const pagefindFirst = await pagefindOnce();
    const pagefindAgain = [];
    for (let k = 0; k < REPEATS; k++) pagefindAgain.push((await pagefindOnce()).ms);
    const tavikFirst = await tavikOnce();
    for (let k = 0; k < FILL_REQUESTS; k++) await tavikOnce();
    const tavikAgain = [];
    for (let k = 0; k < REPEATS; k++) tavikAgain.push((await tavikOnce()).ms);
    rows.push({ word, pagefindFirst, pagefindAgain: median(pagefindAgain), tavikFirst,
      tavikAgain: median(tavikAgain) });
  }
  await page.close();
  front.close();
  tavik.child.kill('SIGTERM');
  return { name, pages, indexSeconds, bundleMb: folderBytes(bundle) / 1e6, rows };
}

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium',
  args: CHROMIUM_FLAGS, headless: true });
try {
  const results = [];
  for (const given of trees) {
    const [name, rest] = given.split('=');
    const [root, rare] = rest.split(':');
    results.push(await measureTree(name, root, rare, browser));
  }
  console.log('| tree | Pagefind index build | its bundle | pages indexed | Tavik index build |');
  console.log('|---|---:|---:|---:|---:|');
  for (const r of results) {
    console.log(`| ${r.name} | ${r.indexSeconds.toFixed(1)} s | ${r.bundleMb.toFixed(1)} MB | ${r.pages} | none (searches the files) |`);
  }
  console.log('\nTime from a query to its first ten results with their data, in headless Chromium, ms ' +
    `(again: the median of ${REPEATS}; Tavik's again after ${FILL_REQUESTS} requests):\n`);
  console.log('| tree | word | Pagefind results | Pagefind first | again | Tavik results | Tavik first | again |');
  console.log('|---|---|---:|---:|---:|---:|---:|---:|');
  for (const r of results) {
    for (const row of r.rows) {
      console.log(`| ${r.name} | ${row.word} | ${row.pagefindFirst.total} | ${row.pagefindFirst.ms.toFixed(1)} | ` +
        `${row.pagefindAgain.toFixed(1)} | ${row.tavikFirst.total} | ${row.tavikFirst.ms.toFixed(1)} | ` +
        `${row.tavikAgain.toFixed(1)} |`);
    }
  }
} finally {
  await browser.close();
}
