// The journal end to end in Debian's Chromium: log on at /JOURNAL_ADMIN for
// page 3, write a long text, save it with skin "Groovy" and colour "red",
// read the page, step with Next and Previous, and reopen the editor.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const binDir = process.env.VOSTREL_BIN_DIR;
const sourceDir = process.env.VOSTREL_SOURCE_DIR;
assert.ok(binDir && sourceDir, 'VOSTREL_BIN_DIR and VOSTREL_SOURCE_DIR must be set');
const outputDir = process.env.VOSTREL_BROWSER_OUTPUT || path.join(binDir, '..', 'tests', 'browser-output');
const password = 'demo-Pass1';
const serviceName = 'vostrelserver';

const machine = fs.mkdtempSync(path.join(os.tmpdir(), 'vostrel-browser-'));
const env = { ...process.env, VOSTREL_MACHINE: machine };
delete env.SystemRoot;

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function sc(...args) {
  const r = spawnSync(path.join(binDir, 'vostrel-sc'), args, { env, encoding: 'utf8', timeout: 60000 });
  return { status: r.status, out: `${r.stdout || ''}${r.stderr || ''}` };
}

function accepts(port) {
  return new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1');
    socket.once('connect', () => { socket.destroy(); resolve(true); });
    socket.once('error', () => resolve(false));
  });
}

async function waitForPort(port, ms) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (await accepts(port)) return;
    await new Promise((r) => setTimeout(r, 200));
  }
  throw new Error(`nothing listens on port ${port}`);
}

// Processes of this test's machine (their environment names it), so that a
// service that did not stop can still be ended by its own id.
function machineProcesses() {
  const found = [];
  for (const pid of fs.readdirSync('/proc').filter((d) => /^\d+$/.test(d))) {
    try {
      const environ = fs.readFileSync(`/proc/${pid}/environ`, 'latin1').split('\0');
      if (environ.includes(`VOSTREL_MACHINE=${machine}`) && Number(pid) !== process.pid) found.push(Number(pid));
    } catch {
      // gone, or not ours to read
    }
  }
  return found;
}

// The machine: configuration, the server program at its service path, and
// the demo images in the images folder (also the document root's images/).
function layOutMachine(port) {
  const system = path.join(machine, 'c', 'WINDOWS', 'system');
  fs.mkdirSync(path.join(machine, 'c', 'WINDOWS', 'system32'), { recursive: true });
  fs.mkdirSync(system, { recursive: true });
  fs.writeFileSync(path.join(system, 'VostrelWeb.SET'),
    `127.0.0.1\n${port}\n\\Program Files\\Vostrel Web Server\\\n${password}\n`);
  fs.symlinkSync(path.join(binDir, 'vostreld'), path.join(system, 'vostreld.exe'));
  const images = path.join(machine, 'c', 'Program Files', 'Vostrel Web Server', 'images');
  const r = spawnSync('python3', [path.join(sourceDir, 'scripts', 'make-demo-images.py'), images],
    { encoding: 'utf8' });
  assert.equal(r.status, 0, r.stderr);
}

// The text as typed: long, with line breaks, apostrophes, quotation marks,
// grave accents, angle brackets and markup.
function journalText() {
  const lines = ['[B]bold[/B] starts the owner\'s page, "quoted" and `graved`, 1 < 2 and 3 > 2.'];
  for (let i = 1; lines.join('\n').length < 3200; i++) {
    lines.push(`Line ${i}: it's the owner's "note" number ${i}, with \`ticks\` and a < sign.`);
  }
  return lines.join('\n');
}

// What the page shows of it: quotation marks as apostrophes, grave accents
// as quotation marks, angle brackets as spaces, the markup as tags.
function shownOnPage(text) {
  return text.replace(/"/g, '\'').replace(/`/g, '"').replace(/[<>]/g, ' ').replace(/\[\/?B\]/g, '');
}

// What the editor gives back: the store keeps one code for both quotes.
function restoredInEditor(text) {
  return text.replace(/"/g, '\'').replace(/[<>]/g, ' ');
}

async function logOn(page, base, pageNumber) {
  await page.goto(`${base}/JOURNAL_ADMIN`);
  await page.fill('input[name="UserName"]', 'Chief');
  await page.fill('input[name="Password"]', password);
  await page.selectOption('select[name="PAGE_NUMBER"]', String(pageNumber));
  await Promise.all([page.waitForNavigation(), page.click('input[type="submit"]')]);
  assert.equal(await page.title(), 'Journal Administration Page');
}

async function imagesLoaded(page) {
  return page.evaluate(() => Array.from(document.images).map((i) => [i.getAttribute('src'), i.naturalWidth]));
}

async function main() {
  fs.mkdirSync(outputDir, { recursive: true });
  const port = await freePort();
  assert.notEqual(port, 80);
  layOutMachine(port);
  const base = `http://127.0.0.1:${port}`;

  let created = false;
  let browser;
  try {
    let r = sc('create', serviceName, 'binPath=', '%SystemRoot%\\system\\vostreld.exe', 'start=', 'demand');
    assert.equal(r.status, 0, r.out);
    created = true;
    r = sc('start', serviceName);
    assert.equal(r.status, 0, r.out);
    r = sc('wait', serviceName, 'running', '30');
    assert.equal(r.status, 0, r.out);
    await waitForPort(port, 30000);

    browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] });
    const page = await browser.newPage({ viewport: { width: 1100, height: 900 } });

    // Log on and see the editor of page 3.
    await logOn(page, base, 3);
    assert.equal(await page.inputValue('input[name="PAGE_NUMBER"]'), '3');
    assert.match(await page.textContent('body'), /Page: 3/);

    // Write the page.
    const typed = journalText();
    assert.ok(typed.length >= 3000);
    await page.fill('textarea[name="JOURNALPOST"]', typed.slice(0, -20));
    await page.locator('textarea[name="JOURNALPOST"]').press('End');
    await page.locator('textarea[name="JOURNALPOST"]').evaluate((t) => t.setSelectionRange(t.value.length, t.value.length));
    await page.locator('textarea[name="JOURNALPOST"]').pressSequentially(typed.slice(-20));
    assert.equal(await page.inputValue('textarea[name="JOURNALPOST"]'), typed);

    // An own second left image, then a skin: the image selects grey out but
    // are still sent with the form.
    const left2 = await page.$$eval('select[name="LEFT_GRAPHIC2"] option', (o) => o.map((x) => x.value));
    const ownLeft2 = ['VBlogPix1.PNG', 'VBlogPix2.PNG', 'VBlogLeft3.PNG'].find((v) => left2.includes(v)) ||
      left2.find((v) => v !== 'VBlogLeft.PNG');
    assert.ok(ownLeft2, `no image to choose in ${left2}`);
    await page.selectOption('select[name="LEFT_GRAPHIC2"]', ownLeft2);
    await page.selectOption('select[name="SKIN_NAME"]', 'Groovy');
    for (const name of ['TOP_GRAPHIC', 'LEFT_GRAPHIC1', 'LEFT_GRAPHIC2', 'LEFT_GRAPHIC3', 'BACKGROUND_GRAPHIC']) {
      const state = await page.$eval(`select[name="${name}"]`, (s) => [s.disabled, getComputedStyle(s).pointerEvents]);
      assert.deepEqual(state, [false, 'none'], name);
    }
    await page.selectOption('select[name="FONT_COLOR"]', 'red');
    await page.screenshot({ path: path.join(outputDir, 'journal-editor-before-save.png'), fullPage: true });
    await Promise.all([page.waitForNavigation(), page.click('input[value="Create Page"]')]);

    // The rendered page.
    const checkPage3 = async () => {
      assert.equal(await page.title(), 'Journal Page');
      assert.equal(await page.getAttribute('pre font', 'color'), 'red');
      assert.equal(await page.$eval('pre font', (f) => getComputedStyle(f).color), 'rgb(255, 0, 0)');
      assert.equal(await page.$eval('pre font', (f) => f.textContent), shownOnPage(typed));
      assert.equal(await page.textContent('pre font b'), 'bold');
      assert.equal(await page.getAttribute('body', 'background'), '/images/VBlogBackground3.PNG');
      const images = await imagesLoaded(page);
      const sources = images.map(([src]) => src);
      assert.deepEqual(sources.slice(0, 4),
        ['/images/VBlogHeader3.PNG', '/images/VBlogLeft3.PNG', `/images/${ownLeft2}`, '/images/VBlogLeft.PNG']);
      for (const [src, width] of images) assert.ok(width > 0, `${src} did not load`);
      assert.match(await page.textContent('body'), /\. Page: 3/);
    };
    await checkPage3();
    await page.screenshot({ path: path.join(outputDir, 'journal-page-3.png'), fullPage: true });

    // Next leads to page 4, Previous back to page 3, on the same host and port.
    await Promise.all([page.waitForURL(`${base}/JOURNAL_SHOW4`), page.click('img[src="/images/VBlogNext.PNG"]')]);
    assert.match(await page.textContent('body'), /\. Page: 4/);
    assert.equal(await page.$eval('pre font', (f) => f.textContent), '');
    await Promise.all([page.waitForURL(`${base}/JOURNAL_SHOW3`), page.click('img[src="/images/VBlogPrevious.PNG"]')]);
    await checkPage3();

    // The editor again: the text is restored in the text area.
    await logOn(page, base, 3);
    assert.equal(await page.inputValue('textarea[name="JOURNALPOST"]'), restoredInEditor(typed));
    assert.equal(await page.inputValue('select[name="SKIN_NAME"]'), 'None');
    assert.equal(await page.inputValue('select[name="FONT_COLOR"]'), 'red');
    assert.equal(await page.inputValue('select[name="LEFT_GRAPHIC2"]'), ownLeft2);
    await page.screenshot({ path: path.join(outputDir, 'journal-editor.png'), fullPage: true });
    console.log(`journal browser test passed; screenshots in ${outputDir}`);
  } finally {
    if (browser) await browser.close();
    if (created) {
      sc('stop', serviceName);
      const stopped = sc('wait', serviceName, 'stopped', '30');
      sc('delete', serviceName);
      if (stopped.status !== 0) console.error(`service did not stop: ${stopped.out}`);
    }
    for (const pid of machineProcesses()) {
      console.error(`ending left-over process ${pid}`);
      try { process.kill(pid, 'SIGKILL'); } catch { /* already gone */ }
    }
    fs.rmSync(machine, { recursive: true, force: true });
  }
}

main().catch((e) => {
  console.error(e);
  process.exitCode = 1;
});
