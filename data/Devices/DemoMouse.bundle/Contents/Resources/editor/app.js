// The editor page's window: the title bar, the side bar of views, the profile toolbar,
// the notices, and the events from the editor. The views (view-*.js) draw the content;
// the edited profile and its management live in session.js. The page talks to the editor
// only through the bridge (base.js) and hears its events through `$`.
(function (root) {
  'use strict';
  const { h, icon, ed, dev, notify, onNotice } = root.Page;
  const S = root.EditorSession;
  const { state, serial, dirty, isReadOnly, actions, save, start, loadNames, loadEdited, loadUpdate,
    confirmLeave, stopActivities, setTesting } = S;
  const { KeyTap } = root.Assign;
  const views = root.EditorViews;

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
    for (const { id, label, icon: iconName } of views.list) {
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
    view.appendChild(views.byId(state.view).render());
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

  S.setRenderer(render);
})(typeof self !== 'undefined' ? self : this);
