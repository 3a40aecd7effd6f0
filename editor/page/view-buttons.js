// The Buttons view: the mouse picture and the list of its controls in the shift state
// shown; choosing a control opens its assignment dialog.
(function (root) {
  'use strict';
  const { h, report } = root.Page;
  const { t } = root.KinetraStrings;
  const S = root.EditorSession;
  const { state } = S;
  const { heading } = root.EditorViews;
  const { api, currentShift, isReadOnly, describeControl, render, changed } = S;
  const { assignmentDialog, KeyTap } = root.Assign;

  function shiftSwitcher() {
    const shifts = state.doc.shifts();
    const current = currentShift();
    return h('div.segmented.shift-switcher', { role: 'radiogroup', 'aria-label': t('buttons.shiftShown') }, shifts.map((s) =>
      h('button', { type: 'button', role: 'radio', 'aria-checked': String(s === current), tabindex: s === current ? '0' : '-1',
        onclick: () => { state.shiftGuid = s.shift; render(); focusShiftButton(); },
        onkeydown: (e) => {
          const by = { ArrowRight: 1, ArrowDown: 1, ArrowLeft: -1, ArrowUp: -1 }[e.key];
          if (!by) return;
          e.preventDefault();
          const i = (shifts.indexOf(current) + by + shifts.length) % shifts.length;
          state.shiftGuid = shifts[i].shift;
          render();
          focusShiftButton();
        } }, state.doc.shiftName(s))));
  }
  function focusShiftButton() {
    const b = document.querySelector('.shift-switcher [aria-checked="true"]');
    if (b) b.focus();
  }

  function linkHover(element, on) {
    state.linked = on ? element : null;
    document.querySelectorAll('[data-element]').forEach((node) => {
      node.classList.toggle('linked', on && Number(node.getAttribute('data-element')) === element);
    });
  }

  async function openControl(control) {
    const shift = currentShift();
    if (!shift) return;
    await KeyTap.stop();
    const changedIt = await assignmentDialog(api, control, shift);
    if (changedIt) changed();
    const again = document.querySelector('.control-row[data-element="' + control.element + '"]');
    if (again) again.focus();
  }

  function viewButtons() {
    const doc = state.doc;
    const shift = currentShift();
    const wrap = h('section.view.view-buttons', { 'aria-labelledby': 'buttons-title' });
    const head = heading(t('nav.buttons'));
    head.querySelector('h1').id = 'buttons-title';
    wrap.appendChild(h('div.view-top', null, head, shift ? shiftSwitcher() : null));
    if (state.loadError) wrap.appendChild(h('p.banner.error', null, state.loadError));
    if (isReadOnly()) {
      wrap.appendChild(h('p.banner', null, t('buttons.readOnly', { name: state.edited })));
    }
    if (!shift || !state.controls.length) {
      wrap.appendChild(h('p.muted', null, t('buttons.noControls')));
      return wrap;
    }
    const picture = root.MousePicture.render(state.controls, describeControl, (c) => openControl(c).catch(report), state.linked,
      state.layout, t('buttons.picture'));
    picture.addEventListener('mouseover', (e) => {
      const node = e.target.closest && e.target.closest('[data-element]');
      if (node) linkHover(Number(node.getAttribute('data-element')), true);
    });
    picture.addEventListener('mouseleave', () => linkHover(null, false));
    picture.addEventListener('focusin', (e) => {
      const node = e.target.closest && e.target.closest('[data-element]');
      if (node) linkHover(Number(node.getAttribute('data-element')), true);
    });
    picture.addEventListener('focusout', () => linkHover(null, false));
    const list = h('ul.control-list', { 'aria-label': t('buttons.controlsIn', { state: doc.shiftName(shift) }) }, state.controls.map((control) => {
      const info = describeControl(control);
      return h('li', null, h('button.control-row.state-' + info.state, {
        type: 'button', 'data-element': control.element,
        onclick: () => openControl(control).catch(report),
        onmouseenter: () => linkHover(control.element, true), onmouseleave: () => linkHover(null, false),
        onfocus: () => linkHover(control.element, true), onblur: () => linkHover(null, false),
      }, h('span.control-name', null, info.icon ? h('img.control-icon', { src: root.Assign.iconURL(info.icon), alt: '' }) : null, control.label),
      h('span.control-does', null, info.state === 'inherited' ? h('span.from', null, info.from + ': ') : null, info.text)));
    }));
    wrap.appendChild(h('div.buttons-layout', null, h('div.picture-pane', null, picture), h('div.list-pane', null, list)));
    return wrap;
  }

  root.EditorViews.add({ id: 'buttons', label: 'nav.buttons', icon: 'mouse', render: viewButtons });
})(typeof self !== 'undefined' ? self : this);
