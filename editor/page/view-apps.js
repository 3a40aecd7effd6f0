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
    wrap.appendChild(h('div.view-top', null, heading(t('nav.apps'), t('apps.sub', { name: state.edited })),
      h('button.primary#link-app', { type: 'button', onclick: () => serial(async () => {
        await call('openAppLinkDialogForProfile', [state.edited]);
        await loadLinks();
        render();
      }) }, icon('link'), t('apps.link'))));
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

  function call(method, args) {
    return root.Page.call('editor', method, args, { timeout: 0 });
  }

  root.EditorViews.add({ id: 'apps', label: 'nav.apps', icon: 'apps', render: viewApps });
})(typeof self !== 'undefined' ? self : this);
