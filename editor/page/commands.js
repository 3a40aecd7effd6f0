// Commands as the page offers them: what a command's action blocks amount to (a key, a key
// combination, a media key, a mouse button, a scroll step, opening a file, or a macro) and
// back, the shipped command library (editor.commandXML) and the user's favourites
// (editor.favoriteCommandJSON).
//
// A command's neutral form is its blocks: [{type: 'press'|'repeat'|'release', actions:
// [{page, usage, value, time} | {path, time}]}]; profile-model.js writes them into the
// profile JSON.
//
// Loaded by the page as a classic script (KinetraCommands) and by node's test runner.
(function (root, factory) {
  'use strict';
  const hid = typeof require === 'function' ? require('./hid.js') : root.KinetraHid;
  const strings = typeof require === 'function' ? require('./strings.js') : root.KinetraStrings;
  const api = factory(hid, strings);
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.KinetraCommands = api;
})(typeof self !== 'undefined' ? self : this, function (hid, strings) {
  'use strict';
  const { t, name: named } = strings;

  const down = (page, usage, time) => ({ page, usage, value: 1, time: time || 0 });
  const up = (page, usage, time) => ({ page, usage, value: 0, time: time || 0 });
  const press = (actions) => [{ type: 'press', actions }];

  // --- Kinds ------------------------------------------------------------------------------

  // A kind and its parameters → blocks.
  function blocksFor(shape) {
    switch (shape.kind) {
      case 'key':
      case 'media':
        return press([down(shape.page, shape.usage), up(shape.page, shape.usage)]);
      case 'chord': {
        const mods = shape.modifiers.slice().sort((a, b) => a - b);
        return press([
          ...mods.map((m) => down(hid.KEYBOARD, m)),
          down(shape.page, shape.usage), up(shape.page, shape.usage),
          ...mods.slice().reverse().map((m) => up(hid.KEYBOARD, m)),
        ]);
      }
      case 'mouse':
        return [{ type: 'press', actions: [down(hid.BUTTONS, shape.mask)] },
          { type: 'release', actions: [up(hid.BUTTONS, shape.mask)] }];
      case 'scroll': {
        const s = hid.SCROLLS.find((x) => x.direction === shape.direction);
        return press([{ page: s.page, usage: s.usage, value: s.value, time: 0 }]);
      }
      case 'open':
        return press([{ path: shape.path, time: 0 }]);
      case 'macro':
        return shape.blocks;
      case 'layer':
        return [];
      default:
        throw new Error('unknown kind ' + shape.kind);
    }
  }

  const same = (a, page, usage, value) =>
    a.path === undefined && a.page === page && a.usage === usage && (value === undefined || a.value === value);
  const isDown = (a) => a.path === undefined && a.value !== 0;

  // What blocks amount to: {kind, …}; anything else is a macro.
  function shapeOf(blocks) {
    const all = blocks.filter((b) => b.actions.length > 0);
    if (all.length === 0) return { kind: 'layer' };
    const macro = { kind: 'macro', blocks: all };
    const timed = all.some((b) => b.actions.some((a) => a.time));
    if (timed) return macro;
    if (all.length === 1 && all[0].type === 'press') {
      const a = all[0].actions;
      if (a.length === 1 && a[0].path !== undefined) return { kind: 'open', path: a[0].path };
      if (a.length === 1) {
        const s = hid.SCROLLS.find((x) => same(a[0], x.page, x.usage) &&
                                          (a[0].value === hid.NEGATIVE) === (x.value === hid.NEGATIVE));
        if (s) return { kind: 'scroll', direction: s.direction };
      }
      if (a.length === 2 && isDown(a[0]) && same(a[1], a[0].page, a[0].usage, 0)) {
        if (hid.mediaKey(a[0].page, a[0].usage)) return { kind: 'media', page: a[0].page, usage: a[0].usage };
        if (a[0].page === hid.KEYBOARD) return { kind: 'key', page: a[0].page, usage: a[0].usage };
      }
      // Modifiers down, one key down and up, the modifiers up in reverse order.
      const n = (a.length - 2) / 2;
      if (n >= 1 && Number.isInteger(n)) {
        const mods = a.slice(0, n);
        const key = a[n];
        const ok = mods.every((m) => isDown(m) && hid.isModifier(m.page, m.usage)) &&
          isDown(key) && key.page === hid.KEYBOARD && !hid.isModifier(key.page, key.usage) &&
          same(a[n + 1], key.page, key.usage, 0) &&
          mods.every((m, i) => same(a[a.length - 1 - i], m.page, m.usage, 0));
        if (ok) return { kind: 'chord', modifiers: mods.map((m) => m.usage), page: key.page, usage: key.usage };
      }
    }
    if (all.length === 2 && all[0].type === 'press' && all[1].type === 'release' &&
        all[0].actions.length === 1 && all[1].actions.length === 1) {
      const [p, r] = [all[0].actions[0], all[1].actions[0]];
      if (p.page === hid.BUTTONS && isDown(p) && same(r, hid.BUTTONS, p.usage, 0)) {
        return { kind: 'mouse', mask: p.usage };
      }
    }
    return macro;
  }

  function chordName(shape) {
    const mods = shape.modifiers.map((u) => named((hid.MODIFIERS.find((m) => m.usage === u) || {}).short || '') || hid.keyName(hid.KEYBOARD, u));
    return mods.concat([hid.keyName(shape.page, shape.usage)]).join('+');
  }

  function baseName(path) {
    const parts = String(path).split('/').filter(Boolean);
    return parts.length ? parts[parts.length - 1] : String(path);
  }

  // A short text for a command's kind and parameters.
  function summary(shape) {
    switch (shape.kind) {
      case 'key': return hid.keyName(shape.page, shape.usage);
      case 'media': return hid.keyName(shape.page, shape.usage);
      case 'chord': return chordName(shape);
      case 'mouse': return hid.mouseButtonName(shape.mask);
      case 'scroll': return named(hid.SCROLLS.find((s) => s.direction === shape.direction).name);
      case 'open': return t('action.open', { path: baseName(shape.path) });
      case 'layer': return t('summary.layer');
      case 'macro': {
        const count = shape.blocks.reduce((n, b) => n + b.actions.length, 0);
        return t(count === 1 ? 'summary.macro1' : 'summary.macro', { count });
      }
      default: return '';
    }
  }

  // --- A tolerant XML reader ------------------------------------------------------------------

  const ENTITIES = { amp: '&', lt: '<', gt: '>', quot: '"', apos: '\'' };
  function decodeEntities(text) {
    return text.replace(/&(#x[0-9a-fA-F]+|#[0-9]+|[a-z]+);/g, (whole, name) => {
      if (name[0] === '#') {
        const code = name[1] === 'x' ? parseInt(name.slice(2), 16) : parseInt(name.slice(1), 10);
        return code > 0 && code <= 0x10ffff ? String.fromCodePoint(code) : whole;
      }
      return ENTITIES[name] !== undefined ? ENTITIES[name] : whole;
    });
  }

  // Elements of one or more XML documents written one after another (as commandXML joins
  // the bundles' files): [{name, attrs, children, text}], with `error` set where the text
  // stops being XML (what came before it is kept).
  function parseXML(text) {
    const roots = [];
    const stack = [];
    let i = 0;
    const fail = (message) => ({ roots, error: t('xml.at', { what: message, at: i }) });
    while (i < text.length) {
      const lt = text.indexOf('<', i);
      const chunk = lt < 0 ? text.slice(i) : text.slice(i, lt);
      if (stack.length) stack[stack.length - 1].text += decodeEntities(chunk);
      if (lt < 0) break;
      i = lt;
      if (text.startsWith('<!--', i)) {
        const end = text.indexOf('-->', i + 4);
        if (end < 0) return fail(t('xml.comment'));
        i = end + 3;
      } else if (text.startsWith('<?', i)) {
        const end = text.indexOf('?>', i + 2);
        if (end < 0) return fail(t('xml.declaration'));
        i = end + 2;
      } else if (text.startsWith('<![CDATA[', i)) {
        const end = text.indexOf(']]>', i);
        if (end < 0) return fail(t('xml.cdata'));
        if (stack.length) stack[stack.length - 1].text += text.slice(i + 9, end);
        i = end + 3;
      } else if (text.startsWith('<!', i)) {
        const end = text.indexOf('>', i);
        if (end < 0) return fail(t('xml.declaration'));
        i = end + 1;
      } else if (text.startsWith('</', i)) {
        const match = /^<\/([A-Za-z_][\w.:-]*)\s*>/.exec(text.slice(i, i + 200));
        if (!match) return fail(t('xml.closing'));
        const open = stack.pop();
        if (!open || open.name !== match[1]) return fail(t('xml.closesNothing', { tag: match[1] }));
        i += match[0].length;
      } else {
        const head = /^<([A-Za-z_][\w.:-]*)/.exec(text.slice(i, i + 200));
        if (!head) return fail(t('xml.tag'));
        const node = { name: head[1], attrs: {}, children: [], text: '' };
        i += head[0].length;
        for (;;) {
          const rest = text.slice(i, i + 4096);
          const attr = /^\s+([A-Za-z_][\w.:-]*)\s*=\s*("([^"]*)"|'([^']*)')/.exec(rest);
          if (attr) {
            node.attrs[attr[1]] = decodeEntities(attr[3] !== undefined ? attr[3] : attr[4]);
            i += attr[0].length;
            continue;
          }
          const close = /^\s*(\/?)>/.exec(rest);
          if (!close) return fail(t('xml.brokenTag', { tag: node.name }));
          i += close[0].length;
          if (stack.length) stack[stack.length - 1].children.push(node);
          else roots.push(node);
          if (!close[1]) stack.push(node);
          break;
        }
      }
    }
    if (stack.length) return { roots, error: t('xml.notClosed', { tag: stack[stack.length - 1].name }) };
    return { roots, error: null };
  }

  function xmlNumber(text) {
    if (typeof text !== 'string' || text.trim() === '') return 0;
    const t = text.trim();
    const n = /^0x/i.test(t) ? parseInt(t.slice(2), 16) : parseInt(t, 10);
    return Number.isFinite(n) && n >= 0 ? n >>> 0 : NaN;
  }

  // A <command> element → {name, description, blocks}, or null when it holds no usable action.
  function commandFromElement(node) {
    const blocks = [];
    for (const child of node.children) {
      if (child.name !== 'actionblock') continue;
      const type = child.attrs.type || 'press';
      if (['press', 'repeat', 'release'].indexOf(type) < 0) continue;
      const actions = [];
      for (const a of child.children) {
        const time = xmlNumber(a.attrs.time);
        if (a.name === 'action') {
          const item = { page: xmlNumber(a.attrs.page), usage: xmlNumber(a.attrs.usage),
            value: xmlNumber(a.attrs.value), time };
          if ([item.page, item.usage, item.value, item.time].some((n) => Number.isNaN(n))) return null;
          actions.push(item);
        } else if (a.name === 'open' || a.name === 'string') {
          const path = a.attrs.path || a.text.trim();
          if (!path || Number.isNaN(time)) return null;
          actions.push({ path, time });
        }
      }
      if (actions.length) blocks.push({ type, actions });
    }
    const name = (node.attrs.name || '').trim();
    if (!name) return null;
    return { name, description: node.attrs.description || '', blocks };
  }

  // The command library: [{name, commands: [...]}] in the order of the files, with the
  // problems found (a broken file keeps the commands read before the break).
  function libraryFromXML(text) {
    const { roots, error } = parseXML(typeof text === 'string' ? text : '');
    const groups = [];
    const problems = error ? [t('library.damaged', { error })] : [];
    for (const root of roots) {
      if (root.name !== 'commands') continue;
      const name = root.attrs.group || t('library.group');
      let group = groups.find((g) => g.name === name);
      if (!group) groups.push(group = { name, commands: [] });
      for (const child of root.children) {
        if (child.name !== 'command') continue;
        const command = commandFromElement(child);
        if (command) group.commands.push(command);
        else problems.push(t('library.unreadable', { group: name }));
      }
    }
    return { groups: groups.filter((g) => g.commands.length), problems };
  }

  // --- Favourites ----------------------------------------------------------------------------

  // The favourites file's text → {favourites: [{name, blocks}]}, or {error} when it holds
  // something else (the page then leaves it alone until the user replaces it).
  function parseFavourites(text) {
    if (text === null || text === undefined || text === '') return { favourites: [] };
    let json;
    try {
      json = JSON.parse(text);
    } catch (e) {
      return { error: t('favourites.unreadable') };
    }
    if (!json || !Array.isArray(json.favourites)) {
      return { error: t('favourites.unreadable') };
    }
    const favourites = [];
    for (const entry of json.favourites) {
      if (!entry || typeof entry.name !== 'string' || !Array.isArray(entry.blocks)) continue;
      const blocks = [];
      let ok = true;
      for (const block of entry.blocks) {
        if (!block || ['press', 'repeat', 'release'].indexOf(block.type) < 0 || !Array.isArray(block.actions)) {
          ok = false;
          break;
        }
        const actions = block.actions.map((a) => {
          if (!a || typeof a !== 'object') return null;
          const time = Number.isInteger(a.time) && a.time >= 0 ? a.time : 0;
          if (typeof a.path === 'string') return { path: a.path, time };
          if ([a.page, a.usage, a.value].every((n) => Number.isInteger(n) && n >= 0)) {
            return { page: a.page, usage: a.usage, value: a.value, time };
          }
          return null;
        });
        if (actions.some((a) => !a)) {
          ok = false;
          break;
        }
        blocks.push({ type: block.type, actions });
      }
      if (ok) favourites.push({ name: entry.name, blocks });
    }
    return { favourites };
  }

  function favouritesText(favourites) {
    const plain = favourites.map((f) => ({
      name: f.name,
      blocks: f.blocks.map((b) => ({ type: b.type, actions: b.actions.map((a) => (a.path !== undefined
        ? { path: a.path, time: a.time | 0 }
        : { page: a.page, usage: a.usage, value: a.value, time: a.time | 0 })) })),
    }));
    return JSON.stringify({ version: 1, favourites: plain }, null, 2) + '\n';
  }

  // Blocks without references into a profile: what a favourite or a copy keeps.
  function plainBlocks(blocks) {
    return blocks.map((b) => ({ type: b.type, actions: b.actions.map((a) => (a.path !== undefined
      ? { path: a.path, time: a.time | 0 }
      : { page: a.page, usage: a.usage, value: a.value, time: a.time | 0 })) }));
  }

  return { blocksFor, shapeOf, summary, parseXML, libraryFromXML, parseFavourites, favouritesText,
    plainBlocks, chordName };
});
