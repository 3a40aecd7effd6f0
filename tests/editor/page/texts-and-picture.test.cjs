// The page's texts in both languages, and where the picture puts any mouse's controls.
'use strict';
const assert = require('node:assert/strict');
const { readdirSync, readFileSync } = require('node:fs');
const { join } = require('node:path');
const { describe, test } = require('node:test');

const page = process.env.PAGE_RESOURCES || join(__dirname, '../../../editor/page');
const strings = require(join(page, 'strings.js'));
const hid = require(join(page, 'hid.js'));
const picture = require(join(page, 'picture-layout.js'));

const placeholders = (text) => (text.match(/\{\w+\}/g) || []).sort();

describe('the page speaks English and German completely', () => {
  const { en, de } = strings.TEXTS;

  test('every text has both languages, with the same placeholders', () => {
    assert.deepEqual(Object.keys(de.ui).sort(), Object.keys(en.ui).sort());
    for (const key of Object.keys(en.ui)) {
      assert.deepEqual(placeholders(de.ui[key]), placeholders(en.ui[key]), key);
      assert.notEqual(de.ui[key].trim(), '', key);
    }
  });

  test('every text the page asks for exists', () => {
    const asked = new Set();
    for (const file of readdirSync(page).filter((f) => f.endsWith('.js') && !f.startsWith('strings'))) {
      const source = readFileSync(join(page, file), 'utf8').replace(/^\s*\/\/.*$/gm, '');
      for (const [, key] of source.matchAll(/\bt\('([\w.]*\w)'/g)) asked.add(key);
      // Keys held in tables (views' labels, kinds of actions, macro parts).
      for (const [, key] of source.matchAll(/'((?:nav|kind|add|macro|device)\.\w+)'/g)) if (key !== 'nav.sidebar') asked.add(key);
    }
    assert.ok(asked.size > 300, 'the page’s texts are found');
    assert.deepEqual([...asked].filter((key) => !(key in en.ui)), []);
  });

  test('every name of a key, button or direction is German too', () => {
    assert.deepEqual(hid.translatableNames().filter((name) => !(name in de.names)), []);
  });

  test('the language follows the editor’s locale, English when the page lacks it', () => {
    try {
      assert.equal(strings.setLanguage('de'), 'de');
      assert.equal(hid.describeAction(7, 0x4e, 1, ''), 'Bild ab gedrückt');
      assert.equal(strings.t('name.taken', { name: 'Spiel' }), '„Spiel“ ist schon vergeben: Wählen Sie einen anderen Namen.');
      assert.equal(strings.setLanguage('zh-CHT'), 'en');
      assert.equal(hid.describeAction(7, 0x4e, 2, ''), 'Page Down repeats');
    } finally {
      strings.setLanguage('en');
    }
  });
});

describe('the picture of any mouse', () => {
  const button = (n) => ({ element: hid.element.button(n), kind: 'button' });
  const generic = [1, 2, 3, 4, 5].map(button).concat([
    { element: hid.element.WHEEL, kind: 'wheel' }, { element: hid.PAN, kind: 'wheel' }]);
  const demoLayout = readFileSync(join(__dirname, '../../../data/Devices/DemoMouse.bundle/Contents/Resources/Layout.json'), 'utf8');
  const demo = Array.from({ length: 16 }, (_, i) => (i + 1 === 6 ? { element: hid.element.button(6), kind: 'precision' } : button(i + 1)))
    .concat([{ element: hid.element.WHEEL, kind: 'wheel' }, { element: hid.element.HAT, kind: 'hat' },
      { element: hid.element.X, kind: 'axis' }, { element: hid.element.Y, kind: 'axis' }]);

  // Each control gets a spot on the drawing, and no two callouts of a side overlap.
  function checkPlaced(drawing, controls) {
    assert.equal(drawing.items.length, controls.length);
    for (const item of drawing.items) {
      assert.ok(item.spot.x >= 0 && item.spot.x <= picture.WIDTH && item.spot.y >= 0 && item.spot.y <= picture.HEIGHT);
    }
    for (const side of ['left', 'right']) {
      const ys = drawing.items.filter((i) => i.side === side).map((i) => i.y).sort((a, b) => a - b);
      for (let i = 1; i < ys.length; i++) assert.ok(ys[i] - ys[i - 1] >= picture.ROW - 1e-9, side + ' callouts overlap');
      if (ys.length) assert.ok(ys[ys.length - 1] + picture.ROW <= picture.HEIGHT + 2, side + ' callouts run off the foot');
    }
  }

  test('a generic five-button mouse: buttons 4 and 5 along the thumb side, wheel and pan on the middle line', () => {
    const drawing = picture.layout(generic, null);
    checkPlaced(drawing, generic);
    const at = (element) => drawing.items.find((i) => i.control.element === element);
    assert.equal(drawing.body, picture.GENERIC.body);
    assert.ok(at(hid.element.button(1)).spot.x < 300 && at(hid.element.button(2)).spot.x > 300);
    for (const n of [4, 5]) assert.equal(at(hid.element.button(n)).side, 'left');
    assert.equal(at(hid.PAN).spot.shape, 'pan');
    assert.ok(at(hid.PAN).spot.y < at(hid.element.WHEEL).spot.y, 'the tilt sits above the wheel');
  });

  test('the demo mouse keeps its own drawing through its layout file', () => {
    const parsed = picture.parseLayout(demoLayout);
    assert.deepEqual(parsed.problems, []);
    const drawing = picture.layout(demo, parsed);
    checkPlaced(drawing, demo);
    assert.notEqual(drawing.body, picture.GENERIC.body);
    assert.deepEqual(drawing.items.find((i) => i.control.element === hid.element.button(4)).spot,
                     { x: 218, y: 236, shape: 'button', mark: '4' });
  });

  test('a damaged layout falls back control by control and says what it left out', () => {
    for (const text of ['{', '[]', '{"body": "<script>", "controls": {"0x90004": {"x": "a"}, "nope": {}}}', '{"controls": 5}']) {
      const parsed = picture.parseLayout(text);
      const drawing = picture.layout(generic, parsed);
      checkPlaced(drawing, generic);
      assert.equal(drawing.body, picture.GENERIC.body, text);
    }
    assert.equal(picture.parseLayout('{"controls": {"0x90004": {"x": "a"}, "nope": {}}}').problems.length, 2);
  });
});
