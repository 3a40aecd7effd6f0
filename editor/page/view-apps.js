// The Applications view: the applications linked to the edited profile, linking one
// through the editor's chooser and unlinking.
(function (root) {
  'use strict';
  const { h, icon, ed, notify } = root.Page;
  const { t } = root.KinetraStrings;
  const S = root.EditorSession;
  const { state } = S;
  const { heading } = root.EditorViews;
  const { serial, render, loadLinks } = S;

  function viewApps() {
    const wrap = h('section.view.view-apps');
    // No link is offered where none could fire; the banner says why and what instead.
    const focus = state.focus && typeof state.focus === 'object' ? state.focus : null;
    const canLink = !focus || focus.canLink !== false;
    wrap.appendChild(h('div.view-top', null, heading(t('nav.apps'), t('apps.sub', { name: state.edited })),
      canLink ? h('button.primary#link-app', { type: 'button', onclick: () => serial(async () => {
        await call('openAppLinkDialogForProfile', [state.edited]);
        await loadLinks();
        render();
      }) }, icon('link'), t('apps.link')) : null));
    if (focus && focus.linksWork === false) wrap.appendChild(focusBanner(focus, canLink));
    if (!state.links.length) {
      wrap.appendChild(h('p.empty', null, t('apps.none', { name: state.edited })));
      return wrap;
    }
    wrap.appendChild(h('ul.app-list', null, state.links.map((link) => {
      const img = h('img.app-icon', { src: 'icon:' + encodeURI(link.path), alt: '' });
      img.addEventListener('error', () => img.classList.add('missing'));
      return h('li.app-row', null, img,
        h('span.app-text', null, h('span.app-name', null, link.name || link.path.split('/').pop()), h('span.app-path', null, link.path)),
        h('button', { type: 'button', 'aria-label': t('apps.unlinkOf', { name: link.name || link.path }), onclick: () => serial(async () => {
          await ed('unlinkAppFromProfile', link.path, state.edited);
          await loadLinks();
          render();
          notify(t('apps.unlinked', { name: link.name || link.path }), 'success');
        }) }, t('apps.unlink')));
    })));
    return wrap;
  }

  // Why links to applications do not switch profiles here (the editor's words), and
  // what to do instead.
  function focusBanner(focus, canLink) {
    const reason = typeof focus.reason === 'string' && focus.reason ? focus.reason : t('apps.focusUnknown');
    return h('div.banner#focus-status', { role: 'status' },
      h('p', null, reason.charAt(0).toUpperCase() + reason.slice(1) + '.'),
      h('p', null, t(canLink ? 'apps.focusLater' : 'apps.focusInstead')));
  }

  function call(method, args) {
    return root.Page.call('editor', method, args, { timeout: 0 });
  }

  root.EditorViews.add({ id: 'apps', label: 'nav.apps', icon: 'apps', render: viewApps });
})(typeof self !== 'undefined' ? self : this);
