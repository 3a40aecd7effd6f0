// The Device view: what the mouse is (name, vendor and product, type, brand, alias), its
// battery where it reports one, the device settings kept with its profiles (read and
// written through the device object), which controls the edited profile takes over from
// the mouse, the page's language, and the desktop's own mouse settings.
(function (root) {
  'use strict';
  const { h, ed, dev, notify, report } = root.Page;
  const strings = root.KinetraStrings;
  const { t } = strings;
  const S = root.EditorSession;
  const { state } = S;
  const { heading } = root.EditorViews;
  const { serial, render } = S;

  // The settings a mouse may have, kept in its profile store's settings (whole numbers).
  const SETTINGS = [
    { key: 'PollingRate', label: 'device.pollingRate', options: [125, 250, 500, 1000], unit: ' Hz' },
    { key: 'LEDOffTimer', label: 'device.ledOff', min: 0, max: 60, unit: ' min' },
    { key: 'DPILock', label: 'device.dpiLock', toggle: true },
    { key: 'PowerSavingMode', label: 'device.powerSaving', toggle: true },
  ];
  const GUIDE = 'file:///usr/share/doc/kinetra/README.md';

  const hex4 = (n) => '0x' + (Number(n) >>> 0).toString(16).padStart(4, '0');

  // Reads the device's facts and settings (each time the view opens: the battery moves).
  async function loadDevice() {
    const names = ['GetName', 'GetVID', 'GetPID', 'GetType', 'GetBrand', 'GetAlias', 'GetBatteryLevel', 'GetBatteryState', 'connected'];
    const answers = await Promise.all(names.map((n) => dev(n).catch(() => null)));
    const facts = {};
    names.forEach((n, i) => { facts[n] = answers[i]; });
    const values = await Promise.all(SETTINGS.map((s) => dev('GetSetting', s.key).catch(() => 0)));
    const languages = await Promise.all(['en', 'de', state.locale].map((code) => ed('languageNameForLocale', code).catch(() => code)));
    state.device = { facts, settings: Object.fromEntries(SETTINGS.map((s, i) => [s.key, Number(values[i]) || 0])), languages };
    render();
  }

  // The controls the edited profile takes over in any shift state: the driver hands
  // their presses to the profile instead of the desktop.
  function takenOver() {
    const doc = state.doc;
    if (!doc) return [];
    return state.controls.filter((c) => doc.shifts().some((s) => doc.ownTrigger(s, c.element)));
  }

  function settingControl(setting, value) {
    const id = 'setting-' + setting.key;
    const write = (v) => serial(async () => {
      await dev('SetSetting', setting.key, v);
      state.device.settings[setting.key] = v;
      notify(t('device.settingSaved', { setting: t(setting.label) }), 'success');
    });
    let control;
    if (setting.toggle) {
      control = h('input#' + id, { type: 'checkbox', checked: value !== 0, onchange: (e) => write(e.target.checked ? 1 : 0) });
      return h('label.check', null, control, h('span', null, t(setting.label)));
    }
    if (setting.options) {
      control = h('select.select#' + id, { onchange: (e) => write(Number(e.target.value)) },
        h('option', { value: '0', selected: !setting.options.includes(value) || undefined }, t('device.notSet')),
        setting.options.map((o) => h('option', { value: String(o), selected: o === value || undefined }, o + setting.unit)));
    } else {
      control = h('input.number#' + id, { type: 'number', min: String(setting.min), max: String(setting.max), value: String(value),
        onchange: (e) => {
          const n = Number(e.target.value);
          if (!Number.isInteger(n) || n < setting.min || n > setting.max) {
            e.target.setAttribute('aria-invalid', 'true');
            notify(t('device.settingRange', { setting: t(setting.label), min: setting.min, max: setting.max }), 'error');
            return;
          }
          e.target.removeAttribute('aria-invalid');
          write(n);
        } });
    }
    return h('label.field', null, h('span.label', null, t(setting.label)), control);
  }

  function viewDevice() {
    const wrap = h('section.view.view-device');
    wrap.appendChild(h('div.view-top', null, heading(t('nav.device'), t('device.sub')),
      h('div.button-row', null,
        h('button#mouse-settings', { type: 'button', onclick: () => serial(() => ed('systemMouseSettings')) }, t('device.desktopSettings')),
        h('button.link#user-guide', { type: 'button', onclick: () => serial(() => ed('openURL', GUIDE)) }, t('device.guide')))));
    if (!state.device) {
      wrap.appendChild(h('p.muted', null, t('view.loading')));
      loadDevice().catch(report);
      return wrap;
    }
    const { facts, settings, languages } = state.device;
    const battery = Number(facts.GetBatteryLevel) || 0;
    const batteryState = Number(facts.GetBatteryState) || 0;
    wrap.appendChild(h('dl.facts#device-facts', null,
      h('dt', null, t('device.name')), h('dd', null, String(facts.GetName || state.deviceName)),
      h('dt', null, t('device.ids')), h('dd', null, hex4(facts.GetVID) + ':' + hex4(facts.GetPID).slice(2)),
      h('dt', null, t('device.type')), h('dd', null, String(facts.GetType ?? '')),
      h('dt', null, t('device.brand')), h('dd', null, String(facts.GetBrand || '—')),
      h('dt', null, t('device.alias')), h('dd', null, String(facts.GetAlias || '—')),
      h('dt', null, t('device.connection')), h('dd', null, facts.connected === true ? t('status.connected') : t('status.notConnected')),
      h('dt', null, t('device.battery')), h('dd#battery', null, battery ? t('device.batteryLevel', { level: battery }) : t('device.notReported')),
      h('dt', null, t('device.batteryState')), h('dd', null, batteryState ? t('device.batteryStateValue', { state: batteryState }) : t('device.notReported'))));

    for (const problem of (state.layout && state.layout.problems) || []) wrap.appendChild(h('p.banner.error', null, problem));
    wrap.appendChild(h('h2', null, t('device.settings')));
    wrap.appendChild(h('p.hint', null, t('device.settingsHint')));
    wrap.appendChild(h('div.state-grid', null, SETTINGS.map((s) => settingControl(s, settings[s.key]))));
    wrap.appendChild(h('div.button-row', null, h('button#write-settings', { type: 'button', onclick: () => serial(async () => {
      await dev('WriteSettings');
      notify(t('device.written'), 'success');
    }) }, t('device.write'))));

    const taken = takenOver();
    wrap.appendChild(h('h2', null, t('device.overrides')));
    wrap.appendChild(h('p.hint', null, t('device.overridesHint', { name: state.edited || '—' })));
    wrap.appendChild(taken.length ? h('ul.chips-list#overrides', null, taken.map((c) => h('li.chip', null, c.label)))
      : h('p.empty#overrides', null, t('device.noOverrides')));

    wrap.appendChild(h('h2', null, t('device.language')));
    const automatic = t('device.languageAuto', { language: languages[2] });
    const select = h('select.select#language', { 'aria-label': t('device.language') },
      h('option', { value: '', selected: !state.languageChoice || undefined }, automatic),
      ['en', 'de'].map((code, i) => h('option', { value: code, selected: state.languageChoice === code || undefined }, languages[i])));
    select.addEventListener('change', () => serial(async () => {
      await S.setLanguageChoice(select.value);
      const again = document.getElementById('language');
      if (again) again.focus();
    }));
    wrap.appendChild(h('label.field', null, h('span.label', null, t('device.languageLabel')), select));
    return wrap;
  }

  root.EditorViews.add({ id: 'device', label: 'nav.device', icon: 'device', render: viewDevice, withoutProfile: true,
    leave: () => { state.device = null; } });
})(typeof self !== 'undefined' ? self : this);
