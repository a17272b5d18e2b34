// tavik-serve in a real browser: headless Chromium opens the demo site's
// form, searches, follows a result, and shows markup typed into the form as
// text. The results page is saved as a screenshot under the build folder.
import assert from 'node:assert/strict';
import fs from 'node:fs';
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
