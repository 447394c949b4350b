// The Settings app on a device of 10,000 applications: the root page opens and scrolls, a
// change from the home screen arrives as a small update and moves the row, rows that move
// keep the order the server holds, and only the icons in view load, once: rows scrolled past
// let go of the icons still on their way.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, test } from 'node:test';

import {
  build, hasSpringboard, launchBrowser, open, row, rowTitles, scratch, section, springboard,
  startSettings, title, until,
} from './helpers.mjs';

const APPLICATIONS = 10_000;
const ENABLED = 'Backgrounding Enabled';
const DISABLED = 'Backgrounding Disabled';
// Application i is "<word> i" (see device/tools/make-device.py); 4321 is "Notes 4321".
const MOVED = { identifier: 'com.example.generated.app4321', name: 'Notes 4321' };
const SLOW = 120_000;  // a sanitizer build reads 10,000 bundles slowly

let browser;
let server;
let root;
let home;

before(async () => {
  root = join(scratch, 'many-root');
  home = join(scratch, 'many-home');
  mkdirSync(home, { recursive: true });
  const generator = join(dirname(fileURLToPath(import.meta.url)), '../../device/tools/make-device.py');
  execFileSync('python3', [generator, '--applications', String(APPLICATIONS), '--base', join(build, 'device'), root]);
  server = await startSettings({ root, home });
  browser = await launchBrowser();
  browser.context.setDefaultTimeout(SLOW);
}, { timeout: SLOW });

after(async () => {
  await browser?.close();
  await server?.stop();
});

function imageLoaded(locator) {
  return locator.evaluate((image) => image.complete && image.naturalWidth > 0);
}

test('the root page of 10,000 applications opens, follows the home screen and loads icons in view', { timeout: 4 * SLOW }, async () => {
  const page = await browser.context.newPage();
  const frames = [];
  page.on('websocket', (socket) => socket.on('framereceived', (frame) => frames.push(frame.payload)));
  await page.goto(server.url);
  await until(async () => (await title(page).textContent()) === 'Settings', 'the first page', SLOW);
  await open(page, 'Halvex');
  const disabled = section(page, DISABLED);
  await until(async () => (await disabled.getByTestId('row').count()) === APPLICATIONS, 'every application', SLOW);
  await page.evaluate(() => { window.stillTheSamePage = true; });

  // Only rows near the view ask for their icons.
  const requested = () => page.evaluate(() => performance.getEntriesByType('resource')
    .filter((entry) => entry.name.includes('/image/')).length);
  await until(async () => (await requested()) > 0, 'the first icons');
  assert.ok((await requested()) < 200, `icons of rows out of view were not asked for: ${await requested()}`);
  const last = disabled.getByTestId('row').last();
  assert.equal(await imageLoaded(last.getByTestId('row-icon')), false);
  await last.scrollIntoViewIfNeeded();
  await until(() => imageLoaded(last.getByTestId('row-icon')), 'the icon of the last row');
  // The row kept its height while its icon loaded.
  assert.equal(Math.round((await last.boundingBox()).height), 44);

  if (hasSpringboard) {
    const before = frames.length;
    await springboard('--root', root, '--home', home, 'enable', MOVED.identifier);
    await until(async () => (await rowTitles(page, ENABLED)).includes(MOVED.name), 'the row in the enabled section', SLOW);
    assert.equal(await row(disabled, MOVED.name).count(), 0);
    assert.equal(await page.evaluate(() => window.stillTheSamePage), true, 'no reload');
    const pushed = frames.slice(before).map((payload) => Buffer.byteLength(payload));
    assert.ok(pushed.length > 0 && pushed.every((bytes) => bytes < 2048), `small updates: ${pushed}`);
    await springboard('--root', root, '--home', home, 'disable', MOVED.identifier);
    await until(async () => (await rowTitles(page, ENABLED)).length === 0, 'the row back', SLOW);
  }

  // Back on the root page after a visit, every icon comes from the browser's cache.
  await row(disabled, MOVED.name).click();
  await until(async () => (await title(page).textContent()) === MOVED.name, 'the application page', SLOW);
  await page.evaluate(() => performance.clearResourceTimings());
  await page.getByTestId('nav-back').click();
  await until(async () => (await disabled.getByTestId('row').count()) === APPLICATIONS, 'the root page again', SLOW);
  await until(() => imageLoaded(disabled.getByTestId('row-icon').first()), 'an icon in view');
  // The icons at the top were loaded when the page first opened. (Icons near the row that was
  // opened may still have been arriving when the timings were cleared.)
  const top = await disabled.getByTestId('row-icon').evaluateAll((icons) => icons.slice(0, 10).map((icon) => icon.src));
  const fetched = await page.evaluate((sources) => performance.getEntriesByType('resource')
    .filter((entry) => sources.includes(entry.name) && entry.transferSize > 0).map((entry) => entry.name), top);
  assert.deepEqual(fetched, [], 'no icon was fetched again');
  await page.close();
});

test('rows scrolled past let go of the icons still on their way', { timeout: 4 * SLOW }, async () => {
  const { page, disabled } = await openRootPage();
  // Icons answer slowly here, so that loads are still on their way when their rows leave.
  await page.route('**/image/**', (route) => {
    setTimeout(() => route.continue().catch(() => {}), 500);
  });
  const stillLoading = await page.evaluate(async () => {
    const frame = () => new Promise((resolve) => { requestAnimationFrame(() => setTimeout(resolve, 0)); });
    const end = document.documentElement.scrollHeight - window.innerHeight;
    for (let step = 0; step <= 20; step += 1) {
      window.scrollTo(0, (end * step) / 20);
      await frame();
    }
    await frame();
    return [...document.querySelectorAll('.row-block:not([data-drawn="true"]) img.row-icon[src]')]
      .filter((icon) => !icon.complete).length;
  });
  assert.equal(stillLoading, 0, 'icons of rows out of view still loading');
  // The rows in view still get theirs.
  await until(() => imageLoaded(disabled.getByTestId('row-icon').last()), 'the icon of the last row', SLOW);
  await page.close();
});

// A new tab on the Halvex root page with every row built. The server shows every browser the
// page it is on, which after the first test is the root page itself.
async function openRootPage() {
  const page = await browser.context.newPage();
  await page.goto(server.url);
  await until(async () => (await title(page).textContent()) !== '', 'a page', SLOW);
  await open(page, 'Halvex');
  const disabled = section(page, DISABLED);
  await until(async () => (await disabled.getByTestId('row').count()) === APPLICATIONS, 'every application', SLOW);
  return { page, disabled };
}

test('rows moved on the page of 10,000 applications keep the order the server holds', { timeout: 4 * SLOW, skip: !hasSpringboard && 'halvex-springboard is not built' }, async () => {
  const { page, disabled } = await openRootPage();
  const before = await rowTitles(page, DISABLED);
  const identifier = (name) => `com.example.generated.app${name.slice(name.lastIndexOf(' ') + 1)}`;
  // The first rows, the middle of the list and its last row.
  const moved = [before[0], before[1], before[4999], before[APPLICATIONS - 1]];
  for (const name of moved) await springboard('--root', root, '--home', home, 'enable', identifier(name));
  await until(async () => (await rowTitles(page, ENABLED)).length === moved.length, 'the rows in the enabled section', SLOW);
  const held = await page.evaluate(async () => {
    const message = await (await fetch('/api/page')).json();
    return Object.fromEntries(message.page.sections.map((s) => [s.header, s.rows.map((r) => r.title)]));
  });
  assert.deepEqual(await rowTitles(page, ENABLED), held[ENABLED]);
  assert.deepEqual(await rowTitles(page, DISABLED), held[DISABLED]);

  for (const name of moved) await springboard('--root', root, '--home', home, 'disable', identifier(name));
  await until(async () => (await rowTitles(page, ENABLED)).length === 0, 'the rows back', SLOW);
  assert.deepEqual(await rowTitles(page, DISABLED), before);
  // A row far down the list still opens its own page.
  await row(disabled, before[APPLICATIONS - 2]).click();
  await until(async () => (await title(page).textContent()) === before[APPLICATIONS - 2], 'its page', SLOW);
  await page.close();
});

test('the keyboard and the search reach every row of the page of 10,000 applications', { timeout: 4 * SLOW }, async () => {
  const { page, disabled } = await openRootPage();
  const titles = await rowTitles(page, DISABLED);

  // Row after row, past where the page groups its rows (every 50 or so), and Enter opens it.
  await disabled.getByTestId('row').nth(48).getByTestId('row-title').focus();
  for (let i = 0; i < 3; i += 1) await page.keyboard.press('ArrowDown');
  assert.equal(await page.evaluate(() => document.activeElement.textContent), titles[51]);
  await page.keyboard.press('Enter');
  await until(async () => (await title(page).textContent()) === titles[51], 'its page', SLOW);
  await page.getByTestId('nav-back').click();
  await until(async () => (await disabled.getByTestId('row').count()) === APPLICATIONS, 'the root page again', SLOW);

  const field = page.getByTestId('search-field');
  await field.fill(MOVED.name);
  assert.equal(await page.getByTestId('search-status').textContent(), `1 of ${APPLICATIONS} applications`);
  assert.deepEqual(await disabled.getByTestId('row').filter({ visible: true }).getByTestId('row-title')
    .allTextContents(), [MOVED.name]);
  await field.press('Escape');
  assert.equal(await page.evaluate(() => document.querySelectorAll('[data-testid="row"][hidden]').length), 0);
  await page.close();
});
