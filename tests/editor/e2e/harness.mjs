// Starts `tessel --devel` in a private folder tree on the simulated mouse, connects
// Playwright to the editor's own web engine over the DevTools protocol and hands the
// bridge test page to the tests.
import { spawn, spawnSync } from 'node:child_process';
import { once } from 'node:events';
import { mkdtempSync, mkdirSync, writeFileSync, readFileSync, existsSync, rmSync, openSync, writeSync, closeSync } from 'node:fs';
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
  // options.page: a page of the demo bundle to load instead of the editor's own page;
  // options.bundles: another folder of device bundles; options.env: more environment;
  // options.args: more arguments for tessel.
  static async start(options = {}) {
    const editor = new Editor();
    editor.options = options;
    try {
      await editor.launch();
    } catch (error) {
      if (editor.child) await editor.stop().catch(() => {});
      throw error;
    }
    return editor;
  }

  async launch() {
    const options = this.options || {};
    this.root = mkdtempSync(join(tmpdir(), 'tessel-e2e-'));
    this.desktop = join(this.root, 'desktop');
    this.port = await freePort();
    mkdirSync(this.desktop);
    const args = ['--devel', '--devel-root', join(this.root, 'tree'), '--devtools-port', String(this.port)];
    if (options.page) args.push('--page', options.page);
    if (options.bundles) args.push('--bundles', options.bundles);
    if (options.args) args.push(...options.args);
    // The focused application comes from a FIFO (so links can be made here); a test of a
    // desktop without one names another path in options.env.
    const focusFifo = join(this.root, 'focus');
    spawnSync('mkfifo', [focusFifo]);
    this.child = spawn(process.env.TESSEL, args, {
      env: {
        ...process.env,
        KINETRA_FOCUS_FIFO: focusFifo,
        QT_QPA_PLATFORM: 'offscreen',
        TESSEL_SCRIPTED_DESKTOP: this.desktop,
        LANG: 'en_GB.UTF-8',
        LANGUAGE: 'en_GB',
        XDG_CURRENT_DESKTOP: 'GNOME',
        ...(options.env || {}),
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
    // What goes wrong in the page from now on, for tests and for a start that fails.
    this.errors = [];
    this.page.on('pageerror', (error) => this.errors.push(error.message));
    this.page.on('console', (message) => { if (message.type() === 'error') this.errors.push(message.text()); });
  }

  // Waits until the editor's own page has its profile (or, with `ready`, that condition):
  // a page that fails on the way says why at once instead of waiting out the limit.
  async loaded(ready = () => window.EditorApp && EditorApp.state.doc !== null) {
    const failed = new Promise((_, reject) => {
      const check = setInterval(() => {
        if (this.errors.length || this.child.exitCode !== null) {
          clearInterval(check);
          reject(new Error(`the editor's page did not load: ${this.errors.join('; ')}\n${this.child.log}`));
        }
      }, 50);
      this.stopChecking = () => clearInterval(check);
    });
    try {
      await Promise.race([this.page.waitForFunction(ready, undefined, { timeout: LIMIT, polling: 50 }), failed]);
    } finally {
      this.stopChecking();
    }
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
      // The editor says why it cannot show a page, and ends.
      if (this.child.exitCode !== null || this.child.signalCode !== null) {
        throw new Error(`tessel ended (${this.child.exitCode ?? this.child.signalCode}) without a page:\n${this.child.log}`);
      }
      if (Date.now() > deadline) throw new Error(`no page ${pattern}:\n${this.child.log}`);
      const context = this.browser.contexts()[0];
      if (context) await context.waitForEvent('page', { timeout: 500 }).catch(() => {});
      else await new Promise((resolve) => setTimeout(resolve, 200));
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

  // Presses a button of the simulated mouse (its report line `down`, then `up` unless
  // null) until the page has heard it (`heard` in the page). The driver takes the
  // profile's buttons over shortly after the connection is reported: until then a press
  // reaches the desktop and not the profile, so it is pressed again (each wait ends as
  // soon as the page hears it).
  async pressUntilHeard(down, up, heard = () => EditorApp.state.log.length > 0) {
    for (let press = 0; press < 20; press++) {
      this.feedMouse(down);
      if (up) this.feedMouse(up);
      if (await this.until(heard, undefined, 500).then(() => true, () => false)) return;
      if (!up) this.feedMouse('report 00 00 00 00 00 00 00');
    }
    throw new Error('the page never heard the simulated press ' + down);
  }

  // Key lines for the key tap ("KEY_B 1 [time ms]").
  feedKeys(...lines) {
    const fd = openSync(join(this.root, 'tree', 'keys'), 'w');
    writeSync(fd, lines.map((l) => l + '\n').join(''));
    closeSync(fd);
  }

  // Pictures of every view and of the assignment dialog, light and dark, for a person to
  // look at: written to $E2E_SCREENSHOTS (else screenshots/ in the working folder) as
  // MOUSE-VIEW-SCHEME-ZOOM.png. Answers the files written.
  async screenshots(mouse, zoom) {
    const page = this.page;
    const folder = process.env.E2E_SCREENSHOTS || join(process.cwd(), 'screenshots');
    mkdirSync(folder, { recursive: true });
    // Clicks without pointer coordinates, and no notices over the view.
    const press = (selector) => page.evaluate((sel) => document.querySelector(sel).click(), selector);
    const shot = async (name) => {
      await page.evaluate(() => document.querySelectorAll('#notices .notice').forEach((n) => n.remove()));
      const file = join(folder, `${mouse}-${name}-${zoom}.png`);
      await page.screenshot({ path: file });
      return file;
    };
    const views = await page.evaluate(() => EditorViews.list.map((v) => v.id));
    const files = [];
    for (const scheme of ['light', 'dark']) {
      await page.emulateMedia({ colorScheme: scheme });
      for (const view of views) {
        await press('#nav-' + view);
        await this.until((id) => document.getElementById(id).getAttribute('aria-current') === 'page', 'nav-' + view);
        if (view === 'device') await this.until(() => document.getElementById('device-facts'));
        await page.evaluate(() => { document.getElementById('view').scrollTop = 0; window.scrollTo(0, 0); });
        files.push(await shot(`${view}-${scheme}`));
      }
      await press('#nav-buttons');
      await this.until(() => document.querySelector('.control-row'));
      await press('.control-row[data-element="' + 0x90003 + '"]');
      await this.until(() => document.querySelector('dialog[open]'));
      files.push(await shot(`assignment-${scheme}`));
      await page.evaluate(() => document.querySelector('dialog[open] .dialog-buttons button:last-child').click());
      await this.until(() => !document.querySelector('dialog[open]'));
    }
    await page.emulateMedia({ colorScheme: null });
    return files.filter((f) => existsSync(f));
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
