// The editor page's window: the title bar, the side bar of views, the profile toolbar,
// the notices, and the events from the editor. The views (view-*.js) draw the content;
// the edited profile and its management live in session.js. The page talks to the editor
// only through the bridge (base.js) and hears its events through `$`.
(function (root) {
  'use strict';
  const { h, icon, ed, dev, notify, onNotice } = root.Page;
  const { t } = root.KinetraStrings;
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
    renderFrame();
    renderHeader();
    renderNav();
    renderView();
    if (focus && document.getElementById(focus) && document.activeElement === document.body) document.getElementById(focus).focus();
  }

  // The window's own texts, in the page's language.
  function renderFrame() {
    document.querySelector('.title-sub').textContent = t('window.editor');
    document.getElementById('close-button').setAttribute('aria-label', t('window.close'));
    document.querySelector('nav.sidebar').setAttribute('aria-label', t('nav.label'));
    document.getElementById('toolbar').setAttribute('aria-label', t('toolbar.profile'));
    document.getElementById('device-name').textContent = state.deviceName || t('device.mouse');
  }

  // What will not work without access to the input devices, and how to get it: shown
  // above every view.
  function accessBanner() {
    const refused = state.access;
    if (!refused.length) return null;
    const uinput = refused.filter((n) => /uinput$/.test(n.path));
    const others = refused.filter((n) => !/uinput$/.test(n.path));
    return h('section.banner.error.access-banner', { role: 'alert', 'aria-labelledby': 'access-title' },
      h('h2#access-title', null, t('access.title')),
      h('p', null, t('access.cannotOpen', { nodes: refused.map((n) => n.path + ' (' + n.reason + ')').join(', ') })),
      h('ul', null,
        uinput.length ? h('li', null, t('access.uinput')) : null,
        others.length ? h('li', null, t('access.hidraw')) : null),
      h('p', null, t('access.fixTitle')),
      h('ol', null,
        uinput.some((n) => n.missing) ? h('li', null, t('access.modprobe'), ' ', h('code', null, 'sudo modprobe uinput')) : null,
        h('li', null, t('access.rule')),
        h('li', null, t('access.group'), ' ', h('code', null, 'sudo usermod -aG input $USER')),
        h('li', null, t('access.reload'), ' ', h('code', null, 'sudo udevadm control --reload && sudo udevadm trigger')),
        h('li', null, t('access.relogin'))));
  }

  function renderHeader() {
    const bar = document.getElementById('toolbar');
    bar.textContent = '';
    const select = h('select.select#profile-select', { 'aria-label': t('toolbar.profileToEdit'), disabled: state.busy > 0 || undefined },
      state.names.map((n) => h('option', { value: n, selected: n === state.edited || undefined }, n)));
    select.addEventListener('change', () => serial(() => actions.pick(select.value)));
    const chips = h('span.chips', null,
      state.edited && state.edited === state.active ? h('span.chip.active', null, t('chip.active')) : null,
      state.edited && state.edited === state.startup ? h('span.chip', null, t('chip.startup')) : null,
      isReadOnly() ? h('span.chip.muted', { title: t('chip.readOnlyHint') }, t('chip.readOnly')) : null);
    const unsaved = dirty();
    bar.appendChild(h('div.toolbar-left', null, h('label.toolbar-label', { for: 'profile-select' }, t('toolbar.profile')), select, chips));
    bar.appendChild(h('div.toolbar-right', null,
      unsaved ? h('span.unsaved', { role: 'status' }, t('unsaved.title')) : h('span.unsaved.saved', { role: 'status' }, state.doc ? t('toolbar.saved') : ''),
      unsaved ? h('button#discard-button', { type: 'button', onclick: () => serial(actions.discard) }, t('button.discard')) : null,
      h('button.primary#save-button', { type: 'button', disabled: !unsaved || undefined, onclick: () => serial(save) },
        isReadOnly() ? t('button.saveAs') : t('button.save'))));
  }

  function renderNav() {
    const nav = document.getElementById('nav-list');
    nav.textContent = '';
    for (const { id, label, icon: iconName } of views.list) {
      const badge = id === 'updates' && state.update.version ? h('span.badge', { 'aria-label': t('nav.updateAvailable') }, '1')
        : id === 'test' && state.testing ? h('span.badge.live', { 'aria-label': t('nav.running') }, '●') : null;
      nav.appendChild(h('li', null, h('button.nav-item#nav-' + id, { type: 'button', 'aria-current': state.view === id ? 'page' : undefined,
        onclick: () => serial(() => show(id)) }, icon(iconName), h('span', null, t(label)), badge)));
    }
    const status = document.getElementById('device-status');
    status.textContent = '';
    status.appendChild(h('span.dot' + (state.connected ? '.on' : ''), { 'aria-hidden': 'true' }));
    status.appendChild(document.createTextNode(state.connected ? t('status.connected') : t('status.notConnected')));
  }

  async function show(view) {
    if (state.view === view) return;
    if (state.view === 'test' && state.testing) await setTesting(false);
    await KeyTap.stop();
    const leaving = views.byId(state.view);
    if (leaving && leaving.leave) leaving.leave();
    state.view = view;
    render();
    const heading = document.querySelector('#view h1');
    if (heading) heading.focus();
  }

  function renderView() {
    const view = document.getElementById('view');
    view.textContent = '';
    const banner = accessBanner();
    if (!state.doc && !views.byId(state.view).withoutProfile) {
      view.appendChild(h('div.empty-state', null, h('h1', { tabindex: '-1' }, state.started ? t('view.noProfile') : t('view.loading')),
        state.loadError ? h('p.error-text', null, state.loadError) : null, banner));
      return;
    }
    view.appendChild(views.byId(state.view).render());
    if (banner) view.prepend(banner);
  }

  // --- Notices --------------------------------------------------------------------------------
  onNotice((message, kind) => {
    const box = document.getElementById('notices');
    if (!box) return;
    const note = h('div.notice.' + kind, { role: kind === 'error' ? 'alert' : 'status' },
      h('span.notice-text', null, message),
      h('button.icon-button', { type: 'button', 'aria-label': t('notice.dismiss'), onclick: () => note.remove() }, icon('close')));
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
      notify(t('profile.goneElsewhere', { name: state.edited }), 'error');
    }
    render();
  }));
  $(document).on('editor:activeProfileChanged', () => serial(async () => {
    if (!state.started) return;
    const before = state.active;
    await loadNames();
    if (state.active !== before && state.active !== state.expectActive) {
      notify(state.active ? t('active.elsewhere', { name: state.active }) : t('active.offElsewhere'), 'info');
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
    notify(t('status.disconnected'), 'info');
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
    notify(t('update.downloaded', { version: state.update.version }), 'success');
  }));

  // --- The window -----------------------------------------------------------------------------
  $(() => {
    document.getElementById('titlebar').addEventListener('mousedown', (event) => {
      if (event.button !== 0 || event.target.closest('button')) return;
      ed('startWindowDrag').catch(() => {});
    });
    document.getElementById('close-button').addEventListener('click', () => serial(async () => {
      if (!(await confirmLeave(t('leave.closing')))) return;
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
        view.appendChild(h('div.empty-state', null, h('h1', null, t('standalone.title')),
          h('p', null, t('standalone.text'))));
      }
    }, 3000);
    render();
  });

  S.setRenderer(render);
})(typeof self !== 'undefined' ? self : this);
