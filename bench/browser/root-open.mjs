// Opening the Halvex root page as an outside HTTP client meets it: for 1,000 and 10,000
// applications (HX_BENCH_OPEN_SIZES="1000,10000"), each round starts a fresh halvex-settings,
// loads its first page, then times POST /api/action selecting "Halvex" from the request sent to
// the answer fully read. The user's home stays from round to round, as a device's does between
// two launches of Settings; the first round, with a new home, is reported on its own ("first
// ever": no workspace cache yet). The baseline of each round is a GET of a static file on the
// same kept connection: the cost of one HTTP exchange. Also reported: the answer's size and the
// server's resident memory once it is read. Run by bench/browser/run.
import { execFileSync, spawn } from 'node:child_process';
import { mkdirSync, readFileSync, rmSync } from 'node:fs';
import { Agent, request } from 'node:http';
import { dirname, join } from 'node:path';
import { performance } from 'node:perf_hooks';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';

import { build, scratch } from '../../e2e/tests/helpers.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const SIZES = (process.env.HX_BENCH_OPEN_SIZES ?? '1000,10000').split(',').map(Number);
const ROUNDS = Number(process.env.HX_BENCH_OPEN_ROUNDS ?? 20);

function percentile(values, p) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(p * (sorted.length - 1))];
}

// One HTTP exchange over `agent`'s kept connection, as a browser holds one to the page's server;
// resolves with the status and the body read whole.
function exchange(agent, url, method, path, body) {
  const { host, port } = new URL(url);
  const headers = { Host: host, Origin: `http://${host}` };
  if (body !== undefined) headers['Content-Length'] = Buffer.byteLength(body);
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  return new Promise((resolve, reject) => {
    const req = request({ host: '127.0.0.1', port, method, path, headers, agent }, (res) => {
      const chunks = [];
      res.on('data', (chunk) => chunks.push(chunk));
      res.on('end', () => resolve({ status: res.statusCode, body: Buffer.concat(chunks) }));
      res.on('error', reject);
    });
    req.on('error', reject);
    req.end(body);
  });
}

async function timed(run) {
  const start = performance.now();
  const result = await run();
  return { ms: performance.now() - start, result };
}

async function startServer(root, home) {
  mkdirSync(home, { recursive: true });
  const child = spawn(join(build, 'bin', 'halvex-settings'),
    ['--port', '0', '--root', root, '--home', home], { stdio: ['ignore', 'pipe', 'ignore'] });
  const url = await new Promise((resolve, reject) => {
    const lines = createInterface({ input: child.stdout });
    lines.on('line', (line) => { if (line.startsWith('http://')) resolve(line.trim()); });
    child.once('exit', () => reject(new Error('halvex-settings exited before listening')));
  });
  const stop = async () => {
    if (child.exitCode !== null || child.signalCode !== null) return;
    const exited = new Promise((resolve) => child.once('exit', resolve));
    child.kill('SIGTERM');
    await exited;
  };
  return { url, pid: child.pid, stop };
}

function residentMegabytes(pid) {
  const line = readFileSync(`/proc/${pid}/status`, 'utf8').split('\n').find((l) => l.startsWith('VmRSS:'));
  return Number(line.split(/\s+/)[1]) / 1024;
}

async function measure(applications) {
  const root = join(scratch, `open-device-${applications}`);
  execFileSync('python3', [join(here, '../../device/tools/make-device.py'), '--applications',
    String(applications), '--base', join(build, 'device'), root], { stdio: 'ignore' });
  const home = join(scratch, `open-home-${applications}`);
  rmSync(home, { recursive: true, force: true });
  const opens = [];
  const baselines = [];
  let firstEver = NaN;
  let bytes = 0;
  let resident = 0;
  for (let round = 0; round <= ROUNDS; round += 1) {
    const server = await startServer(root, home);
    const agent = new Agent({ keepAlive: true, maxSockets: 1 });
    try {
      const first = JSON.parse((await exchange(agent, server.url, 'GET', '/api/page')).body);
      const rows = first.page.sections[0].rows;
      const index = rows.findIndex((r) => r.title === 'Halvex');
      if (index < 0) throw new Error('no "Halvex" row on the first page');
      baselines.push((await timed(() => exchange(agent, server.url, 'GET', '/app.css'))).ms);
      const body = JSON.stringify({
        action: 'select', section: 0, row: index, version: first.version,
        target: { id: 'Halvex', title: 'Halvex' },
      });
      const open = await timed(() => exchange(agent, server.url, 'POST', '/api/action', body));
      if (open.result.status !== 200) throw new Error(`select answered ${open.result.status}`);
      if (round === 0) {
        firstEver = open.ms;
        continue;
      }
      opens.push(open.ms);
      bytes = open.result.body.length;
      resident = Math.max(resident, residentMegabytes(server.pid));
    } finally {
      agent.destroy();
      await server.stop();
    }
  }
  rmSync(root, { recursive: true, force: true });
  rmSync(home, { recursive: true, force: true });
  const fixed = (v) => v.toFixed(1);
  console.log([`root page open over HTTP, ${applications} apps`, fixed(percentile(opens, 0.5)),
    fixed(percentile(opens, 0.95)), fixed(percentile(baselines, 0.95)),
    `${(percentile(opens, 0.95) / percentile(baselines, 0.95)).toFixed(1)}x`,
    `${bytes} bytes`, `RSS ${fixed(resident)} MB`, `first ever ${fixed(firstEver)} ms`].join('  '));
}

console.log('measure  p50_ms  p95_ms  baseline_p95_ms  p95_ratio  answer  max_RSS  first_ever');
for (const size of SIZES) await measure(size);
