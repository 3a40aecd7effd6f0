// The Updates view: the installed and the available version, downloading and installing
// an update.
(function (root) {
  'use strict';
  const { h, ed, notify } = root.Page;
  const S = root.EditorSession;
  const { state } = S;
  const { heading } = root.EditorViews;
  const { serial, render } = S;

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

  root.EditorViews.add({ id: 'updates', label: 'Updates', icon: 'update', render: viewUpdates });
})(typeof self !== 'undefined' ? self : this);
