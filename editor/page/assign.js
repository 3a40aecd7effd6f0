// Changing what a control does in one shift state: the assignment dialog, the command
// editor inside it (a key captured by pressing it, a key combination, a media key, a mouse
// button, a scroll step, opening a file, a macro recorded live and then edited, or a
// shift-state button), value bands for axes and the hat, the roles that take no command,
// latching and the precision button's speed.
(function (root) {
  'use strict';
  const { h, icon, ed, modal, ask, askName, notify, report, userError } = root.Page;
  const { t, name: named } = root.KinetraStrings;
  const hid = root.KinetraHid;
  const model = root.KinetraModel;
  const cmds = root.KinetraCommands;
  const { ProfileDoc } = model;

  // --- The key tap ------------------------------------------------------------------------
  // One capture at a time; the editor calls kinetraKeyTap(page, usage, value, elapsedMs).
  const KeyTap = {
    handler: null,
    async start(handler) {
      await KeyTap.stop();
      KeyTap.handler = handler;
      await ed('startKeyTap', 'kinetraKeyTap');
    },
    async stop() {
      if (!KeyTap.handler) return;
      KeyTap.handler = null;
      await ed('stopKeyTap');
    },
  };
  root.kinetraKeyTap = function (page, usage, value, elapsed) {
    if (KeyTap.handler) KeyTap.handler(page >>> 0, usage >>> 0, value >>> 0, Math.max(0, elapsed | 0));
  };

  let fieldCount = 0;
  const uid = (prefix) => prefix + '-' + (++fieldCount);

  function option(value, label, selected) {
    return h('option', { value: String(value), selected: selected || undefined }, label);
  }

  function labelled(label, control, hint) {
    const hintId = hint ? uid('hint') : null;
    if (hintId) control.setAttribute('aria-describedby', hintId);
    return h('label.field', null, h('span.label', null, label), control, hint ? h('span.hint', { id: hintId }, hint) : null);
  }

  // --- Picking a key ----------------------------------------------------------------------
  // A select of every key, and a button that captures the next key pressed through the
  // key tap. With `chord`, the modifiers held when the key goes down are captured too.
  function keyPicker(value, onPick, options) {
    const opts = options || {};
    const keys = hid.keyboardKeys();
    const list = opts.withModifiers ? keys.concat(hid.MODIFIERS.map((m) => ({ page: hid.KEYBOARD, usage: m.usage, name: named(m.name) }))) : keys;
    const select = h('select.select', { 'aria-label': opts.label || t('key.label') },
      option('', t('key.choose'), !value),
      list.map((k) => option(k.usage, k.name, value && value.page === hid.KEYBOARD && value.usage === k.usage)));
    select.addEventListener('change', () => {
      if (select.value !== '') onPick({ page: hid.KEYBOARD, usage: Number(select.value) }, null);
    });
    const status = h('span.capture-status', { role: 'status', 'aria-live': 'polite' });
    const button = h('button.capture', { type: 'button' }, icon('key'), t('key.press'));
    let held = [];
    let capturing = false;
    const finish = async (key, modifiers) => {
      capturing = false;
      button.classList.remove('listening');
      button.lastChild.textContent = t('key.press');
      try {
        await KeyTap.stop();
      } catch (error) {
        report(error);
      }
      if (!key) return;
      if (key.page === hid.KEYBOARD && select.querySelector('option[value="' + key.usage + '"]')) select.value = String(key.usage);
      status.textContent = t('key.captured', { keys: [].concat(modifiers || []).map((u) => hid.keyName(hid.KEYBOARD, u)).concat([hid.keyName(key.page, key.usage)]).join(' + ') });
      onPick(key, modifiers);
    };
    button.addEventListener('click', async () => {
      if (capturing) {
        finish(null);
        status.textContent = t('key.cancelled');
        return;
      }
      held = [];
      capturing = true;
      button.classList.add('listening');
      button.lastChild.textContent = t('key.listening');
      status.textContent = t('key.pressNow');
      try {
        await KeyTap.start((page, usage, value) => {
          if (!capturing) return;
          if (hid.isModifier(page, usage)) {
            if (value) {
              if (held.indexOf(usage) < 0) held.push(usage);
            } else if (held.indexOf(usage) >= 0) {
              // A modifier let go with no other key: the modifier itself is the key.
              finish({ page, usage }, opts.chord ? held.filter((u) => u !== usage) : null);
            }
            return;
          }
          if (value) finish({ page, usage }, opts.chord ? held.slice() : null);
        });
      } catch (error) {
        capturing = false;
        button.classList.remove('listening');
        button.lastChild.textContent = t('key.press');
        status.textContent = t('key.unavailable');
        report(error);
      }
    });
    return { element: h('div.key-picker', null, button, select, status), stop: () => (capturing ? finish(null) : Promise.resolve()) };
  }

  // --- Macros -----------------------------------------------------------------------------
  const BLOCK_LABELS = { press: 'macro.pressed', repeat: 'macro.held', release: 'macro.released' };
  const MAX_DELAY = 3600000;

  function macroEditor(initial) {
    const blocks = { press: [], repeat: [], release: [] };
    for (const b of initial || []) if (blocks[b.type]) blocks[b.type] = blocks[b.type].concat(b.actions.map((a) => Object.assign({}, a)));
    let current = 'press';
    let recording = false;
    const tabs = h('div.segmented', { role: 'tablist', 'aria-label': t('macro.part') });
    const list = h('ol.actions', { 'aria-label': t('macro.actions') });
    const status = h('p.record-status', { role: 'status', 'aria-live': 'polite' });
    const recordButton = h('button.record', { type: 'button' }, icon('record'), t('macro.record'));

    function describe(a) {
      return a.path !== undefined ? t('action.open', { path: a.path }) : hid.describeAction(a.page, a.usage, a.value, '');
    }
    function renderTabs() {
      tabs.textContent = '';
      for (const type of model.BLOCK_TYPES) {
        const selected = type === current;
        tabs.appendChild(h('button', { type: 'button', role: 'tab', 'aria-selected': String(selected), tabindex: selected ? '0' : '-1',
          onclick: () => { current = type; render(); } }, t(BLOCK_LABELS[type]) + ' (' + blocks[type].length + ')'));
      }
    }
    function render() {
      renderTabs();
      list.textContent = '';
      const actions = blocks[current];
      if (actions.length === 0) list.appendChild(h('li.empty', null, current === 'repeat'
        ? t('macro.noRepeat') : t('macro.empty')));
      actions.forEach((a, i) => {
        const delay = h('input.number', { type: 'number', min: '0', max: String(MAX_DELAY), step: '10', value: String(a.time | 0),
          'aria-label': t('macro.delayOf', { n: i + 1 }) });
        delay.addEventListener('change', () => {
          const n = Number(delay.value);
          if (!Number.isInteger(n) || n < 0 || n > MAX_DELAY) {
            delay.setAttribute('aria-invalid', 'true');
            status.textContent = t('macro.delayRange', { max: MAX_DELAY });
            return;
          }
          delay.removeAttribute('aria-invalid');
          a.time = n;
        });
        const move = (by) => {
          const to = i + by;
          if (to < 0 || to >= actions.length) return;
          actions.splice(i, 1);
          actions.splice(to, 0, a);
          render();
          const buttons = list.querySelectorAll('li')[to].querySelectorAll(by < 0 ? '.move-up' : '.move-down');
          if (buttons[0] && !buttons[0].disabled) buttons[0].focus();
        };
        list.appendChild(h('li.action-row', null,
          h('span.action-index', null, String(i + 1)),
          h('span.action-text', null, describe(a)),
          h('label.delay', null, delay, h('span', null, 'ms')),
          h('button.icon-button.move-up', { type: 'button', 'aria-label': t('macro.moveUp', { n: i + 1 }), disabled: i === 0, onclick: () => move(-1) }, icon('up')),
          h('button.icon-button.move-down', { type: 'button', 'aria-label': t('macro.moveDown', { n: i + 1 }), disabled: i === actions.length - 1, onclick: () => move(1) }, icon('down')),
          h('button.icon-button.remove', { type: 'button', 'aria-label': t('macro.delete', { n: i + 1 }), onclick: () => {
            actions.splice(i, 1);
            render();
            status.textContent = t('macro.deleted', { n: i + 1 });
          } }, icon('trash'))));
      });
    }

    async function stopRecording() {
      if (!recording) return;
      recording = false;
      recordButton.classList.remove('recording');
      recordButton.lastChild.textContent = t('macro.record');
      try {
        await KeyTap.stop();
      } catch (error) {
        report(error);
      }
    }
    recordButton.addEventListener('click', async () => {
      if (recording) {
        await stopRecording();
        status.textContent = t('macro.stopped', { count: blocks[current].length });
        return;
      }
      const target = blocks[current];
      const down = new Set();
      let first = true;
      let carried = 0;
      recording = true;
      recordButton.classList.add('recording');
      recordButton.lastChild.textContent = t('macro.stop');
      status.textContent = t('macro.recording');
      try {
        await KeyTap.start((page, usage, value, elapsed) => {
          const key = page * 65536 + usage;
          const time = first ? 0 : carried + elapsed;
          // A key held down repeats its press; the macro keeps the first one.
          if (value && down.has(key)) {
            carried = time;
            return;
          }
          if (value) down.add(key);
          else down.delete(key);
          first = false;
          carried = 0;
          target.push({ page, usage, value: value ? 1 : 0, time: Math.min(time, MAX_DELAY) });
          render();
          status.textContent = t('macro.recorded', { count: target.length });
        });
      } catch (error) {
        recording = false;
        recordButton.classList.remove('recording');
        recordButton.lastChild.textContent = t('macro.record');
        status.textContent = t('macro.unavailable');
        report(error);
      }
    });

    // Adding one action by hand.
    const kinds = [
      ['press', 'add.press'], ['down', 'add.down'], ['up', 'add.up'], ['media', 'kind.media'],
      ['mousedown', 'add.mouseDown'], ['mouseup', 'add.mouseUp'], ['scroll', 'kind.scroll'], ['open', 'kind.open'],
    ];
    const kindSelect = h('select.select', { 'aria-label': t('add.label') }, kinds.map(([v, l]) => option(v, t(l))));
    const paramBox = h('span.add-param');
    let param = null;
    function renderParam() {
      paramBox.textContent = '';
      const kind = kindSelect.value;
      if (kind === 'press' || kind === 'down' || kind === 'up') {
        param = h('select.select', { 'aria-label': t('key.label') }, hid.keyboardKeys().concat(hid.MODIFIERS.map((m) => ({ usage: m.usage, name: named(m.name) })))
          .map((k) => option(k.usage, k.name)));
      } else if (kind === 'media') {
        param = h('select.select', { 'aria-label': t('kind.media') }, hid.MEDIA.map((m, i) => option(i, named(m.name))));
      } else if (kind === 'mousedown' || kind === 'mouseup') {
        param = h('select.select', { 'aria-label': t('kind.mouse') }, hid.MOUSE_BUTTONS.map((b) => option(b.mask, named(b.name))));
      } else if (kind === 'scroll') {
        param = h('select.select', { 'aria-label': t('scroll.direction') }, hid.SCROLLS.map((x) => option(x.direction, named(x.name))));
      } else {
        param = h('input.text', { type: 'text', placeholder: t('open.placeholder'), 'aria-label': t('open.label'), spellcheck: 'false' });
        paramBox.appendChild(param);
        paramBox.appendChild(fileChooserButton(param));
        return;
      }
      paramBox.appendChild(param);
    }
    kindSelect.addEventListener('change', renderParam);
    renderParam();
    const addButton = h('button', { type: 'button', onclick: () => {
      const kind = kindSelect.value;
      const target = blocks[current];
      const v = param.value;
      if (kind === 'press') target.push({ page: 7, usage: Number(v), value: 1, time: 0 }, { page: 7, usage: Number(v), value: 0, time: 0 });
      else if (kind === 'down' || kind === 'up') target.push({ page: 7, usage: Number(v), value: kind === 'down' ? 1 : 0, time: 0 });
      else if (kind === 'media') {
        const m = hid.MEDIA[Number(v)];
        target.push({ page: m.page, usage: m.usage, value: 1, time: 0 }, { page: m.page, usage: m.usage, value: 0, time: 0 });
      } else if (kind === 'mousedown' || kind === 'mouseup') target.push({ page: hid.BUTTONS, usage: Number(v), value: kind === 'mousedown' ? 1 : 0, time: 0 });
      else if (kind === 'scroll') {
        const x = hid.SCROLLS.find((d) => d.direction === v);
        target.push({ page: x.page, usage: x.usage, value: x.value, time: 0 });
      } else {
        const problem = pathProblem(v);
        if (problem) {
          status.textContent = problem;
          param.setAttribute('aria-invalid', 'true');
          param.focus();
          return;
        }
        target.push({ path: v.trim(), time: 0 });
      }
      render();
      status.textContent = t('macro.added', { what: describe(target[target.length - 1]) });
    } }, icon('plus'), t('button.add'));

    render();
    return {
      element: h('div.macro', null,
        tabs,
        h('div.macro-toolbar', null, recordButton, h('span.hint', null, t('macro.delays'))),
        list, status,
        h('div.add-action', null, kindSelect, paramBox, addButton)),
      blocks: () => model.BLOCK_TYPES.map((type) => ({ type, actions: blocks[type] })).filter((b) => b.actions.length),
      stop: stopRecording,
      isRecording: () => recording,
    };
  }

  function pathProblem(path) {
    const p = (path || '').trim();
    if (!p) return t('open.empty');
    if (p[0] !== '/') return t('open.relative');
    return model.textProblem(p, 'path');
  }

  // A button that fills `input` with a file or program chosen in the desktop's file
  // chooser (the path stays editable).
  function fileChooserButton(input) {
    return h('button.choose-file', { type: 'button', onclick: async () => {
      try {
        const path = await root.Page.call('editor', 'chooseFileToOpen', [], { timeout: 0 });
        if (typeof path === 'string' && path) {
          input.value = path;
          input.removeAttribute('aria-invalid');
          input.dispatchEvent(new Event('input'));
        }
      } catch (error) {
        report(error);
      }
      input.focus();
    } }, t('open.choose'));
  }

  // The URL that shows a picture or a program's icon through the editor's icon scheme.
  function iconURL(path) {
    return 'icon:' + (/%[0-9a-f]{2}/i.test(path) ? path : encodeURI(path));
  }

  // A command's icon: a preview, choosing a picture or program in the editor's image
  // chooser (browseForImagePath), and removing it. {element, path()}.
  function iconChooser(initial) {
    let path = initial || '';
    const preview = h('span.icon-preview');
    const remove = h('button', { type: 'button', onclick: () => { path = ''; draw(); } }, t('icon.remove'));
    const choose = h('button', { type: 'button', onclick: async () => {
      try {
        const chosen = await root.Page.call('editor', 'browseForImagePath', [], { timeout: 0 });
        if (typeof chosen === 'string' && chosen) {
          path = chosen;
          draw();
        }
      } catch (error) {
        report(error);
      }
      choose.focus();
    } }, t('icon.choose'));
    function draw() {
      preview.textContent = '';
      if (path) {
        const img = h('img.command-icon', { src: iconURL(path), alt: t('icon.alt') });
        img.addEventListener('error', () => img.classList.add('missing'));
        preview.appendChild(img);
        preview.appendChild(h('span.icon-path', null, path));
      } else {
        preview.appendChild(h('span.hint', null, t('icon.none')));
      }
      remove.disabled = !path;
    }
    draw();
    return {
      element: h('div.field', null, h('span.label', null, t('icon.label')), h('div.inline.icon-row', null, preview, choose, remove)),
      path: () => path,
    };
  }

  // --- The command editor -----------------------------------------------------------------
  const KIND_LABELS = [
    ['key', 'kind.key'], ['chord', 'kind.chord'], ['media', 'kind.media'], ['mouse', 'kind.mouse'],
    ['scroll', 'kind.scroll'], ['open', 'kind.open'], ['macro', 'kind.macro'],
    ['layer', 'kind.layer'],
  ];

  // Edits one command: {element, result() → {blocks, name, icon} (throws a user error),
  // stop()}. options.icon: the command's icon (a picture or program path), if any.
  function commandEditor(blocks, name, app, options) {
    const opts = options || {};
    let shape = blocks ? cmds.shapeOf(blocks) : { kind: 'key' };
    const original = blocks ? JSON.stringify(cmds.plainBlocks(blocks)) : null;
    const originalBlocks = blocks;
    const groupName = uid('kind');
    const kinds = KIND_LABELS.filter(([k]) => !(opts.noLayer && k === 'layer'));
    const params = h('div.kind-params');
    let macro = null;
    let picker = null;
    let values = {};
    const nameInput = h('input.text', { type: 'text', value: name || '', spellcheck: 'false', placeholder: t('name.placeholder') });
    const nameError = h('p.field-error', { role: 'alert' });
    // Whether the user typed in the name field: a name left as it was follows the action.
    let nameTyped = false;
    nameInput.addEventListener('input', () => { nameTyped = true; });
    const iconPicker = iconChooser(opts.icon || '');

    function seed(s) {
      values = {
        key: s.kind === 'key' ? { page: s.page, usage: s.usage } : null,
        chord: s.kind === 'chord' ? { modifiers: s.modifiers.slice(), key: { page: s.page, usage: s.usage } } : { modifiers: [0xe0], key: null },
        media: s.kind === 'media' ? hid.MEDIA.findIndex((m) => m.page === s.page && m.usage === s.usage) : 0,
        mouse: s.kind === 'mouse' ? s.mask : 1,
        scroll: s.kind === 'scroll' ? s.direction : 'up',
        open: s.kind === 'open' ? s.path : '',
        macro: s.kind === 'macro' ? s.blocks : (s.kind !== 'layer' ? cmds.blocksFor(s) : []),
      };
    }
    seed(shape);
    const radios = h('div.kind-list', { role: 'radiogroup', 'aria-label': t('kind.label') }, kinds.map(([k, label]) =>
      h('label.kind', null, h('input', { type: 'radio', name: groupName, value: k, checked: shape.kind === k,
        onchange: () => {
          stopCaptures();
          shape = { kind: k };
          // The old command's name would now label something else; a name the user typed stays.
          if (name && nameInput.value === name) nameInput.value = '';
          renderParams();
        } }), h('span', null, t(label)))));

    function stopCaptures() {
      if (picker) picker.stop();
      if (macro) {
        values.macro = macro.blocks();
        macro.stop();
      }
    }

    function renderParams() {
      params.textContent = '';
      macro = null;
      picker = null;
      const kind = shape.kind;
      if (kind === 'key') {
        picker = keyPicker(values.key, (key) => { values.key = key; }, { withModifiers: true });
        params.appendChild(labelled(t('key.label'), picker.element, t('key.hint')));
      } else if (kind === 'chord') {
        const mods = h('div.modifiers', { role: 'group', 'aria-label': t('chord.modifiers') }, hid.MODIFIERS.slice(0, 4).map((m) =>
          h('label.check', null, h('input', { type: 'checkbox', value: String(m.usage), checked: values.chord.modifiers.indexOf(m.usage) >= 0,
            onchange: (e) => {
              const set = new Set(values.chord.modifiers);
              if (e.target.checked) set.add(m.usage);
              else set.delete(m.usage);
              values.chord.modifiers = Array.from(set);
            } }), h('span', null, named(m.short)))));
        picker = keyPicker(values.chord.key, (key, held) => {
          values.chord.key = key;
          if (held && held.length) {
            values.chord.modifiers = held.slice();
            mods.querySelectorAll('input').forEach((box) => { box.checked = held.indexOf(Number(box.value)) >= 0; });
          }
        }, { chord: true });
        params.appendChild(h('div.field', null, h('span.label', null, t('chord.hold')), mods));
        params.appendChild(labelled(t('chord.andPress'), picker.element, t('chord.hint')));
      } else if (kind === 'media') {
        const select = h('select.select', null, hid.MEDIA.map((m, i) => option(i, named(m.name), i === values.media)));
        select.addEventListener('change', () => { values.media = Number(select.value); });
        params.appendChild(labelled(t('kind.media'), select));
      } else if (kind === 'mouse') {
        const select = h('select.select', null, hid.MOUSE_BUTTONS.map((b) => option(b.mask, named(b.name), b.mask === values.mouse)));
        select.addEventListener('change', () => { values.mouse = Number(select.value); });
        params.appendChild(labelled(t('kind.mouse'), select, t('mouse.hint')));
      } else if (kind === 'scroll') {
        const name = uid('scroll');
        params.appendChild(h('div.field', { role: 'radiogroup', 'aria-label': t('scroll.label') }, h('span.label', null, t('scroll.direction')),
          h('div.inline', null, hid.SCROLLS.map((x) => h('label.check', null,
            h('input', { type: 'radio', name, value: x.direction, checked: x.direction === values.scroll, onchange: () => { values.scroll = x.direction; } }),
            h('span', null, named(x.name)))))));
      } else if (kind === 'open') {
        const input = h('input.text', { type: 'text', value: values.open, spellcheck: 'false', placeholder: t('open.example') });
        input.addEventListener('input', () => { values.open = input.value; input.removeAttribute('aria-invalid'); });
        params.appendChild(h('div.field', null, h('label.field', null, h('span.label', null, t('open.field')), input),
          h('div.inline', null, fileChooserButton(input), h('span.hint', null, t('open.hint')))));
      } else if (kind === 'macro') {
        macro = macroEditor(values.macro);
        params.appendChild(macro.element);
      } else {
        params.appendChild(h('p.explain', null, t('layer.explain')));
      }
    }
    renderParams();

    async function fromLibrary() {
      stopCaptures();
      const chosen = await chooseCommand(app);
      if (!chosen) return;
      shape = cmds.shapeOf(chosen.blocks);
      seed(shape);
      radios.querySelectorAll('input').forEach((r) => { r.checked = r.value === shape.kind; });
      if (!radios.querySelector('input:checked')) {
        shape = { kind: 'macro', blocks: chosen.blocks };
        seed(shape);
        radios.querySelector('input[value="macro"]').checked = true;
      }
      nameInput.value = chosen.name;
      renderParams();
    }

    function result() {
      stopCaptures();
      let built;
      switch (shape.kind) {
        case 'key':
          if (!values.key) throw userError(t('key.missing'));
          built = { kind: 'key', page: values.key.page, usage: values.key.usage };
          break;
        case 'chord':
          if (!values.chord.key) throw userError(t('chord.keyMissing'));
          if (!values.chord.modifiers.length) throw userError(t('chord.modifierMissing'));
          built = { kind: 'chord', modifiers: values.chord.modifiers, page: values.chord.key.page, usage: values.chord.key.usage };
          break;
        case 'media': {
          const m = hid.MEDIA[values.media];
          built = { kind: 'media', page: m.page, usage: m.usage };
          break;
        }
        case 'mouse': built = { kind: 'mouse', mask: values.mouse }; break;
        case 'scroll': built = { kind: 'scroll', direction: values.scroll }; break;
        case 'open': {
          const problem = pathProblem(values.open);
          if (problem) throw userError(problem);
          built = { kind: 'open', path: values.open.trim() };
          break;
        }
        case 'macro':
          if (!values.macro.length) throw userError(t('macro.none'));
          built = { kind: 'macro', blocks: values.macro };
          break;
        default: built = { kind: 'layer' };
      }
      let out = cmds.blocksFor(built);
      // Unchanged: the command keeps its own actions (and what the page does not know of them).
      const unchanged = original && JSON.stringify(cmds.plainBlocks(out)) === original;
      if (unchanged) out = originalBlocks;
      let finalName = nameInput.value.trim();
      // The command's name described its old action (a key's name, a library command's):
      // left as it was, it would now mislabel the new one, so the new action names it.
      if (!unchanged && name && !nameTyped && finalName === name.trim()) finalName = '';
      const problem = finalName ? model.textProblem(finalName, 'name') : null;
      if (problem) {
        nameError.textContent = problem;
        throw userError(problem);
      }
      const iconPath = iconPicker.path();
      const iconProblem = iconPath ? model.textProblem(iconPath, 'path') : null;
      if (iconProblem) throw userError(iconProblem);
      return { blocks: out, name: finalName, icon: iconPath, summary: cmds.summary(cmds.shapeOf(out)) };
    }

    const element = h('div.command-editor', null,
      h('fieldset.group', null, h('legend', null, t('command.action')), radios),
      params,
      labelled(t('command.name'), nameInput, t('command.nameHint')), nameError,
      iconPicker.element,
      h('div.command-tools', null,
        h('button', { type: 'button', onclick: () => fromLibrary().catch(report) }, icon('commands'), t('command.fromLibrary')),
        h('button', { type: 'button', onclick: () => saveFavourite().catch(report) }, icon('star'), t('command.saveFavourite'))));

    async function saveFavourite() {
      const built = result();
      const wanted = await askName(t('favourite.title'), t('favourite.name'), built.name || built.summary,
        (n) => model.textProblem(n, 'name') || (n.trim() ? null : t('name.empty')), t('button.save'));
      if (!wanted) return;
      await app.addFavourite(wanted, built.blocks);
    }

    return { element, result, stop: stopCaptures };
  }

  // Picks a command from the library or the favourites; resolves with {name, blocks} or nothing.
  function chooseCommand(app) {
    return modal(t('library.choose'), (close) => {
      const groups = app.library.groups.concat(app.favourites.list.length ? [{ name: t('favourites.title'), commands: app.favourites.list }] : []);
      if (!groups.length) {
        return h('div', null, h('p.dialog-message', null, t('library.nothing')),
          h('div.dialog-buttons', null, h('button.primary', { type: 'button', onclick: () => close() }, t('button.close'))));
      }
      const name = uid('library');
      let chosen = null;
      const body = h('div.library-list', null, groups.map((g) => h('fieldset.group', null, h('legend', null, g.name),
        g.commands.map((c) => h('label.library-item', null,
          h('input', { type: 'radio', name, onchange: () => { chosen = c; } }),
          h('span.library-name', null, c.name),
          h('span.library-summary', null, c.description || cmds.summary(cmds.shapeOf(c.blocks))))))));
      return h('div', null, body, h('div.dialog-buttons', null,
        h('button.primary', { type: 'button', onclick: () => close(chosen) }, t('button.use')),
        h('button', { type: 'button', onclick: () => close() }, t('button.cancel'))));
    }, { wide: true });
  }

  // --- Bands ------------------------------------------------------------------------------
  function bandsEditor(rows, app, options) {
    const list = h('div.bands');
    const status = h('p.record-status', { role: 'status', 'aria-live': 'polite' });
    function summaryOf(row) {
      if (!row.blocks) return t('band.nothing');
      return row.name || cmds.summary(cmds.shapeOf(row.blocks));
    }
    async function change(row) {
      const done = await editCommandDialog(t('band.command', { band: row.label() }), row.blocks, row.name, app, row.icon);
      if (done) {
        row.blocks = done.blocks;
        row.name = done.name;
        row.icon = done.icon;
        render();
      }
    }
    function render() {
      list.textContent = '';
      rows.forEach((row, i) => {
        let threshold = null;
        if (!options.fixed) {
          threshold = h('input.number', { type: 'number', value: String(row.threshold), step: '1', 'aria-label': t('band.upToValue', { n: i + 1 }) });
          threshold.addEventListener('change', () => { row.threshold = Number(threshold.value); });
        }
        list.appendChild(h('div.band-row', null,
          options.fixed ? h('span.band-label', null, row.label()) : h('label.band-label', null, h('span', null, t('band.upTo')), threshold, h('span', null, options.unit || '')),
          h('span.band-command' + (row.blocks ? '' : '.muted'), null, summaryOf(row)),
          h('button', { type: 'button', 'aria-label': t('band.changeOf', { band: row.label() }), onclick: () => change(row).catch(report) }, t('band.change')),
          row.blocks ? h('button', { type: 'button', 'aria-label': t('band.clearOf', { band: row.label() }), onclick: () => { row.blocks = null; row.name = ''; row.icon = ''; render(); } }, t('band.clear')) : null,
          options.fixed ? null : h('button.icon-button', { type: 'button', 'aria-label': t('band.remove', { n: i + 1 }), onclick: () => { rows.splice(i, 1); render(); status.textContent = t('band.removed'); } }, icon('trash'))));
      });
      if (!rows.length) list.appendChild(h('p.muted', null, t('band.none')));
    }
    render();
    const add = options.fixed ? null : h('button', { type: 'button', onclick: () => {
      const last = rows.length ? rows[rows.length - 1].threshold : 0;
      const row = makeRow(Math.min(last + 25, 100), null, '', null, options);
      rows.push(row);
      render();
      status.textContent = t('band.added');
    } }, icon('plus'), t('band.add'));
    return {
      element: h('div', null, options.help ? h('p.explain', null, options.help) : null, list, add, status),
      result() {
        const out = rows.map((r) => ({ threshold: r.threshold, blocks: r.blocks, name: r.name, icon: r.icon, json: r.json }));
        for (const r of out) {
          if (!Number.isInteger(r.threshold) || r.threshold < -2147483648 || r.threshold > 2147483647) {
            throw userError(t('band.whole'));
          }
        }
        if (new Set(out.map((r) => r.threshold)).size !== out.length) throw userError(t('band.same'));
        if (!options.fixed) out.sort((a, b) => a.threshold - b.threshold);
        if (!out.some((r) => r.blocks)) throw userError(t('band.noCommand'));
        return out;
      },
    };
  }

  function makeRow(threshold, blocks, name, json, options) {
    const icon = json && model.isObject(json.command) && typeof json.command.icon === 'string' ? json.command.icon : '';
    return { threshold, blocks, name, json, icon,
      label() {
        if (!options.fixed) return t('band.upToUnit', { value: this.threshold, unit: options.unit || '' });
        const direction = hid.HAT_DIRECTIONS[this.threshold - 1];
        return direction ? named(direction) : t('band.value', { value: this.threshold });
      } };
  }

  function editCommandDialog(title, blocks, name, app, iconPath) {
    let editor = null;
    return modal(title, (close) => {
      editor = commandEditor(blocks, name, app, { noLayer: true, icon: iconPath });
      const error = h('p.field-error', { role: 'alert' });
      return h('form', { onsubmit: (e) => {
        e.preventDefault();
        try {
          close(editor.result());
        } catch (err) {
          error.textContent = err.userMessage || err.message;
        }
      } }, editor.element, error, h('div.dialog-buttons', null,
        h('button.primary', { type: 'submit' }, t('button.ok')),
        h('button', { type: 'button', onclick: () => { editor.stop(); close(); } }, t('button.cancel'))));
    }, { wide: true, onCancel: () => { editor.stop(); } });
  }

  // --- The assignment dialog --------------------------------------------------------------
  // Edits `control` in `shift`; resolves true when the profile changed.
  function assignmentDialog(app, control, shift) {
    const doc = app.doc;
    const element = control.element;
    const own = doc.ownTrigger(shift, element);
    const bands = own ? ProfileDoc.bandsOf(own) : [];
    const fallback = doc.fallbackOf(shift);
    const isAxis = control.kind === 'axis';
    const isHat = control.kind === 'hat';
    // A mouse's own X and Y: they move the pointer and take neither commands nor a
    // pointer-axis role (the library refuses one; choosing "none" here removes it).
    const isMotion = control.kind === 'motion';
    const stateName = doc.shiftName(shift);

    // The current mode.
    let mode = 'none';
    if (own) {
      if (own.role === 'unprogrammed' || own.role === 'mouse-x' || own.role === 'mouse-y') mode = own.role;
      else if (isHat) mode = 'bands';
      else if (isAxis) mode = bands.length ? 'bands' : 'none';
      else if (bands.length === 1 && bands[0].threshold === 1) mode = 'command';
      else if (bands.length) mode = 'bands';
      if (isMotion && mode !== 'unprogrammed') mode = 'none';
    }
    const inherited = doc.resolve(shift, element);
    const inheritedText = inherited && inherited.shift !== shift ? t('mode.inheritedFrom', { what: app.describeTrigger(inherited.trigger), state: doc.shiftName(inherited.shift) }) : null;
    const modes = [['none', isMotion ? t('mode.movesPointer') : isAxis || isHat ? t('mode.notUsed') : t('mode.notProgrammed'), inheritedText ? t('mode.doesWhat', { state: doc.shiftName(fallback), what: inheritedText }) :
      (isMotion ? t('mode.motionHint') : isAxis ? t('mode.axisNothing') : t('mode.ownControl'))]];
    if (fallback || mode === 'unprogrammed') {
      modes.push(['unprogrammed', fallback ? t('mode.leftTo', { state: doc.shiftName(fallback) }) : t('mode.leftToFallback'), t('mode.leftHint')]);
    }
    if (isMotion) {
      // Nothing more to choose.
    } else if (isAxis) {
      modes.push(['mouse-x', t('role.x'), null], ['mouse-y', t('role.y'), null],
        ['bands', t('mode.byPosition'), t('mode.byPositionHint')]);
    } else if (isHat) {
      modes.push(['bands', t('mode.perDirection'), null]);
    } else {
      modes.push(['command', t('mode.command'), null]);
      if (mode === 'bands') modes.push(['bands', t('mode.byValue'), null]);
    }

    let editor = null;
    let bandEditor = null;
    const modeName = uid('mode');
    const body = h('div.mode-body');
    const error = h('p.field-error', { role: 'alert' });

    function renderMode() {
      if (editor) editor.stop();
      body.textContent = '';
      editor = null;
      bandEditor = null;
      if (mode === 'command') {
        const first = bands[0];
        editor = commandEditor(first && first.command ? model.blocksOf(first.command) : null,
          first && first.command && typeof first.command.name === 'string' ? first.command.name : '', app,
          { icon: first && first.command && typeof first.command.icon === 'string' ? first.command.icon : '' });
        body.appendChild(editor.element);
      } else if (mode === 'bands') {
        const options = isHat ? { fixed: true } : { unit: isAxis ? ' %' : '',
          help: t('band.help') };
        let rows;
        if (isHat) {
          rows = hid.HAT_DIRECTIONS.map((d, i) => {
            const b = bands.find((x) => x.threshold === i + 1);
            return makeRow(i + 1, b && b.command ? model.blocksOf(b.command) : null, b && b.command && b.command.name || '', b ? b.json : null, options);
          });
        } else {
          rows = bands.map((b) => makeRow(b.threshold, b.command ? model.blocksOf(b.command) : null, b.command && b.command.name || '', b.json, options));
          if (!rows.length) rows = [makeRow(25, null, '', null, options), makeRow(75, null, '', null, options), makeRow(100, null, '', null, options)];
        }
        bandEditor = bandsEditor(rows, app, options);
        body.appendChild(bandEditor.element);
      }
    }

    const modeList = h('div.mode-list', { role: 'radiogroup', 'aria-label': t('mode.label') }, modes.map(([value, label, hint]) =>
      h('label.mode', null,
        h('input', { type: 'radio', name: modeName, value, checked: value === mode, onchange: () => { mode = value; renderMode(); } }),
        h('span.mode-text', null, h('span', null, label), hint ? h('span.hint', null, hint) : null))));

    const extras = h('div.extras');
    let latched = null;
    let percent = null;
    if (control.kind === 'button' || control.kind === 'precision') {
      latched = h('input', { type: 'checkbox', checked: doc.isLatched(element) });
      extras.appendChild(h('label.check', null, latched, h('span', null, t('latching'))));
    }
    if (control.kind === 'precision') {
      const value = doc.percentage(element) || 50;
      percent = h('input.range', { type: 'range', min: '10', max: '100', step: '5', value: String(value), 'aria-label': t('precision.label') });
      const out = h('output.range-value', null, value + ' %');
      percent.addEventListener('input', () => { out.textContent = percent.value + ' %'; });
      extras.appendChild(h('div.field', null, h('span.label', null, t('precision.field')), h('div.inline', null, percent, out)));
    }
    renderMode();

    return modal(control.label + ' · ' + stateName, (close) => h('form.assignment', { onsubmit: (event) => {
      event.preventDefault();
      try {
        const before = doc.text();
        if (mode === 'none') doc.clearAssignment(shift, element);
        else if (mode === 'unprogrammed' || mode === 'mouse-x' || mode === 'mouse-y') doc.setRole(shift, element, mode);
        else if (mode === 'command') {
          const r = editor.result();
          doc.setCommand(shift, element, r.blocks, r.name, r.icon);
        } else if (mode === 'bands') {
          const rows = bandEditor.result();
          doc.setBands(shift, element, rows, isAxis ? 'bands' : (own && own.role === 'bands' ? 'bands' : null));
        }
        if (latched && latched.checked !== doc.isLatched(element)) doc.setLatched(element, control.kind, latched.checked);
        if (percent && Number(percent.value) !== (doc.percentage(element) || 50)) doc.setPercentage(element, control.kind, Number(percent.value));
        close(doc.text() !== before);
      } catch (err) {
        error.textContent = err.userMessage || err.message;
        if (!err.userMessage) report(err);
      }
    } },
    h('p.dialog-context', null, fallback ? t('dialog.inStateFallback', { state: stateName, fallback: doc.shiftName(fallback) }) : t('dialog.inState', { state: stateName })),
    h('fieldset.group', null, h('legend', null, t('mode.label')), modeList),
    body, extras, error,
    h('div.dialog-buttons', null,
      h('button.primary', { type: 'submit' }, t('button.apply')),
      h('button', { type: 'button', onclick: () => { if (editor) editor.stop(); close(false); } }, t('button.cancel')))),
    { wide: true, onCancel: () => { if (editor) editor.stop(); } });
  }

  root.Assign = { assignmentDialog, commandEditor, chooseCommand, editCommandDialog, KeyTap, pathProblem, iconURL };
})(typeof self !== 'undefined' ? self : this);
