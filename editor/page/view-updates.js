// The Updates view: the installed and the available version, downloading and installing
// an update.
(function (root) {
  'use strict';
  const { h, ed, notify } = root.Page;
  const { t } = root.KinetraStrings;
  const S = root.EditorSession;
  const { state } = S;
  const { heading } = root.EditorViews;
  const { serial, render } = S;

  function viewUpdates() {
    const u = state.update;
    const wrap = h('section.view.view-updates');
    wrap.appendChild(h('div.view-top', null, heading(t('nav.updates'))));
    wrap.appendChild(h('dl.facts', null, h('dt', null, t('updates.installed')), h('dd', null, state.version || t('updates.unknown')),
      h('dt', null, t('updates.available')), h('dd#update-version', null, u.version || t('updates.none'))));
    if (!u.version) return wrap;
    const bar = h('div.progress', { role: 'progressbar', 'aria-label': t('updates.download'), 'aria-valuemin': '0', 'aria-valuemax': '100', 'aria-valuenow': String(u.percent) },
      h('div.progress-fill', { style: 'width:' + Math.max(0, Math.min(100, u.percent)) + '%' }));
    wrap.appendChild(h('div.update-card', null,
      h('p', null, t('updates.versionAvailable', { version: u.version })),
      u.downloading || u.complete || u.percent > 0 ? h('div.progress-row', null, bar, h('span#update-percent', null, u.percent + ' %')) : null,
      h('div.button-row', null,
        u.complete ? h('button.primary#install-update', { type: 'button', onclick: () => serial(async () => {
          await ed('installUpdate');
          notify(t('updates.installing', { version: u.version }), 'success');
        }) }, t('updates.install'))
          : h('button.primary#download-update', { type: 'button', disabled: u.downloading || undefined, onclick: () => serial(async () => {
            u.downloading = true;
            render();
            await ed('startUpdateDownload');
          }) }, u.downloading ? t('updates.downloading') : t('updates.download')))));
    return wrap;
  }

  root.EditorViews.add({ id: 'updates', label: 'nav.updates', withoutProfile: true, icon: 'update', render: viewUpdates });
})(typeof self !== 'undefined' ? self : this);
