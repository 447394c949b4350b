// The Settings application in a browser: the first page, the road of one change and back,
// list pages, locked switches, changes pushed from another process and taps on rows that moved.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';

import {
  DISABLED, ENABLED, backToSettings, hasSpringboard, mainUrl, open, pageVersion, row, rowTitles,
  section, shownPage, springboard, springboardListen, title, until, useSettingsPage,
} from './helpers.mjs';

let page;
useSettingsPage((opened) => { page = opened; });

function switchOf(scope, label) {
  return row(scope, label).getByTestId('row-switch');
}

async function imageLoaded(locator) {
  return locator.evaluate((image) => image.complete && image.naturalWidth > 0);
}

test('the first page lists the Settings entries and opens Halvex', async () => {
  await backToSettings(page);
  assert.equal(await title(page).textContent(), 'Settings');
  assert.equal(await page.getByTestId('nav-back').isVisible(), false);
  const entry = row(page, 'Halvex');
  assert.equal(await entry.count(), 1);
  await until(() => imageLoaded(entry.getByTestId('row-icon')), 'the entry icon');

  await open(page, 'Halvex');
  assert.equal(await page.getByTestId('nav-back-title').textContent(), 'Settings');
  const disabled = await rowTitles(page, DISABLED);
  assert.ok(disabled.includes('Maps'), `Maps is offered: ${disabled}`);
  assert.deepEqual(await rowTitles(page, ENABLED), []);
  const maps = row(section(page, DISABLED), 'Maps');
  await until(() => imageLoaded(maps.getByTestId('row-icon')), 'the application icon');
  assert.equal(await maps.getByTestId('row-disclosure').count(), 1);
  assert.equal(await row(page, 'Disable All Applications').getAttribute('data-kind'), 'button');
});

test('enabling an application moves its row, stores it and announces it', async () => {
  const listener = hasSpringboard ? springboardListen() : null;
  try {
    if (listener) await new Promise((resolve) => setTimeout(resolve, 500));
    await open(page, 'Halvex', 'Maps');
    const toggle = switchOf(page, 'Enable Backgrounding');
    assert.equal(await toggle.isChecked(), false);
    await toggle.click();
    await until(() => toggle.isChecked(), 'the switch to stay on');

    await page.getByTestId('nav-back').click();
    await until(async () => (await rowTitles(page, ENABLED)).includes('Maps'), 'Maps in the enabled section');
    assert.ok(!(await rowTitles(page, DISABLED)).includes('Maps'));

    const stored = readFileSync(join(process.env.HALVEX_HOME, 'Library/Preferences/com.orlentis.halvex.plist'));
    assert.ok(stored.includes('com.apple.Maps'), 'the backgrounding list is stored');
    if (listener) {
      const line = await listener.waitForLine((l) => l.includes('com.apple.Maps'));
      assert.match(line, /HXApplicationBackgroundingChanged/);
    }
  } finally {
    await listener?.stop();
  }
});

test('the behaviour list stays open after a choice, the checkmark moved, and back shows it', async () => {
  await open(page, 'Halvex', 'Maps');
  const behavior = row(page, 'Behavior');
  assert.equal(await behavior.getAttribute('data-kind'), 'linkList');
  assert.equal(await behavior.getByTestId('row-value').textContent(), 'Native');
  await behavior.click();
  await until(async () => (await title(page).textContent()) === 'Behavior', 'the list of behaviours');
  assert.equal(await row(page, 'Native').getByTestId('row-checkmark').count(), 1);

  // The list stays open with the checkmark on the choice; back shows it on the row.
  const before = await pageVersion(page);
  await row(page, 'Suspended').click();
  await until(async () => (await row(page, 'Suspended').getByTestId('row-checkmark').count()) === 1,
    'the checkmark on the choice');
  assert.equal(await title(page).textContent(), 'Behavior', 'the list stays open');
  assert.ok((await pageVersion(page)) > before);
  assert.equal(await row(page, 'Native').getByTestId('row-checkmark').count(), 0);
  await page.getByTestId('nav-back').click();
  await until(async () => (await title(page).textContent()) === 'Maps', 'the application page again');
  assert.equal(await row(page, 'Behavior').getByTestId('row-value').textContent(), 'Suspended');
  await row(page, 'Behavior').click();
  await until(async () => (await title(page).textContent()) === 'Behavior', 'the list of behaviours');
  assert.equal(await row(page, 'Suspended').getByTestId('row-checkmark').count(), 1);
  assert.equal(await row(page, 'Native').getByTestId('row-checkmark').count(), 0);

  // The page reads the store anew when it is opened again.
  await open(page, 'Halvex', 'Maps');
  assert.equal(await row(page, 'Behavior').getByTestId('row-value').textContent(), 'Suspended');
});

test('an indicator switch is locked while the global one is off', async () => {
  const setGlobal = async (on) => {
    await open(page, 'Halvex', 'Appearance');
    const global = switchOf(page, 'Active Indicator');
    assert.equal(await global.isDisabled(), false, 'the global page never locks its switches');
    if ((await global.isChecked()) !== on) {
      await global.click();
      await until(async () => (await global.isChecked()) === on, `global switch ${on}`);
    }
    const preview = shownPage(page).getByTestId('section-footer-image');
    assert.equal(await preview.count(), 1);
    await until(() => imageLoaded(preview), 'the preview footer to be drawn');
  };

  await setGlobal(false);
  await open(page, 'Halvex', 'Maps', 'Appearance');
  const locked = switchOf(page, 'Active Indicator');
  assert.equal(await locked.isDisabled(), true);
  assert.equal(await locked.isChecked(), false);
  assert.equal(await row(page, 'Active Indicator').getAttribute('data-enabled'), 'false');
  await locked.click({ force: true });
  assert.equal(await locked.isChecked(), false, 'a locked switch does not move');

  await setGlobal(true);
  await open(page, 'Halvex', 'Maps', 'Appearance');
  const unlocked = switchOf(page, 'Active Indicator');
  assert.equal(await unlocked.isDisabled(), false);
});

test('a change made from the home screen moves the row on the open page', { skip: !hasSpringboard && 'halvex-springboard is not built' }, async () => {
  await open(page, 'Halvex');
  await page.evaluate(() => { window.stillTheSamePage = true; });
  const before = await pageVersion(page);
  assert.ok((await rowTitles(page, DISABLED)).includes('Notes'));
  await row(section(page, DISABLED), 'Notes').evaluate((item) => { item.dataset.seen = 'yes'; });

  await springboard('enable', 'com.apple.mobilenotes');
  await until(async () => (await rowTitles(page, ENABLED)).includes('Notes'), 'Notes in the enabled section');
  // The row itself moves, keeping its loaded icon and its focus; it is not built anew.
  assert.equal(await row(section(page, ENABLED), 'Notes').getAttribute('data-seen'), 'yes');
  assert.ok(!(await rowTitles(page, DISABLED)).includes('Notes'));
  assert.ok((await pageVersion(page)) > before);
  assert.equal(await page.evaluate(() => window.stillTheSamePage), true, 'no reload');

  // An open application page follows too.
  await row(section(page, ENABLED), 'Notes').click();
  await until(async () => (await title(page).textContent()) === 'Notes', 'the Notes page');
  const toggle = switchOf(page, 'Enable Backgrounding');
  assert.equal(await toggle.isChecked(), true);
  await springboard('disable', 'com.apple.mobilenotes');
  await until(async () => !(await toggle.isChecked()), 'the switch to turn off');
  await page.getByTestId('nav-back').click();
  await until(async () => (await rowTitles(page, DISABLED)).includes('Notes'), 'Notes back in the disabled section');
});

test('a tap on an application whose row moved before the tap arrived opens that application', { skip: !hasSpringboard && 'halvex-springboard is not built' }, async () => {
  // A second page whose pushes are held back, so that it taps on the rows as they were.
  const other = await page.context().newPage();
  let browserSide = null;
  let holding = false;
  const held = [];
  await other.routeWebSocket(/\/ws$/, (ws) => {
    browserSide = ws;
    ws.connectToServer().onMessage((message) => {
      if (holding) held.push(message);
      else ws.send(message);
    });
  });
  try {
    await other.goto(new URL('/', mainUrl).href);
    await open(other, 'Halvex');
    await until(() => browserSide, 'the socket');
    const disabled = await rowTitles(other, DISABLED);
    assert.ok(disabled.includes('Calculator'), `Calculator is offered: ${disabled}`);
    const target = disabled[disabled.length - 1];
    const seen = await pageVersion(other);

    holding = true;
    await springboard('enable', 'com.apple.calculator');
    await until(() => held.length > 0, 'the change to be pushed');
    assert.equal(await pageVersion(other), seen);
    await row(section(other, DISABLED), target).click();
    holding = false;
    for (const message of held.splice(0)) browserSide.send(message);
    await until(async () => (await title(other).textContent()) === target, `the ${target} page`);
    assert.equal(await other.getByTestId('error-banner').isVisible(), false);
  } finally {
    await springboard('disable', 'com.apple.calculator');
    await other.close();
  }
});
