// The search field of the application list: it matches names without regard to case or
// accents, keeps the section headers, follows rows that move while it is typed, and Escape
// empties it.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  DISABLED, ENABLED, hasSpringboard, useSettingsPage, open, section, shownPage, springboard, title, until,
} from './helpers.mjs';

let page;
useSettingsPage((opened) => { page = opened; });

// The titles of the rows that show in the section with `header`.
function shown(header) {
  return section(page, header).getByTestId('row')
    .filter({ visible: true })
    .getByTestId('row-title')
    .allTextContents();
}

async function shownApplications() {
  return [...await shown(ENABLED), ...await shown(DISABLED)].sort();
}

test('the field shows only above a list of applications', async () => {
  await open(page);
  assert.equal(await page.getByTestId('search').isVisible(), false);
  await open(page, 'Halvex');
  assert.equal(await page.getByTestId('search').isVisible(), true);
  await open(page, 'Halvex', 'Maps');
  assert.equal(await page.getByTestId('search').isVisible(), false);
});

test('names match without regard to case or accents, and Escape empties the field', async () => {
  await open(page, 'Halvex');
  const field = page.getByTestId('search-field');
  const all = await shownApplications();
  assert.ok(all.length > 10, `the sample device lists its applications: ${all}`);

  for (const [query, expected] of [
    ['ecran', ['Écran']], ['ÉCRAN', ['Écran']], ['E\u0301cr', ['Écran']],
    ['strasse', ['Straße']], ['日記', ['日記']], ['no such application', []],
  ]) {
    await field.fill(query);
    assert.deepEqual(await shownApplications(), expected, `"${query}"`);
  }
  // Headers and the rows that are not applications stay.
  assert.equal(await section(page, DISABLED).getByTestId('section-header').isVisible(), true);
  assert.equal(await section(page, ENABLED).getByTestId('section-header').isVisible(), true);
  for (const other of ['Appearance', 'Disable All Applications']) {
    assert.equal(await shownPage(page).getByTestId('row').filter({ hasText: other }).isVisible(), true, other);
  }
  assert.equal(await page.getByTestId('search-status').textContent(), 'No Results');

  await field.press('Escape');
  assert.equal(await field.inputValue(), '');
  assert.equal(await title(page).textContent(), 'Halvex', 'Escape in the field does not go back');
  assert.deepEqual(await shownApplications(), all);
});

test('the filter holds while a row moves between sections', { skip: !hasSpringboard && 'halvex-springboard is not built' }, async () => {
  await open(page, 'Halvex');
  const field = page.getByTestId('search-field');
  await field.click();
  await page.keyboard.type('ecran');
  assert.deepEqual(await shown(DISABLED), ['Écran']);

  await springboard('enable', 'com.brightmoor.ecran');
  await until(async () => (await shown(ENABLED)).includes('Écran'), 'Écran in the enabled section');
  assert.deepEqual(await shownApplications(), ['Écran'], 'the other rows stay hidden');
  assert.equal(await field.inputValue(), 'ecran');
  assert.equal(await page.evaluate(() => document.activeElement?.dataset.testid), 'search-field',
    'typing goes on in the field');
  await page.keyboard.type('x');
  assert.deepEqual(await shownApplications(), []);

  await springboard('disable', 'com.brightmoor.ecran');
  await page.keyboard.press('Backspace');
  await until(async () => (await shown(DISABLED)).includes('Écran'), 'Écran back in the disabled section');
  assert.deepEqual(await shownApplications(), ['Écran']);
  await field.press('Escape');
});
