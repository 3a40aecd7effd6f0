// The Commands view: the favourites and the library's ready-made commands, each applied
// to a control in a shift state.
(function (root) {
  'use strict';
  const { h, notify } = root.Page;
  const { t } = root.KinetraStrings;
  const cmds = root.KinetraCommands;
  const S = root.EditorSession;
  const { state } = S;
  const { heading } = root.EditorViews;
  const { serial, currentShift, changed, writeFavourites } = S;

  async function applyTo(name, blocks) {
    const shift = currentShift();
    const controls = state.controls.filter((c) => c.kind !== 'axis' && c.kind !== 'hat' && c.kind !== 'motion');
    const target = await root.Page.modal(t('apply.title', { name }), (close) => {
      const control = h('select.select', { 'aria-label': t('apply.control') }, controls.map((c) => h('option', { value: String(c.element) }, c.label)));
      const stateSelect = h('select.select', { 'aria-label': t('apply.shiftState') }, state.doc.shifts().map((s) => h('option', { value: s.shift, selected: s === shift || undefined }, state.doc.shiftName(s))));
      return h('form', { onsubmit: (e) => { e.preventDefault(); close({ element: Number(control.value), guid: stateSelect.value }); } },
        h('label.field', null, h('span.label', null, t('apply.control')), control),
        h('label.field', null, h('span.label', null, t('apply.inState')), stateSelect),
        h('div.dialog-buttons', null, h('button.primary', { type: 'submit' }, t('button.apply')), h('button', { type: 'button', onclick: () => close() }, t('button.cancel'))));
    });
    if (!target) return;
    const s = state.doc.shiftByGuid(target.guid);
    state.doc.setCommand(s, target.element, blocks.map((b) => ({ type: b.type, actions: b.actions.map((a) => Object.assign({}, a)) })), name);
    changed();
    const control = state.controls.find((c) => c.element === target.element);
    notify(t('apply.done', { name, control: control.label, state: state.doc.shiftName(s) }), 'success');
  }

  function viewCommands() {
    const wrap = h('section.view.view-commands');
    wrap.appendChild(h('div.view-top', null, heading(t('nav.commands'), t('commands.sub'))));
    const card = (c, favourite) => h('li.command-card', null,
      h('span.command-name', null, c.name),
      h('span.command-summary', null, c.description || cmds.summary(cmds.shapeOf(c.blocks))),
      h('span.command-actions', null,
        h('button', { type: 'button', 'aria-label': t('commands.applyOf', { name: c.name }), disabled: !state.doc || undefined, onclick: () => serial(() => applyTo(c.name, c.blocks)) }, t('commands.apply')),
        favourite ? h('button.danger-text', { type: 'button', 'aria-label': t('commands.removeOf', { name: c.name }), onclick: () => serial(async () => {
          await writeFavourites(state.favourites.list.filter((f) => f !== c));
          notify(t('commands.removed', { name: c.name }), 'success');
        }) }, t('button.remove')) : null));
    wrap.appendChild(h('h2', null, t('favourites.title')));
    if (state.favourites.error) wrap.appendChild(h('p.banner.error', null, t('favourites.leftAlone', { problem: state.favourites.error })));
    else if (!state.favourites.list.length) wrap.appendChild(h('p.empty', null, t('favourites.none')));
    else wrap.appendChild(h('ul.command-grid', null, state.favourites.list.map((c) => card(c, true))));
    for (const problem of state.library.problems) wrap.appendChild(h('p.banner.error', null, problem));
    for (const group of state.library.groups) {
      wrap.appendChild(h('h2', null, group.name));
      wrap.appendChild(h('ul.command-grid', null, group.commands.map((c) => card(c, false))));
    }
    if (!state.library.groups.length) wrap.appendChild(h('p.empty', null, t('commands.none')));
    return wrap;
  }

  root.EditorViews.add({ id: 'commands', label: 'nav.commands', icon: 'commands', render: viewCommands });
})(typeof self !== 'undefined' ? self : this);
