// The Profiles view: every profile with its active and start-up choice, and making,
// renaming, deleting and resetting them.
(function (root) {
  'use strict';
  const { h, icon } = root.Page;
  const { t } = root.KinetraStrings;
  const S = root.EditorSession;
  const { state } = S;
  const { heading } = root.EditorViews;
  const { serial, isReadOnly, actions } = S;

  function viewProfiles() {
    const wrap = h('section.view.view-profiles');
    wrap.appendChild(h('div.view-top', null, heading(t('nav.profiles'), t('profiles.sub')),
      h('div.button-row', null,
        h('button.primary#new-profile', { type: 'button', onclick: () => serial(actions.create) }, icon('plus'), t('profiles.new')),
        h('button#reset-profile', { type: 'button', disabled: isReadOnly() || !state.doc || undefined, onclick: () => serial(actions.reset) }, t('profiles.reset', { name: state.edited })))));
    const row = (name) => {
      const first = name === state.names[0];
      return h('tr', { 'data-profile': name },
        h('th', { scope: 'row' }, name, name === state.edited ? h('span.chip', null, t('profiles.editing')) : null, first ? h('span.chip.muted', null, t('profiles.builtIn')) : null),
        h('td', null, h('input', { type: 'radio', name: 'active-profile', checked: state.active === name, 'aria-label': t('profiles.activeOf', { name }),
          onchange: () => serial(() => actions.setActive(name)) })),
        h('td', null, h('input', { type: 'radio', name: 'startup-profile', checked: state.startup === name, 'aria-label': t('profiles.startupOf', { name }),
          onchange: () => serial(() => actions.setStartup(name)) })),
        h('td.actions', null,
          name !== state.edited ? h('button', { type: 'button', 'aria-label': t('profiles.editOf', { name }), onclick: () => serial(() => actions.pick(name)) }, t('profiles.edit')) : null,
          h('button', { type: 'button', disabled: first || undefined, 'aria-label': t('profiles.renameOf', { name }), onclick: () => serial(() => actions.rename(name)) }, t('button.rename')),
          h('button.danger-text', { type: 'button', disabled: first || undefined, 'aria-label': t('profiles.deleteOf', { name }), onclick: () => serial(() => actions.remove(name)) }, t('button.delete'))));
    };
    wrap.appendChild(h('table.profiles', null,
      h('thead', null, h('tr', null, h('th', { scope: 'col' }, t('toolbar.profile')), h('th', { scope: 'col' }, t('chip.active')), h('th', { scope: 'col' }, t('chip.startup')), h('th', { scope: 'col' }, h('span.visually-hidden', null, t('profiles.actions'))))),
      h('tbody', null, state.names.map(row),
        h('tr.none-row', null, h('th', { scope: 'row' }, h('span.muted', null, t('profiles.noneRow'))),
          h('td', null, h('input', { type: 'radio', name: 'active-profile', checked: state.active === '', 'aria-label': t('profiles.activeNone'),
            onchange: () => serial(() => actions.setActive('')) })),
          h('td', null, h('input', { type: 'radio', name: 'startup-profile', checked: state.startup === '', 'aria-label': t('profiles.startupNone'),
            onchange: () => serial(() => actions.setStartup('')) })),
          h('td')))));
    return wrap;
  }

  root.EditorViews.add({ id: 'profiles', label: 'nav.profiles', withoutProfile: true, icon: 'profile', render: viewProfiles });
})(typeof self !== 'undefined' ? self : this);
