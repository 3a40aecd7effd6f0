// Where the controls of a mouse sit on its picture, seen from above, and where their
// callouts go. Any mouse: the device's controls decide the spots — the left and right
// buttons at the front, the middle button behind the wheel, the pan (tilt) above it, the
// side buttons along the thumb side, further buttons along the other side. A device
// bundle may give its own drawing and spots in a layout file ("EditorLayout" of its
// Info.plist, read through the editor):
//
//   { "body":  "M300,38 C… Z",               the outline, in a 600 × 500 drawing
//     "seams": "M300,38 L300,172 …",          lines drawn on the body (optional)
//     "controls": { "0x90004": {"x": 218, "y": 236},
//                   "0x10038": {"x": 300, "y": 92, "shape": "wheel"},
//                   "0x9000a": {"x": 270, "y": 334, "side": "right"} } }
//
// Elements are keys in hexadecimal ("0x90004") or decimal; "shape" is button, wheel, pan,
// hat or axis (default: from the control's kind); "side" puts the callout left or right
// (default: the side of the spot). Whatever the file holds that does not fit is left out,
// and the control falls back to its generic spot.
//
// Plain data and functions: loaded by the page as a classic script (KinetraPictureLayout)
// and by node's test runner as a CommonJS module.
(function (root, factory) {
  'use strict';
  const hid = typeof require === 'function' ? require('./hid.js') : root.KinetraHid;
  const strings = typeof require === 'function' ? require('./strings.js') : root.KinetraStrings;
  const api = factory(hid, strings);
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.KinetraPictureLayout = api;
})(typeof self !== 'undefined' ? self : this, function (hid, strings) {
  'use strict';
  const { t } = strings;

  const WIDTH = 600;
  const HEIGHT = 500;
  const CENTER = WIDTH / 2;
  const ROW = 38;  // one callout: its label and what the control does
  const TOP = 12;
  const SHAPES = ['button', 'wheel', 'pan', 'hat', 'axis'];
  const PAN = hid.PAN;

  // The generic mouse: a plain symmetric outline and the line between the two buttons.
  const GENERIC = {
    body: 'M300,44 C356,44 384,96 386,176 L388,332 C390,420 350,460 300,460 ' +
          'C250,460 210,420 212,332 L214,176 C216,96 244,44 300,44 Z',
    seams: 'M300,44 L300,168 M215,172 C252,184 348,184 385,172',
  };

  const isButton = (element) => (element >>> 16) === hid.BUTTONS;
  const buttonNumber = (element) => (isButton(element) ? element & 0xffff : 0);

  // The shape a control is drawn as, from its kind and element.
  function shapeOf(control) {
    if (control.element === PAN) return 'pan';
    if (control.kind === 'wheel' || control.kind === 'hat' || control.kind === 'axis') return control.kind;
    if (control.kind === 'motion') return 'axis';
    return 'button';
  }

  function markOf(control, shape) {
    if (shape === 'axis') {
      if (control.element === hid.element.X) return '↔';
      if (control.element === hid.element.Y) return '↕';
      return '⤡';
    }
    if (shape !== 'button') return '';
    const n = buttonNumber(control.element);
    return n ? String(n) : control.kind === 'precision' ? 'P' : '•';
  }

  // Generic spots: fixed places for the usual controls, then the side buttons down the
  // thumb side and any others down the far side.
  function genericSpots(controls) {
    const spots = new Map();
    const thumb = [];
    const far = [];
    let axes = 0;
    for (const control of controls) {
      const e = control.element;
      const n = buttonNumber(e);
      const shape = shapeOf(control);
      if (n === 1) spots.set(e, { x: 256, y: 112 });
      else if (n === 2) spots.set(e, { x: 344, y: 112 });
      else if (n === 3) spots.set(e, { x: 300, y: 150 });
      else if (shape === 'wheel' && e === hid.element.WHEEL) spots.set(e, { x: 300, y: 98 });
      else if (shape === 'pan') spots.set(e, { x: 300, y: 60 });
      else if (shape === 'hat') spots.set(e, { x: 300, y: 204 });
      else if (shape === 'axis') spots.set(e, { x: 350, y: 410 - 38 * axes++ });
      else if (control.kind === 'precision') spots.set(e, { x: 226, y: 190 });
      else if (n >= 4 && n <= 9) thumb.push(control);
      else far.push(control);
    }
    // Side buttons: two rows along the thumb side when there are many.
    thumb.forEach((control, i) => {
      const perColumn = thumb.length > 4 ? Math.ceil(thumb.length / 2) : thumb.length;
      const column = Math.floor(i / perColumn);
      const row = i % perColumn;
      spots.set(control.element, { x: 222 + column * 28, y: 236 + row * 34 });
    });
    far.forEach((control, i) => {
      spots.set(control.element, { x: 378 - Math.floor(i / 6) * 28, y: 236 + (i % 6) * 34 });
    });
    return spots;
  }

  function number(value, low, high) {
    return typeof value === 'number' && Number.isFinite(value) && value >= low && value <= high ? value : null;
  }

  // A path of the drawing: SVG path data only (letters, numbers, separators).
  function pathData(value) {
    return typeof value === 'string' && value.length <= 20000 && /^[MmLlHhVvCcSsQqTtAaZz0-9.,\s-]+$/.test(value)
      ? value : null;
  }

  // The layout file's text → {body, seams, spots: Map(element → spot), problems}. Never
  // throws: what does not fit is left out and named in `problems`.
  function parseLayout(text) {
    const out = { body: null, seams: null, spots: new Map(), problems: [] };
    if (typeof text !== 'string' || !text.trim()) return out;
    let json;
    try {
      json = JSON.parse(text);
    } catch (e) {
      out.problems.push(t('layout.notJSON', { message: e.message }));
      return out;
    }
    if (!json || typeof json !== 'object' || Array.isArray(json)) {
      out.problems.push(t('layout.notObject'));
      return out;
    }
    out.body = pathData(json.body);
    out.seams = pathData(json.seams);
    if (json.body !== undefined && !out.body) out.problems.push(t('layout.body'));
    const controls = json.controls && typeof json.controls === 'object' ? json.controls : {};
    for (const [key, value] of Object.entries(controls)) {
      const element = /^0x[0-9a-f]{1,8}$/i.test(key) ? parseInt(key, 16) : /^[0-9]{1,10}$/.test(key) ? Number(key) : NaN;
      const x = value && number(value.x, 0, WIDTH);
      const y = value && number(value.y, 0, HEIGHT);
      if (!Number.isInteger(element) || element <= 0 || element > 0xffffffff || x === null || y === null) {
        out.problems.push(t('layout.control', { key }));
        continue;
      }
      const spot = { x, y };
      if (SHAPES.includes(value.shape)) spot.shape = value.shape;
      if (value.side === 'left' || value.side === 'right') spot.side = value.side;
      out.spots.set(element >>> 0, spot);
    }
    return out;
  }

  // Each callout as near its spot's height as the ones above allow, then pushed back up
  // from the bottom edge; a column longer than the drawing is spread over it evenly.
  function placeColumn(column) {
    column.sort((a, b) => a.spot.y - b.spot.y);
    const room = HEIGHT - TOP;
    if (column.length * ROW > room) {
      const step = room / column.length;
      column.forEach((item, i) => { item.y = TOP + i * step; });
      return;
    }
    let y = TOP;
    for (const item of column) {
      item.y = Math.max(item.spot.y - 10, y);
      y = item.y + ROW;
    }
    let limit = HEIGHT - ROW + 2;
    for (let i = column.length - 1; i >= 0; i--) {
      column[i].y = Math.min(column[i].y, limit);
      limit = column[i].y - ROW;
    }
  }

  // controls ([{element, kind}]) and the parsed layout (or null) → {body, seams, items:
  // [{control, spot: {x, y, shape, mark}, side, y}]}: one item per control.
  function layout(controls, parsed) {
    const own = parsed && parsed.spots ? parsed.spots : new Map();
    const generic = genericSpots(controls);
    const items = controls.map((control) => {
      const given = own.get(control.element >>> 0);
      const at = given || generic.get(control.element);
      const shape = (given && given.shape) || shapeOf(control);
      const spot = { x: at.x, y: at.y, shape, mark: markOf(control, shape) };
      const side = (given && given.side) || (spot.x < CENTER ? 'left' : 'right');
      return { control, spot, side, y: 0 };
    });
    placeColumn(items.filter((i) => i.side === 'left'));
    placeColumn(items.filter((i) => i.side === 'right'));
    return {
      body: (parsed && parsed.body) || GENERIC.body,
      seams: parsed && parsed.body ? parsed.seams : GENERIC.seams,
      items,
    };
  }

  return { WIDTH, HEIGHT, ROW, PAN, GENERIC, parseLayout, layout, shapeOf };
});
