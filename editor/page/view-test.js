// The Test view: while the test runs, the actions the edited profile would perform come
// from the editor (kinetraTestAction) and are listed instead of reaching the desktop.
//
// The list shows what the agent would do, one line per change: a key held is one "down"
// line until its "up"; its auto-repeats (value 2) count on that line instead of adding
// lines, so a held key or a latched Shift never floods the list.
(function (root) {
  'use strict';
  const { h, icon } = root.Page;
  const { t } = root.KinetraStrings;
  const hid = root.KinetraHid;
  const S = root.EditorSession;
  const { state } = S;
  const { heading } = root.EditorViews;
  const { serial, dirty, isReadOnly, render, save, setTesting } = S;
  const MAX_LINES = 500;
  const REPEAT = 2;

  // The line of a key still held: the last line of that key, when it is its "down".
  function heldLine(page, usage) {
    for (let i = state.log.length - 1; i >= 0; i--) {
      const entry = state.log[i];
      if (entry.page === page && entry.usage === usage && !entry.path) return entry.value === 1 ? entry : null;
    }
    return null;
  }

  root.kinetraTestAction = function (kind, page, usage, value, text) {
    if (!state.testing) return;
    const list = document.getElementById('test-log');
    if (value === REPEAT && !text) {
      const held = heldLine(page, usage);
      if (held) {
        held.repeats++;
        const row = list && list.querySelector('[data-line="' + held.line + '"] .log-text');
        if (row) row.textContent = lineText(held);
        return;
      }
    }
    const entry = { line: ++state.lines, at: new Date(), page, usage, value, path: text || '', repeats: 0 };
    state.log.push(entry);
    if (state.log.length > MAX_LINES) state.log.shift();
    if (list) {
      const empty = list.querySelector('.empty');
      if (empty) empty.remove();
      list.appendChild(logRow(entry));
      while (list.children.length > MAX_LINES) list.firstChild.remove();
      list.scrollTop = list.scrollHeight;
    }
  };

  function lineText(entry) {
    const text = hid.describeAction(entry.page >>> 0, entry.usage >>> 0, entry.value >>> 0, entry.path);
    return entry.repeats ? t('test.repeats', { what: text, count: entry.repeats }) : text;
  }

  function logRow(entry) {
    const time = entry.at.toTimeString().slice(0, 8) + '.' + String(entry.at.getMilliseconds()).padStart(3, '0');
    return h('li.log-row', { 'data-line': entry.line }, h('time', null, time), h('span.log-text', null, lineText(entry)));
  }

  function viewTest() {
    const wrap = h('section.view.view-test');
    wrap.appendChild(h('div.view-top', null, heading(t('nav.test'), t('test.sub')),
      h('div.button-row', null,
        h('button.primary#test-toggle', { type: 'button', 'aria-pressed': String(state.testing), onclick: () => serial(() => setTesting(!state.testing)) },
          icon(state.testing ? 'stop' : 'test'), state.testing ? t('test.stop') : t('test.start')),
        h('button#test-clear', { type: 'button', onclick: () => { state.log = []; render(); } }, t('band.clear')))));
    if (!state.connected) wrap.appendChild(h('p.banner', null, t('test.notConnected')));
    if (dirty()) {
      wrap.appendChild(h('p.banner', null, t('test.lastSaved', { name: state.edited }), ' ',
        h('button.link', { type: 'button', onclick: () => serial(save) }, isReadOnly() ? t('test.saveAsNew') : t('test.saveChanges'))));
    }
    if (state.testing) wrap.appendChild(h('p.banner.live', null, t('test.running', { name: state.edited })));
    const list = h('ol.test-log#test-log', { role: 'log', 'aria-live': 'polite', 'aria-label': t('macro.actions') });
    if (!state.log.length) list.appendChild(h('li.empty', null, state.testing ? t('test.waiting') : t('test.idle')));
    for (const entry of state.log) list.appendChild(logRow(entry));
    wrap.appendChild(list);
    setTimeout(() => { list.scrollTop = list.scrollHeight; }, 0);
    return wrap;
  }

  root.EditorViews.add({ id: 'test', label: 'nav.test', icon: 'test', render: viewTest });
})(typeof self !== 'undefined' ? self : this);
