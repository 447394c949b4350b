// What the page must never do: run text from the device as markup, or obey another site.
import assert from 'node:assert/strict';
import { cpSync, mkdirSync, writeFileSync } from 'node:fs';
import { createServer, request } from 'node:http';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import {
  build, launchBrowser, mainUrl, open, row, scratch, startSettings, title, until,
} from './helpers.mjs';

const MARKUP_NAME = '<img src=x onerror="window.pwned=1"><b>Bold</b> & Co';

let browser;

before(async () => {
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
});

function escapeXml(text) {
  return text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
}

// A raw HTTP request, so that Host and Origin can be anything.
function rawRequest(url, { method = 'GET', headers = {}, body = '' }) {
  const target = new URL(url);
  return new Promise((resolve, reject) => {
    const req = request({ host: target.hostname, port: target.port, path: target.pathname, method, headers },
      (response) => {
        let text = '';
        response.on('data', (chunk) => { text += chunk; });
        response.on('end', () => resolve({ status: response.statusCode, body: text }));
      });
    req.on('error', reject);
    req.end(body);
  });
}

async function serverPageTitle(url) {
  const response = await rawRequest(new URL('/api/page', url).href, {});
  return JSON.parse(response.body).page.title;
}

test('an application whose name is markup shows as plain text', async () => {
  const root = join(scratch, 'markup-root');
  cpSync(join(build, 'device'), root, { recursive: true });
  const app = join(root, 'Applications', 'Markup.app');
  mkdirSync(app, { recursive: true });
  writeFileSync(join(app, 'Info.plist'), `<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>CFBundleIdentifier</key><string>com.example.markup</string>
<key>CFBundleDisplayName</key><string>${escapeXml(MARKUP_NAME)}</string>
<key>CFBundleExecutable</key><string>Markup</string>
</dict></plist>
`);
  const home = join(scratch, 'markup-home');
  mkdirSync(home, { recursive: true });
  const server = await startSettings({ root, home });
  try {
    const page = await browser.context.newPage();
    await page.goto(server.url);
    await until(async () => (await title(page).textContent()) === 'Settings', 'the first page');
    await open(page, 'Halvex');
    const markupRow = row(page, MARKUP_NAME);
    assert.equal(await markupRow.count(), 1, 'the name is shown character for character');
    assert.equal(await markupRow.locator('img:not([data-testid="row-icon"]), b').count(), 0);
    assert.equal(await page.evaluate(() => window.pwned), undefined);

    await markupRow.click();
    await until(async () => (await title(page).textContent()) === MARKUP_NAME, 'the title as text');
    assert.equal(await page.getByTestId('navbar').locator('img, b').count(), 0);
    assert.equal(await page.evaluate(() => window.pwned), undefined);
    await page.close();
  } finally {
    await server.stop();
  }
});

test('another site can neither post actions nor open the socket', async () => {
  const page = await browser.context.newPage();
  await page.goto(mainUrl);
  await open(page, 'Halvex');
  assert.equal(await serverPageTitle(mainUrl), 'Halvex');

  // A page on another origin tries every way a browser allows without the server's consent.
  const target = new URL(mainUrl);
  const attacker = createServer((req, res) => {
    res.setHeader('Content-Type', 'text/html');
    res.end(`<!doctype html><body>
<form id="f" method="POST" action="${target.origin}/api/action" enctype="text/plain">
<input name='{"action":"back","x":"' value='"}'></form>
<script>
window.results = {};
fetch('${target.origin}/api/action', { method: 'POST', mode: 'no-cors',
  headers: { 'Content-Type': 'text/plain' }, body: '{"action":"back"}' })
  .then(() => { results.fetch = 'sent'; }, () => { results.fetch = 'failed'; });
fetch('${target.origin}/api/action', { method: 'POST',
  headers: { 'Content-Type': 'application/json' }, body: '{"action":"back"}' })
  .then(() => { results.cors = 'read'; }, () => { results.cors = 'blocked'; });
const ws = new WebSocket('ws://${target.host}/ws');
ws.onopen = () => { results.socket = 'open'; };
ws.onerror = () => { results.socket = 'refused'; };
</script></body>`);
  });
  await new Promise((resolve) => attacker.listen(0, '127.0.0.2', resolve));
  const evil = await browser.context.newPage();
  try {
    await evil.goto(`http://127.0.0.2:${attacker.address().port}/`);
    await evil.waitForFunction(() => window.results.fetch && window.results.cors && window.results.socket);
    const results = await evil.evaluate(() => window.results);
    assert.equal(results.cors, 'blocked');
    assert.equal(results.socket, 'refused');
    await Promise.all([
      evil.waitForURL('**/api/action'),
      evil.evaluate(() => document.getElementById('f').submit()),
    ]);
    assert.match(await evil.textContent('body'), /refused/);
  } finally {
    await evil.close();
    attacker.close();
  }
  assert.equal(await serverPageTitle(mainUrl), 'Halvex', 'no action reached the pages');

  // Outside a browser: a rebound name or a foreign Origin are refused too.
  const json = { 'Content-Type': 'application/json' };
  const action = '{"action":"back"}';
  let response = await rawRequest(new URL('/api/action', mainUrl).href,
    { method: 'POST', headers: { ...json, Origin: 'http://attacker.example' }, body: action });
  assert.equal(response.status, 403);
  response = await rawRequest(new URL('/api/page', mainUrl).href,
    { headers: { Host: `attacker.example:${target.port}` } });
  assert.equal(response.status, 403);
  const { version } = JSON.parse((await rawRequest(new URL('/api/page', mainUrl).href, {})).body);
  response = await rawRequest(new URL('/api/action', mainUrl).href,
    { method: 'POST', headers: json, body: `{"action":"select","section":99,"row":0,"version":${version}}` });
  assert.equal(response.status, 400);
  assert.match(JSON.parse(response.body).reason, /no section 99/);
  assert.equal(await serverPageTitle(mainUrl), 'Halvex');
  await page.close();
});
