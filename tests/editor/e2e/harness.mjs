// Starts `tessel --devel` in a private folder tree on the simulated mouse, connects
// Playwright to the editor's own web engine over the DevTools protocol and hands the
// bridge test page to the tests.
import { spawn, spawnSync } from 'node:child_process';
import { once } from 'node:events';
import { mkdtempSync, writeFileSync, readFileSync, existsSync, rmSync, openSync, writeSync, closeSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

// Safety net only: every wait below ends as soon as its condition holds.
export const LIMIT = 60_000;

async function freePort() {
  const server = createServer();
  server.listen(0, '127.0.0.1');
  await once(server, 'listening');
  const { port } = server.address();
  server.close();
  await once(server, 'close');
  return port;
}

// Resolves with the first line of `stream` that matches, rejects when the process ends.
function waitForLine(child, stream, pattern, what) {
  return new Promise((resolve, reject) => {
    let buffer = '';
    const timer = setTimeout(() => reject(new Error(`no ${what} within ${LIMIT} ms:\n${child.log}`)), LIMIT);
    const onData = (chunk) => {
      buffer += chunk;
      const match = buffer.match(pattern);
      if (match) {
        clearTimeout(timer);
        stream.off('data', onData);
        resolve(match);
      }
    };
    stream.on('data', onData);
    child.once('exit', (code, signal) => {
      clearTimeout(timer);
      reject(new Error(`tessel ended (${code ?? signal}) before ${what}:\n${child.log}`));
    });
  });
}

export class Editor {
  // options.page: a page of the demo bundle to load instead of its Interface page;
  // options.bundles: another folder of device bundles; options.env: more environment.
  static async start(options = {}) {
    const editor = new Editor();
    editor.options = options;
    await editor.launch();
    return editor;
  }

  async launch() {
    const options = this.options || {};
    this.root = mkdtempSync(join(tmpdir(), 'tessel-e2e-'));
    this.desktop = join(this.root, 'desktop');
    this.port = await freePort();
    const { mkdirSync } = await import('node:fs');
    mkdirSync(this.desktop);
    const args = ['--devel', '--devel-root', join(this.root, 'tree'), '--devtools-port', String(this.port)];
    if (options.page) args.push('--page', options.page);
    if (options.bundles) args.push('--bundles', options.bundles);
    // The focused application comes from a FIFO (so links can be made here); a test of a
    // desktop without one names another path in options.env.
    const focusFifo = join(this.root, 'focus');
    spawnSync('mkfifo', [focusFifo]);
    this.child = spawn(process.env.TESSEL, args, {
      env: {
        ...process.env,
        KINETRA_FOCUS_FIFO: focusFifo,
        ...(options.env || {}),
        QT_QPA_PLATFORM: 'offscreen',
        TESSEL_SCRIPTED_DESKTOP: this.desktop,
        LANG: 'en_GB.UTF-8',
        LANGUAGE: 'en_GB',
        XDG_CURRENT_DESKTOP: 'GNOME',
      },
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    this.child.log = '';
    this.child.stdout.setEncoding('utf8');
    this.child.stderr.setEncoding('utf8');
    this.child.stdout.on('data', (text) => { this.child.log += text; });
    this.child.stderr.on('data', (text) => { this.child.log += text; });
    this.exited = once(this.child, 'exit');
    await waitForLine(this.child, this.child.stderr, /Remote debugging server started|DevTools listening/,
                      'DevTools server');
    this.browser = await chromium.connectOverCDP(`http://127.0.0.1:${this.port}`, { noDefaults: true });
    const file = (options.page || 'Editor.html').replace(/[.]/g, '\\.');
    this.page = await this.findPage(new RegExp(file + '$'));
    if (options.page === 'BridgeTest.html') await this.page.evaluate(() => bridgeTest.ready);
  }

  async findPage(pattern, accept = () => true) {
    const deadline = Date.now() + LIMIT;
    for (;;) {
      for (const context of this.browser.contexts()) {
        for (const page of context.pages()) {
          if (pattern.test(page.url()) && accept(page)) {
            await Editor.polyfill(page);
            return page;
          }
        }
      }
      if (Date.now() > deadline) throw new Error(`no page ${pattern}:\n${this.child.log}`);
      await this.browser.contexts()[0].waitForEvent('page', { timeout: LIMIT }).catch(() => {});
    }
  }

  // The engine is Chromium 102; Playwright's own scripts expect checkVisibility.
  static async polyfill(page) {
    await page.evaluate(() => {
      if (!Element.prototype.checkVisibility) {
        Element.prototype.checkVisibility = function () {
          const style = getComputedStyle(this);
          return style.display !== 'none' && style.visibility !== 'hidden' &&
                 this.getClientRects().length > 0;
        };
      }
    });
  }

  // Waits until `fn(arg)` in the page answers something true; answers it.
  async until(fn, arg, timeout = LIMIT) {
    const handle = await this.page.waitForFunction(fn, arg, { timeout, polling: 50 });
    return handle.jsonValue();
  }

  call(name, ...args) {
    return this.page.evaluate(([n, a]) => bridgeTest.call(n, ...a), [name, args]);
  }

  device(name, ...args) {
    return this.page.evaluate(([n, a]) => bridgeTest.device(n, ...a), [name, args]);
  }

  events() {
    return this.page.evaluate(() => bridgeTest.events.map((e) => e.name));
  }

  // The number of events so far, to wait for the ones after it.
  eventCount() {
    return this.page.evaluate(() => bridgeTest.events.length);
  }

  waitForEvent(name, after = 0, timeout = LIMIT) {
    return this.until(([n, from]) => bridgeTest.events.slice(from).find((e) => e.name === n),
                      [name, after], timeout);
  }

  // One line of the simulated mouse's report script.
  feedMouse(line) {
    const fd = openSync(join(this.root, 'tree', 'mouse'), 'w');
    writeSync(fd, line + '\n');
    closeSync(fd);
  }

  // Key lines for the key tap ("KEY_B 1 [time ms]").
  feedKeys(...lines) {
    const fd = openSync(join(this.root, 'tree', 'keys'), 'w');
    writeSync(fd, lines.map((l) => l + '\n').join(''));
    closeSync(fd);
  }

  // The environment that points kinetra at this editor's private tree.
  get kinetraEnv() {
    const tree = join(this.root, 'tree');
    return { ...process.env, KINETRA_HOME: join(tree, 'home'), KINETRA_DATA_ROOT: join(tree, 'data'),
             KINETRA_RUNTIME_DIR: join(tree, 'run'), KINETRA_SERVICES_DIR: join(tree, 'services') };
  }

  opened() {
    const file = join(this.desktop, 'opened');
    return existsSync(file) ? readFileSync(file, 'utf8').trim().split('\n') : [];
  }

  answerChooser(name, text) { writeFileSync(join(this.desktop, name), text); }

  get home() { return join(this.root, 'tree', 'home'); }

  async stop() {
    if (this.browser) await this.browser.close().catch(() => {});
    if (this.child.exitCode === null && this.child.signalCode === null) {
      this.child.kill('SIGTERM');
      await this.exited;
    }
    rmSync(this.root, { recursive: true, force: true });
  }
}
