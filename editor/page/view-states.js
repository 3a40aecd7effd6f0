// The Shift states view: one card per state with its name, fallback, held buttons, the
// command it runs while active and what it leaves to its fallback.
(function (root) {
  'use strict';
  const { h, icon, ask, askName, notify } = root.Page;
  const { t } = root.KinetraStrings;
  const model = root.KinetraModel;
  const cmds = root.KinetraCommands;
  const S = root.EditorSession;
  const { state } = S;
  const { heading } = root.EditorViews;
  const { serial, describeTrigger, changed } = S;

  // Buttons held for a state must reach the profile in every state: one that does nothing
  // there gets a command of its own that does nothing but be held.
  function overrideSelectionButtons(doc, target) {
    const added = [];
    for (const element of doc.selectionSet(target)) {
      for (const s of doc.shifts()) {
        if (doc.ownTrigger(s, element) || doc.resolve(s, element)) continue;
        doc.setCommand(s, element, [], t('states.holdFor', { state: doc.shiftName(target) }));
        added.push(doc.shiftName(s));
      }
    }
    return added;
  }

  function viewStates() {
    const doc = state.doc;
    const wrap = h('section.view.view-states');
    wrap.appendChild(h('div.view-top', null, heading(t('nav.states'), t('states.sub')),
      h('button.primary#add-state', { type: 'button', onclick: () => serial(async () => {
        const name = await askName(t('states.new'), t('command.name'), t('states.layer', { n: doc.shifts().length + 1 }), (n) => doc.checkShiftName(n), t('button.add'));
        if (!name) return;
        const created = doc.addShift(name);
        state.shiftGuid = created.shift;
        changed();
        const input = document.querySelector('.state-card:last-of-type .state-name');
        if (input) input.focus();
      }) }, icon('plus'), t('states.add'))));
    const buttons = state.controls.filter((c) => c.kind === 'button' || c.kind === 'precision');
    const commandsList = doc.commands();
    for (const shift of doc.shifts()) {
      const id = 'state-' + shift.shift.replace(/[^\w]/g, '');
      const nameInput = h('input.text.state-name', { type: 'text', value: doc.shiftName(shift), 'aria-label': t('states.nameOf'), spellcheck: 'false' });
      const nameError = h('p.field-error', { role: 'alert' });
      nameInput.addEventListener('change', () => {
        try {
          doc.renameShift(shift, nameInput.value);
          nameError.textContent = '';
          nameInput.removeAttribute('aria-invalid');
          changed();
        } catch (e) {
          nameError.textContent = e.message;
          nameInput.setAttribute('aria-invalid', 'true');
        }
      });
      const fallback = h('select.select', { 'aria-label': t('states.fallsBack') },
        h('option', { value: '' }, t('states.noFallback')),
        doc.fallbackCandidates(shift).map((s) => h('option', { value: s.shift, selected: shift.fallback === s.shift || undefined }, doc.shiftName(s))));
      fallback.addEventListener('change', () => { doc.setFallback(shift, fallback.value || null); changed(); });
      const held = doc.selectionSet(shift);
      const checks = h('div.check-grid', { role: 'group', 'aria-label': t('states.buttonsFor', { state: doc.shiftName(shift) }) }, buttons.map((b) =>
        h('label.check', null, h('input', { type: 'checkbox', checked: held.indexOf(b.element) >= 0, onchange: (e) => {
          const set = new Set(doc.selectionSet(shift));
          if (e.target.checked) set.add(b.element);
          else set.delete(b.element);
          doc.setSelectionSet(shift, Array.from(set));
          const added = overrideSelectionButtons(doc, shift);
          changed();
          if (added.length) notify(t('states.switches', { control: b.label, state: doc.shiftName(shift), others: Array.from(new Set(added)).join(', ') }), 'info');
        } }), h('span', null, b.label))));
      const command = h('select.select', { 'aria-label': t('states.whileActive') },
        h('option', { value: '' }, t('band.nothing')),
        commandsList.map((c) => h('option', { value: c.guid, selected: doc.shiftCommandGuid(shift) === c.guid || undefined },
          ((typeof c.command.name === 'string' && c.command.name) || cmds.summary(cmds.shapeOf(model.blocksOf(c.command)))) + ' (' + doc.shiftName(c.shift) + ')')));
      command.addEventListener('change', () => { doc.setShiftCommand(shift, command.value || null); changed(); });
      const inherited = doc.inherited(shift, state.controls);
      const fb = doc.fallbackOf(shift);
      wrap.appendChild(h('article.state-card', { id, 'aria-label': t('states.cardOf', { state: doc.shiftName(shift) }) },
        h('div.state-head', null, nameInput,
          h('button.danger-text', { type: 'button', disabled: doc.shifts().length <= 1 || undefined, 'aria-label': t('states.removeOf', { state: doc.shiftName(shift) }),
            onclick: () => serial(async () => {
              const choice = await ask(t('states.removeTitle'), t('states.removeQuestion', { state: doc.shiftName(shift) }), [
                { label: t('button.remove'), value: 'remove', danger: true, primary: true }, { label: t('button.cancel'), value: 'cancel' }]);
              if (choice !== 'remove') return;
              doc.removeShift(shift);
              changed();
            }) }, icon('trash'), t('button.remove'))),
        nameError,
        h('div.state-grid', null,
          h('label.field', null, h('span.label', null, t('states.fallsBack')), fallback),
          h('label.field', null, h('span.label', null, t('states.whileActive')), command)),
        h('div.field', null, h('span.label', null, t('states.activeWhile')),
          held.length ? null : h('span.hint', null, t('states.noneHeld')), checks),
        h('div.field', null, h('span.label', null, fb ? t('mode.leftTo', { state: doc.shiftName(fb) }) : t('states.leftToAFallback')),
          !fb ? h('p.hint', null, t('states.noFallbackHint'))
            : inherited.length ? h('ul.chips-list', null, inherited.map((i) => h('li.chip', null, i.control.label + ': ' + describeTrigger(i.trigger))))
              : h('p.hint', null, t('states.programsAll')))));
    }
    return wrap;
  }

  root.EditorViews.add({ id: 'states', label: 'nav.states', icon: 'layers', render: viewStates });
})(typeof self !== 'undefined' ? self : this);
