// The Test view: while the test runs, the actions the edited profile would perform come
// from the editor (kinetraTestAction) and are listed instead of reaching the desktop.
(function (root) {
  'use strict';
  const { h, icon } = root.Page;
  const hid = root.KinetraHid;
  const S = root.EditorSession;
  const { state } = S;
  const { heading } = root.EditorViews;
  const { serial, dirty, isReadOnly, render, save, setTesting } = S;

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

  root.EditorViews.add({ id: 'test', label: 'Test', icon: 'test', render: viewTest });
})(typeof self !== 'undefined' ? self : this);
