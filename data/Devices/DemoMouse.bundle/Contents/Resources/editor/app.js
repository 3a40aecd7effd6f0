// The editor page: the window's frame, the profile being edited and its management, and the
// views (buttons, shift states, profiles, applications, commands, test, updates). It talks
// to the editor only through the bridge (base.js) and hears its events through `$`.
//
// The profile is edited in the page (a ProfileDoc) and reaches the editor only when saved
// (setProfileJSON); until then leaving it asks. The profile the device bundle ships
// (the first in the list) is read-only: its changes are saved as a new profile.
(function (root) {
  'use strict';
  const { h, icon, ed, dev, ask, askName, notify, report, onNotice, userError } = root.Page;
  const hid = root.KinetraHid;
  const model = root.KinetraModel;
  const cmds = root.KinetraCommands;
  const { ProfileDoc } = model;
  const { assignmentDialog, KeyTap } = root.Assign;

  const state = {
    started: false,
    balias: undefined,
    deviceName: 'Mouse',
    connected: false,
    version: '',
    controls: [],
    names: [],
    edited: '',
    active: '',
    startup: '',
    doc: null,
    baseline: '',
    loadError: null,
    shiftGuid: null,
    linked: null,
    view: 'buttons',
    links: [],
    library: { groups: [], problems: [] },
    favourites: { list: [], error: null },
    update: { version: null, percent: 0, downloading: false, complete: false },
    testing: false,
    log: [],
    busy: 0,
    keepBaseline: false,
    expectActive: null,
  };

  const VIEWS = [
    ['buttons', 'Buttons', 'mouse'], ['states', 'Shift states', 'layers'], ['profiles', 'Profiles', 'profile'],
    ['apps', 'Applications', 'apps'], ['commands', 'Commands', 'commands'], ['test', 'Test', 'test'],
    ['updates', 'Updates', 'update'],
  ];

  // --- Small helpers ------------------------------------------------------------------------
  const dirty = () => !!state.doc && state.doc.text() !== state.baseline;
  const isReadOnly = () => state.names.length > 0 && state.edited === state.names[0];
  const currentShift = () => {
    if (!state.doc) return null;
    const shifts = state.doc.shifts();
    return shifts.find((s) => s.shift === state.shiftGuid) || shifts[0] || null;
  };
  // Runs one piece of work after the ones before it, so events and clicks never interleave
  // their calls to the editor.
  let queue = Promise.resolve();
  function serial(fn) {
    const run = queue.then(() => fn());
    queue = run.catch(() => {});
    return run.catch(report);
  }

  function describeTrigger(trigger) {
    if (!trigger) return 'Not programmed';
    if (trigger.role === 'mouse-x') return 'Moves the pointer sideways';
    if (trigger.role === 'mouse-y') return 'Moves the pointer up and down';
    if (trigger.role === 'unprogrammed') return 'Left to the fallback state';
    const bands = ProfileDoc.bandsOf(trigger);
    const withCommand = bands.filter((b) => b.command);
    if (bands.length === 1 && bands[0].threshold === 1 && bands[0].command) {
      const c = bands[0].command;
      return typeof c.name === 'string' && c.name ? c.name : cmds.summary(cmds.shapeOf(model.blocksOf(c)));
    }
    if (!withCommand.length) return 'Does nothing';
    return withCommand.map((b) => (typeof b.command.name === 'string' && b.command.name) || cmds.summary(cmds.shapeOf(model.blocksOf(b.command)))).join(', ');
  }

  // What a control does in the shown state: {text, state: own | inherited | none}.
  function describeControl(control) {
    const doc = state.doc;
    const shift = currentShift();
    if (!doc || !shift) return { text: '—', state: 'none' };
    const own = doc.ownTrigger(shift, control.element);
    if (own && own.role !== 'unprogrammed') return { text: describeTrigger(own), state: 'own' };
    const found = doc.resolve(shift, control.element);
    if (found && found.shift !== shift) {
      return { text: describeTrigger(found.trigger), state: 'inherited', from: doc.shiftName(found.shift) };
    }
    if (own) return { text: 'Left to the fallback state', state: 'none' };
    return { text: control.kind === 'axis' || control.kind === 'hat' ? 'Not used' : 'Not programmed', state: 'none' };
  }

  function controlsFrom(json) {
    let parsed = null;
    try {
      parsed = typeof json === 'string' && json ? JSON.parse(json) : null;
    } catch (e) {
      parsed = null;
    }
    const list = parsed && Array.isArray(parsed.controls) ? parsed.controls.filter(model.isObject) : [];
    return list.map((c) => {
      const kind = model.nodeType(c) || 'button';
      const element = model.toNumber(c[kind]);
      const base = hid.controlName(kind, element);
      const name = typeof c.name === 'string' ? c.name : '';
      return { element, kind, name, label: name && base.indexOf(name) < 0 && name.length > 1 ? base + ' · ' + name : base };
    }).filter((c) => c.element);
  }

  // --- Loading --------------------------------------------------------------------------------
  async function start() {
    state.started = true;
    const [balias, name, description, connected, version] = await Promise.all([
      dev('GetBalias'), dev('GetName'), dev('controlDescriptionJSON'), dev('connected'), dev('GetBundleVersion')]);
    state.balias = typeof balias === 'string' && balias ? balias : undefined;
    state.deviceName = typeof name === 'string' && name ? name : 'Mouse';
    state.connected = connected === true;
    state.version = typeof version === 'string' ? version : '';
    state.controls = controlsFrom(description);
    document.title = state.deviceName + ' — Profile editor';
    loadLibrary().catch(report);
    loadUpdate().catch(report);
  }

  async function loadLibrary() {
    const [xml, favourites] = await Promise.all([ed('commandXML'), ed('favoriteCommandJSON')]);
    state.library = cmds.libraryFromXML(xml);
    const fav = cmds.parseFavourites(favourites);
    state.favourites = { list: fav.favourites || [], error: fav.error || null, raw: favourites };
    render();
  }

  async function loadUpdate() {
    const [version, percent] = await Promise.all([ed('updateVersion'), ed('downloadPercentage')]);
    state.update.version = typeof version === 'string' && version ? version : null;
    state.update.percent = Number(percent) || 0;
    state.update.complete = state.update.version !== null && state.update.percent === 100;
    render();
  }

  async function loadNames() {
    const [names, active, startup] = await Promise.all([ed('profileList'), ed('getActiveProfile'), ed('startupProfile')]);
    if (!Array.isArray(names)) throw userError('The editor sent no list of profiles.');
    state.names = names.filter((n) => typeof n === 'string');
    state.active = typeof active === 'string' ? active : '';
    state.startup = typeof startup === 'string' ? startup : '';
  }

  // The store lists its folder again when the folder's watch reports a change, a moment
  // after the call that made it: after a new, renamed or deleted profile, the page waits
  // (a few seconds at most) until the list shows it. Answers whether it does.
  async function namesUntil(ok, limitMs = 3000) {
    const deadline = Date.now() + limitMs;
    for (;;) {
      await loadNames();
      if (ok(state.names)) return true;
      if (Date.now() > deadline) return false;
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
  }

  async function loadLinks() {
    const keys = state.edited ? await ed('appsLinkedToProfile', state.edited) : [];
    const list = Array.isArray(keys) ? keys.filter((k) => typeof k === 'string') : [];
    const names = await Promise.all(list.map((k) => ed('appNameAtPath', k).catch(() => null)));
    state.links = list.map((key, i) => ({ key, name: typeof names[i] === 'string' ? names[i] : null, path: pathOfKey(key) }));
  }

  function pathOfKey(key) {
    let path = key.replace(/^file:/, '');
    try {
      path = decodeURIComponent(path);
    } catch (e) { /* an odd escape: the key as it stands */ }
    return path.replace(/^\/+/, '/');
  }

  // The edited profile from the editor. `keepBaseline`: the page keeps what was saved as
  // the baseline (after a reset, which changes the profile but writes nothing).
  async function loadEdited(keepBaseline) {
    const [text] = await Promise.all([ed('profileJSON'), loadNames()]);
    const parsed = ProfileDoc.parse(text, state.balias);
    if (parsed.error) {
      state.doc = null;
      state.loadError = parsed.error;
      state.edited = '';
    } else {
      state.loadError = parsed.doc.controller() ? null : 'This profile has no settings for ' + state.deviceName + ': it cannot be edited here.';
      if (!keepBaseline || !state.doc || state.doc.name !== parsed.doc.name) state.baseline = parsed.doc.text();
      state.doc = parsed.doc;
      state.edited = parsed.doc.name;
    }
    if (!currentShift() || !state.doc || !state.doc.shiftByGuid(state.shiftGuid)) {
      const first = state.doc && state.doc.shifts()[0];
      state.shiftGuid = first ? first.shift : null;
    }
    await loadLinks();
    render();
  }

  // --- Leaving, saving ------------------------------------------------------------------------
  // Before the edited profile is left: true when it may go (saved, or changes discarded).
  async function confirmLeave(what) {
    if (!dirty()) return true;
    const choice = await ask('Unsaved changes', 'Save the changes to “' + state.edited + '” before ' + what + '?', [
      { label: 'Save', value: 'save', primary: true },
      { label: 'Don’t save', value: 'discard', danger: true },
      { label: 'Cancel', value: 'cancel' }]);
    if (choice === 'save') return save();
    if (choice === 'discard') {
      state.baseline = state.doc.text();
      return true;
    }
    return false;
  }

  async function stopActivities() {
    if (state.testing) await setTesting(false);
    await KeyTap.stop();
  }

  async function save() {
    if (!state.doc) return false;
    const problem = state.doc.storableProblem();
    if (problem) {
      notify(problem, 'error');
      return false;
    }
    if (isReadOnly()) return saveAsNew();
    const ok = await ed('setProfileJSON', state.doc.text());
    if (ok === false) {
      notify('“' + state.edited + '” could not be saved: the editor refused it. Your changes are still here; the log says why.', 'error');
      return false;
    }
    await loadEdited(false);
    notify('Saved “' + state.edited + '”.', 'success');
    return true;
  }

  // The read-only profile's changes, saved as a new profile of their own.
  async function saveAsNew() {
    const base = state.edited + ' copy';
    let suggestion = base;
    for (let n = 2; state.names.some((x) => x.toLowerCase() === suggestion.toLowerCase()); n++) suggestion = base + ' ' + n;
    const name = await askName('Save as a new profile', '“' + state.edited + '” comes with the mouse and cannot be changed. Name the new profile:',
      suggestion, (n) => model.profileNameProblem(n, state.names), 'Save');
    if (!name) return false;
    const edits = state.doc;
    state.busy++;
    try {
      await ed('newProfile');
      const created = ProfileDoc.parse(await ed('profileJSON'), state.balias);
      if (created.error) throw userError('The new profile could not be made: ' + created.error);
      const untitled = created.doc.name;
      if (untitled !== name) {
        await ed('renameProfile', untitled, name);
        if (!(await namesUntil((names) => names.includes(name)))) throw userError('The new profile could not be named “' + name + '”; it is called “' + untitled + '”.');
      }
      edits.json.profile = name;
      const ok = await ed('setProfileJSON', edits.text());
      if (ok === false) throw userError('“' + name + '” was made but the changes could not be saved into it.');
    } finally {
      state.busy--;
    }
    await loadEdited(false);
    notify('Saved as “' + name + '”.', 'success');
    return true;
  }

  function changed() {
    render();
  }

  // --- Profile actions ------------------------------------------------------------------------
  const actions = {
    async pick(name) {
      if (name === state.edited) return;
      if (!(await confirmLeave('editing “' + name + '”'))) {
        render();
        return;
      }
      await stopActivities();
      await ed('setProfile', name);
      await loadEdited(false);
    },
    async create() {
      if (!(await confirmLeave('making a new profile'))) return;
      await stopActivities();
      state.busy++;
      try {
        await ed('newProfile');
      } finally {
        state.busy--;
      }
      await loadEdited(false);
      if (!state.names.includes(state.edited)) {
        await namesUntil((names) => names.includes(state.edited));
        render();
      }
      notify('Made “' + state.edited + '” from the mouse’s defaults. Rename it in Profiles.', 'success');
    },
    async rename(oldName) {
      const name = await askName('Rename profile', 'New name for “' + oldName + '”', oldName,
        (n) => model.profileNameProblem(n, state.names, oldName), 'Rename');
      if (!name || name === oldName) return;
      await ed('renameProfile', oldName, name);
      if (!(await namesUntil((names) => names.includes(name) && !names.includes(oldName)))) {
        notify('“' + oldName + '” could not be renamed to “' + name + '”.', 'error');
        render();
        return;
      }
      if (state.edited === oldName) {
        state.edited = name;
        state.doc.json.profile = name;
        const base = JSON.parse(state.baseline);
        base.profile = name;
        state.baseline = JSON.stringify(base);
      }
      await loadLinks();
      render();
      notify('Renamed “' + oldName + '” to “' + name + '”.', 'success');
    },
    async remove(name) {
      const editing = name === state.edited;
      const choice = await ask('Delete profile', 'Delete “' + name + '”' + (editing && dirty() ? ' and your unsaved changes' : '') +
        '? Applications linked to it lose their link. This cannot be undone.', [
        { label: 'Delete', value: 'delete', danger: true, primary: true }, { label: 'Cancel', value: 'cancel' }]);
      if (choice !== 'delete') return;
      if (editing) {
        await stopActivities();
        state.baseline = state.doc ? state.doc.text() : '';
      }
      await ed('deleteProfile', name);
      await namesUntil((names) => !names.includes(name));
      await loadEdited(false);
      notify('Deleted “' + name + '”.', 'success');
    },
    async reset() {
      const choice = await ask('Reset profile', 'Replace everything in “' + state.edited + '” with the mouse’s defaults? Nothing is written until you save.', [
        { label: 'Reset', value: 'reset', danger: true, primary: true }, { label: 'Cancel', value: 'cancel' }]);
      if (choice !== 'reset') return;
      state.keepBaseline = true;
      try {
        await ed('resetProfile');
        await loadEdited(true);
      } finally {
        state.keepBaseline = false;
      }
      notify('“' + state.edited + '” now holds the defaults: save to keep them.', 'info');
    },
    async setActive(name) {
      state.expectActive = name;
      const refused = await ed('setActiveProfile', name);
      if (refused) {
        state.expectActive = null;
        throw userError(refused);
      }
      await loadNames();
      render();
      notify(name ? '“' + name + '” is now the active profile.' : 'No profile is active: the mouse works as a plain mouse.', 'success');
    },
    async setStartup(name) {
      await ed('setStartupProfile', name);
      await loadNames();
      render();
      notify(name ? '“' + name + '” is used when the agent starts.' : 'No start-up profile.', 'success');
    },
    async discard() {
      const choice = await ask('Discard changes', 'Discard your changes to “' + state.edited + '”?', [
        { label: 'Discard', value: 'discard', danger: true, primary: true }, { label: 'Cancel', value: 'cancel' }]);
      if (choice !== 'discard') return;
      state.doc = ProfileDoc.parse(state.baseline, state.balias).doc;
      render();
    },
  };

  // --- Test mode ------------------------------------------------------------------------------
  root.kinetraTestAction = function (kind, page, usage, value, text) {
    if (!state.testing) return;
    const entry = { at: new Date(), text: hid.describeAction(page >>> 0, usage >>> 0, value >>> 0, text || ''), page, usage, value };
    state.log.push(entry);
    if (state.log.length > 500) state.log.shift();
    const list = document.getElementById('test-log');
    if (list) {
      const empty = list.querySelector('.empty');
      if (empty) empty.remove();
      list.appendChild(logRow(entry));
      list.scrollTop = list.scrollHeight;
    }
  };

  async function setTesting(on) {
    await ed('setDeviceActionCallback', on ? 'kinetraTestAction' : '');
    state.testing = on;
    render();
  }

  // --- Favourites -----------------------------------------------------------------------------
  async function writeFavourites(list) {
    const text = cmds.favouritesText(list);
    await ed('setFavouriteCommandJSON', text);
    const back = await ed('favoriteCommandJSON');
    if (back !== text) throw userError('The favourites could not be saved (the file could not be written).');
    state.favourites = { list, error: null, raw: text };
    render();
  }

  async function addFavourite(name, blocks) {
    if (state.favourites.error) {
      const choice = await ask('Replace the favourites file?', state.favourites.error + ' Saving a favourite replaces it.', [
        { label: 'Replace', value: 'replace', danger: true, primary: true }, { label: 'Cancel', value: 'cancel' }]);
      if (choice !== 'replace') return;
    }
    const list = (state.favourites.error ? [] : state.favourites.list).filter((f) => f.name !== name);
    list.push({ name, blocks: cmds.plainBlocks(blocks) });
    await writeFavourites(list);
    notify('Saved “' + name + '” as a favourite.', 'success');
  }

  // --- Rendering ------------------------------------------------------------------------------
  function render() {
    const app = document.getElementById('app');
    if (!app) return;
    const focus = document.activeElement && document.activeElement.id;
    renderHeader();
    renderNav();
    renderView();
    if (focus && document.getElementById(focus) && document.activeElement === document.body) document.getElementById(focus).focus();
  }

  function renderHeader() {
    const bar = document.getElementById('toolbar');
    bar.textContent = '';
    const select = h('select.select#profile-select', { 'aria-label': 'Profile to edit', disabled: state.busy > 0 || undefined },
      state.names.map((n) => h('option', { value: n, selected: n === state.edited || undefined }, n)));
    select.addEventListener('change', () => serial(() => actions.pick(select.value)));
    const chips = h('span.chips', null,
      state.edited && state.edited === state.active ? h('span.chip.active', null, 'Active') : null,
      state.edited && state.edited === state.startup ? h('span.chip', null, 'Start-up') : null,
      isReadOnly() ? h('span.chip.muted', { title: 'Comes with the mouse: changes are saved as a new profile' }, 'Read-only') : null);
    const unsaved = dirty();
    bar.appendChild(h('div.toolbar-left', null, h('label.toolbar-label', { for: 'profile-select' }, 'Profile'), select, chips));
    bar.appendChild(h('div.toolbar-right', null,
      unsaved ? h('span.unsaved', { role: 'status' }, 'Unsaved changes') : h('span.unsaved.saved', { role: 'status' }, state.doc ? 'Saved' : ''),
      unsaved ? h('button#discard-button', { type: 'button', onclick: () => serial(actions.discard) }, 'Discard') : null,
      h('button.primary#save-button', { type: 'button', disabled: !unsaved || undefined, onclick: () => serial(save) },
        isReadOnly() ? 'Save as…' : 'Save')));
  }

  function renderNav() {
    const nav = document.getElementById('nav-list');
    nav.textContent = '';
    for (const [id, label, iconName] of VIEWS) {
      const badge = id === 'updates' && state.update.version ? h('span.badge', { 'aria-label': 'update available' }, '1')
        : id === 'test' && state.testing ? h('span.badge.live', { 'aria-label': 'running' }, '●') : null;
      nav.appendChild(h('li', null, h('button.nav-item#nav-' + id, { type: 'button', 'aria-current': state.view === id ? 'page' : undefined,
        onclick: () => serial(() => show(id)) }, icon(iconName), h('span', null, label), badge)));
    }
    const status = document.getElementById('device-status');
    status.textContent = '';
    status.appendChild(h('span.dot' + (state.connected ? '.on' : ''), { 'aria-hidden': 'true' }));
    status.appendChild(document.createTextNode(state.connected ? 'Mouse connected' : 'Mouse not connected'));
    document.getElementById('device-name').textContent = state.deviceName;
  }

  async function show(view) {
    if (state.view === view) return;
    if (state.view === 'test' && state.testing) await setTesting(false);
    await KeyTap.stop();
    state.view = view;
    render();
    const heading = document.querySelector('#view h1');
    if (heading) heading.focus();
  }

  function renderView() {
    const view = document.getElementById('view');
    view.textContent = '';
    if (!state.doc) {
      view.appendChild(h('div.empty-state', null, h('h1', { tabindex: '-1' }, state.started ? 'No profile' : 'Loading…'),
        state.loadError ? h('p.error-text', null, state.loadError) : null));
      if (state.view !== 'profiles' && state.view !== 'updates') return;
      view.textContent = '';
    }
    const renderers = { buttons: viewButtons, states: viewStates, profiles: viewProfiles, apps: viewApps,
      commands: viewCommands, test: viewTest, updates: viewUpdates };
    view.appendChild(renderers[state.view]());
  }

  function heading(text, sub) {
    return h('header.view-header', null, h('h1', { tabindex: '-1' }, text), sub ? h('p.view-sub', null, sub) : null);
  }

  function shiftSwitcher() {
    const shifts = state.doc.shifts();
    const current = currentShift();
    return h('div.segmented.shift-switcher', { role: 'radiogroup', 'aria-label': 'Shift state shown' }, shifts.map((s) =>
      h('button', { type: 'button', role: 'radio', 'aria-checked': String(s === current), tabindex: s === current ? '0' : '-1',
        onclick: () => { state.shiftGuid = s.shift; render(); focusShiftButton(); },
        onkeydown: (e) => {
          const by = { ArrowRight: 1, ArrowDown: 1, ArrowLeft: -1, ArrowUp: -1 }[e.key];
          if (!by) return;
          e.preventDefault();
          const i = (shifts.indexOf(current) + by + shifts.length) % shifts.length;
          state.shiftGuid = shifts[i].shift;
          render();
          focusShiftButton();
        } }, state.doc.shiftName(s))));
  }
  function focusShiftButton() {
    const b = document.querySelector('.shift-switcher [aria-checked="true"]');
    if (b) b.focus();
  }

  // --- Buttons ------------------------------------------------------------------------------
  function linkHover(element, on) {
    state.linked = on ? element : null;
    document.querySelectorAll('[data-element]').forEach((node) => {
      node.classList.toggle('linked', on && Number(node.getAttribute('data-element')) === element);
    });
  }

  async function openControl(control) {
    const shift = currentShift();
    if (!shift) return;
    await KeyTap.stop();
    const changedIt = await assignmentDialog(api, control, shift);
    if (changedIt) changed();
    const again = document.querySelector('.control-row[data-element="' + control.element + '"]');
    if (again) again.focus();
  }

  function viewButtons() {
    const doc = state.doc;
    const shift = currentShift();
    const wrap = h('section.view.view-buttons', { 'aria-labelledby': 'buttons-title' });
    const head = heading('Buttons');
    head.querySelector('h1').id = 'buttons-title';
    wrap.appendChild(h('div.view-top', null, head, shift ? shiftSwitcher() : null));
    if (state.loadError) wrap.appendChild(h('p.banner.error', null, state.loadError));
    if (isReadOnly()) {
      wrap.appendChild(h('p.banner', null, '“' + state.edited + '” comes with the mouse. Change what you like: saving makes a new profile of it.'));
    }
    if (!shift || !state.controls.length) {
      wrap.appendChild(h('p.muted', null, 'The mouse describes no controls.'));
      return wrap;
    }
    const picture = root.MousePicture.render(state.controls, describeControl, (c) => openControl(c).catch(report), state.linked);
    picture.addEventListener('mouseover', (e) => {
      const node = e.target.closest && e.target.closest('[data-element]');
      if (node) linkHover(Number(node.getAttribute('data-element')), true);
    });
    picture.addEventListener('mouseleave', () => linkHover(null, false));
    picture.addEventListener('focusin', (e) => {
      const node = e.target.closest && e.target.closest('[data-element]');
      if (node) linkHover(Number(node.getAttribute('data-element')), true);
    });
    picture.addEventListener('focusout', () => linkHover(null, false));
    const list = h('ul.control-list', { 'aria-label': 'Controls in “' + doc.shiftName(shift) + '”' }, state.controls.map((control) => {
      const info = describeControl(control);
      return h('li', null, h('button.control-row.state-' + info.state, {
        type: 'button', 'data-element': control.element,
        onclick: () => openControl(control).catch(report),
        onmouseenter: () => linkHover(control.element, true), onmouseleave: () => linkHover(null, false),
        onfocus: () => linkHover(control.element, true), onblur: () => linkHover(null, false),
      }, h('span.control-name', null, control.label),
      h('span.control-does', null, info.state === 'inherited' ? h('span.from', null, info.from + ': ') : null, info.text)));
    }));
    wrap.appendChild(h('div.buttons-layout', null, h('div.picture-pane', null, picture), h('div.list-pane', null, list)));
    return wrap;
  }

  // --- Shift states ---------------------------------------------------------------------------
  // Buttons held for a state must reach the profile in every state: one that does nothing
  // there gets a command of its own that does nothing but be held.
  function overrideSelectionButtons(doc, target) {
    const added = [];
    for (const element of doc.selectionSet(target)) {
      for (const s of doc.shifts()) {
        if (doc.ownTrigger(s, element) || doc.resolve(s, element)) continue;
        doc.setCommand(s, element, [], 'Hold for ' + doc.shiftName(target));
        added.push(doc.shiftName(s));
      }
    }
    return added;
  }

  function viewStates() {
    const doc = state.doc;
    const wrap = h('section.view.view-states');
    wrap.appendChild(h('div.view-top', null, heading('Shift states', 'Layers of assignments: a state applies while its buttons are held.'),
      h('button.primary#add-state', { type: 'button', onclick: () => serial(async () => {
        const name = await askName('New shift state', 'Name', 'Layer ' + (doc.shifts().length + 1), (n) => doc.checkShiftName(n), 'Add');
        if (!name) return;
        const created = doc.addShift(name);
        state.shiftGuid = created.shift;
        changed();
        const input = document.querySelector('.state-card:last-of-type .state-name');
        if (input) input.focus();
      }) }, icon('plus'), 'Add state')));
    const buttons = state.controls.filter((c) => c.kind === 'button' || c.kind === 'precision');
    const commandsList = doc.commands();
    for (const shift of doc.shifts()) {
      const id = 'state-' + shift.shift.replace(/[^\w]/g, '');
      const nameInput = h('input.text.state-name', { type: 'text', value: doc.shiftName(shift), 'aria-label': 'Name of the shift state', spellcheck: 'false' });
      const nameError = h('p.field-error', { role: 'alert' });
      nameInput.addEventListener('change', () => {
        try {
          doc.renameShift(shift, nameInput.value);
          nameError.textContent = '';
          nameInput.removeAttribute('aria-invalid');
          changed();
        } catch (e) {
          nameError.textContent = e.message;
          nameInput.setAttribute('aria-invalid', 'true');
        }
      });
      const fallback = h('select.select', { 'aria-label': 'Falls back to' },
        h('option', { value: '' }, 'Nothing (no fallback)'),
        doc.fallbackCandidates(shift).map((s) => h('option', { value: s.shift, selected: shift.fallback === s.shift || undefined }, doc.shiftName(s))));
      fallback.addEventListener('change', () => { doc.setFallback(shift, fallback.value || null); changed(); });
      const held = doc.selectionSet(shift);
      const checks = h('div.check-grid', { role: 'group', 'aria-label': 'Buttons to hold for “' + doc.shiftName(shift) + '”' }, buttons.map((b) =>
        h('label.check', null, h('input', { type: 'checkbox', checked: held.indexOf(b.element) >= 0, onchange: (e) => {
          const set = new Set(doc.selectionSet(shift));
          if (e.target.checked) set.add(b.element);
          else set.delete(b.element);
          doc.setSelectionSet(shift, Array.from(set));
          const added = overrideSelectionButtons(doc, shift);
          changed();
          if (added.length) notify(b.label + ' now switches to “' + doc.shiftName(shift) + '” while held; in ' + Array.from(new Set(added)).join(', ') + ' it does only that.', 'info');
        } }), h('span', null, b.label))));
      const command = h('select.select', { 'aria-label': 'While active, runs' },
        h('option', { value: '' }, 'Nothing'),
        commandsList.map((c) => h('option', { value: c.guid, selected: doc.shiftCommandGuid(shift) === c.guid || undefined },
          ((typeof c.command.name === 'string' && c.command.name) || cmds.summary(cmds.shapeOf(model.blocksOf(c.command)))) + ' (' + doc.shiftName(c.shift) + ')')));
      command.addEventListener('change', () => { doc.setShiftCommand(shift, command.value || null); changed(); });
      const inherited = doc.inherited(shift, state.controls);
      const fb = doc.fallbackOf(shift);
      wrap.appendChild(h('article.state-card', { id, 'aria-label': 'Shift state ' + doc.shiftName(shift) },
        h('div.state-head', null, nameInput,
          h('button.danger-text', { type: 'button', disabled: doc.shifts().length <= 1 || undefined, 'aria-label': 'Remove shift state ' + doc.shiftName(shift),
            onclick: () => serial(async () => {
              const choice = await ask('Remove shift state', 'Remove “' + doc.shiftName(shift) + '” and everything assigned in it?', [
                { label: 'Remove', value: 'remove', danger: true, primary: true }, { label: 'Cancel', value: 'cancel' }]);
              if (choice !== 'remove') return;
              doc.removeShift(shift);
              changed();
            }) }, icon('trash'), 'Remove')),
        nameError,
        h('div.state-grid', null,
          h('label.field', null, h('span.label', null, 'Falls back to'), fallback),
          h('label.field', null, h('span.label', null, 'While active, runs'), command)),
        h('div.field', null, h('span.label', null, 'Active while these buttons are held'),
          held.length ? null : h('span.hint', null, 'None: the state applies when no state with held buttons does.'), checks),
        h('div.field', null, h('span.label', null, fb ? 'Left to “' + doc.shiftName(fb) + '”' : 'Left to a fallback'),
          !fb ? h('p.hint', null, 'No fallback: controls not programmed here work as the mouse’s own.')
            : inherited.length ? h('ul.chips-list', null, inherited.map((i) => h('li.chip', null, i.control.label + ': ' + describeTrigger(i.trigger))))
              : h('p.hint', null, 'Nothing: this state programs every control its fallback does.'))));
    }
    return wrap;
  }

  // --- Profiles -------------------------------------------------------------------------------
  function viewProfiles() {
    const wrap = h('section.view.view-profiles');
    wrap.appendChild(h('div.view-top', null, heading('Profiles', 'The active profile runs now; the start-up profile when the agent starts.'),
      h('div.button-row', null,
        h('button.primary#new-profile', { type: 'button', onclick: () => serial(actions.create) }, icon('plus'), 'New profile'),
        h('button#reset-profile', { type: 'button', disabled: isReadOnly() || !state.doc || undefined, onclick: () => serial(actions.reset) }, 'Reset “' + state.edited + '”…'))));
    const row = (name) => {
      const first = name === state.names[0];
      return h('tr', { 'data-profile': name },
        h('th', { scope: 'row' }, name, name === state.edited ? h('span.chip', null, 'Editing') : null, first ? h('span.chip.muted', null, 'Built in') : null),
        h('td', null, h('input', { type: 'radio', name: 'active-profile', checked: state.active === name, 'aria-label': 'Active: ' + name,
          onchange: () => serial(() => actions.setActive(name)) })),
        h('td', null, h('input', { type: 'radio', name: 'startup-profile', checked: state.startup === name, 'aria-label': 'Start-up: ' + name,
          onchange: () => serial(() => actions.setStartup(name)) })),
        h('td.actions', null,
          name !== state.edited ? h('button', { type: 'button', 'aria-label': 'Edit ' + name, onclick: () => serial(() => actions.pick(name)) }, 'Edit') : null,
          h('button', { type: 'button', disabled: first || undefined, 'aria-label': 'Rename ' + name, onclick: () => serial(() => actions.rename(name)) }, 'Rename'),
          h('button.danger-text', { type: 'button', disabled: first || undefined, 'aria-label': 'Delete ' + name, onclick: () => serial(() => actions.remove(name)) }, 'Delete')));
    };
    wrap.appendChild(h('table.profiles', null,
      h('thead', null, h('tr', null, h('th', { scope: 'col' }, 'Profile'), h('th', { scope: 'col' }, 'Active'), h('th', { scope: 'col' }, 'Start-up'), h('th', { scope: 'col' }, h('span.visually-hidden', null, 'Actions')))),
      h('tbody', null, state.names.map(row),
        h('tr.none-row', null, h('th', { scope: 'row' }, h('span.muted', null, 'None')),
          h('td', null, h('input', { type: 'radio', name: 'active-profile', checked: state.active === '', 'aria-label': 'Active: none (profiles off)',
            onchange: () => serial(() => actions.setActive('')) })),
          h('td', null, h('input', { type: 'radio', name: 'startup-profile', checked: state.startup === '', 'aria-label': 'Start-up: none',
            onchange: () => serial(() => actions.setStartup('')) })),
          h('td')))));
    return wrap;
  }

  // --- Applications ---------------------------------------------------------------------------
  function viewApps() {
    const wrap = h('section.view.view-apps');
    wrap.appendChild(h('div.view-top', null, heading('Applications', 'While a linked application has the focus, “' + state.edited + '” is active.'),
      h('button.primary#link-app', { type: 'button', onclick: () => serial(async () => {
        await call('openAppLinkDialogForProfile', [state.edited]);
        await loadLinks();
        render();
      }) }, icon('link'), 'Link application…')));
    if (!state.links.length) {
      wrap.appendChild(h('p.empty', null, 'No application is linked to “' + state.edited + '”.'));
      return wrap;
    }
    wrap.appendChild(h('ul.app-list', null, state.links.map((link) => {
      const img = h('img.app-icon', { src: 'icon:' + encodeURI(link.path), alt: '' });
      img.addEventListener('error', () => img.classList.add('missing'));
      return h('li.app-row', null, img,
        h('span.app-text', null, h('span.app-name', null, link.name || link.path.split('/').pop()), h('span.app-path', null, link.path)),
        h('button', { type: 'button', 'aria-label': 'Unlink ' + (link.name || link.path), onclick: () => serial(async () => {
          await ed('unlinkAppFromProfile', link.path, state.edited);
          await loadLinks();
          render();
          notify('Unlinked ' + (link.name || link.path) + '.', 'success');
        }) }, 'Unlink'));
    })));
    return wrap;
  }

  function call(method, args) {
    return root.Page.call('editor', method, args, { timeout: 0 });
  }

  // --- Commands -------------------------------------------------------------------------------
  async function applyTo(name, blocks) {
    const shift = currentShift();
    const controls = state.controls.filter((c) => c.kind !== 'axis' && c.kind !== 'hat');
    const target = await root.Page.modal('Apply “' + name + '”', (close) => {
      const control = h('select.select', { 'aria-label': 'Control' }, controls.map((c) => h('option', { value: String(c.element) }, c.label)));
      const stateSelect = h('select.select', { 'aria-label': 'Shift state' }, state.doc.shifts().map((s) => h('option', { value: s.shift, selected: s === shift || undefined }, state.doc.shiftName(s))));
      return h('form', { onsubmit: (e) => { e.preventDefault(); close({ element: Number(control.value), guid: stateSelect.value }); } },
        h('label.field', null, h('span.label', null, 'Control'), control),
        h('label.field', null, h('span.label', null, 'In shift state'), stateSelect),
        h('div.dialog-buttons', null, h('button.primary', { type: 'submit' }, 'Apply'), h('button', { type: 'button', onclick: () => close() }, 'Cancel')));
    });
    if (!target) return;
    const s = state.doc.shiftByGuid(target.guid);
    state.doc.setCommand(s, target.element, blocks.map((b) => ({ type: b.type, actions: b.actions.map((a) => Object.assign({}, a)) })), name);
    changed();
    const control = state.controls.find((c) => c.element === target.element);
    notify('“' + name + '” is now on ' + control.label + ' in “' + state.doc.shiftName(s) + '”. Save to keep it.', 'success');
  }

  function viewCommands() {
    const wrap = h('section.view.view-commands');
    wrap.appendChild(h('div.view-top', null, heading('Commands', 'Ready-made commands, and the ones you saved as favourites.')));
    const card = (c, favourite) => h('li.command-card', null,
      h('span.command-name', null, c.name),
      h('span.command-summary', null, c.description || cmds.summary(cmds.shapeOf(c.blocks))),
      h('span.command-actions', null,
        h('button', { type: 'button', 'aria-label': 'Apply ' + c.name + '…', disabled: !state.doc || undefined, onclick: () => serial(() => applyTo(c.name, c.blocks)) }, 'Apply…'),
        favourite ? h('button.danger-text', { type: 'button', 'aria-label': 'Remove favourite ' + c.name, onclick: () => serial(async () => {
          await writeFavourites(state.favourites.list.filter((f) => f !== c));
          notify('Removed the favourite “' + c.name + '”.', 'success');
        }) }, 'Remove') : null));
    wrap.appendChild(h('h2', null, 'Favourites'));
    if (state.favourites.error) wrap.appendChild(h('p.banner.error', null, state.favourites.error + ' It is left as it is until you save a favourite.'));
    else if (!state.favourites.list.length) wrap.appendChild(h('p.empty', null, 'No favourites yet: use “Save as favourite…” when you edit a button.'));
    else wrap.appendChild(h('ul.command-grid', null, state.favourites.list.map((c) => card(c, true))));
    for (const problem of state.library.problems) wrap.appendChild(h('p.banner.error', null, problem));
    for (const group of state.library.groups) {
      wrap.appendChild(h('h2', null, group.name));
      wrap.appendChild(h('ul.command-grid', null, group.commands.map((c) => card(c, false))));
    }
    if (!state.library.groups.length) wrap.appendChild(h('p.empty', null, 'The mouse ships no ready-made commands.'));
    return wrap;
  }

  // --- Test -----------------------------------------------------------------------------------
  function logRow(entry) {
    const time = entry.at.toTimeString().slice(0, 8) + '.' + String(entry.at.getMilliseconds()).padStart(3, '0');
    return h('li.log-row', null, h('time', null, time), h('span', null, entry.text));
  }

  function viewTest() {
    const wrap = h('section.view.view-test');
    wrap.appendChild(h('div.view-top', null, heading('Test', 'Press buttons on the mouse: what they would do appears below, and nothing reaches your desktop.'),
      h('div.button-row', null,
        h('button.primary#test-toggle', { type: 'button', 'aria-pressed': String(state.testing), onclick: () => serial(() => setTesting(!state.testing)) },
          icon(state.testing ? 'stop' : 'test'), state.testing ? 'Stop test' : 'Start test'),
        h('button#test-clear', { type: 'button', onclick: () => { state.log = []; render(); } }, 'Clear'))));
    if (!state.connected) wrap.appendChild(h('p.banner', null, 'The mouse is not connected: connect it to test.'));
    if (dirty()) {
      wrap.appendChild(h('p.banner', null, 'The test runs “' + state.edited + '” as last saved. ',
        h('button.link', { type: 'button', onclick: () => serial(save) }, isReadOnly() ? 'Save as a new profile' : 'Save your changes'), ' to test them.'));
    }
    if (state.testing) wrap.appendChild(h('p.banner.live', null, 'Testing “' + state.edited + '”: the mouse’s programmed buttons report here until you stop.'));
    const list = h('ol.test-log#test-log', { role: 'log', 'aria-live': 'polite', 'aria-label': 'Actions' });
    if (!state.log.length) list.appendChild(h('li.empty', null, state.testing ? 'Waiting for a button press…' : 'Start the test, then press a button.'));
    for (const entry of state.log) list.appendChild(logRow(entry));
    wrap.appendChild(list);
    setTimeout(() => { list.scrollTop = list.scrollHeight; }, 0);
    return wrap;
  }

  // --- Updates --------------------------------------------------------------------------------
  function viewUpdates() {
    const u = state.update;
    const wrap = h('section.view.view-updates');
    wrap.appendChild(h('div.view-top', null, heading('Updates')));
    wrap.appendChild(h('dl.facts', null, h('dt', null, 'Installed'), h('dd', null, state.version || 'unknown'),
      h('dt', null, 'Available'), h('dd#update-version', null, u.version || 'No update available')));
    if (!u.version) return wrap;
    const bar = h('div.progress', { role: 'progressbar', 'aria-label': 'Download', 'aria-valuemin': '0', 'aria-valuemax': '100', 'aria-valuenow': String(u.percent) },
      h('div.progress-fill', { style: 'width:' + Math.max(0, Math.min(100, u.percent)) + '%' }));
    wrap.appendChild(h('div.update-card', null,
      h('p', null, 'Version ' + u.version + ' is available.'),
      u.downloading || u.complete || u.percent > 0 ? h('div.progress-row', null, bar, h('span#update-percent', null, u.percent + ' %')) : null,
      h('div.button-row', null,
        u.complete ? h('button.primary#install-update', { type: 'button', onclick: () => serial(async () => {
          await ed('installUpdate');
          notify('The package manager installs version ' + u.version + '; it may ask for your password.', 'success');
        }) }, 'Install…')
          : h('button.primary#download-update', { type: 'button', disabled: u.downloading || undefined, onclick: () => serial(async () => {
            u.downloading = true;
            render();
            await ed('startUpdateDownload');
          }) }, u.downloading ? 'Downloading…' : 'Download'))));
    return wrap;
  }

  // --- Notices --------------------------------------------------------------------------------
  onNotice((message, kind) => {
    const box = document.getElementById('notices');
    if (!box) return;
    const note = h('div.notice.' + kind, { role: kind === 'error' ? 'alert' : 'status' },
      h('span.notice-text', null, message),
      h('button.icon-button', { type: 'button', 'aria-label': 'Dismiss', onclick: () => note.remove() }, icon('close')));
    box.appendChild(note);
    while (box.children.length > 3) box.firstChild.remove();
    if (kind !== 'error') setTimeout(() => note.remove(), 6000);
  });

  // --- Events from the editor -----------------------------------------------------------------
  // The editor sends this while a call of the page is still under way (a reset, a new
  // profile): what that call asked for is read now, not when the queue reaches the event.
  $(document).on('editor:update', () => {
    const keepBaseline = state.keepBaseline;
    const busy = state.busy > 0;
    serial(async () => {
      if (!state.started) await start();
      if (busy) return;
      await loadEdited(keepBaseline);
    });
  });
  $(document).on('editor:profileRenamed', () => serial(async () => {
    if (!state.started || state.busy > 0) return;
    await loadNames();
    render();
  }));
  $(document).on('editor:profileList', () => serial(async () => {
    if (!state.started || state.busy > 0) return;
    await loadNames();
    if (state.edited && state.names.indexOf(state.edited) < 0) {
      notify('“' + state.edited + '” was deleted or renamed by another program. Save your changes as a new profile to keep them.', 'error');
    }
    render();
  }));
  $(document).on('editor:activeProfileChanged', () => serial(async () => {
    if (!state.started) return;
    const before = state.active;
    await loadNames();
    if (state.active !== before && state.active !== state.expectActive) {
      notify(state.active ? 'Another program made “' + state.active + '” the active profile.' : 'Another program turned profiles off.', 'info');
    }
    state.expectActive = null;
    render();
  }));
  $(document).on('editor:closing', () => {
    state.testing = false;
  });
  $(document).on('deviceDisconnect', () => {
    state.connected = false;
    state.testing = false;
    render();
    notify('The mouse was disconnected.', 'info');
  });
  $(document).on('deviceConnectComplete', () => serial(async () => {
    state.connected = (await dev('connected')) === true;
    render();
  }));
  $(document).on('softwareUpdateAvailable', () => serial(loadUpdate));
  $(document).on('softwareUpdateDownloadProgress', () => serial(async () => {
    state.update.percent = Number(await ed('downloadPercentage')) || 0;
    state.update.downloading = state.update.percent < 100;
    render();
  }));
  $(document).on('softwareUpdateDownloadComplete', () => serial(async () => {
    state.update.percent = 100;
    state.update.downloading = false;
    state.update.complete = true;
    render();
    notify('Version ' + state.update.version + ' is downloaded and ready to install.', 'success');
  }));

  // --- The window -----------------------------------------------------------------------------
  $(() => {
    document.getElementById('titlebar').addEventListener('mousedown', (event) => {
      if (event.button !== 0 || event.target.closest('button')) return;
      ed('startWindowDrag').catch(() => {});
    });
    document.getElementById('close-button').addEventListener('click', () => serial(async () => {
      if (!(await confirmLeave('closing the editor'))) return;
      await stopActivities();
      await ed('close');
    }));
    document.addEventListener('keydown', (event) => {
      if ((event.ctrlKey || event.metaKey) && event.key.toLowerCase() === 's') {
        event.preventDefault();
        if (dirty()) serial(save);
      }
    });
    // The connection state is not announced on connect: ask now and then.
    setInterval(() => {
      if (!state.started || typeof root.device === 'undefined') return;
      dev('connected').then((on) => {
        if ((on === true) !== state.connected) {
          state.connected = on === true;
          render();
        }
      }).catch(() => {});
    }, 2000);
    setTimeout(() => {
      if (!state.started && typeof root.editor === 'undefined') {
        const view = document.getElementById('view');
        view.textContent = '';
        view.appendChild(h('div.empty-state', null, h('h1', null, 'Open this page from the editor'),
          h('p', null, 'This page is the editor’s window: it needs the editor to reach the mouse and its profiles.')));
      }
    }, 3000);
    render();
  });

  const api = {
    get doc() { return state.doc; },
    get library() { return state.library; },
    get favourites() { return state.favourites; },
    describeTrigger,
    addFavourite: (name, blocks) => addFavourite(name, blocks),
    state,
  };
  root.EditorApp = api;
})(typeof self !== 'undefined' ? self : this);
