// The profile as the page edits it: the profile JSON the editor hands out (editor.profileJSON)
// viewed as controls, shift states, assignments and commands, and edited in place.
//
// Every edit changes the JSON tree itself, so members the page does not know stay exactly
// where they were, and the tree goes back through editor.setProfileJSON whole. The edits keep
// what the library's node-text writer relies on: every object's "_obj_order" names its
// attributes before its children (an attribute named after a child would end up behind the
// child's node, and the file would not read back), one entry per child of a collected type,
// and the bare word of the node type first. Text the file format cannot hold ([ ] ' " \ and
// control characters) is refused before it reaches the tree.
//
// Loaded by the page as a classic script (KinetraModel) and by node's test runner.
(function (root, factory) {
  'use strict';
  const hid = typeof require === 'function' ? require('./hid.js') : root.KinetraHid;
  const strings = typeof require === 'function' ? require('./strings.js') : root.KinetraStrings;
  const api = factory(hid, strings);
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.KinetraModel = api;
})(typeof self !== 'undefined' ? self : this, function (hid, strings) {
  'use strict';
  const { t } = strings;

  const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);
  const trim = (s) => (typeof s === 'string' ? s.trim() : s);
  const isAttributeValue = (v) => typeof v === 'string' || typeof v === 'number';

  // --- Text the file can hold -------------------------------------------------------------

  const UNSTORABLE = /[[\]'"\\\u0000-\u001f\u007f\u2028\u2029]/;

  // Why `text` cannot stand in a profile, as a sentence about the `subject` ('name',
  // 'path' or 'text'), or null.
  function textProblem(text, subject) {
    const match = UNSTORABLE.exec(text);
    if (!match) return null;
    const c = match[0];
    const shown = c < ' ' || c === '\u007f' || c > '\u2000' ? t('text.controlCharacters') : '“' + c + '”';
    return t('text.cannotContain', { subject: t('subject.' + (subject || 'text')), shown });
  }

  // Why `name` cannot name a profile (it becomes a file name), or null. `names` are the
  // profiles there are; `current` the one being renamed, if any.
  function profileNameProblem(name, names, current) {
    const wanted = typeof name === 'string' ? name.trim() : '';
    if (!wanted) return t('name.empty');
    if (wanted.length > 100) return t('name.tooLong');
    const text = textProblem(wanted, 'name');
    if (text) return text;
    if (wanted.indexOf('/') >= 0) return t('name.slash');
    if (wanted[0] === '.') return t('name.dot');
    const lower = wanted.toLowerCase();
    const taken = (names || []).find((n) => n !== current && n.toLowerCase() === lower);
    if (taken) return t('name.taken', { name: taken });
    return null;
  }

  // Where in `json` a text value the file cannot hold stands, as a readable path, or null.
  function findUnstorable(json) {
    const walk = (value, path) => {
      if (typeof value === 'string') return textProblem(value) ? path : null;
      if (Array.isArray(value)) {
        for (let i = 0; i < value.length; i++) {
          const found = walk(value[i], path + '[' + i + ']');
          if (found) return found;
        }
        return null;
      }
      if (isObject(value)) {
        for (const key of Object.keys(value)) {
          if (key === '_obj_order') continue;
          const found = walk(value[key], path + '.' + key);
          if (found) return found;
        }
        return null;
      }
      if (value === null) return path;  // the writer refuses null
      return null;
    };
    return walk(json, 'profile');
  }

  // --- Numbers as "%X" members hold them ----------------------------------------------------

  // An element identifier (or any "%X" member): a number, or hexadecimal text with an
  // optional 0x, scanned up to the first other character (0 when there is none).
  function toNumber(value) {
    if (typeof value === 'number') return value >>> 0;
    if (typeof value !== 'string') return 0;
    const match = /^\s*(?:0[xX])?([0-9a-fA-F]*)/.exec(value);
    if (!match || !match[1]) return 0;
    return parseInt(match[1].slice(-8), 16) >>> 0;
  }

  // A band threshold: text or a number, read as a signed decimal integer.
  function toThreshold(value) {
    if (typeof value === 'number') return Math.trunc(value) | 0;
    const n = parseInt(String(value || ''), 10);
    return Number.isFinite(n) ? n | 0 : 0;
  }

  // --- "_obj_order" ---------------------------------------------------------------------------

  function orderOf(obj) {
    if (!Array.isArray(obj._obj_order)) obj._obj_order = [];
    return obj._obj_order;
  }

  function hasEntry(obj, key) {
    return orderOf(obj).some((e, i) => i > 0 && trim(e) === key) || trim(orderOf(obj)[0]) === key;
  }

  // Sets a text or number member, listing it with the attributes (before every child).
  function setAttr(obj, key, value) {
    obj[key] = value;
    const order = orderOf(obj);
    if (order.some((e) => trim(e) === key)) return;
    if (order.length === 0) {
      order.push(key);
      return;
    }
    let at = order.length;
    for (let i = 1; i < order.length; i++) {
      if (!isAttributeValue(obj[trim(order[i])])) {
        at = i;
        break;
      }
    }
    order.splice(at, 0, ' ' + key);
  }

  // Removes a member and its entries (never the node type, the first entry).
  function removeMember(obj, key) {
    delete obj[key];
    const order = orderOf(obj);
    for (let i = order.length - 1; i >= 1; i--) if (trim(order[i]) === key) order.splice(i, 1);
  }

  // Sets an object member (a child node), listed after the attributes.
  function setChild(obj, key, child) {
    obj[key] = child;
    if (!hasEntry(obj, key)) orderOf(obj).push(key);
  }

  // One entry `type` per element of a collected array, after everything else.
  function syncEntries(obj, type, count) {
    const order = orderOf(obj);
    for (let i = order.length - 1; i >= 1; i--) if (trim(order[i]) === type) order.splice(i, 1);
    for (let i = 0; i < count; i++) order.push(type);
  }

  function nodeType(obj) {
    return isObject(obj) && Array.isArray(obj._obj_order) ? trim(obj._obj_order[0]) : undefined;
  }

  // --- GUIDs ---------------------------------------------------------------------------------

  function randomHex(digits) {
    const bytes = new Uint8Array(Math.ceil(digits / 2));
    const crypto = typeof globalThis !== 'undefined' ? globalThis.crypto : undefined;
    if (crypto && crypto.getRandomValues) crypto.getRandomValues(bytes);
    else for (let i = 0; i < bytes.length; i++) bytes[i] = Math.floor(Math.random() * 256);
    return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('').slice(0, digits)
      .toUpperCase();
  }

  function newGuid(taken) {
    for (;;) {
      const h = randomHex(32);
      const guid = '{' + h.slice(0, 8) + '-' + h.slice(8, 12) + '-4' + h.slice(13, 16) + '-8' +
                   h.slice(17, 20) + '-' + h.slice(20) + '}';
      if (!taken || !taken.has(guid)) return guid;
    }
  }

  // --- Commands as JSON -----------------------------------------------------------------------

  // One timed action. Zero members are left out, as the file leaves them out.
  function actionJSON(item, reuse) {
    if (item.path !== undefined) {
      const obj = reuse && nodeType(reuse) === 'string' ? reuse : { _obj_order: ['string'] };
      obj.string = item.path;
      if (item.time) setAttr(obj, 'time', item.time >>> 0);
      else removeMember(obj, 'time');
      return obj;
    }
    const obj = reuse && nodeType(reuse) === 'action' ? reuse : { _obj_order: ['action '] };
    for (const key of ['page', 'usage', 'value', 'time']) {
      const value = item[key] >>> 0;
      if (value) setAttr(obj, key, value);
      else removeMember(obj, key);
    }
    return obj;
  }

  // An action's neutral form: {page, usage, value, time} or {path, time}, with `json`
  // pointing at the object it came from (so a rebuilt command keeps its unknown members).
  function actionItem(obj) {
    if (nodeType(obj) === 'string' || (typeof obj.string === 'string' && obj.page === undefined)) {
      return { path: String(obj.string || ''), time: toNumber(obj.time), json: obj };
    }
    return { page: toNumber(obj.page), usage: toNumber(obj.usage), value: toNumber(obj.value),
      time: toNumber(obj.time), text: typeof obj.string === 'string' ? obj.string : '', json: obj };
  }

  const BLOCK_TYPES = ['press', 'repeat', 'release'];

  function blockType(block) {
    const type = typeof block.type === 'string' ? block.type : '';
    return type === '' ? 'press' : type;
  }

  // The blocks of a command JSON: [{type, actions: [items]}], in their order.
  function blocksOf(command) {
    if (!isObject(command) || !Array.isArray(command.actionblocks)) return [];
    return command.actionblocks.filter(isObject).map((block) => ({
      type: blockType(block),
      actions: (Array.isArray(block.actions) ? block.actions : []).filter(isObject).map(actionItem),
      json: block,
    }));
  }

  // Writes `blocks` ([{type, actions}], empty blocks left out) into a command JSON: `reuse`
  // (its GUID, name and unknown members kept) or a new one with `guid`. `icon`: the path
  // of the command's picture, '' for none, undefined to keep what the command has.
  function commandJSON(blocks, name, reuse, guid, icon) {
    const command = isObject(reuse) ? reuse : { command: guid, _obj_order: ['command'] };
    if (typeof command.command !== 'string' || !command.command) setAttr(command, 'command', guid);
    if (name) setAttr(command, 'name', name);
    else removeMember(command, 'name');
    if (icon) setAttr(command, 'icon', icon);
    else if (icon === '') removeMember(command, 'icon');
    const old = Array.isArray(command.actionblocks) ? command.actionblocks.filter(isObject) : [];
    const used = new Set();
    const built = [];
    for (const block of blocks) {
      if (!block.actions || block.actions.length === 0) continue;
      let obj = block.json && old.indexOf(block.json) >= 0 && !used.has(block.json) ? block.json : null;
      if (!obj) obj = old.find((b) => !used.has(b) && blockType(b) === block.type) || null;
      if (!obj) obj = { _obj_order: ['actionblock '] };
      used.add(obj);
      if (block.type === 'press' && obj.type === undefined) {
        // A block without type is a press block; it stays so.
      } else {
        setAttr(obj, 'type', block.type);
      }
      obj.actions = block.actions.map((item) => actionJSON(item, item.json));
      syncEntries(obj, 'action', 0);
      syncEntries(obj, 'string', 0);
      for (const action of obj.actions) orderOf(obj).push(nodeType(action) === 'string' ? 'string' : 'action');
      built.push(obj);
    }
    if (built.length) {
      command.actionblocks = built;
    } else {
      delete command.actionblocks;
    }
    syncEntries(command, 'actionblock', built.length);
    return command;
  }

  // --- The profile ------------------------------------------------------------------------------

  class ProfileError extends Error {}

  class ProfileDoc {
    // `json`: the parsed profile JSON (kept and edited in place); `balias`: the device's
    // alias, which names its controller in the profile.
    constructor(json, balias) {
      if (!isObject(json) || typeof json.profile !== 'string') {
        throw new ProfileError(t('profile.notAProfile'));
      }
      this.json = json;
      this.balias = balias;
    }

    // A ProfileDoc for the JSON text, or {error} saying why there is none.
    static parse(text, balias) {
      if (typeof text !== 'string' || text === '') return { error: t('profile.none') };
      let json;
      try {
        json = JSON.parse(text);
      } catch (e) {
        return { error: t('profile.notJSON', { message: e.message }) };
      }
      try {
        return { doc: new ProfileDoc(json, balias) };
      } catch (e) {
        return { error: e.message };
      }
    }

    get name() { return this.json.profile; }
    text() { return JSON.stringify(this.json); }
    clone() { return new ProfileDoc(JSON.parse(this.text()), this.balias); }
    // Why the profile cannot be saved as it is, or null.
    storableProblem() {
      const where = findUnstorable(this.json);
      return where ? t('profile.unstorable', { where }) : null;
    }

    // The controller for the device: the last one naming its alias.
    controller() {
      const list = Array.isArray(this.json.controllers) ? this.json.controllers.filter(isObject) : [];
      let found = null;
      for (const c of list) if (this.balias === undefined || c.controller === this.balias) found = c;
      return found;
    }

    requireController() {
      const c = this.controller();
      if (!c) throw new ProfileError(t('profile.noController'));
      return c;
    }

    // --- Controls (the controller's "controls"): kind, name, latching, percentage.
    controls() {
      const c = this.controller();
      const list = c && Array.isArray(c.controls) ? c.controls.filter(isObject) : [];
      return list.map((json) => {
        const kind = nodeType(json) || '';
        return { element: toNumber(json[kind]), kind, name: typeof json.name === 'string' ? json.name : '',
          latched: String(json.latched || '').toLowerCase() === 'true', json };
      });
    }

    controlJSON(element, kind) {
      const found = this.controls().find((c) => c.element === element);
      if (found || !kind) return found ? found.json : null;
      const c = this.requireController();
      if (!Array.isArray(c.controls)) setChild(c, 'controls', []);
      const json = { _obj_order: [kind] };
      json[kind] = element;
      c.controls.push(json);
      return json;
    }

    isLatched(element) {
      const found = this.controls().find((c) => c.element === element);
      return !!(found && found.latched);
    }

    setLatched(element, kind, on) {
      const json = this.controlJSON(element, on ? kind : undefined);
      if (!json) return;
      if (on) setAttr(json, 'latched', 'true');
      else removeMember(json, 'latched');
    }

    // The precision button's percentage of pointer speed, or null when the profile sets none.
    percentage(element) {
      const json = this.controlJSON(element);
      if (!json || json.percentage === undefined) return null;
      const n = parseInt(String(json.percentage), 10);
      return Number.isFinite(n) ? n : null;
    }

    setPercentage(element, kind, percent) {
      const n = Math.round(Number(percent));
      if (!Number.isFinite(n) || n < 10 || n > 100) throw new ProfileError(t('precision.range'));
      setAttr(this.controlJSON(element, kind), 'percentage', String(n));
    }

    // --- Shift states.
    shifts() {
      const c = this.controller();
      return c && Array.isArray(c.shifts) ? c.shifts.filter(isObject) : [];
    }

    shiftByGuid(guid) {
      return this.shifts().find((s) => s.shift === guid) || null;
    }

    shiftName(shift) {
      return typeof shift.name === 'string' && shift.name ? shift.name : t('shift.unnamed');
    }

    allGuids() {
      const taken = new Set();
      const walk = (v) => {
        if (Array.isArray(v)) v.forEach(walk);
        else if (isObject(v)) {
          for (const k of ['shift', 'command']) if (typeof v[k] === 'string') taken.add(v[k]);
          Object.keys(v).forEach((k) => { if (k !== '_obj_order') walk(v[k]); });
        }
      };
      walk(this.json);
      return taken;
    }

    newGuid() { return newGuid(this.allGuids()); }

    checkShiftName(name, except) {
      const wanted = typeof name === 'string' ? name.trim() : '';
      if (!wanted) return t('name.empty');
      const text = textProblem(wanted, 'name');
      if (text) return text;
      const lower = wanted.toLowerCase();
      if (this.shifts().some((s) => s !== except && this.shiftName(s).toLowerCase() === lower)) {
        return t('name.taken', { name: wanted });
      }
      return null;
    }

    addShift(name) {
      const problem = this.checkShiftName(name);
      if (problem) throw new ProfileError(problem);
      const c = this.requireController();
      const shift = { shift: this.newGuid(), name: name.trim(), _obj_order: ['shift', ' name'] };
      if (!Array.isArray(c.shifts)) c.shifts = [];
      c.shifts.push(shift);
      syncEntries(c, 'shift', c.shifts.length);
      return shift;
    }

    renameShift(shift, name) {
      const problem = this.checkShiftName(name, shift);
      if (problem) throw new ProfileError(problem);
      setAttr(shift, 'name', name.trim());
    }

    removeShift(shift) {
      const c = this.requireController();
      const list = Array.isArray(c.shifts) ? c.shifts : [];
      if (this.shifts().length <= 1) throw new ProfileError(t('shift.last'));
      const at = list.indexOf(shift);
      if (at < 0) return;
      list.splice(at, 1);
      syncEntries(c, 'shift', list.length);
      for (const other of this.shifts()) {
        if (other.fallback === shift.shift) removeMember(other, 'fallback');
      }
      // Shift commands that named a command of the removed state now name nothing.
      const guids = new Set(this.commands().map((entry) => entry.guid));
      for (const other of this.shifts()) {
        const ref = this.shiftCommandGuid(other);
        if (ref && !guids.has(ref)) removeMember(other, 'shiftcommand');
      }
    }

    fallbackOf(shift) {
      return typeof shift.fallback === 'string' ? this.shiftByGuid(shift.fallback) : null;
    }

    // The states `shift` may fall back to without making a loop.
    fallbackCandidates(shift) {
      return this.shifts().filter((candidate) => {
        if (candidate === shift) return false;
        const seen = new Set();
        for (let s = candidate; s; s = this.fallbackOf(s)) {
          if (s === shift) return false;
          if (seen.has(s)) break;
          seen.add(s);
        }
        return true;
      });
    }

    setFallback(shift, guid) {
      if (!guid) {
        removeMember(shift, 'fallback');
        return;
      }
      const target = this.shiftByGuid(guid);
      if (!target || this.fallbackCandidates(shift).indexOf(target) < 0) {
        throw new ProfileError(t('shift.loop', { name: this.shiftName(shift) }));
      }
      setAttr(shift, 'fallback', guid);
    }

    selectionSet(shift) {
      const set = isObject(shift.selectionset) ? shift.selectionset : null;
      const combo = set && Array.isArray(set.buttoncombo) ? set.buttoncombo.filter(isObject) : [];
      return combo.map((item) => toNumber(item.buttonhid));
    }

    setSelectionSet(shift, elements) {
      const wanted = Array.from(new Set(elements.map((e) => e >>> 0)));
      if (wanted.length === 0) {
        removeMember(shift, 'selectionset');
        return;
      }
      const set = isObject(shift.selectionset) ? shift.selectionset : { _obj_order: ['selectionset '] };
      const old = Array.isArray(set.buttoncombo) ? set.buttoncombo.filter(isObject) : [];
      set.buttoncombo = wanted.map((element) =>
        old.find((item) => toNumber(item.buttonhid) === element) ||
        { buttonhid: element, _obj_order: ['buttonhid'] });
      syncEntries(set, 'buttonhid', set.buttoncombo.length);
      setChild(shift, 'selectionset', set);
    }

    shiftCommandGuid(shift) {
      return isObject(shift.shiftcommand) && typeof shift.shiftcommand.shiftcommand === 'string'
        ? shift.shiftcommand.shiftcommand : null;
    }

    setShiftCommand(shift, guid) {
      if (!guid) {
        removeMember(shift, 'shiftcommand');
        return;
      }
      const ref = isObject(shift.shiftcommand) ? shift.shiftcommand : { _obj_order: ['shiftcommand'] };
      ref.shiftcommand = guid;
      setChild(shift, 'shiftcommand', ref);
    }

    // Every command of the profile that has a GUID: what a shift command can name.
    commands() {
      const found = [];
      for (const shift of this.shifts()) {
        for (const trigger of this.assignments(shift)) {
          const bands = Array.isArray(trigger.bands) ? trigger.bands.filter(isObject) : [];
          for (const band of bands) {
            if (isObject(band.command) && typeof band.command.command === 'string') {
              found.push({ guid: band.command.command, command: band.command, shift,
                element: toNumber(trigger.trigger) });
            }
          }
        }
      }
      return found;
    }

    // --- Assignments.
    assignments(shift) {
      return Array.isArray(shift.assignments) ? shift.assignments.filter(isObject) : [];
    }

    triggersFor(shift, element) {
      return this.assignments(shift).filter((t) => toNumber(t.trigger) === element);
    }

    static bandsOf(trigger) {
      const bands = Array.isArray(trigger.bands) ? trigger.bands.filter(isObject) : [];
      return bands.map((band) => ({ threshold: toThreshold(band.band),
        command: isObject(band.command) ? band.command : null, json: band }));
    }

    static hasCommand(trigger) {
      return ProfileDoc.bandsOf(trigger).some((b) => b.command);
    }

    // Which trigger serves `element` in `shift`, as the engine finds it: the state's first
    // trigger for it that is not "unprogrammed", else its fallback's (loops are not
    // followed); only a trigger with a command counts, and one without blocks the fallback.
    resolve(shift, element) {
      const seen = new Set();
      for (let s = shift; s && !seen.has(s); s = this.fallbackOf(s)) {
        seen.add(s);
        const trigger = this.triggersFor(s, element).find((t) => t.role !== 'unprogrammed');
        if (trigger) return ProfileDoc.hasCommand(trigger) ? { trigger, shift: s } : null;
      }
      return null;
    }

    // The controls `shift` leaves to its fallback, with what they do there.
    inherited(shift, controls) {
      if (!this.fallbackOf(shift)) return [];
      const out = [];
      for (const control of controls) {
        const own = this.triggersFor(shift, control.element).find((t) => t.role !== 'unprogrammed');
        if (own) continue;
        const found = this.resolve(shift, control.element);
        if (found && found.shift !== shift) out.push({ control, from: found.shift, trigger: found.trigger });
      }
      return out;
    }

    // The state's own assignment of `element`: its first trigger, or null.
    ownTrigger(shift, element) {
      return this.triggersFor(shift, element)[0] || null;
    }

    clearAssignment(shift, element) {
      if (!Array.isArray(shift.assignments)) return;
      shift.assignments = shift.assignments.filter((t) => !(isObject(t) && toNumber(t.trigger) === element));
      this.syncTriggers(shift);
    }

    syncTriggers(shift) {
      if (Array.isArray(shift.assignments) && shift.assignments.length === 0) delete shift.assignments;
      syncEntries(shift, 'trigger', this.assignments(shift).length);
    }

    // The state's one trigger for `element` (others for it are dropped: the first would
    // shadow them anyway).
    ensureTrigger(shift, element) {
      const own = this.triggersFor(shift, element);
      if (own.length) {
        if (own.length > 1) {
          shift.assignments = shift.assignments.filter((t) => own.indexOf(t) <= 0);
          this.syncTriggers(shift);
        }
        return own[0];
      }
      const trigger = { trigger: element, _obj_order: ['trigger'] };
      if (!Array.isArray(shift.assignments)) shift.assignments = [];
      shift.assignments.push(trigger);
      this.syncTriggers(shift);
      return trigger;
    }

    // A role without commands: "unprogrammed", "mouse-x" or "mouse-y".
    setRole(shift, element, role) {
      const trigger = this.ensureTrigger(shift, element);
      removeMember(trigger, 'bands');
      syncEntries(trigger, 'band', 0);
      setAttr(trigger, 'role', role);
    }

    // One command on press: a single band of threshold 1. `command` is the command JSON;
    // the command the band held before keeps its GUID (shift commands may name it).
    setCommand(shift, element, blocks, name, icon) {
      const trigger = this.ensureTrigger(shift, element);
      removeMember(trigger, 'role');
      const first = ProfileDoc.bandsOf(trigger)[0];
      this.setBands(shift, element, [{ threshold: 1, blocks, name, icon, json: first && first.json }], null);
      return trigger;
    }

    // Bands: [{threshold, blocks, name, json}] (blocks null: the band runs nothing; json:
    // the band it was before, whose command keeps its GUID and unknown members). `role`:
    // "bands" routes the element even when it is no control of the device.
    setBands(shift, element, bands, role) {
      const trigger = this.ensureTrigger(shift, element);
      if (role) setAttr(trigger, 'role', role);
      else if (trigger.role !== undefined && trigger.role !== 'bands') removeMember(trigger, 'role');
      const old = new Set(ProfileDoc.bandsOf(trigger).map((b) => b.json));
      trigger.bands = bands.map((band) => {
        const json = band.json && old.has(band.json) ? band.json : { _obj_order: ['band'] };
        old.delete(json);
        setAttr(json, 'band', String(band.threshold | 0));
        if (band.blocks) {
          const reuse = isObject(json.command) ? json.command : null;
          setChild(json, 'command', commandJSON(band.blocks, band.name, reuse, this.newGuid(), band.icon));
        } else {
          removeMember(json, 'command');
        }
        return json;
      });
      syncEntries(trigger, 'band', trigger.bands.length);
      return trigger;
    }
  }

  return {
    ProfileDoc, ProfileError, textProblem, profileNameProblem, findUnstorable, toNumber,
    toThreshold, setAttr, removeMember, setChild, syncEntries, nodeType, newGuid,
    actionJSON, actionItem, blocksOf, commandJSON, BLOCK_TYPES, isObject,
  };
});
