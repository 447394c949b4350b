// Shared pieces of the browser tests: the browser, extra Settings servers, the home-screen
// stand-in, and finding rows on the page by what a person sees.
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { after, before } from 'node:test';
import { chromium } from 'playwright-core';

export const build = process.env.HX_E2E_BUILD;
export const mainUrl = process.env.HX_E2E_URL;
export const scratch = process.env.HX_E2E_SCRATCH ?? tmpdir();
export const springboardPath = build ? join(build, 'bin', 'halvex-springboard') : '';
export const hasSpringboard = Boolean(springboardPath) && existsSync(springboardPath);

export async function launchBrowser() {
  const profile = mkdtempSync(join(scratch, 'chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.HX_CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
  });
  context.setDefaultTimeout(10_000);
  return {
    context,
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// A browser on the Settings server under test, its page showing the first page; close()
// ends both.
export async function openSettingsPage() {
  const browser = await launchBrowser();
  const page = await browser.context.newPage();
  await page.goto(mainUrl);
  await until(async () => (await page.getByTestId('nav-title').textContent()) !== '', 'the first page');
  return { page, close: () => browser.close() };
}

// Opens such a page before the calling file's tests and closes it after them; `use` receives
// the page.
export function useSettingsPage(use) {
  let opened = null;
  before(async () => {
    opened = await openSettingsPage();
    use(opened.page);
  });
  after(async () => {
    await opened?.close();
  });
}

// The headers of the root page's two application sections.
export const ENABLED = 'Backgrounding Enabled';
export const DISABLED = 'Backgrounding Disabled';

// A process whose standard output is read line by line; waitForLine resolves on the first
// line (old or new) that matches.
function watch(child) {
  const lines = [];
  const waiters = [];
  createInterface({ input: child.stdout }).on('line', (line) => {
    lines.push(line);
    for (const waiter of [...waiters]) {
      if (waiter.test(line)) {
        waiters.splice(waiters.indexOf(waiter), 1);
        waiter.resolve(line);
      }
    }
  });
  let stderr = '';
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  return {
    child,
    lines,
    stderr: () => stderr,
    waitForLine(test, timeout = 10_000) {
      const found = lines.find(test);
      if (found !== undefined) return Promise.resolve(found);
      return new Promise((resolve, reject) => {
        const waiter = { test, resolve };
        waiters.push(waiter);
        setTimeout(() => {
          const index = waiters.indexOf(waiter);
          if (index >= 0) {
            waiters.splice(index, 1);
            reject(new Error(`no matching line within ${timeout} ms; got: ${lines.join(' | ')} ${stderr}`));
          }
        }, timeout);
      });
    },
    async stop() {
      if (child.exitCode === null && child.signalCode === null) {
        const exited = new Promise((resolve) => child.once('exit', resolve));
        child.kill('SIGTERM');
        await exited;
      }
    },
  };
}

// Starts another halvex-settings on `root` with its own home; resolves once it prints its URL.
export async function startSettings({ root, home }) {
  const child = spawn(join(build, 'bin', 'halvex-settings'),
    ['--port', '0', '--root', root, '--home', home], { stdio: ['ignore', 'pipe', 'pipe'] });
  const watched = watch(child);
  const url = await watched.waitForLine((line) => line.startsWith('http://'));
  return { url, stop: () => watched.stop() };
}

// Runs halvex-springboard to the end with the tests' root and home; resolves with its output.
export function springboard(...args) {
  return new Promise((resolve, reject) => {
    const child = spawn(springboardPath, args, { stdio: ['ignore', 'pipe', 'pipe'] });
    let stdout = '';
    let stderr = '';
    child.stdout.on('data', (chunk) => { stdout += chunk; });
    child.stderr.on('data', (chunk) => { stderr += chunk; });
    child.on('error', reject);
    child.on('exit', (code) => {
      if (code === 0) resolve(stdout);
      else reject(new Error(`halvex-springboard ${args.join(' ')} exited ${code}: ${stderr}`));
    });
  });
}

// Starts `halvex-springboard listen`, which prints each notification it hears.
export function springboardListen() {
  return watch(spawn(springboardPath, ['listen'], { stdio: ['ignore', 'pipe', 'pipe'] }));
}

export const title = (page) => page.getByTestId('nav-title');

// The page shown; pages below it stay in the document, hidden, while it is open.
export const shownPage = (page) => page.getByTestId('page');

// The section whose header reads `header` (headers are shown in capitals by CSS only).
export function section(page, header) {
  return shownPage(page).getByTestId('section').filter({
    has: page.getByTestId('section-header').getByText(header, { exact: true }),
  });
}

// The row whose title reads `text` exactly, on the page shown or inside `scope`.
export function row(scope, text) {
  const inPage = typeof scope.page === 'function';
  const page = inPage ? scope.page() : scope;
  return (inPage ? scope : shownPage(page)).getByTestId('row').filter({
    has: page.getByTestId('row-title').getByText(text, { exact: true }),
  });
}

export async function pageVersion(page) {
  return Number(await shownPage(page).getAttribute('data-version'));
}

// Goes back until the first page of Settings shows.
export async function backToSettings(page) {
  for (let i = 0; i < 10; i += 1) {
    const back = page.getByTestId('nav-back');
    if (!(await back.isVisible())) break;
    const before = await title(page).textContent();
    await back.click();
    await page.waitForFunction((old) => {
      const node = document.querySelector('[data-testid="nav-title"]');
      return node && node.textContent !== old;
    }, before);
  }
}

// Opens `names` one after another from the first page (e.g. 'Halvex', 'Maps').
export async function open(page, ...names) {
  await backToSettings(page);
  for (const name of names) {
    await row(page, name).first().click();
    await page.waitForFunction((expected) => {
      const node = document.querySelector('[data-testid="nav-title"]');
      return node && node.textContent === expected;
    }, name);
  }
}

// Polls `condition` (sync or async) until it returns something truthy; fails after `timeout`.
export async function until(condition, message = 'condition', timeout = 10_000) {
  const deadline = Date.now() + timeout;
  let last;
  for (;;) {
    last = await condition();
    if (last) return last;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${message}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// Row titles of the section with `header`, in order.
export async function rowTitles(page, header) {
  return section(page, header).getByTestId('row-title').allTextContents();
}
