// halvex-settings in Chromium on a generated device of many applications (10,000 unless
// HX_BENCH_APPLICATIONS says otherwise), the Halvex root page open. Run by bench/browser/run,
// which provides the private bus, the scratch folder and the environment of e2e/tests/helpers.
//
// Every figure runs from a moment to the end of the frame that shows its result, read in the
// page (requestAnimationFrame, then a message posted from it), and is given as p50 and p95 of
// the rounds beside a baseline of the same run:
// - a home-screen change (halvex-springboard enable/disable ID) to the frame showing the row in
//   its new section, from just before the command starts; its baseline is a
//   `halvex-springboard status` run, the cost of starting the command, also taken off as "net";
// - a switch flipped on an application page to the frame showing the server's answer, and the
//   step back to the root page with the row moved; baselines are a round trip to the server
//   that changes nothing (a static file) and the same step back with nothing changed;
// - the longest task while the root page opens, is scrolled to its end and a row is opened,
//   beside the longest task of loading the first page;
// - from a fresh halvex-settings each round, the tap on "Halvex" to the frame showing the root
//   page's first rows, beside a round trip to the server that changes nothing on the same
//   page; and to the frame with every row of the page in it, beside that first screen. The
//   first launch ever (no workspace cache file in the home yet) is an extra round, reported
//   on its own line.
// HX_BENCH_TRACE=FILE also records a Chromium trace of the home-screen changes into FILE (JSON
// events, for chrome://tracing or a script); tracing slows the page, so its figures are not
// the benchmark's.
import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { performance } from 'node:perf_hooks';
import { fileURLToPath } from 'node:url';

import {
  DISABLED, ENABLED, build, launchBrowser, scratch, springboard, startSettings, until,
} from '../../e2e/tests/helpers.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const APPLICATIONS = Number(process.env.HX_BENCH_APPLICATIONS ?? 10_000);
const ROUNDS = Number(process.env.HX_BENCH_ROUNDS ?? 20);
const SLOW = 120_000;
const PAUSE = 150;  // ms between timed changes
const sleep = (ms) => new Promise((resolve) => { setTimeout(resolve, ms); });

const nodeNow = () => performance.timeOrigin + performance.now();

function percentile(values, p) {
  if (values.length === 0) return NaN;
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(p * (sorted.length - 1))];
}

const lines = [];
// One line of the report: p50 and p95 of `values`, and the p95 ratio against `baseline`.
function report(name, values, baseline) {
  const fixed = (value) => (Number.isFinite(value) ? value.toFixed(1) : '-');
  const ratio = baseline ? percentile(values, 0.95) / percentile(baseline, 0.95) : NaN;
  lines.push([name, fixed(percentile(values, 0.5)), fixed(percentile(values, 0.95)),
    baseline ? fixed(percentile(baseline, 0.95)) : '-',
    Number.isFinite(ratio) ? `${ratio.toFixed(2)}x` : '-']);
}

function printReport() {
  const header = ['measure', 'p50_ms', 'p95_ms', 'baseline_p95_ms', 'p95_ratio'];
  const rows = [header, ...lines];
  const widths = header.map((_, i) => Math.max(...rows.map((row) => row[i].length)));
  for (const row of rows) {
    console.log(row.map((cell, i) => (i === 0 ? cell.padEnd(widths[i]) : cell.padStart(widths[i]))).join('  '));
  }
}

// The page's clock minus ours, from the round trip that bounds it most tightly.
async function clockOffset(page) {
  let best = { spread: Infinity, offset: 0 };
  for (let i = 0; i < 15; i += 1) {
    const before = nodeNow();
    const inPage = await page.evaluate(() => window.hxProbe.now());
    const after = nodeNow();
    if (after - before < best.spread) best = { spread: after - before, offset: inPage - (before + after) / 2 };
  }
  return best.offset;
}

const longestOf = (tasks) => tasks.reduce((longest, task) => Math.max(longest, task.duration), 0);
const takeLongTasks = (page) => page.evaluate(() => window.hxProbe.longTasks.splice(0));

// Clicks the title of the row named `name` in the section headed `header` and waits for the
// page of that name.
function openRow(page, header, name) {
  return page.evaluate(({ header, name }) => {
    const probe = window.hxProbe;
    const row = probe.rowsOf(probe.rows(header)).find((item) => probe.titleOf(item) === name);
    return probe.measure(() => row.querySelector('[data-testid="row-title"]').click(),
      () => probe.pageTitle() === name);
  }, { header, name });
}

// Goes back to the root page and waits for the frame that shows it with `name` in the section
// headed `header` (any root page when `name` is empty).
function backToRoot(page, header, name) {
  return page.evaluate(({ header, name }) => {
    const probe = window.hxProbe;
    return probe.measure(() => document.querySelector('[data-testid="nav-back"]').click(), () => {
      if (probe.pageTitle() !== 'Halvex') return false;
      const list = probe.rows(header);
      return Boolean(list) && (!name || probe.rowsOf(list).some((item) => probe.titleOf(item) === name));
    });
  }, { header, name });
}

// Records a trace of the page's browser into HX_BENCH_TRACE until stop(), when that is set.
async function startTrace(browser, page) {
  const file = process.env.HX_BENCH_TRACE;
  if (!file) return { stop: async () => {} };
  const session = await browser.context.newCDPSession(page);
  const events = [];
  session.on('Tracing.dataCollected', (data) => events.push(...data.value));
  const complete = new Promise((resolve) => { session.on('Tracing.tracingComplete', resolve); });
  await session.send('Tracing.start', {
    traceConfig: {
      includedCategories: ['toplevel', 'blink', 'cc', 'viz', 'gpu', 'loading', 'v8', 'devtools.timeline',
        'disabled-by-default-devtools.timeline', 'disabled-by-default-devtools.timeline.frame'],
    },
  });
  return {
    async stop() {
      await session.send('Tracing.end');
      await complete;
      writeFileSync(file, JSON.stringify(events));
    },
  };
}

// Opens the root page from a fresh halvex-settings, round after round: the first screen and
// the rest of the rows, each from the tap, and the round trip of a static file before it. The
// first launch ever (round -1: no workspace cache file in the home yet) is kept apart, as a
// device meets it once.
async function timeFreshOpens(browser, root, home) {
  const firstScreen = [];
  const everyRow = [];
  const floor = [];
  let firstEver = NaN;
  const probe = readFileSync(join(here, 'page-probe.js'), 'utf8');
  for (let round = -1; round < ROUNDS; round += 1) {
    const server = await startSettings({ root, home });
    const page = await browser.context.newPage();
    try {
      await page.addInitScript({ content: probe });
      await page.goto(server.url);
      await until(() => page.evaluate(() => window.hxProbe.pageTitle() === 'Settings'), 'the first page', SLOW);
      await sleep(PAUSE);
      floor.push(await page.evaluate(async () => {
        const startAt = window.hxProbe.now();
        await (await fetch('/app.css', { cache: 'no-store' })).text();
        return (await window.hxProbe.afterNextFrame()) - startAt;
      }));
      const opened = await page.evaluate((count) => {
        const probe = window.hxProbe;
        const main = probe.pages();
        const built = () => {
          const list = probe.rows('Backgrounding Disabled');
          return list ? [...list.children].reduce((n, block) => n + block.children.length, 0) : 0;
        };
        // Every row in the page: watched apart from the first screen, which `measure` watches.
        window.everyRowAt = new Promise((resolve) => {
          const check = () => {
            if (built() < count) return;
            observer.disconnect();
            probe.afterNextFrame().then(resolve);
          };
          const observer = new MutationObserver(check);
          observer.observe(main, { childList: true, subtree: true });
        });
        const halvex = [...document.querySelectorAll('[data-testid="row-title"]')]
          .find((title) => title.textContent === 'Halvex');
        return probe.measure(() => halvex.click(), () => probe.pageTitle() === 'Halvex' && built() > 0);
      }, APPLICATIONS);
      const rest = await page.evaluate(() => window.everyRowAt) - opened.startAt;
      if (round < 0) {
        firstEver = opened.frameAt - opened.startAt;
        floor.pop();
      } else {
        firstScreen.push(opened.frameAt - opened.startAt);
        everyRow.push(rest);
      }
    } finally {
      await page.close();
      await server.stop();
    }
  }
  return { firstScreen, everyRow, floor, firstEver };
}

async function main() {
  const root = join(scratch, 'root');
  const home = join(scratch, 'home');
  mkdirSync(home, { recursive: true });
  execFileSync('python3', [join(here, '../../device/tools/make-device.py'), '--applications',
    String(APPLICATIONS), '--base', join(build, 'device'), root]);
  const server = await startSettings({ root, home });
  const browser = await launchBrowser();
  browser.context.setDefaultTimeout(SLOW);
  const fresh = await timeFreshOpens(browser, root, home);
  try {
    const page = await browser.context.newPage();
    await page.addInitScript({ content: readFileSync(join(here, 'page-probe.js'), 'utf8') });
    await page.goto(server.url);
    await until(() => page.evaluate(() => window.hxProbe.pageTitle() === 'Settings'), 'the first page', SLOW);
    await page.evaluate(() => window.hxProbe.afterNextFrame());
    const firstPageLongest = longestOf(await takeLongTasks(page));
    const offset = await clockOffset(page);
    const toNode = (pageTime) => pageTime - offset;
    // The root page fills its lists a slice at a time after its first frame.
    const everyRowBuilt = () => until(() => page.evaluate((count) => {
      const probe = window.hxProbe;
      return probe.rowsOf(probe.rows('Backgrounding Enabled')).length +
        probe.rowsOf(probe.rows('Backgrounding Disabled')).length === count;
    }, APPLICATIONS), 'every application row', SLOW);

    // Opening the root page, scrolling it to its end and opening its last row.
    const opened = await page.evaluate(() => {
      const probe = window.hxProbe;
      const halvex = [...document.querySelectorAll('[data-testid="row-title"]')]
        .find((title) => title.textContent === 'Halvex');
      return probe.measure(() => halvex.click(), () => probe.pageTitle() === 'Halvex');
    });
    await everyRowBuilt();
    const builtAt = await page.evaluate(() => window.hxProbe.afterNextFrame());
    const openingLongest = longestOf(await takeLongTasks(page));
    await page.evaluate(async () => {
      const steps = 40;
      const end = document.documentElement.scrollHeight - window.innerHeight;
      for (let step = 1; step <= steps; step += 1) {
        window.scrollTo(0, (end * step) / steps);
        await window.hxProbe.afterNextFrame();
      }
    });
    const names = await page.evaluate(() => window.hxProbe.rowsOf(window.hxProbe.rows('Backgrounding Disabled'))
      .map((item) => window.hxProbe.titleOf(item)));
    const lastOpened = await openRow(page, DISABLED, names[names.length - 1]);
    await backToRoot(page, DISABLED, '');
    await everyRowBuilt();
    const usingLongest = longestOf(await takeLongTasks(page));

    // Home-screen changes, each row there and back.
    const homeRaw = [];
    const homeStatus = [];
    const homeMessageToFrame = [];
    const homeMessageToDom = [];
    const homeExitToMessage = [];
    const homeExitToFrame = [];
    const identifierOf = (name) => `com.example.generated.app${name.slice(name.lastIndexOf(' ') + 1)}`;
    const timeHomeScreenChange = async (command, { name, index }, test) => {
      // One change at a time: the server spaces the pushes of changes that follow each other
      // closely (50 ms), which a change right after the last would measure.
      await sleep(PAUSE);
      await page.evaluate(test, { title: name, index });
      const startAt = nodeNow();
      await springboard('--root', root, '--home', home, command, identifierOf(name));
      const exitAt = nodeNow();
      const shown = await page.evaluate(() => window.hxProbe.shown);
      homeRaw.push(toNode(shown.frameAt) - startAt);
      homeExitToMessage.push(toNode(shown.messageAt) - exitAt);
      homeExitToFrame.push(toNode(shown.frameAt) - exitAt);
      homeMessageToFrame.push(shown.frameAt - shown.messageAt);
      homeMessageToDom.push(shown.domAt - shown.messageAt);
    };
    const trace = await startTrace(browser, page);
    for (let round = 0; round < ROUNDS; round += 1) {
      const index = (round * 487 + 13) % names.length;
      const name = names[index];
      await timeHomeScreenChange('enable', { name, index }, ({ title }) => {
        const probe = window.hxProbe;
        probe.watch(() => probe.rowsOf(probe.rows('Backgrounding Enabled')).some((row) => probe.titleOf(row) === title));
      });
      // Back in its place among the disabled rows, found without reading all of them.
      await timeHomeScreenChange('disable', { name, index }, ({ title, index }) => {
        const probe = window.hxProbe;
        probe.watch(() => probe.rowsOf(probe.rows('Backgrounding Enabled')).length === 0 &&
          probe.titleOf(probe.rowAt(probe.rows('Backgrounding Disabled'), index)) === title);
      });
      const startAt = nodeNow();
      await springboard('--root', root, '--home', home, 'status');
      homeStatus.push(nodeNow() - startAt);
    }
    await trace.stop();
    const startUp = percentile(homeStatus, 0.5);
    const homeNet = homeRaw.map((value) => value - startUp);

    // Clicks: a switch flipped on an application page, then back to the row moved.
    const floor = [];
    const switchShown = [];
    const switchMessageToFrame = [];
    const backMoved = [];
    const backPlain = [];
    const backMessageToFrame = [];
    for (let round = 0; round < ROUNDS; round += 1) {
      const name = names[(round * 331 + 7) % names.length];
      await openRow(page, DISABLED, name);
      await sleep(PAUSE);
      // The baseline on the same page, just before the click.
      floor.push(await page.evaluate(async () => {
        const probe = window.hxProbe;
        const startAt = probe.now();
        await (await fetch('/app.css', { cache: 'no-store' })).text();
        probe.shownPage().dataset.probe = String(startAt);
        return (await probe.afterNextFrame()) - startAt;
      }));
      const flipped = await page.evaluate(() => {
        const probe = window.hxProbe;
        const main = probe.shownPage();
        const version = main.dataset.version;
        const input = main.querySelector('input[data-testid="row-switch"]');
        return probe.measure(() => input.click(), () => main.dataset.version !== version);
      });
      switchShown.push(flipped.frameAt - flipped.startAt);
      switchMessageToFrame.push(flipped.frameAt - flipped.messageAt);
      const back = await backToRoot(page, ENABLED, name);
      backMoved.push(back.frameAt - back.startAt);
      backMessageToFrame.push(back.frameAt - back.messageAt);
      await everyRowBuilt();
      // Nothing changes on the way back now.
      await openRow(page, ENABLED, name);
      const plain = await backToRoot(page, ENABLED, name);
      backPlain.push(plain.frameAt - plain.startAt);
      await everyRowBuilt();
      await springboard('--root', root, '--home', home, 'disable', identifierOf(name));
      await until(() => page.evaluate(() => window.hxProbe.rowsOf(window.hxProbe.rows('Backgrounding Enabled')).length === 0),
        'the row back', SLOW);
    }

    console.log(`halvex-settings in Chromium, ${APPLICATIONS} applications, ${ROUNDS} rounds`);
    report('home screen change -> row shown', homeRaw, homeStatus);
    report('  the same, net of the command start (status p50)', homeNet, null);
    report('  halvex-springboard status (command start)', homeStatus, null);
    report('  command exited (the change stored and announced) -> frame shown', homeExitToFrame, null);
    report('  command exited -> message arrived', homeExitToMessage, null);
    report('  message -> row in the DOM', homeMessageToDom, null);
    report('  message -> frame shown', homeMessageToFrame, null);
    report('switch flipped -> answer shown', switchShown, floor);
    report('  message -> frame shown', switchMessageToFrame, null);
    report('  round trip of a static file + frame (baseline)', floor, null);
    report('back -> root page shown with the row moved', backMoved, backPlain);
    report('  message -> frame shown', backMessageToFrame, null);
    report('  back -> root page shown, nothing changed', backPlain, null);
    report('tap on "Halvex", fresh app -> first screen shown', fresh.firstScreen, fresh.floor);
    report('  round trip of a static file + frame (baseline)', fresh.floor, null);
    report('  tap -> every row in the page', fresh.everyRow, fresh.firstScreen);
    printReport();
    console.log(`fresh app: the first launch ever, with no workspace cache file yet, showed the ` +
      `first screen ${fresh.firstEver.toFixed(1)} ms after the tap`);
    console.log(`root page: first frame ${(opened.frameAt - opened.startAt).toFixed(1)} ms, ` +
      `every row built ${(builtAt - opened.startAt).toFixed(1)} ms, last row opened in ` +
      `${(lastOpened.frameAt - lastOpened.startAt).toFixed(1)} ms`);
    console.log(`longest task: ${Math.max(openingLongest, usingLongest).toFixed(1)} ms ` +
      `(opening ${openingLongest.toFixed(1)} ms, scrolling and opening a row ${usingLongest.toFixed(1)} ms; ` +
      `first page ${firstPageLongest.toFixed(1)} ms)`);
  } finally {
    await browser.close();
    await server.stop();
  }
}

await main();
