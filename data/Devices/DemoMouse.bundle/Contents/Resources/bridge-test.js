// The bridge test page: records every event the editor sends into the page, in order,
// and offers every operation of the bridge to tests and to whoever develops pages.
//
//   bridgeTest.events       [{name, time, visibility}] every editor and system event, in
//                           arrival order, with the page's visibility when it arrived,
//                           then 'action' and 'key' entries from test mode and the key tap
//   bridgeTest.call(name, ...args)        editor.<name>(...args), answered as a Promise
//   bridgeTest.device(name, ...args)      device.<name>(...args)
//   bridgeTest.runAll()     calls every operation that opens no dialog and changes no
//                           profile; answers {name: result}
//   bridgeTest.ready        a Promise settled when 'editor:update' first arrives
'use strict';

// A jQuery-compatible $ as far as the editor needs: $(document).on(name, handler) and
// $(document).trigger(name).
(function () {
  const handlers = new Map();
  function wrap(target) {
    return {
      on(name, handler) {
        if (!handlers.has(name)) handlers.set(name, []);
        handlers.get(name).push(handler);
        return this;
      },
      trigger(name) {
        for (const handler of handlers.get(name) || []) handler.call(target, { type: name });
        return this;
      },
    };
  }
  window.$ = function (target) { return wrap(target); };
})();

const bridgeTest = (window.bridgeTest = {
  events: [],
  results: {},
  record(name, detail) {
    const entry = { name, time: performance.now(), visibility: document.visibilityState };
    if (detail !== undefined) entry.detail = detail;
    this.events.push(entry);
    const item = document.createElement('li');
    item.textContent = detail === undefined ? name : name + ' ' + JSON.stringify(detail);
    const list = document.getElementById('events');
    if (list) list.appendChild(item);
  },
  call(name, ...args) {
    return window.editor[name](...args);
  },
  device(name, ...args) {
    return window.device[name](...args);
  },
});

const EVENTS = [
  'editor:update', 'editor:profileRenamed', 'editor:profileList', 'editor:activeProfileChanged',
  'editor:closing', 'deviceDisconnect', 'deviceConnectComplete', 'softwareUpdateAvailable',
  'softwareUpdateDownloadProgress', 'softwareUpdateDownloadComplete',
];
for (const name of EVENTS) $(document).on(name, () => bridgeTest.record(name));

let resolveReady;
bridgeTest.ready = new Promise((resolve) => { resolveReady = resolve; });

// Test mode and the key tap call these by name.
window.onDeviceAction = function (kind, page, usage, value, text) {
  bridgeTest.record('action', { kind, page, usage, value, text });
};
window.onTappedKey = function (page, usage, value, elapsed) {
  bridgeTest.record('key', { page, usage, value, elapsed });
};

async function refresh() {
  const names = await editor.profileList();
  const json = JSON.parse(await editor.profileJSON());
  const list = document.getElementById('profiles');
  list.textContent = '';
  for (const name of names) {
    const item = document.createElement('li');
    item.textContent = name;
    if (name === json.profile) item.className = 'edited';
    item.addEventListener('click', () => editor.setProfile(name));
    list.appendChild(item);
  }
  document.getElementById('edited').textContent = json.profile;
  document.getElementById('active').textContent = await editor.getActiveProfile();
  document.getElementById('startup').textContent = (await editor.startupProfile()) || '(none)';
  document.getElementById('connection').textContent =
    (await device.GetName()) + ((await device.connected()) ? ' · connected' : ' · not connected');
}

$(document).on('editor:update', () => {
  refresh();
  resolveReady();
});
$(document).on('editor:profileList', refresh);
$(document).on('editor:activeProfileChanged', refresh);

bridgeTest.runAll = async function () {
  const results = {};
  const editorCalls = [
    ['profileList'], ['getActiveProfile'], ['startupProfile'], ['profileJSON'],
    ['appsLinkedToProfile', 'Default'], ['appNameAtPath', '/bin/sh'], ['commandXML'],
    ['favoriteCommandJSON'], ['downloadPercentage'], ['updateVersion'], ['updateIsDownloaded'],
    ['languageNameForLocale', 'de'], ['currentLocale'], ['hideChildren'], ['log', 'runAll'],
  ];
  for (const [name, ...args] of editorCalls) {
    results['editor.' + name] = await editor[name](...args);
  }
  const deviceCalls = [
    ['GetBundleVersion'], ['GetName'], ['GetPID'], ['GetVID'], ['connected'], ['GetBatteryLevel'],
    ['GetBatteryState'], ['GetBatteryLifeYears'], ['controlDescriptionJSON'], ['GetBrand'],
    ['GetAlias'], ['GetBalias'], ['GetType'], ['GetSetting', 'Missing'],
  ];
  for (const [name, ...args] of deviceCalls) {
    results['device.' + name] = await device[name](...args);
  }
  bridgeTest.results = results;
  const list = document.getElementById('results');
  list.textContent = '';
  for (const [name, value] of Object.entries(results)) {
    const item = document.createElement('li');
    const text = JSON.stringify(value);
    item.textContent = name + ' → ' + (text && text.length > 80 ? text.slice(0, 80) + '…' : text);
    list.appendChild(item);
  }
  return results;
};

document.addEventListener('DOMContentLoaded', () => {
  document.getElementById('title-bar').addEventListener('mousedown', (event) => {
    if (event.target.id === 'title-bar' || event.target.id === 'title') editor.startWindowDrag();
  });
  document.getElementById('close').addEventListener('click', () => editor.close());
  document.getElementById('run-all').addEventListener('click', () => bridgeTest.runAll());
  let testing = false;
  document.getElementById('test-mode').addEventListener('click', () => {
    testing = !testing;
    editor.setDeviceActionCallback(testing ? 'onDeviceAction' : '');
  });
  document.getElementById('icon').src = 'icon:/usr/share/pixmaps/debian-logo.png';
});
