// The Profiles view: every profile with its active and start-up choice, and making,
// renaming, deleting and resetting them.
(function (root) {
  'use strict';
  const { h, icon } = root.Page;
  const S = root.EditorSession;
  const { state } = S;
  const { heading } = root.EditorViews;
  const { serial, isReadOnly, actions } = S;

  function viewProfiles() {
    const wrap = h('section.view.view-profiles');
    wrap.appendChild(h('div.view-top', null, heading('Profiles', 'The active profile runs now; the start-up profile when the agent starts.'),
      h('div.button-row', null,
        h('button.primary#new-profile', { type: 'button', onclick: () => serial(actions.create) }, icon('plus'), 'New profile'),
        h('button#reset-profile', { type: 'button', disabled: isReadOnly() || !state.doc || undefined, onclick: () => serial(actions.reset) }, 'Reset “' + state.edited + '”…'))));
    const row = (name) => {
      const first = name === state.names[0];
      return h('tr', { 'data-profile': name },
        h('th', { scope: 'row' }, name, name === state.edited ? h('span.chip', null, 'Editing') : null, first ? h('span.chip.muted', null, 'Built in') : null),
        h('td', null, h('input', { type: 'radio', name: 'active-profile', checked: state.active === name, 'aria-label': 'Active: ' + name,
          onchange: () => serial(() => actions.setActive(name)) })),
        h('td', null, h('input', { type: 'radio', name: 'startup-profile', checked: state.startup === name, 'aria-label': 'Start-up: ' + name,
          onchange: () => serial(() => actions.setStartup(name)) })),
        h('td.actions', null,
          name !== state.edited ? h('button', { type: 'button', 'aria-label': 'Edit ' + name, onclick: () => serial(() => actions.pick(name)) }, 'Edit') : null,
          h('button', { type: 'button', disabled: first || undefined, 'aria-label': 'Rename ' + name, onclick: () => serial(() => actions.rename(name)) }, 'Rename'),
          h('button.danger-text', { type: 'button', disabled: first || undefined, 'aria-label': 'Delete ' + name, onclick: () => serial(() => actions.remove(name)) }, 'Delete')));
    };
    wrap.appendChild(h('table.profiles', null,
      h('thead', null, h('tr', null, h('th', { scope: 'col' }, 'Profile'), h('th', { scope: 'col' }, 'Active'), h('th', { scope: 'col' }, 'Start-up'), h('th', { scope: 'col' }, h('span.visually-hidden', null, 'Actions')))),
      h('tbody', null, state.names.map(row),
        h('tr.none-row', null, h('th', { scope: 'row' }, h('span.muted', null, 'None')),
          h('td', null, h('input', { type: 'radio', name: 'active-profile', checked: state.active === '', 'aria-label': 'Active: none (profiles off)',
            onchange: () => serial(() => actions.setActive('')) })),
          h('td', null, h('input', { type: 'radio', name: 'startup-profile', checked: state.startup === '', 'aria-label': 'Start-up: none',
            onchange: () => serial(() => actions.setStartup('')) })),
          h('td')))));
    return wrap;
  }

  root.EditorViews.add({ id: 'profiles', label: 'Profiles', icon: 'profile', render: viewProfiles });
})(typeof self !== 'undefined' ? self : this);
