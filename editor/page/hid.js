// HID usages as the profile stores them, with the names the page shows: keyboard keys
// (page 7), media keys (page 12 and mute on page 7), mouse buttons (page 9 bit masks),
// wheel steps, and the element identifiers of the mouse's controls.
// Plain data and functions: loaded by the page as a classic script (KinetraHid) and by
// node's test runner as a CommonJS module.
(function (root, factory) {
  'use strict';
  const strings = typeof require === 'function' ? require('./strings.js') : root.KinetraStrings;
  const api = factory(strings);
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.KinetraHid = api;
})(typeof self !== 'undefined' ? self : this, function (strings) {
  'use strict';
  const { t, name } = strings;

  const KEYBOARD = 7;
  const CONSUMER = 12;
  const BUTTONS = 9;
  const GENERIC_DESKTOP = 1;
  const WHEEL_USAGE = 56;  // page 1: the vertical wheel
  const HWHEEL_PAGE = 5;   // page 5 usage 12: the horizontal wheel, as actions store it
  const HWHEEL_USAGE = 12;
  const NEGATIVE = 255;    // a wheel action's value for down and left

  const element = {
    button: (n) => (0x90000 + n) >>> 0,
    X: 0x10030, Y: 0x10031, Z: 0x10032, WHEEL: 0x10038, HAT: 0x10039,
  };
  const PAN = ((CONSUMER << 16) | 0x238) >>> 0;  // AC Pan: the wheel tilted sideways

  // Keyboard page: usage → name. Only usages the suite can type (it has a Linux key for
  // each of them).
  const keyNames = new Map();
  const letters = 'ABCDEFGHIJKLMNOPQRSTUVWXYZ';
  for (let i = 0; i < 26; i++) keyNames.set(0x04 + i, letters[i]);
  '1234567890'.split('').forEach((digit, i) => keyNames.set(0x1e + i, digit));
  [[0x28, 'Enter'], [0x29, 'Escape'], [0x2a, 'Backspace'], [0x2b, 'Tab'], [0x2c, 'Space'],
   [0x2d, 'Minus'], [0x2e, 'Equals'], [0x2f, 'Left bracket'], [0x30, 'Right bracket'],
   [0x31, 'Backslash'], [0x32, 'Hash (non-US)'], [0x33, 'Semicolon'], [0x34, 'Apostrophe'],
   [0x35, 'Grave accent'], [0x36, 'Comma'], [0x37, 'Period'], [0x38, 'Slash'],
   [0x39, 'Caps Lock']].forEach(([u, n]) => keyNames.set(u, n));
  for (let i = 0; i < 12; i++) keyNames.set(0x3a + i, 'F' + (i + 1));
  [[0x46, 'Print Screen'], [0x47, 'Scroll Lock'], [0x48, 'Pause'], [0x49, 'Insert'],
   [0x4a, 'Home'], [0x4b, 'Page Up'], [0x4c, 'Delete'], [0x4d, 'End'], [0x4e, 'Page Down'],
   [0x4f, 'Right arrow'], [0x50, 'Left arrow'], [0x51, 'Down arrow'], [0x52, 'Up arrow'],
   [0x53, 'Num Lock'], [0x54, 'Keypad /'], [0x55, 'Keypad *'], [0x56, 'Keypad -'],
   [0x57, 'Keypad +'], [0x58, 'Keypad Enter']].forEach(([u, n]) => keyNames.set(u, n));
  for (let i = 0; i < 9; i++) keyNames.set(0x59 + i, 'Keypad ' + (i + 1));
  [[0x62, 'Keypad 0'], [0x63, 'Keypad .'], [0x64, 'Backslash (non-US)'], [0x65, 'Menu'],
   [0x66, 'Power'], [0x67, 'Keypad =']].forEach(([u, n]) => keyNames.set(u, n));
  for (let i = 0; i < 7; i++) keyNames.set(0x68 + i, 'F' + (13 + i));
  const MODIFIERS = [
    { usage: 0xe0, name: 'Left Ctrl', short: 'Ctrl' },
    { usage: 0xe1, name: 'Left Shift', short: 'Shift' },
    { usage: 0xe2, name: 'Left Alt', short: 'Alt' },
    { usage: 0xe3, name: 'Left Super', short: 'Super' },
    { usage: 0xe4, name: 'Right Ctrl', short: 'Right Ctrl' },
    { usage: 0xe5, name: 'Right Shift', short: 'Right Shift' },
    { usage: 0xe6, name: 'Right Alt', short: 'AltGr' },
    { usage: 0xe7, name: 'Right Super', short: 'Right Super' },
  ];
  MODIFIERS.forEach((m) => keyNames.set(m.usage, m.name));

  // Media keys: what the suite can send, keyed "page:usage".
  const MEDIA = [
    { page: CONSUMER, usage: 0xcd, name: 'Play or pause' },
    { page: CONSUMER, usage: 0xb5, name: 'Next track' },
    { page: CONSUMER, usage: 0xb6, name: 'Previous track' },
    { page: CONSUMER, usage: 0xb3, name: 'Fast forward' },
    { page: CONSUMER, usage: 0xb4, name: 'Rewind' },
    { page: CONSUMER, usage: 0xe9, name: 'Volume up' },
    { page: CONSUMER, usage: 0xea, name: 'Volume down' },
    { page: KEYBOARD, usage: 0x7f, name: 'Mute' },
    { page: CONSUMER, usage: 0xff, name: 'Brightness up' },
    { page: CONSUMER, usage: 0xfe, name: 'Brightness down' },
    { page: CONSUMER, usage: 0xb8, name: 'Eject' },
  ];

  const MOUSE_BUTTONS = [
    { mask: 1, name: 'Left click' }, { mask: 2, name: 'Right click' },
    { mask: 4, name: 'Middle click' }, { mask: 8, name: 'Back button' },
    { mask: 16, name: 'Forward button' },
  ];

  const SCROLLS = [
    { direction: 'up', page: GENERIC_DESKTOP, usage: WHEEL_USAGE, value: 1, name: 'Scroll up' },
    { direction: 'down', page: GENERIC_DESKTOP, usage: WHEEL_USAGE, value: NEGATIVE, name: 'Scroll down' },
    { direction: 'left', page: HWHEEL_PAGE, usage: HWHEEL_USAGE, value: NEGATIVE, name: 'Scroll left' },
    { direction: 'right', page: HWHEEL_PAGE, usage: HWHEEL_USAGE, value: 1, name: 'Scroll right' },
  ];

  // Directions of the hat switch by its value (0 is the centre).
  const HAT_DIRECTIONS = ['Up', 'Up and right', 'Right', 'Down and right', 'Down',
    'Down and left', 'Left', 'Up and left'];

  function isModifier(page, usage) {
    return page === KEYBOARD && usage >= 0xe0 && usage <= 0xe7;
  }

  function mediaKey(page, usage) {
    return MEDIA.find((m) => m.page === page && m.usage === usage) || null;
  }

  function hex(n) {
    return '0x' + (n >>> 0).toString(16);
  }

  // The name of a key usage, or a neutral description for one the page has no name for.
  function keyName(page, usage) {
    if (page === KEYBOARD && keyNames.has(usage)) return name(keyNames.get(usage));
    const media = mediaKey(page, usage);
    if (media) return name(media.name);
    return t('key.unknown', { page: hex(page), usage: hex(usage) });
  }

  function mouseButtonName(mask) {
    const named = MOUSE_BUTTONS.find((b) => b.mask === mask);
    if (named) return name(named.name);
    const buttons = [];
    for (let bit = 0; bit < 8; bit++) if (mask & (1 << bit)) buttons.push(bit + 1);
    return t(buttons.length > 1 ? 'mouse.buttons' : 'mouse.button', { list: buttons.join('+') });
  }

  // What one action does, in words: for the test log and macro lists. A key's value 2 is
  // an auto-repeat of a key held down.
  function describeAction(page, usage, value, text) {
    if (text) return t('action.open', { path: text });
    const change = (what) => t(value === 2 ? 'action.repeats' : value ? 'action.down' : 'action.up', { what });
    if (page === BUTTONS) return change(mouseButtonName(usage));
    const scroll = SCROLLS.find((s) => s.page === page && s.usage === usage &&
                                       (s.value === NEGATIVE) === (value === NEGATIVE));
    if (scroll) return name(scroll.name);
    if (page === KEYBOARD || page === CONSUMER || page === HWHEEL_PAGE) return change(keyName(page, usage));
    return t('action.other', { page: hex(page), usage: hex(usage), value });
  }

  // A control's kind and element → a name when the device gives none.
  function controlName(kind, elementId) {
    if (elementId === PAN) return t('control.pan');
    if (kind === 'wheel') return t('control.wheel');
    if (kind === 'hat') return t('control.hat');
    if (kind === 'motion') {
      if (elementId === element.X) return t('control.motionX');
      if (elementId === element.Y) return t('control.motionY');
      return t('control.motion', { id: hex(elementId) });
    }
    if (kind === 'axis') {
      if (elementId === element.X) return t('control.x');
      if (elementId === element.Y) return t('control.y');
      if (elementId === element.Z) return t('control.z');
      return t('control.axis', { id: hex(elementId) });
    }
    if ((elementId >>> 16) === BUTTONS) return t('control.button', { n: elementId & 0xffff });
    return t('control.other', { id: hex(elementId) });
  }

  // Every English name above that a language may translate (letters, digits and F-keys
  // are the same in every language).
  function translatableNames() {
    const all = new Set();
    for (const n of keyNames.values()) if (!/^([A-Z0-9]|F[0-9]+)$/.test(n)) all.add(n);
    for (const list of [MEDIA, MOUSE_BUTTONS, SCROLLS]) for (const x of list) all.add(x.name);
    for (const m of MODIFIERS) { all.add(m.name); all.add(m.short); }
    for (const d of HAT_DIRECTIONS) all.add(d);
    return Array.from(all);
  }

  return {
    KEYBOARD, CONSUMER, BUTTONS, GENERIC_DESKTOP, WHEEL_USAGE, HWHEEL_PAGE, HWHEEL_USAGE,
    NEGATIVE, element, MODIFIERS, MEDIA, MOUSE_BUTTONS, SCROLLS, HAT_DIRECTIONS,
    PAN,
    keyboardKeys: () => Array.from(keyNames.entries())
      .filter(([usage]) => !isModifier(KEYBOARD, usage))
      .map(([usage, english]) => ({ page: KEYBOARD, usage, name: name(english) })),
    isModifier, mediaKey, keyName, mouseButtonName, describeAction, controlName, hex, translatableNames,
  };
});
