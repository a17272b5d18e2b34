// tavik-serve in a real browser: headless Chromium opens the demo site's
// forms, searches, follows results, pages through them, and shows markup
// typed into the form as text; axe-core checks the word search's page for
// accessibility. The results pages are saved as screenshots under the build
// folder.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import { paths, startServer } from './serve_fixture.mjs';

let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch {
  throw new Error('playwright-core is missing: run scripts/setup, which ' +
                  'installs it into tests/host/serve/e2e/node_modules');
}

const CHROMIUM = '/usr/bin/chromium';
const CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu',
  '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync'];

describe('the demo site in headless Chromium', () => {
  let server;
  let browser;
  let page;
  const dialogs = [];

  before(async () => {
    assert.ok(fs.existsSync(CHROMIUM), `${CHROMIUM} is missing: run scripts/setup`);
    server = await startServer(['--extension', paths.extension]);
    browser = await chromium.launch({
      executablePath: CHROMIUM, args: CHROMIUM_FLAGS, headless: true,
    });
    page = await browser.newPage();
    page.on('dialog', (dialog) => {
      dialogs.push(dialog.message());
      dialog.dismiss();
    });
  });

  after(async () => {
    await browser?.close();
    if (server) assert.equal((await server.stop()).code, 0);
  });

  async function searchFromTheForm(text) {
    await page.goto(`${server.base}/content.htm`);
    await page.fill('form[method=POST] input[name=q]', text);
    await Promise.all([page.waitForNavigation(),
      page.click('form[method=POST] input[type=submit]')]);
    assert.equal(new URL(page.url()).pathname, '/search');
  }

  it('searches from the form and shows the ranked list with its total', async () => {
    await searchFromTheForm('quokka');
    const links = await page.$$eval('a', (anchors) => anchors.map((a) => ({
      text: a.textContent, href: a.getAttribute('href'),
    })));
    const results = links.filter((link) => link.text.startsWith('/'));
    assert.deepEqual(results, [
      { text: '/news/2026/wildlife.htm', href: '/news/2026/wildlife.htm' },
      { text: '/content.htm', href: '/content.htm' },
    ]);
    const text = await page.innerText('body');
    assert.match(text, /Search string - quokka/);
    assert.match(text, /wildlife\.htm - 6 hit\(s\)/);
    assert.match(text, /7 hit\(s\) found\./);

    if (paths.artifacts) {
      fs.mkdirSync(paths.artifacts, { recursive: true });
      const file = path.join(paths.artifacts, 'tavik-serve-results.png');
      await page.screenshot({ path: file, fullPage: true });
      assert.ok(fs.statSync(file).size > 1000);
    }
  });

  it('follows the first result to its document', async () => {
    await searchFromTheForm('quokka');
    await Promise.all([page.waitForNavigation(), page.click('a[href="/news/2026/wildlife.htm"]')]);
    assert.equal(new URL(page.url()).pathname, '/news/2026/wildlife.htm');
    assert.equal(await page.title(), 'Field notes: the quokka');
    assert.match(await page.innerText('body'), /Rottnest Island/);
  });

  it('shows markup typed into the form as text', async () => {
    const typed = '<script>alert("tavik")</script><b>bold';
    await searchFromTheForm(typed);
    const text = await page.innerText('body');
    assert.ok(text.includes(`Search string - ${typed}`), text);
    assert.equal(await page.$$eval('b', (bold) =>
      bold.filter((b) => b.textContent.startsWith('bold')).length), 0);
    assert.deepEqual(dialogs, [], 'no script ran');
  });
});

describe('the word search in headless Chromium', () => {
  let server;
  let browser;
  let page;
  let root;

  before(async () => {
    // The demo site, with enough documents on one word for three pages of
    // results and one whose title is not ASCII.
    root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavik-words-'));
    fs.cpSync(paths.site, root, { recursive: true });
    for (let k = 1; k <= 25; k++) {
      fs.writeFileSync(path.join(root, 'news', `wallaby${k}.htm`),
        `<html><head><title>Wallaby sighting ${k}</title></head><body>` +
        `<p>${'A wallaby was seen near the track. '.repeat(k % 4 + 1)}` +
        `Sighting number ${k}.</p></body></html>`);
    }
    fs.writeFileSync(path.join(root, 'news', 'cafe.htm'),
      '<html><head><meta charset="utf-8"><title>Café Crème</title></head>' +
      '<body><p>The café by the lake serves a wallaby-shaped crème brûlée.</p></body></html>');
    server = await startServer(['--extension', paths.extension, '--docroot', root]);
    browser = await chromium.launch({
      executablePath: CHROMIUM, args: CHROMIUM_FLAGS, headless: true,
    });
    page = await browser.newPage();
  });

  after(async () => {
    await browser?.close();
    if (server) assert.equal((await server.stop()).code, 0);
    if (root) fs.rmSync(root, { recursive: true, force: true });
  });

  const titles = () => page.$$eval('.tavik-title a', (links) =>
    links.map((link) => ({ text: link.textContent, href: link.getAttribute('href') })));

  async function axeViolations() {
    const require = createRequire(import.meta.url);
    await page.addScriptTag({ path: require.resolve('axe-core/axe.min.js') });
    const results = await page.evaluate(() => window.axe.run());
    return results.violations.map((violation) =>
      `${violation.id}: ${violation.nodes.map((node) => node.html).join(' | ')}`);
  }

  it('searches from the box, shows titles and marked excerpts, with no accessibility violation', async () => {
    await page.goto(`${server.base}/content.htm`);
    await page.fill('#words', 'Wallaby');
    await Promise.all([page.waitForNavigation(),
      page.click('form[method=GET] button[type=submit]')]);
    const url = new URL(page.url());
    assert.equal(url.pathname, '/search');
    assert.equal(url.searchParams.get('q'), 'Wallaby');
    assert.match(await page.innerText('.tavik-summary'), /^26 results for Wallaby$/);
    const first = await titles();
    assert.equal(first.length, 10);
    for (const { text, href } of first) {
      assert.match(text, /^(Wallaby sighting \d+|Café Crème)$/, text);
      assert.match(href, /^\/news\/(wallaby\d+|cafe)\.htm$/, href);
    }
    const marks = await page.$$eval('.tavik-excerpt mark', (all) => all.map((m) => m.textContent));
    assert.ok(marks.length >= 10, marks.join());
    for (const mark of marks) assert.match(mark, /^wallaby$/i);
    assert.equal(await page.inputValue('#tavik-q'), 'Wallaby');
    assert.deepEqual(await axeViolations(), []);

    if (paths.artifacts) {
      fs.mkdirSync(paths.artifacts, { recursive: true });
      const file = path.join(paths.artifacts, 'tavik-word-search-results.png');
      await page.screenshot({ path: file, fullPage: true });
      assert.ok(fs.statSync(file).size > 1000);
    }

    // Forward a page and back again.
    await Promise.all([page.waitForNavigation(), page.click('a[rel=next]')]);
    assert.equal(new URL(page.url()).searchParams.get('page'), '2');
    assert.match(await page.innerText('.tavik-page'), /Page 2 of 3/);
    const second = await titles();
    assert.equal(second.length, 10);
    assert.equal(second.filter((t) => first.some((f) => f.href === t.href)).length, 0);
    await Promise.all([page.waitForNavigation(), page.click('a[rel=prev]')]);
    assert.deepEqual(await titles(), first);

    // Follow a result to its document.
    await Promise.all([page.waitForNavigation(), page.click(`a[href="${first[0].href}"]`)]);
    assert.equal(new URL(page.url()).pathname, first[0].href);
    assert.equal(await page.title(), first[0].text);
  });

  it('shows accented words intact, found without their accents', async () => {
    await page.goto(`${server.base}/search?q=${encodeURIComponent('CAFE creme')}`);
    assert.deepEqual(await titles(), [{ text: 'Café Crème', href: '/news/cafe.htm' }]);
    const excerpt = await page.innerText('.tavik-excerpt');
    assert.match(excerpt, /The café by the lake serves a wallaby-shaped crème brûlée\./);
    const marks = await page.$$eval('.tavik-excerpt mark', (all) => all.map((m) => m.textContent));
    assert.deepEqual(marks, ['café', 'crème']);
    assert.deepEqual(await axeViolations(), []);
  });
});
