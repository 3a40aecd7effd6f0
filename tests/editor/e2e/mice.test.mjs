// The editor's own page on a mouse the suite knows nothing about (a generic five-button
// mouse with a wheel and its tilt), the Updates view against a local version list, the
// banner without access to the input devices, and a page that cannot be loaded.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { cpSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { Editor } from './harness.mjs';

const SOURCE = process.env.E2E_SOURCE;
const GENERIC_BUNDLES = join(SOURCE, 'tests/editor/e2e/bundles');
const B4 = 0x90004;

async function notice(editor, pattern) {
  await editor.until((source) => [...document.querySelectorAll('#notices .notice')]
    .some((n) => new RegExp(source).test(n.textContent)), pattern.source);
}

describe('a generic five-button mouse with a wheel and its tilt', () => {
  let editor;
  let page;
  before(async () => {
    editor = await Editor.start({ bundles: GENERIC_BUNDLES });
    page = editor.page;
    page.setDefaultTimeout(10_000);
    await editor.loaded();
    await editor.until(() => EditorApp.state.connected === true);
    await page.setViewportSize({ width: 900, height: 675 });
  });
  after(async () => { if (editor) await editor.stop(); });

  test('the picture is drawn from its controls', async () => {
    const spots = await page.$$eval('.mouse-picture .spot', (nodes) => nodes.map((n) => Number(n.getAttribute('data-element'))));
    assert.deepEqual(spots.sort((a, b) => a - b), [0x10038, 0x90001, 0x90002, 0x90003, 0x90004, 0x90005, 0xc0238]);
    assert.equal(await page.locator('.mouse-picture .spot[data-element="' + 0xc0238 + '"] rect.spot-shape').count(), 1, 'the tilt is drawn');
    assert.match(await page.locator('.control-row[data-element="' + B4 + '"]').textContent(), /Back/);
    assert.match(await page.locator('#device-name').textContent(), /Generic USB Mouse/);
  });

  test('an edit is saved as a new profile and reaches the test view', async () => {
    await page.click(`.control-row[data-element="${B4}"]`);
    await page.check('dialog[open] .mode-list input[value="command"]');
    await page.check('dialog[open] input[name^="kind"][value="key"]');
    await page.selectOption('dialog[open] select[aria-label="Key"]', String(0x0b));
    await page.locator('dialog[open] .dialog-buttons button', { hasText: 'Apply' }).click();
    assert.equal(await page.locator(`.control-row[data-element="${B4}"] .control-does`).textContent(), 'H');
    await page.click('#save-button');
    await page.locator('dialog[open] input').fill('Mine');
    await page.locator('dialog[open] button[type="submit"]').click();
    await notice(editor, /Saved as “Mine”/);
    const file = join(editor.home, '.local/share/Kinetra/GenericMouse/Mine.pr0');
    const result = spawnSync(process.env.KINETRA, ['profile', 'to-json', file, '--tree'], { encoding: 'utf8' });
    assert.equal(result.status, 0, result.stderr);
    assert.match(result.stdout, /"trigger": *"?(589828|0x90004)/);

    await page.click('#nav-test');
    await editor.until(() => EditorApp.state.connected === true);
    await page.click('#test-toggle');
    await editor.until(() => EditorApp.state.testing === true);
    await editor.pressUntilHeard('report 08 00 00 00 00 00 00', 'report 00 00 00 00 00 00 00',
                                 () => EditorApp.state.log.some((e) => e.value === 0));
    assert.match(await page.locator('#test-log').textContent(), /H down.*H up/s);
    await page.click('#test-toggle');
  });

  test('screenshots of every view at 100 %', async () => {
    assert.equal((await editor.screenshots('generic', '100')).length, 18);
  });

  test('no errors reached the console', () => {
    assert.deepEqual(editor.errors, []);
  });
});

describe('the generic mouse at 200 % zoom', () => {
  let editor;
  before(async () => {
    editor = await Editor.start({ bundles: GENERIC_BUNDLES, env: { QT_SCALE_FACTOR: '2' } });
    await editor.loaded();
    await editor.page.evaluate(() => Page.ed('displayAtMouseWithSize', 450, 338));
    await editor.until(() => innerWidth === 450 && devicePixelRatio === 2);
  });
  after(async () => { if (editor) await editor.stop(); });

  test('screenshots of every view', async () => {
    assert.equal((await editor.screenshots('generic', '200')).length, 18);
    assert.equal(await editor.page.evaluate(() => document.documentElement.scrollWidth > innerWidth), false);
  });
});

describe('updates from a local version list, without access to the input devices', () => {
  let editor;
  let page;
  let mirror;
  before(async () => {
    // The demo bundle with an update location: a list on disk naming a package beside it.
    mirror = mkdtempSync(join(tmpdir(), 'tessel-mirror-'));
    const bundle = join(mirror, 'bundles', 'DemoMouse.bundle');
    cpSync(join(SOURCE, 'data/Devices/DemoMouse.bundle'), bundle, { recursive: true });
    const info = join(bundle, 'Contents/Info.plist');
    writeFileSync(info, readFileSync(info, 'utf8').replace('<key>Balias</key>',
      `<key>SoftwareUpdateURL</key>\n\t<string>file://${mirror}/versions</string>\n\t<key>Balias</key>`));
    writeFileSync(join(mirror, 'kinetra_9.0.deb'), 'package'.repeat(4096));
    writeFileSync(join(mirror, 'versions'), `5a56,1704,9.0,file://${mirror}/kinetra_9.0.deb\n`);
    editor = await Editor.start({ bundles: join(mirror, 'bundles'), args: ['--check-access', join(mirror, 'no-uinput')] });
    page = editor.page;
    page.setDefaultTimeout(10_000);
    await editor.loaded();
  });
  after(async () => {
    if (editor) await editor.stop();
    rmSync(mirror, { recursive: true, force: true });
  });

  test('the editor opens, and a banner says what will not work and how to get access', async () => {
    const banner = page.locator('.access-banner');
    assert.match(await banner.textContent(), /no-uinput/);
    assert.match(await banner.textContent(), /keys cannot be captured/);
    assert.match(await banner.textContent(), /sudo modprobe uinput/);
    assert.match(editor.child.log, /needs your permission/);
  });

  test('a newer version is found, downloaded and handed to the package manager', async () => {
    await editor.until(() => EditorApp.state.update.version === '9.0');
    assert.equal(await page.locator('#nav-updates .badge').count(), 1);
    await page.click('#nav-updates');
    assert.equal(await page.locator('#update-version').textContent(), '9.0');
    await page.click('#download-update');
    await editor.until(() => document.getElementById('install-update'));
    assert.equal(await page.locator('#update-percent').textContent(), '100 %');
    await page.click('#install-update');
    await notice(editor, /installs version 9\.0/);
    await page.evaluate(() => Page.ed('profileList'));
    assert.ok(editor.opened().some((line) => /^install .*9\.0\.deb$/.test(line)), editor.opened().join('\n'));
  });
});

describe('a page that cannot be loaded', () => {
  test('the editor says why and ends, at once', async () => {
    let editor;
    try {
      editor = await Editor.start({ page: 'NoSuchPage.html' });
      await editor.loaded(() => false);
      assert.fail('the missing page loaded');
    } catch (error) {
      assert.match(error.message, /could not be loaded/);
    } finally {
      if (editor) await editor.stop();
    }
  });
});
