// The editor's own page (the demo bundle's Interface) in the real editor on the simulated
// mouse: a user's journeys through the page, each checked where it ends up — the profile
// file as kinetra reads it, or the editor's answers over the bridge.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, realpathSync, writeFileSync } from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { join } from 'node:path';
import { Editor } from './harness.mjs';

const B3 = 0x90003;

const B7 = 0x90007;
// A picture for the icon chooser: one pixel.
const PNG_1x1 = 'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR4nGP4z8DwHwAFAAH/iZk9HQAAAABJRU5ErkJggg==';
const WHEEL_DOWN = 255;  // a wheel action's value for the negative direction

describe('the profile editor page', () => {
  let editor;
  let page;
  const errors = [];
  const folder = () => join(editor.home, '.local/share/Kinetra/DemoMouse');

  before(async () => {
    editor = await Editor.start();
    page = editor.page;
    // Well above any wait the page needs, well below the suite's budget.
    page.setDefaultTimeout(10_000);
    page.on('pageerror', (error) => errors.push(error.message));
    page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
    await editor.loaded();
    // The simulated mouse connects a moment after the page loads, and the page draws
    // itself again then: the tests start after that.
    await editor.until(() => EditorApp.state.connected === true);
    await page.setViewportSize({ width: 900, height: 675 });
  });
  after(async () => { if (editor) await editor.stop(); });

  // The editor's answer to a bridge call, asked from the page.
  const bridge = (name, ...args) => page.evaluate(([n, a]) => Page.ed(n, ...a), [name, args]);
  const edited = () => page.evaluate(() => EditorApp.state.edited);

  // A saved profile as kinetra reads it: {json, shifts: {shift name → {element →
  // assignment}}, first: the first shift's assignments}.
  function saved(name) {
    const file = join(folder(), name + '.pr0');
    const result = spawnSync(process.env.KINETRA, ['profile', 'to-json', file, '--tree'], { encoding: 'utf8' });
    assert.equal(result.status, 0, result.stderr);
    const json = JSON.parse(result.stdout);
    const shifts = {};
    for (const shift of json.controllers[0].shifts) {
      shifts[shift.name] = {};
      for (const a of shift.assignments || []) shifts[shift.name][a.trigger] = a;
    }
    return { json, shifts, first: Object.values(shifts)[0] };
  }
  const actionsOf = (block) => block.actions.map((a) => [a.page, a.usage, a.value || 0, a.time || 0]);

  async function notice(pattern) {
    await editor.until((source) => [...document.querySelectorAll('#notices .notice')]
      .some((n) => new RegExp(source).test(n.textContent)), pattern.source);
  }
  async function submitDialog(label) {
    await page.locator('dialog[open] .dialog-buttons button', { hasText: label }).click();
    await editor.until(() => !document.querySelector('dialog[open]'));
  }

  test('the mouse picture and the list show each control and light up together', async () => {
    const rows = await page.locator('.control-row').count();
    assert.equal(rows, await page.locator('.mouse-picture .spot').count());
    assert.ok(rows > 10, 'every control of the demo mouse');
    await page.locator(`.mouse-picture .spot[data-element="${0x90004}"] .spot-shape`).hover();
    assert.ok(await page.locator(`.control-row[data-element="${0x90004}"]`).evaluate((n) => n.classList.contains('linked')));
    // The pointer leaves the picture first: the list sits below it, and scrolling it into
    // view would otherwise take the pointer off the picture after the focus.
    await page.mouse.move(0, 0);
    await page.locator(`.control-row[data-element="${0x90005}"]`).focus();
    assert.ok(await page.locator(`.mouse-picture .spot[data-element="${0x90005}"]`).evaluate((n) => n.classList.contains('linked')));
    assert.match(await page.locator(`.control-row[data-element="${0x90004}"]`).textContent(), /Page Down/);
    // Without a mouse: the picture is one tab stop, arrows move, Enter opens, Escape closes.
    await page.locator('.mouse-picture .spot[tabindex="0"]').focus();
    const first = await page.evaluate(() => document.activeElement.getAttribute('data-element'));
    await page.keyboard.press('ArrowDown');
    const next = await page.evaluate(() => document.activeElement.getAttribute('data-element'));
    assert.notEqual(next, first);
    assert.ok(await page.locator(`.control-row[data-element="${next}"]`).evaluate((n) => n.classList.contains('linked')));
    await page.keyboard.press('Enter');
    await editor.until(() => document.querySelector('dialog[open]'));
    await page.keyboard.press('Escape');
    await editor.until(() => !document.querySelector('dialog[open]'));
    // A new kind of action drops the old command's name, which would now mislabel it.
    await page.click(`.control-row[data-element="${B7}"]`);
    const name = page.locator('dialog[open] .command-editor > label.field input.text');
    assert.equal(await name.inputValue(), 'Copy');
    await page.check('dialog[open] input[name^="kind"][value="key"]');
    assert.equal(await name.inputValue(), '');
    await submitDialog('Cancel');
    await page.locator('.shift-switcher button', { hasText: 'Media' }).click();
    assert.match(await page.locator('.shift-switcher [aria-checked="true"]').textContent(), /Media/);
    await page.locator('.shift-switcher button', { hasText: 'Normal' }).click();
  });

  test('a new profile is made, renamed and written to its file', async () => {
    await page.click('#nav-profiles');
    await page.click('#new-profile');
    await editor.until(() => EditorApp.state.edited === 'Untitled1');
    await page.click('button[aria-label="Rename Untitled1"]');
    await page.locator('dialog[open] input').fill('Default');
    await page.locator('dialog[open] button[type="submit"]').click();
    assert.match(await page.locator('dialog[open] .field-error').textContent(), /\S/, 'a taken name is refused in the dialog');
    await page.locator('dialog[open] input').fill('Work');
    await page.locator('dialog[open] button[type="submit"]').click();
    await notice(/Renamed “Untitled1” to “Work”/);
    assert.deepEqual(await bridge('profileList'), ['Default', 'Work']);
    assert.equal(await edited(), 'Work');
    assert.equal(JSON.parse(await bridge('profileJSON')).profile, 'Work');
    assert.ok(existsSync(join(folder(), 'Work.pr0')));
  });

  test('a key captured by pressing it is saved on the button', async () => {
    await page.click('#nav-buttons');
    await page.click(`.control-row[data-element="${B7}"]`);
    await page.check('dialog[open] .mode-list input[value="command"]');
    await page.check('dialog[open] input[name^="kind"][value="key"]');
    await page.locator('dialog[open] .command-editor > label.field input.text').fill('');
    await page.click('dialog[open] button.capture');
    await editor.until(() => document.querySelector('dialog[open] button.capture.listening'));
    editor.feedKeys('KEY_B 1', 'KEY_B 0');
    await editor.until(() => /Captured: B$/.test(document.querySelector('dialog[open] .capture-status').textContent));
    await page.click('dialog[open] button[type="submit"]');
    assert.equal(await page.locator(`.control-row[data-element="${B7}"] .control-does`).textContent(), 'B');
    assert.match(await page.locator('.unsaved').textContent(), /Unsaved/);
    await page.click('#save-button');
    await notice(/Saved “Work”/);
    const block = saved('Work').first[B7].bands[0].command.actionblocks;
    assert.deepEqual(block.map(actionsOf), [[[7, 5, 1, 0], [7, 5, 0, 0]]]);
  });

  test('a key combination captured with its modifiers held', async () => {
    const B8 = 0x90008;
    await page.click(`.control-row[data-element="${B8}"]`);
    await page.check('dialog[open] .mode-list input[value="command"]');
    await page.check('dialog[open] input[name^="kind"][value="chord"]');
    await page.locator('dialog[open] .command-editor > label.field input.text').fill('');
    await page.click('dialog[open] button.capture');
    await editor.until(() => document.querySelector('dialog[open] button.capture.listening'));
    editor.feedKeys('KEY_LEFTCTRL 1', 'KEY_LEFTSHIFT 1', 'KEY_T 1', 'KEY_T 0', 'KEY_LEFTSHIFT 0', 'KEY_LEFTCTRL 0');
    await editor.until(() => /Captured: .*T$/.test(document.querySelector('dialog[open] .capture-status').textContent));
    const ticked = await page.$$eval('dialog[open] .modifiers input:checked', (boxes) => boxes.map((b) => Number(b.value)));
    assert.deepEqual(ticked.sort(), [0xe0, 0xe1]);
    await page.click('dialog[open] button[type="submit"]');
    await page.click('#save-button');
    await notice(/Saved “Work”/);
    const actions = actionsOf(saved('Work').first[B8].bands[0].command.actionblocks[0]);
    assert.deepEqual(actions.map(([, usage, value]) => [usage, value]),
                     [[0xe0, 1], [0xe1, 1], [0x17, 1], [0x17, 0], [0xe1, 0], [0xe0, 0]]);
  });

  test('a new key on a named command takes the key’s name, and the test shows it held', async () => {
    const B4 = 0x90004;
    await page.click('#nav-buttons');
    // A command named after its key, as the demo's Default has it.
    await page.click(`.control-row[data-element="${B4}"]`);
    await page.check('dialog[open] .mode-list input[value="command"]');
    await page.check('dialog[open] input[name^="kind"][value="key"]');
    await page.selectOption('dialog[open] select[aria-label="Key"]', String(0x4e));
    await page.locator('dialog[open] .command-editor > label.field input.text').fill('Page Down');
    await submitDialog('Apply');
    assert.equal(await page.locator(`.control-row[data-element="${B4}"] .control-does`).textContent(), 'Page Down');
    await page.click(`.control-row[data-element="${B4}"]`);
    await page.click('dialog[open] button.capture');
    await editor.until(() => document.querySelector('dialog[open] button.capture.listening'));
    editor.feedKeys('KEY_N 1', 'KEY_N 0');
    await editor.until(() => /Captured: N$/.test(document.querySelector('dialog[open] .capture-status').textContent));
    await submitDialog('Apply');
    assert.equal(await page.locator(`.control-row[data-element="${B4}"] .control-does`).textContent(), 'N');
    await page.click('#save-button');
    await notice(/Saved “Work”/);
    assert.equal(saved('Work').first[B4].bands[0].command.name, undefined);

    // Held past the repeat delay: one line that counts the repeats, then the release.
    await page.click('#nav-test');
    await page.click('#test-clear');
    await editor.until(() => EditorApp.state.connected === true);
    await page.click('#test-toggle');
    await editor.until(() => EditorApp.state.testing === true);
    await editor.pressUntilHeard('report 08 00 00 00 00 00 00', null);
    await editor.until(() => EditorApp.state.log.some((e) => e.repeats >= 2));
    editor.feedMouse('report 00 00 00 00 00 00 00');
    await editor.until(() => EditorApp.state.log.some((e) => e.usage === 0x11 && e.value === 0));
    const lines = await page.evaluate(() => EditorApp.state.log.map((e) => [e.usage, e.value]));
    assert.deepEqual(lines.slice(-2), [[0x11, 1], [0x11, 0]]);
    assert.match(await page.locator('#test-log').textContent(), /N down · repeats ×\d+.*N up/s);
    await page.click('#test-toggle');
    await editor.until(() => EditorApp.state.testing === false);
    await page.click('#test-clear');
  });

  test('value bands on an axis, with a media key, and the precision button’s speed', async () => {
    const Y = 0x10031;
    const B6 = 0x90006;
    await page.click('#nav-buttons');
    await page.click(`.control-row[data-element="${Y}"]`);
    await page.check('dialog[open] .mode-list input[value="bands"]');
    await page.fill('dialog[open] input[aria-label="Band 1: up to this value"]', '30');
    await page.click('dialog[open] button[aria-label="Change the command of Up to 75 %"]');
    const inner = page.locator('dialog[open]').last();
    await inner.locator('input[name^="kind"][value="media"]').check();
    await inner.locator('.kind-params select').selectOption({ label: 'Volume up' });
    await inner.locator('button[type="submit"]').click();
    await editor.until(() => document.querySelectorAll('dialog[open]').length === 1);
    assert.match(await page.locator('dialog[open] .bands').textContent(), /Volume up/);
    await submitDialog('Apply');

    await page.click(`.control-row[data-element="${B6}"]`);
    await page.locator('dialog[open] input[type="range"]').fill('30');
    assert.equal(await page.locator('dialog[open] output.range-value').textContent(), '30 %');
    await submitDialog('Apply');
    await page.click('#save-button');
    await notice(/Saved “Work”/);

    const { json, first } = saved('Work');
    const bands = first[Y].bands;
    assert.deepEqual(bands.map((b) => Number(b.band)), [30, 75, 100]);
    assert.deepEqual(bands[1].command.actionblocks.map(actionsOf), [[[12, 0xe9, 1, 0], [12, 0xe9, 0, 0]]]);
    const aim = json.controllers[0].controls.find((c) => c.precision !== undefined);
    assert.equal(Number(aim.percentage), 30);
  });

  test('a file to open and an icon, both chosen in the desktop’s choosers', async () => {
    const B8 = 0x90008;
    const picture = join(editor.root, 'my pictures', 'star.png');
    mkdirSync(join(editor.root, 'my pictures'));
    writeFileSync(picture, Buffer.from(PNG_1x1, 'base64'));
    editor.answerChooser('open-file', '/home/me/Documents/notes.txt\n');
    editor.answerChooser('image', picture + '\n');
    await page.click(`.control-row[data-element="${B8}"]`);
    await page.check('dialog[open] .mode-list input[value="command"]');
    await page.check('dialog[open] input[name^="kind"][value="open"]');
    await page.click('dialog[open] button.choose-file');
    await editor.until(() => document.querySelector('dialog[open] .kind-params input.text').value === '/home/me/Documents/notes.txt');
    await page.click('dialog[open] button:has-text("Choose icon…")');
    await editor.until(() => { const img = document.querySelector('dialog[open] img.command-icon'); return img && img.complete && img.naturalWidth > 0; });
    await submitDialog('Apply');
    await editor.until((e) => { const img = document.querySelector(`.control-row[data-element="${e}"] img.control-icon`); return img && img.naturalWidth > 0; }, B8);
    await page.click('#save-button');
    await notice(/Saved “Work”/);
    const command = saved('Work').first[B8].bands[0].command;
    assert.equal(command.icon, picture.replace(/ /g, '%20'));
    assert.deepEqual(command.actionblocks[0].actions.map((a) => a.string || a.path), ['/home/me/Documents/notes.txt']);
    assert.ok(editor.opened().includes('chooser Select File To Open'));
    assert.ok(editor.opened().includes('chooser Select Command Icon'));
  });

  test('the device view: what the mouse is, its settings, the desktop’s settings and German', async () => {
    await page.click('#nav-device');
    await editor.until(() => document.getElementById('device-facts'));
    const facts = await page.locator('#device-facts').textContent();
    assert.match(facts, /Zenvor Demo Mouse/);
    assert.match(facts, /0x5a56:1704/);
    assert.match(await page.locator('#battery').textContent(), /Not reported/);
    await page.selectOption('#setting-PollingRate', '500');
    await notice(/Polling rate is kept/);
    assert.equal(await page.evaluate(() => Page.dev('GetSetting', 'PollingRate')), 500);
    await page.click('#mouse-settings');
    await page.click('#user-guide');
    await page.evaluate(() => Page.ed('profileList'));  // answered after the two calls before it
    const opened = editor.opened();
    assert.ok(opened.some((line) => line.startsWith('mouse-settings')), opened.join('\n'));
    assert.ok(opened.includes('open file:///usr/share/doc/kinetra/README.md'), opened.join('\n'));

    // Keyboard only: the language list, then every text in German.
    await page.focus('#language');
    await page.keyboard.press('End');
    await editor.until(() => document.getElementById('nav-buttons').textContent === 'Tasten');
    assert.equal(await page.evaluate(() => document.documentElement.lang), 'de');
    assert.equal(await page.evaluate(() => Page.dev('GetSetting', 'EditorLanguage')), 2);
    await page.click('#nav-buttons');
    assert.match(await page.locator('.view-buttons h1').textContent(), /Tasten/);
    await editor.screenshots('demo-de', '100');
    await page.click('#nav-device');
    await editor.until(() => document.getElementById('language'));
    await page.selectOption('#language', '');
    await editor.until(() => document.getElementById('nav-buttons').textContent === 'Buttons');
  });

  test('every view is reached and worked with the keyboard alone', async () => {
    for (const view of await page.evaluate(() => EditorViews.list.map((v) => v.id))) {
      await page.focus('#nav-' + view);
      await page.keyboard.press('Enter');
      await editor.until((id) => document.getElementById('nav-' + id).getAttribute('aria-current') === 'page', view);
      await page.focus('#nav-' + view);
      const reached = new Set();
      for (let i = 0; i < 60; i++) {
        await page.keyboard.press('Tab');
        const at = await page.evaluate(() => {
          const el = document.activeElement;
          return el && el.closest('#view') ? (el.id || el.textContent.trim().slice(0, 20) || el.tagName) + (el.checkVisibility() ? '' : ' (hidden)') : null;
        });
        if (at) reached.add(at);
      }
      const focusable = await page.evaluate(() => [...document.querySelectorAll(
        '#view button:not([disabled]), #view select:not([disabled]), #view input:not([disabled]), #view [tabindex="0"]')].length);
      if (focusable) assert.ok(reached.size > 0, view + ': nothing in the view takes the focus');
      assert.deepEqual([...reached].filter((r) => r.endsWith('(hidden)')), [], view);
    }
  });

  test('test mode shows what a press of the mouse would do, and leaves it', async () => {
    await page.click('#nav-test');
    await editor.until(() => EditorApp.state.connected === true);
    await page.click('#test-toggle');
    await editor.until(() => EditorApp.state.testing === true);
    // Button 7: bit 6 of the report's first byte.
    await editor.pressUntilHeard('report 40 00 00 00 00 00 00', 'report 00 00 00 00 00 00 00');
    await editor.until(() => EditorApp.state.log.length >= 2);
    const log = await page.evaluate(() => EditorApp.state.log.map((e) => [e.page, e.usage, e.value]));
    assert.deepEqual(log.slice(0, 2), [[7, 5, 1], [7, 5, 0]]);
    assert.match(await page.locator('#test-log').textContent(), /B down.*B up/s);
    await page.click('#test-toggle');
    await editor.until(() => EditorApp.state.testing === false);
  });

  test('a macro is recorded with its timing, edited, and saved with its delays', async () => {
    await page.click('#nav-buttons');
    await page.click(`.control-row[data-element="${B3}"]`);
    await page.check('dialog[open] .mode-list input[value="command"]');
    await page.check('dialog[open] input[name^="kind"][value="macro"]');
    const rows = page.locator('dialog[open] .action-row');
    while (await rows.count()) await rows.first().locator('button.remove').click();
    await page.click('dialog[open] button.record');
    await editor.until(() => /Stop/.test(document.querySelector('dialog[open] button.record').textContent));
    editor.feedKeys('KEY_H 1 1000', 'KEY_H 1 1030', 'KEY_H 0 1080', 'KEY_I 1 1200', 'KEY_I 0 1250');
    await editor.until(() => document.querySelectorAll('dialog[open] .action-row').length === 4);
    await page.click('dialog[open] button.record');
    // The third action waits longer; the second goes first.
    await page.fill('input[aria-label="Delay before action 3 in milliseconds"]', '300');
    await page.press('input[aria-label="Delay before action 3 in milliseconds"]', 'Tab');
    await page.click('button[aria-label="Move action 2 up"]');
    await page.click('dialog[open] [role="tab"]:has-text("When released")');
    await page.selectOption('dialog[open] select[aria-label="Action to add"]', 'scroll');
    await page.selectOption('dialog[open] select[aria-label="Direction"]', 'down');
    await page.click('dialog[open] .add-action button');
    await page.locator('dialog[open] .command-editor > label.field input.text').fill('Hi');
    await page.click('dialog[open] button[type="submit"]');
    await editor.until(() => !document.querySelector('dialog[open]'));
    assert.equal(await page.locator(`.control-row[data-element="${B3}"] .control-does`).textContent(), 'Hi');
    await page.click('#save-button');
    await notice(/Saved “Work”/);
    const command = saved('Work').first[B3].bands[0].command;
    assert.equal(command.name, 'Hi');
    const [press, release] = command.actionblocks;
    assert.deepEqual(actionsOf(press), [[7, 0x0b, 0, 80], [7, 0x0b, 1, 0], [7, 0x0c, 1, 300], [7, 0x0c, 0, 50]]);
    assert.equal(release.type, 'release');
    assert.deepEqual(actionsOf(release), [[1, 0x38, WHEEL_DOWN, 0]]);
  });

  test('a library command is applied, and a button’s command kept as a favourite', async () => {
    await page.click('#nav-commands');
    await page.click('button[aria-label="Apply Copy…"]');
    await page.selectOption('dialog[open] select[aria-label="Control"]', String(0x90004));
    await submitDialog('Apply');
    await page.click('#save-button');
    await notice(/Saved “Work”/);
    const copy = saved('Work').first[0x90004].bands[0].command;
    assert.equal(copy.name, 'Copy');
    assert.deepEqual(copy.actionblocks.map(actionsOf)[0].map((a) => a[1]).sort((a, b) => a - b), [0x06, 0x06, 0xe0, 0xe0]);

    await page.click('#nav-buttons');
    await page.click(`.control-row[data-element="${B3}"]`);
    await page.click('dialog[open] button:has-text("Save as favourite…")');
    const named = page.locator('dialog[open]').last();
    await named.locator('input').fill('Greeting');
    await named.locator('button[type="submit"]').click();
    await notice(/Saved “Greeting” as a favourite/);
    await page.locator('dialog[open] .dialog-buttons button', { hasText: 'Cancel' }).click();
    const favourites = JSON.parse(await bridge('favoriteCommandJSON'));
    assert.equal(JSON.stringify(favourites).includes('Greeting'), true);
    assert.ok(existsSync(join(editor.home, '.local/share/Kinetra/Common/Favourites.xml')));
    await page.click('#nav-commands');
    assert.match(await page.locator('.command-card').first().textContent(), /Greeting/);
  });

  test('a linked application follows its profile’s rename, and is unlinked', async () => {
    await page.click('#nav-apps');
    assert.equal(await page.locator('#focus-status').count(), 0, 'links fire here: nothing to say');
    editor.answerChooser('applications', '/bin/sh\n');
    await page.click('#link-app');
    await editor.until(() => document.querySelector('.app-row'));
    // Linked as the program the path leads to, as the focus providers report it.
    const shell = 'file:' + realpathSync('/bin/sh');
    assert.deepEqual(await bridge('appsLinkedToProfile', 'Work'), [shell]);

    await page.click('#nav-profiles');
    for (const [from, to] of [['Work', 'Office'], ['Office', 'Work']]) {
      await page.click(`button[aria-label="Rename ${from}"]`);
      await page.locator('dialog[open] input').fill(to);
      await page.locator('dialog[open] button[type="submit"]').click();
      await notice(new RegExp(`Renamed “${from}” to “${to}”`));
      assert.deepEqual(await bridge('appsLinkedToProfile', to), [shell]);
      assert.deepEqual(await bridge('appsLinkedToProfile', from), []);
    }
    assert.match(readFileSync(join(folder(), 'mappings.xml'), 'utf8'), /<string>Work<\/string>/);

    await page.click('#nav-apps');
    await page.click('.app-row button');
    await editor.until(() => !document.querySelector('.app-row'));
    assert.deepEqual(await bridge('appsLinkedToProfile', 'Work'), []);
  });

  test('leaving a profile with unsaved changes asks first', async () => {
    await page.click('#nav-buttons');
    await page.click(`.control-row[data-element="${B7}"]`);
    await page.check('dialog[open] input[name^="kind"][value="mouse"]');
    await page.click('dialog[open] button[type="submit"]');
    await editor.until(() => !document.querySelector('dialog[open]'));
    const before = readFileSync(join(folder(), 'Work.pr0'));

    await page.selectOption('#profile-select', 'Default');
    await editor.until(() => document.querySelector('dialog[open]'));
    assert.match(await page.locator('dialog[open]').textContent(), /Save the changes to “Work”/);
    await submitDialog('Cancel');
    assert.equal(await edited(), 'Work');
    assert.equal(await page.inputValue('#profile-select'), 'Work');
    assert.match(await page.locator('.unsaved').textContent(), /Unsaved/);

    await page.selectOption('#profile-select', 'Default');
    await submitDialog('Don’t save');
    await editor.until(() => EditorApp.state.edited === 'Default');
    assert.deepEqual(readFileSync(join(folder(), 'Work.pr0')), before, 'nothing was written');
    await page.selectOption('#profile-select', 'Work');
    await editor.until(() => EditorApp.state.edited === 'Work');
    assert.equal(await page.locator(`.control-row[data-element="${B7}"] .control-does`).textContent(), 'B');
  });

  test('a shift state held by a button, falling back to the first, switches the mouse', async () => {
    await page.click('#nav-states');
    await page.click('#add-state');
    await page.locator('dialog[open] input').fill('Game');
    await page.locator('dialog[open] button[type="submit"]').click();
    const card = page.locator('article.state-card[aria-label="Shift state Game"]');
    await card.locator('label.check', { hasText: 'Button 5' }).locator('input').check();
    const first = await page.evaluate(() => EditorApp.doc.shifts()[0].shift);
    await card.locator('select[aria-label="Falls back to"]').selectOption(first);

    await page.click('#nav-buttons');
    await page.locator('.shift-switcher button', { hasText: 'Game' }).click();
    assert.equal(await page.locator(`.control-row[data-element="${B7}"] .control-does`).textContent(), 'Default: B',
                 'Game shows what it leaves to its fallback, and from where');
    await page.click(`.control-row[data-element="${B7}"]`);
    await page.check('dialog[open] .mode-list input[value="command"]');
    await page.check('dialog[open] input[name^="kind"][value="key"]');
    await page.selectOption('dialog[open] select[aria-label="Key"]', '6');
    await page.locator('dialog[open] .command-editor > label.field input.text').fill('');
    await page.click('dialog[open] button[type="submit"]');
    await page.click('#save-button');
    await notice(/Saved “Work”/);

    const { json, shifts } = saved('Work');
    const game = json.controllers[0].shifts.find((x) => x.name === 'Game');
    assert.equal(game.fallback, first);
    assert.match(JSON.stringify(game.selectionset), new RegExp(String(0x90005)));
    assert.deepEqual(actionsOf(shifts.Game[B7].bands[0].command.actionblocks[0]), [[7, 6, 1, 0], [7, 6, 0, 0]]);

    // Button 5 held, button 7 pressed: the Game state's C.
    await page.click('#nav-test');
    await page.click('#test-clear');
    await page.click('#test-toggle');
    await editor.until(() => EditorApp.state.testing === true);
    editor.feedMouse('report 10 00 00 00 00 00 00');
    editor.feedMouse('report 50 00 00 00 00 00 00');
    editor.feedMouse('report 10 00 00 00 00 00 00');
    editor.feedMouse('report 00 00 00 00 00 00 00');
    await editor.until(() => EditorApp.state.log.some((e) => e.page === 7 && e.usage === 6 && e.value === 0));
    const keys = await page.evaluate(() => EditorApp.state.log.filter((e) => e.page === 7).map((e) => [e.usage, e.value]));
    assert.deepEqual(keys, [[6, 1], [6, 0]]);
    await page.click('#test-toggle');
    await editor.until(() => EditorApp.state.testing === false);
  });

  test('screenshots of every view at 100 %', async () => {
    assert.equal((await editor.screenshots('demo', '100')).length, 18);
  });

  test('the active profile set by another program is shown', async () => {
    await page.click('#nav-profiles');
    await page.check('input[aria-label="Active: Work"]');
    await editor.until(() => EditorApp.state.active === 'Work');
    assert.equal(await bridge('getActiveProfile'), 'Work');
    const result = spawnSync(process.env.KINETRA, ['use', 'Default', '--device', 'DemoMouse'],
                             { env: editor.kinetraEnv, encoding: 'utf8' });
    assert.equal(result.status, 0, result.stderr);
    await notice(/Another program made “Default” the active profile/);
    assert.ok(await page.isChecked('input[aria-label="Active: Default"]'));
    assert.equal(await bridge('getActiveProfile'), 'Default');
  });

  test('the start-up profile, none, and a reset to the defaults', async () => {
    await page.check('input[aria-label="Start-up: Work"]');
    await editor.until(() => EditorApp.state.startup === 'Work');
    assert.equal(await bridge('startupProfile'), 'Work');
    await page.check('input[aria-label="Start-up: none"]');
    await editor.until(() => EditorApp.state.startup === '');
    assert.equal(await bridge('startupProfile'), '');

    await page.click('#reset-profile');
    await submitDialog('Reset');
    await editor.until(() => /Unsaved/.test(document.querySelector('.unsaved').textContent));
    assert.ok(saved('Work').first[B7], 'nothing is written before the save');
    await page.click('#save-button');
    await notice(/Saved “Work”/);
    assert.equal(saved('Work').first[B7], undefined);
  });

  test('a profile is deleted, and the first one cannot be', async () => {
    assert.ok(await page.isDisabled('button[aria-label="Delete Default"]'));
    await page.click('button[aria-label="Delete Work"]');
    await submitDialog('Delete');
    await notice(/Deleted “Work”/);
    assert.deepEqual(await bridge('profileList'), ['Default']);
    assert.equal(await edited(), 'Default');
    assert.ok(!existsSync(join(folder(), 'Work.pr0')));
  });

  test('a refused save is shown and the changes stay', async () => {
    await page.click('#nav-profiles');
    await page.click('#new-profile');
    await editor.until(() => EditorApp.state.edited === 'Untitled1');
    await page.click('#nav-buttons');
    await page.click(`.control-row[data-element="${B7}"]`);
    await page.check('dialog[open] .mode-list input[value="command"]');
    await page.check('dialog[open] input[name^="kind"][value="mouse"]');
    await page.click('dialog[open] button[type="submit"]');
    // A folder where the profile's file goes: the store cannot replace it.
    const { rmSync } = await import('node:fs');
    rmSync(join(folder(), 'Untitled1.pr0'));
    mkdirSync(join(folder(), 'Untitled1.pr0'));
    await page.click('#save-button');
    await notice(/could not be saved/);
    assert.match(await page.locator('.unsaved').textContent(), /Unsaved/);
  });

  test('no errors reached the console', () => {
    assert.deepEqual(errors, []);
  });
});

// 200 % zoom as the desktop gives it: twice the device pixels, half the CSS pixels, so
// the page's layout for narrow windows applies.
describe('the profile editor page at 200 % zoom', () => {
  let editor;
  before(async () => {
    editor = await Editor.start({ env: { QT_SCALE_FACTOR: '2' } });
    await editor.until(() => window.EditorApp && EditorApp.state.doc !== null);
    await editor.page.evaluate(() => Page.ed('displayAtMouseWithSize', 450, 338));
    await editor.until(() => innerWidth === 450 && devicePixelRatio === 2);
  });
  after(async () => { if (editor) await editor.stop(); });

  test('screenshots of every view', async () => {
    assert.equal((await editor.screenshots('demo', '200')).length, 18);
    const sideways = await editor.page.evaluate(() => document.documentElement.scrollWidth > innerWidth);
    assert.equal(sideways, false, 'nothing runs off the side');
  });
});

// A desktop that does not tell which application has the focus: the Applications view
// says why and what to do instead, and offers no link that would never fire.
describe('the Applications view without a focus provider', () => {
  let editor;
  before(async () => {
    editor = await Editor.start({ env: { KINETRA_FOCUS_FIFO: '/dev/null' } });
    await editor.until(() => window.EditorApp && EditorApp.state.doc !== null);
  });
  after(async () => { if (editor) await editor.stop(); });

  test('says why links do not fire, and offers none', async () => {
    await editor.page.click('#nav-apps');
    await editor.until(() => document.getElementById('focus-status'));
    const text = await editor.page.locator('#focus-status').textContent();
    assert.match(text, /not a FIFO/);
    assert.match(text, /kinetra use NAME/);
    assert.equal(await editor.page.locator('#link-app').count(), 0);
    const status = await editor.page.evaluate(() => Page.ed('focusStatus'));
    assert.deepEqual([status.canLink, status.linksWork], [false, false]);
  });
});
