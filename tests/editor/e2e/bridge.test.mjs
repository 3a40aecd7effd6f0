// The editor's bridge end to end: the real editor (`tessel --devel`) on the simulated
// mouse, its own web engine driven over the DevTools protocol, the bridge test page of
// the demo bundle.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { writeFileSync, readFileSync, existsSync, realpathSync } from 'node:fs';
import { join } from 'node:path';
import { deflateSync } from 'node:zlib';
import { after, before, describe, test } from 'node:test';
import { Editor } from './harness.mjs';

// A PNG of `width` × `height` red pixels.
function png(width, height) {
  const crcTable = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const crc = (bytes) => {
    let c = 0xffffffff;
    for (const b of bytes) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
  };
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
    const length = Buffer.alloc(4);
    length.writeUInt32BE(data.length);
    const sum = Buffer.alloc(4);
    sum.writeUInt32BE(crc(body));
    return Buffer.concat([length, body, sum]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, 2, 0, 0, 0], 8);  // 8-bit RGB
  const row = Buffer.concat([Buffer.from([0]), Buffer.alloc(width * 3, Buffer.from([255, 0, 0]))]);
  const pixels = deflateSync(Buffer.concat(Array(height).fill(row)));
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', header),
                        chunk('IDAT', pixels), chunk('IEND', Buffer.alloc(0))]);
}
const PNG = png(2, 3);

describe('tessel --devel with the bridge test page', () => {
  let editor;
  before(async () => { editor = await Editor.start({ page: 'BridgeTest.html' }); });
  after(async () => { if (editor) await editor.stop(); });

  test('the page hears update, then profileRenamed, and is shown only after them', async () => {
    const events = await editor.page.evaluate(() => bridgeTest.events.slice(0, 2));
    assert.deepEqual(events.map((e) => e.name), ['editor:update', 'editor:profileRenamed']);
    assert.deepEqual(events.map((e) => e.visibility), ['hidden', 'hidden']);
    await editor.until(() => document.visibilityState === 'visible');
    const names = await editor.events();
    assert.ok(!names.includes('deviceConnectComplete'), 'the plain controller never completes');
  });

  test('test mode turns a press of the simulated mouse into an action call', async () => {
    await editor.until(async () => (await device.connected()) === true);
    await editor.call('setDeviceActionCallback', 'onDeviceAction');
    // The driver takes the profile's buttons over shortly after the connection is
    // reported: until then a press reaches the desktop and not the profile, so press
    // again until the page hears the action (each wait ends when it does).
    let action;
    for (let press = 0; press < 20 && !action; press++) {
      const from = await editor.eventCount();
      editor.feedMouse('report 08 00 00 00 00 00 00');
      editor.feedMouse('report 00 00 00 00 00 00 00');
      action = await editor.waitForEvent('action', from, 1000).catch(() => undefined);
    }
    assert.ok(action, 'no action from the simulated press');
    assert.deepEqual(action.detail, { kind: 'action', page: 7, usage: 0x4e, value: 1, text: '' });
    assert.equal(action.detail.kind, 'action');
    assert.equal(typeof action.detail.page, 'number');
    assert.equal(typeof action.detail.text, 'string');
    await editor.call('setDeviceActionCallback', '');
  });

  test('every read-only operation answers', async () => {
    const results = await editor.page.evaluate(() => bridgeTest.runAll());
    assert.ok(results['editor.profileList'].includes('Default'));
    assert.equal(results['editor.profileList'][0], 'Default');
    assert.equal(results['editor.getActiveProfile'], 'Default');
    assert.equal(typeof results['editor.startupProfile'], 'string');
    assert.equal(JSON.parse(results['editor.profileJSON']).profile, 'Default');
    assert.deepEqual(results['editor.appsLinkedToProfile'], []);
    assert.equal(typeof results['editor.appNameAtPath'], 'string');
    assert.equal(typeof results['editor.commandXML'], 'string');
    assert.equal(results['editor.favoriteCommandJSON'], null);
    assert.equal(results['editor.downloadPercentage'], 0);
    assert.equal(results['editor.updateVersion'], null);
    assert.equal(results['editor.languageNameForLocale'], 'Deutsch');
    assert.equal(results['editor.currentLocale'], 'en');
    assert.equal(results['device.GetName'], 'Zenvor Demo Mouse');
    assert.equal(results['device.GetAlias'], 'DemoMouse');
    assert.equal(results['device.GetBrand'], 'Zenvor');
    assert.equal(results['device.GetVID'], 0x5a56);
    assert.equal(results['device.GetPID'], 0x1704);
    assert.equal(results['device.GetType'], 1);
    assert.equal(results['device.GetBatteryLifeYears'], null);
    assert.equal(results['device.GetSetting'], 0);
    assert.equal(JSON.parse(results['device.controlDescriptionJSON']) instanceof Object, true);
    assert.equal(await editor.call('appNameAtPath', '/no/such/program'), null);
  });

  test('profiles: new, rename, JSON, active, start-up, reset, delete', async () => {
    let from = await editor.eventCount();
    await editor.call('newProfile');
    await editor.waitForEvent('editor:update', from);
    assert.ok((await editor.call('profileList')).includes('Untitled1'));
    assert.equal(JSON.parse(await editor.call('profileJSON')).profile, 'Untitled1');

    await editor.call('renameProfile', 'Untitled1', 'Mine');
    await editor.until(async () => (await editor.profileList()).includes('Mine'));
    const json = JSON.parse(await editor.call('profileJSON'));
    assert.equal(json.profile, 'Mine', 'the edited profile follows its rename');

    json.controllers[0].controls[3].name = 'edited through the bridge';
    await editor.call('setProfileJSON', JSON.stringify(json));
    const file = join(editor.home, '.local/share/Kinetra/DemoMouse/Mine.pr0');
    assert.ok(existsSync(file));
    const text = readFileSync(file).toString('utf16le');
    assert.match(text, /edited through the bridge/);
    await editor.call('setProfileJSON', '{ not json');
    assert.match(readFileSync(file).toString('utf16le'), /edited through the bridge/,
                 'text that is not JSON leaves the profile and its file as they were');

    from = await editor.eventCount();
    await editor.call('setActiveProfile', 'Mine');
    await editor.waitForEvent('editor:activeProfileChanged', from);
    assert.equal(await editor.call('getActiveProfile'), 'Mine');
    await editor.call('setStartupProfile', 'Mine');
    assert.equal(await editor.call('startupProfile'), 'Mine');

    from = await editor.eventCount();
    await editor.call('resetProfile');
    await editor.waitForEvent('editor:update', from);
    await editor.call('save');

    await editor.call('deleteProfile', 'Default');
    assert.ok((await editor.call('profileList')).includes('Default'), 'the first profile stays');
    from = await editor.eventCount();
    await editor.call('setActiveProfile', 'Default');
    await editor.call('deleteProfile', 'Mine');
    await editor.waitForEvent('editor:update', from);
    assert.ok(!(await editor.call('profileList')).includes('Mine'));
    assert.equal(JSON.parse(await editor.call('profileJSON')).profile, 'Default');
    await editor.call('setProfile', 'No such profile');
    assert.equal(JSON.parse(await editor.call('profileJSON')).profile, 'Default');
  });

  test('application links, favourites, choosers and the desktop', async () => {
    editor.answerChooser('applications', '/bin/sh\n');
    await editor.call('openAppLinkDialogForProfile', 'Default');
    const links = await editor.call('appsLinkedToProfile', 'Default');
    // Linked as the program the path leads to, as the focus providers report it.
    const shell = realpathSync('/bin/sh');
    assert.deepEqual(links, ['file:' + shell]);
    assert.equal(typeof (await editor.call('appNameAtPath', links[0])), 'string');
    await editor.call('unlinkAppFromProfile', shell, 'Default');
    assert.deepEqual(await editor.call('appsLinkedToProfile', 'Default'), []);

    await editor.call('setFavouriteCommandJSON', '<favourites>ü</favourites>');
    assert.equal(await editor.call('favoriteCommandJSON'), '<favourites>ü</favourites>');

    const picture = join(editor.root, 'my picture.png');
    writeFileSync(picture, PNG);
    editor.answerChooser('image', picture);
    assert.equal(await editor.call('browseForImagePath'), picture.replace(' ', '%20'));
    editor.answerChooser('image', '');
    assert.equal(await editor.call('browseForImagePath'), '');

    await editor.call('openURL', 'https://example.org/help');
    await editor.call('systemMouseSettings');
    const opened = editor.opened();
    assert.ok(opened.includes('chooser Select App To Link'));
    assert.ok(opened.includes('chooser Select Command Icon'));
    assert.ok(opened.includes('open https://example.org/help'));
    assert.ok(opened.some((line) => line.startsWith('mouse-settings')));

    await editor.call('startUpdateDownload');
    await editor.call('installUpdate');
    assert.equal(await editor.call('updateIsDownloaded'), null);
  });

  test('pictures load through the icon scheme, whatever the case of its name', async () => {
    const picture = join(editor.root, 'icon picture.png');
    writeFileSync(picture, PNG);
    for (const scheme of ['icon', 'ICON', 'Icon']) {
      const size = await editor.page.evaluate(async (url) => {
        const image = new Image();
        image.src = url;
        await image.decode();
        return [image.naturalWidth, image.naturalHeight];
      }, `${scheme}:${encodeURI(picture)}`);
      assert.deepEqual(size, [2, 3], scheme);
    }
    // A path with nothing to show answers no picture at all.
    const missing = await editor.page.evaluate((url) => new Promise((resolve) => {
      const image = new Image();
      image.onload = () => resolve('loaded');
      image.onerror = () => resolve('error');
      image.src = url;
    }), 'icon:/no/such/picture.png');
    assert.equal(missing, 'error');
  });

  test('child windows are numbered and reached by number', async () => {
    assert.equal(await editor.call('createHTMLWindow', { file: 'BridgeTest.html' }), 1);
    assert.equal(await editor.call('createHTMLWindow', { nofile: true }), 1);
    assert.equal(await editor.call('createHTMLWindow', { file: '../../../Info.plist' }), 1);
    const child = await editor.findPage(/BridgeTest\.html$/, (p) => p !== editor.page);
    assert.ok(child);
  });

  test('a profile made current by another process reaches the page', async () => {
    await editor.call('newProfile');
    await editor.until(async () => (await editor.profileList()).includes('Untitled1'));
    const from = await editor.eventCount();
    const tree = join(editor.root, 'tree');
    const result = spawnSync(process.env.KINETRA, ['use', 'Untitled1', '--device', 'DemoMouse'], {
      env: { ...process.env, KINETRA_HOME: join(tree, 'home'), KINETRA_DATA_ROOT: join(tree, 'data'),
             KINETRA_RUNTIME_DIR: join(tree, 'run'), KINETRA_SERVICES_DIR: join(tree, 'services') },
      encoding: 'utf8',
    });
    assert.equal(result.status, 0, result.stderr);
    await editor.waitForEvent('editor:activeProfileChanged', from);
    assert.equal(await editor.call('getActiveProfile'), 'Untitled1');
  });

  test('close sends closing and ends the editor', async () => {
    await editor.page.evaluate(() => { editor.close(); });
    const [code] = await editor.exited;
    assert.equal(code, 0, editor.child.log);
  });
});
