// What a person sees when a change cannot be saved: the page keeps showing what is stored,
// and the reason stays on screen in a banner until it is dismissed or the person acts again.
import assert from 'node:assert/strict';
import { mkdirSync, symlinkSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import {
  build, launchBrowser, mainUrl, open, row, rowTitles, scratch, section, startSettings, title,
  until,
} from './helpers.mjs';

const ENABLED = 'Backgrounding Enabled';
const DISABLED = 'Backgrounding Disabled';

let browser;

before(async () => {
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
});

test('an application switched on where nothing can be stored keeps its row', async () => {
  const home = join(scratch, 'unwritable-home');
  mkdirSync(join(home, 'Library'), { recursive: true });
  // A Preferences folder in which no file can be created, whoever runs the server.
  symlinkSync('/proc/self/fdinfo', join(home, 'Library', 'Preferences'));
  const server = await startSettings({ root: join(build, 'device'), home });
  try {
    const page = await browser.context.newPage();
    await page.goto(server.url);
    await until(async () => (await title(page).textContent()) === 'Settings', 'the first page');
    await open(page, 'Halvex', 'Maps');
    await row(page, 'Enable Backgrounding').getByTestId('row-switch').click();
    await page.getByRole('alert').filter({ hasText: 'could not be saved' }).waitFor();
    // Every switch springs back to the stored value, in the answer and in later reads.
    const launch = row(page, 'Launch Automatically').getByTestId('row-switch');
    await page.getByTestId('error-banner-dismiss').click();
    await launch.click();
    await page.getByRole('alert').filter({ hasText: 'could not be saved' }).waitFor();
    await until(async () => !(await launch.isChecked()), 'the switch springs back');
    await page.reload();
    await until(async () => (await title(page).textContent()) === 'Maps', 'the page again');
    assert.equal(await row(page, 'Launch Automatically').getByTestId('row-switch').isChecked(), false);
    await open(page, 'Halvex');
    assert.deepEqual(await rowTitles(page, ENABLED), []);
    assert.equal(await row(section(page, DISABLED), 'Maps').count(), 1);
    await page.close();
  } finally {
    await server.stop();
  }
});

test('a refusal stays in a banner until dismissed or the next action', async () => {
  const page = await browser.context.newPage();
  const reason = 'The change could not be saved. The page shows what is stored.';
  // The server's reply to the next action is replaced by a refusal carrying the same page.
  let refuseNext = false;
  let noticeNext = null;
  await page.routeWebSocket(/\/ws$/, (ws) => {
    const server = ws.connectToServer();
    let last = null;
    ws.onMessage((message) => {
      if (refuseNext) {
        refuseNext = false;
        const { id } = JSON.parse(message);
        ws.send(JSON.stringify({ ...last, type: 'error', status: 400, reason, replyTo: id }));
        return;
      }
      server.send(message);
    });
    server.onMessage((message) => {
      last = JSON.parse(message);
      if (noticeNext && last.replyTo !== undefined) {
        ws.send(JSON.stringify({ ...last, notice: noticeNext }));
        noticeNext = null;
        return;
      }
      ws.send(message);
    });
  });
  await page.goto(mainUrl);
  await open(page, 'Halvex', 'Maps');
  refuseNext = true;
  const toggle = row(page, 'Launch Automatically').getByTestId('row-switch');
  const before = await toggle.isChecked();
  await toggle.click();
  const banner = page.getByRole('alert').filter({ hasText: reason });
  await banner.waitFor();
  assert.equal(await toggle.isChecked(), before, 'the switch shows the stored value');
  await page.getByTestId('error-banner-dismiss').click();
  assert.equal(await banner.isVisible(), false);
  // A change stored but not lasting says so there too, the switch showing it stored.
  noticeNext = 'The change was saved but may not survive a power loss.';
  await toggle.click();
  await page.getByRole('alert').filter({ hasText: 'may not survive a power loss' }).waitFor();
  assert.equal(await toggle.isChecked(), !before);
  await toggle.click();
  await until(async () => (await toggle.isChecked()) === before, 'the switch back as it was');
  await open(page, 'Halvex');
  await page.close();
});
