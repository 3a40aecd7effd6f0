// The Commands view: the favourites and the library's ready-made commands, each applied
// to a control in a shift state.
(function (root) {
  'use strict';
  const { h, notify } = root.Page;
  const cmds = root.KinetraCommands;
  const S = root.EditorSession;
  const { state } = S;
  const { heading } = root.EditorViews;
  const { serial, currentShift, changed, writeFavourites } = S;

  async function applyTo(name, blocks) {
    const shift = currentShift();
    const controls = state.controls.filter((c) => c.kind !== 'axis' && c.kind !== 'hat');
    const target = await root.Page.modal('Apply “' + name + '”', (close) => {
      const control = h('select.select', { 'aria-label': 'Control' }, controls.map((c) => h('option', { value: String(c.element) }, c.label)));
      const stateSelect = h('select.select', { 'aria-label': 'Shift state' }, state.doc.shifts().map((s) => h('option', { value: s.shift, selected: s === shift || undefined }, state.doc.shiftName(s))));
      return h('form', { onsubmit: (e) => { e.preventDefault(); close({ element: Number(control.value), guid: stateSelect.value }); } },
        h('label.field', null, h('span.label', null, 'Control'), control),
        h('label.field', null, h('span.label', null, 'In shift state'), stateSelect),
        h('div.dialog-buttons', null, h('button.primary', { type: 'submit' }, 'Apply'), h('button', { type: 'button', onclick: () => close() }, 'Cancel')));
    });
    if (!target) return;
    const s = state.doc.shiftByGuid(target.guid);
    state.doc.setCommand(s, target.element, blocks.map((b) => ({ type: b.type, actions: b.actions.map((a) => Object.assign({}, a)) })), name);
    changed();
    const control = state.controls.find((c) => c.element === target.element);
    notify('“' + name + '” is now on ' + control.label + ' in “' + state.doc.shiftName(s) + '”. Save to keep it.', 'success');
  }

  function viewCommands() {
    const wrap = h('section.view.view-commands');
    wrap.appendChild(h('div.view-top', null, heading('Commands', 'Ready-made commands, and the ones you saved as favourites.')));
    const card = (c, favourite) => h('li.command-card', null,
      h('span.command-name', null, c.name),
      h('span.command-summary', null, c.description || cmds.summary(cmds.shapeOf(c.blocks))),
      h('span.command-actions', null,
        h('button', { type: 'button', 'aria-label': 'Apply ' + c.name + '…', disabled: !state.doc || undefined, onclick: () => serial(() => applyTo(c.name, c.blocks)) }, 'Apply…'),
        favourite ? h('button.danger-text', { type: 'button', 'aria-label': 'Remove favourite ' + c.name, onclick: () => serial(async () => {
          await writeFavourites(state.favourites.list.filter((f) => f !== c));
          notify('Removed the favourite “' + c.name + '”.', 'success');
        }) }, 'Remove') : null));
    wrap.appendChild(h('h2', null, 'Favourites'));
    if (state.favourites.error) wrap.appendChild(h('p.banner.error', null, state.favourites.error + ' It is left as it is until you save a favourite.'));
    else if (!state.favourites.list.length) wrap.appendChild(h('p.empty', null, 'No favourites yet: use “Save as favourite…” when you edit a button.'));
    else wrap.appendChild(h('ul.command-grid', null, state.favourites.list.map((c) => card(c, true))));
    for (const problem of state.library.problems) wrap.appendChild(h('p.banner.error', null, problem));
    for (const group of state.library.groups) {
      wrap.appendChild(h('h2', null, group.name));
      wrap.appendChild(h('ul.command-grid', null, group.commands.map((c) => card(c, false))));
    }
    if (!state.library.groups.length) wrap.appendChild(h('p.empty', null, 'The mouse ships no ready-made commands.'));
    return wrap;
  }

  root.EditorViews.add({ id: 'commands', label: 'Commands', icon: 'commands', render: viewCommands });
})(typeof self !== 'undefined' ? self : this);
