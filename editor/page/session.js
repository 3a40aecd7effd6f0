// The profile being edited and what the editor holds beside it: the page's state, loading
// it over the bridge, leaving and saving the edited profile, the profile actions (pick,
// new, rename, delete, reset, active, start-up), test mode and the favourites. The views
// read and change it; app.js draws the window around them.
//
// The profile is edited in the page (a ProfileDoc) and reaches the editor only when saved
// (setProfileJSON); until then leaving it asks. The profile the device bundle ships
// (the first in the list) is read-only: its changes are saved as a new profile.
(function (root) {
  'use strict';
  const { ed, dev, ask, askName, notify, report, userError } = root.Page;
  const { t } = root.KinetraStrings;
  const hid = root.KinetraHid;
  const model = root.KinetraModel;
  const cmds = root.KinetraCommands;
  const { ProfileDoc } = model;
  const { KeyTap } = root.Assign;

  const state = {
    started: false,
    balias: undefined,
    deviceName: '',
    connected: false,
    version: '',
    controls: [],
    layout: null,
    access: [],
    device: null,
    locale: 'en',
    languageChoice: '',
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
    lines: 0,
    busy: 0,
    keepBaseline: false,
    expectActive: null,
  };

  // Redraws the window; app.js supplies it.
  let renderer = () => {};
  const render = () => renderer();

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
    if (!trigger) return t('mode.notProgrammed');
    if (trigger.role === 'mouse-x') return t('role.x');
    if (trigger.role === 'mouse-y') return t('role.y');
    if (trigger.role === 'unprogrammed') return t('mode.leftToFallback');
    const bands = ProfileDoc.bandsOf(trigger);
    const withCommand = bands.filter((b) => b.command);
    if (bands.length === 1 && bands[0].threshold === 1 && bands[0].command) {
      const c = bands[0].command;
      return typeof c.name === 'string' && c.name ? c.name : cmds.summary(cmds.shapeOf(model.blocksOf(c)));
    }
    if (!withCommand.length) return t('trigger.nothing');
    return withCommand.map((b) => (typeof b.command.name === 'string' && b.command.name) || cmds.summary(cmds.shapeOf(model.blocksOf(b.command)))).join(', ');
  }

  // What a control does in the shown state: {text, state: own | inherited | none}.
  function describeControl(control) {
    const doc = state.doc;
    const shift = currentShift();
    if (!doc || !shift) return { text: '—', state: 'none' };
    const own = doc.ownTrigger(shift, control.element);
    if (own && own.role !== 'unprogrammed') {
      const bands = ProfileDoc.bandsOf(own);
      const command = bands.length === 1 && bands[0].command;
      const icon = command && typeof command.icon === 'string' ? command.icon : '';
      return { text: describeTrigger(own), state: 'own', icon };
    }
    const found = doc.resolve(shift, control.element);
    if (found && found.shift !== shift) {
      return { text: describeTrigger(found.trigger), state: 'inherited', from: doc.shiftName(found.shift) };
    }
    if (own) return { text: t('mode.leftToFallback'), state: 'none' };
    return { text: control.kind === 'axis' || control.kind === 'hat' ? t('mode.notUsed') : control.kind === 'motion' ? t('mode.movesPointer') : t('mode.notProgrammed'), state: 'none' };
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
    await chooseLanguage();
    const [balias, name, description, connected, version, layout, access] = await Promise.all([
      dev('GetBalias'), dev('GetName'), dev('controlDescriptionJSON'), dev('connected'), dev('GetBundleVersion'),
      ed('deviceLayoutJSON'), ed('deviceAccess')]);
    state.layout = root.KinetraPictureLayout.parseLayout(layout);
    state.access = Array.isArray(access) ? access.filter((n) => n && typeof n.path === 'string') : [];
    state.balias = typeof balias === 'string' && balias ? balias : undefined;
    state.deviceName = typeof name === 'string' && name ? name : t('device.mouse');
    state.connected = connected === true;
    state.version = typeof version === 'string' ? version : '';
    state.description = description;
    state.controls = controlsFrom(description);
    document.title = t('window.title', { device: state.deviceName });
    loadLibrary().catch(report);
    loadUpdate().catch(report);
  }

  // The page's language: the one the user chose in the Device view (kept as a device
  // setting), else the desktop's (editor.currentLocale).
  const LANGUAGE_CHOICES = ['', 'en', 'de'];
  async function chooseLanguage() {
    const [locale, chosen] = await Promise.all([ed('currentLocale'), dev('GetSetting', 'EditorLanguage')]);
    state.locale = typeof locale === 'string' ? locale : 'en';
    state.languageChoice = LANGUAGE_CHOICES[Number(chosen)] || '';
    root.KinetraStrings.setLanguage(state.languageChoice || state.locale);
  }
  async function setLanguageChoice(code) {
    const index = Math.max(0, LANGUAGE_CHOICES.indexOf(code));
    await dev('SetSetting', 'EditorLanguage', index);
    state.languageChoice = LANGUAGE_CHOICES[index];
    root.KinetraStrings.setLanguage(state.languageChoice || state.locale);
    state.controls = controlsFrom(state.description);
    render();
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
    if (!Array.isArray(names)) throw userError(t('profiles.noList'));
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
    // Whether links fire on this desktop (ZVEditorWindow::FocusStatus), for the view.
    state.focus = await ed('focusStatus').catch(() => null);
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
      state.loadError = parsed.doc.controller() ? null : t('profile.notForDevice', { device: state.deviceName });
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
    const choice = await ask(t('unsaved.title'), t('unsaved.question', { name: state.edited, what }), [
      { label: t('button.save'), value: 'save', primary: true },
      { label: t('button.dontSave'), value: 'discard', danger: true },
      { label: t('button.cancel'), value: 'cancel' }]);
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
      notify(t('save.refused', { name: state.edited }), 'error');
      return false;
    }
    await loadEdited(false);
    notify(t('save.done', { name: state.edited }), 'success');
    return true;
  }

  // The read-only profile's changes, saved as a new profile of their own.
  async function saveAsNew() {
    const base = t('saveAs.copy', { name: state.edited });
    let suggestion = base;
    for (let n = 2; state.names.some((x) => x.toLowerCase() === suggestion.toLowerCase()); n++) suggestion = base + ' ' + n;
    const name = await askName(t('saveAs.title'), t('saveAs.label', { name: state.edited }),
      suggestion, (n) => model.profileNameProblem(n, state.names), t('button.save'));
    if (!name) return false;
    const edits = state.doc;
    state.busy++;
    try {
      await ed('newProfile');
      const created = ProfileDoc.parse(await ed('profileJSON'), state.balias);
      if (created.error) throw userError(t('saveAs.notMade', { error: created.error }));
      const untitled = created.doc.name;
      if (untitled !== name) {
        await ed('renameProfile', untitled, name);
        if (!(await namesUntil((names) => names.includes(name)))) throw userError(t('saveAs.notNamed', { name, untitled }));
      }
      edits.json.profile = name;
      const ok = await ed('setProfileJSON', edits.text());
      if (ok === false) throw userError(t('saveAs.notSaved', { name }));
    } finally {
      state.busy--;
    }
    await loadEdited(false);
    notify(t('saveAs.done', { name }), 'success');
    return true;
  }

  function changed() {
    render();
  }

  // --- Profile actions ------------------------------------------------------------------------
  const actions = {
    async pick(name) {
      if (name === state.edited) return;
      if (!(await confirmLeave(t('leave.editing', { name })))) {
        render();
        return;
      }
      await stopActivities();
      await ed('setProfile', name);
      await loadEdited(false);
    },
    async create() {
      if (!(await confirmLeave(t('leave.new')))) return;
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
      notify(t('new.done', { name: state.edited }), 'success');
    },
    async rename(oldName) {
      const name = await askName(t('rename.title'), t('rename.label', { name: oldName }), oldName,
        (n) => model.profileNameProblem(n, state.names, oldName), t('button.rename'));
      if (!name || name === oldName) return;
      await ed('renameProfile', oldName, name);
      if (!(await namesUntil((names) => names.includes(name) && !names.includes(oldName)))) {
        notify(t('rename.failed', { from: oldName, to: name }), 'error');
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
      notify(t('rename.done', { from: oldName, to: name }), 'success');
    },
    async remove(name) {
      const editing = name === state.edited;
      const choice = await ask(t('delete.title'), t(editing && dirty() ? 'delete.questionUnsaved' : 'delete.question', { name }), [
        { label: t('button.delete'), value: 'delete', danger: true, primary: true }, { label: t('button.cancel'), value: 'cancel' }]);
      if (choice !== 'delete') return;
      if (editing) {
        await stopActivities();
        state.baseline = state.doc ? state.doc.text() : '';
      }
      await ed('deleteProfile', name);
      await namesUntil((names) => !names.includes(name));
      await loadEdited(false);
      notify(t('delete.done', { name }), 'success');
    },
    async reset() {
      const choice = await ask(t('reset.title'), t('reset.question', { name: state.edited }), [
        { label: t('button.reset'), value: 'reset', danger: true, primary: true }, { label: t('button.cancel'), value: 'cancel' }]);
      if (choice !== 'reset') return;
      state.keepBaseline = true;
      try {
        await ed('resetProfile');
        await loadEdited(true);
      } finally {
        state.keepBaseline = false;
      }
      notify(t('reset.done', { name: state.edited }), 'info');
    },
    async setActive(name) {
      state.expectActive = name;
      await ed('setActiveProfile', name);
      await loadNames();
      render();
      notify(name ? t('active.done', { name }) : t('active.none'), 'success');
    },
    async setStartup(name) {
      await ed('setStartupProfile', name);
      await loadNames();
      render();
      notify(name ? t('startup.done', { name }) : t('startup.none'), 'success');
    },
    async discard() {
      const choice = await ask(t('discard.title'), t('discard.question', { name: state.edited }), [
        { label: t('button.discard'), value: 'discard', danger: true, primary: true }, { label: t('button.cancel'), value: 'cancel' }]);
      if (choice !== 'discard') return;
      state.doc = ProfileDoc.parse(state.baseline, state.balias).doc;
      render();
    },
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
    if (back !== text) throw userError(t('favourites.notSaved'));
    state.favourites = { list, error: null, raw: text };
    render();
  }

  async function addFavourite(name, blocks) {
    if (state.favourites.error) {
      const choice = await ask(t('favourites.replaceTitle'), t('favourites.replace', { problem: state.favourites.error }), [
        { label: t('button.replace'), value: 'replace', danger: true, primary: true }, { label: t('button.cancel'), value: 'cancel' }]);
      if (choice !== 'replace') return;
    }
    const list = (state.favourites.error ? [] : state.favourites.list).filter((f) => f.name !== name);
    list.push({ name, blocks: cmds.plainBlocks(blocks) });
    await writeFavourites(list);
    notify(t('favourite.saved', { name }), 'success');
  }

  // What the dialogs and the tests reach of the page.
  const api = {
    get doc() { return state.doc; },
    get library() { return state.library; },
    get favourites() { return state.favourites; },
    describeTrigger,
    addFavourite: (name, blocks) => addFavourite(name, blocks),
    state,
  };
  root.EditorApp = api;

  root.EditorSession = {
    state, api, dirty, isReadOnly, currentShift, serial, describeTrigger, describeControl, render, changed,
    setRenderer(fn) { renderer = fn; },
    start, loadLibrary, loadUpdate, loadNames, setLanguageChoice, LANGUAGE_CHOICES, loadLinks, loadEdited, confirmLeave, stopActivities, save,
    actions, setTesting, writeFavourites,
  };
})(typeof self !== 'undefined' ? self : this);
