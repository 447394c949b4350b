// The Settings pages for people who use a screen reader or only a keyboard: axe finds no
// fault on the main kinds of page in either appearance, and the common changes can be made
// with the keyboard alone.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import AxeBuilder from '@axe-core/playwright';

import {
  backToSettings, useSettingsPage, open, pageVersion, row, shownPage, title, until,
} from './helpers.mjs';

let page;
useSettingsPage((opened) => { page = opened; });

// What has keyboard focus: its test id, role, and the title of its row.
function focused() {
  return page.evaluate(() => {
    const node = document.activeElement;
    const rowNode = node?.closest('[data-testid="row"]');
    return {
      testid: node?.dataset.testid ?? rowNode?.dataset.testid ?? node?.tagName,
      role: node?.getAttribute('role') ?? '',
      row: rowNode?.querySelector('[data-testid="row-title"]')?.textContent ?? null,
    };
  });
}

// Presses Tab (or `key`) until the focus is on the row titled `name` (at most 60 times).
async function tabTo(name, key = 'Tab') {
  for (let i = 0; i < 60; i += 1) {
    await page.keyboard.press(key);
    if ((await focused()).row === name) return;
  }
  throw new Error(`Tab never reached ${name}`);
}

// Presses `key` and waits for the server's next page, so that the next key acts on it.
async function pressForNewPage(key) {
  const before = await pageVersion(page);
  await page.keyboard.press(key);
  await until(async () => (await pageVersion(page)) > before, `the page after ${key}`);
}

async function titleIs(expected) {
  await until(async () => (await title(page).textContent()) === expected, `the page ${expected}`);
}

// Every image in view has loaded (icons out of view load only when scrolled to).
async function imagesLoaded() {
  await until(() => page.evaluate(() => [...document.images].every((image) => {
    if (image.complete || image.loading !== 'lazy') return image.complete;
    const box = image.getBoundingClientRect();
    return box.bottom < 0 || box.top > window.innerHeight;
  })), 'the images');
}

async function expectNoViolations(where) {
  await imagesLoaded();
  const results = await new AxeBuilder({ page }).analyze();
  const found = results.violations.map((v) =>
    `${v.id} (${v.impact}): ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
  assert.deepEqual(found, [], `${where}`);
}

test('axe finds no violation on the main pages, light and dark', async () => {
  const pages = [
    [],
    ['Halvex'],
    ['Halvex', 'Maps'],
    ['Halvex', 'Maps', 'Behavior'],
    ['Halvex', 'Appearance'],
    ['Halvex', 'Maps', 'Appearance'],
  ];
  for (const scheme of ['light', 'dark']) {
    await page.emulateMedia({ colorScheme: scheme });
    for (const path of pages) {
      await open(page, ...path);
      await expectNoViolations(`Settings > ${path.join(' > ')} (${scheme})`);
    }
  }
  // The dark appearance is drawn as such: the page and the preview footer.
  assert.equal(await page.evaluate(() => getComputedStyle(document.body).backgroundColor),
    'rgb(0, 0, 0)');
  const preview = shownPage(page).getByTestId('section-footer-image');
  assert.match(await preview.evaluate((image) => image.currentSrc), /appearance=dark/);
  assert.match(await preview.getAttribute('alt'), /ACTIVE APPLICATION.*INACTIVE APPLICATION/s);
  await page.emulateMedia({ colorScheme: 'light' });
  await until(async () => !/appearance=dark/.test(await preview.evaluate((image) => image.currentSrc)),
    'the light preview');
});

test('rows say what they are and what state they are in', async () => {
  await open(page, 'Halvex', 'Maps');
  assert.equal(await page.locator('h1').count(), 1);
  assert.equal(await page.getByRole('navigation').count(), 1);
  assert.equal(await page.getByRole('switch', { name: 'Enable Backgrounding' }).count(), 1);
  assert.equal(await page.getByRole('link', { name: 'Behavior' }).count(), 1);
  // The root page kept below is out of reach until it is shown again: hidden from the
  // accessibility tree, and never reached with Tab.
  assert.equal(await page.getByRole('group', { name: 'Backgrounding Disabled' }).count(), 0);
  for (let i = 0; i < 25; i += 1) {
    await page.keyboard.press('Tab');
    const inKeptPage = await page.evaluate(() => Boolean(document.activeElement?.closest('[data-testid="kept-page"]')));
    assert.equal(inKeptPage, false, `Tab ${i + 1} reached a kept page`);
  }
  await open(page, 'Halvex');
  assert.equal(await page.getByRole('group', { name: 'Backgrounding Disabled' }).count(), 1);
  assert.equal(await page.getByRole('button', { name: 'Disable All Applications' }).count(), 1);
  await open(page, 'Halvex', 'Maps', 'Behavior');
  const checked = page.getByRole('radio', { checked: true });
  assert.equal(await checked.count(), 1);
});

test('a person can enable an application, choose a behaviour and flip an indicator with the keyboard', async (t) => {
  // Leave the application as it was found, for the tests that follow.
  t.after(async () => {
    await open(page, 'Halvex', 'Calculator');
    const toggle = row(page, 'Enable Backgrounding').getByTestId('row-switch');
    if (await toggle.isChecked()) {
      await toggle.click();
      await until(async () => !(await toggle.isChecked()), 'the switch to turn off');
    }
    await backToSettings(page);
  });
  await backToSettings(page);
  await page.evaluate(() => document.activeElement?.blur());
  await tabTo('Halvex');
  await page.keyboard.press('Enter');
  await titleIs('Halvex');
  assert.equal((await focused()).testid, 'nav-title', 'focus moves to the new page title');

  await tabTo('Calculator');
  await page.keyboard.press('Enter');
  await titleIs('Calculator');
  await tabTo('Enable Backgrounding');
  const toggle = row(page, 'Enable Backgrounding').getByTestId('row-switch');
  assert.equal(await toggle.isChecked(), false);
  await pressForNewPage('Space');
  assert.equal(await toggle.isChecked(), true);
  assert.equal((await focused()).row, 'Enable Backgrounding', 'focus stays on the switch');
  assert.equal(await toggle.getAttribute('aria-checked'), 'true');

  await tabTo('Behavior');
  await page.keyboard.press('Enter');
  await titleIs('Behavior');
  await tabTo('Unlimited');
  await pressForNewPage('Space');
  assert.equal(await row(page, 'Unlimited').getAttribute('aria-checked'), 'true');
  assert.equal((await focused()).row, 'Unlimited', 'focus stays on the choice');
  await page.keyboard.press('Escape');
  await titleIs('Calculator');
  assert.equal((await focused()).row, 'Behavior', 'focus returns to the row that opened the list');
  assert.equal(await row(page, 'Behavior').getByTestId('row-value').textContent(), 'Unlimited');

  await page.keyboard.press('Alt+ArrowLeft');
  await titleIs('Halvex');
  assert.equal((await focused()).row, 'Calculator');
  await tabTo('Appearance', 'Shift+Tab');
  await page.keyboard.press('Enter');
  await titleIs('Appearance');
  await tabTo('Active Indicator');
  const indicator = row(page, 'Active Indicator').getByTestId('row-switch');
  const shown = await indicator.isChecked();
  await pressForNewPage('Enter');
  assert.equal(await indicator.isChecked(), !shown);
  await pressForNewPage('Space');
  assert.equal(await indicator.isChecked(), shown);
});
