// The page's small foundations: the jQuery-compatible `$` the editor triggers its events
// through, a DOM builder, calls to the editor's bridge that always end (an answer, or an
// error a user can read), modal dialogs and notices.
(function (root) {
  'use strict';
  const { t } = root.KinetraStrings;

  // --- $ ----------------------------------------------------------------------------------
  // The editor evaluates "$(document).trigger('editor:update')" and the like: $(target)
  // offers on, off and trigger for any object, $(fn) runs fn once the document is parsed.
  const handlers = new WeakMap();
  function Wrapped(target) { this.target = target; }
  Wrapped.prototype.on = function (names, fn) {
    let map = handlers.get(this.target);
    if (!map) handlers.set(this.target, map = new Map());
    for (const name of names.split(/\s+/).filter(Boolean)) {
      if (!map.has(name)) map.set(name, []);
      map.get(name).push(fn);
    }
    return this;
  };
  Wrapped.prototype.off = function (names, fn) {
    const map = handlers.get(this.target);
    if (!map) return this;
    for (const name of names.split(/\s+/).filter(Boolean)) {
      if (!fn) map.delete(name);
      else if (map.has(name)) map.set(name, map.get(name).filter((f) => f !== fn));
    }
    return this;
  };
  Wrapped.prototype.trigger = function (name, extra) {
    const map = handlers.get(this.target);
    const list = map && map.get(name) ? map.get(name).slice() : [];
    const event = { type: name, target: this.target };
    for (const fn of list) {
      try {
        fn.apply(this.target, [event].concat(extra === undefined ? [] : [].concat(extra)));
      } catch (error) {
        report(error);
      }
    }
    return this;
  };
  function $(target) {
    if (typeof target === 'function') {
      if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', target);
      else target();
      return undefined;
    }
    return new Wrapped(target);
  }

  // --- DOM --------------------------------------------------------------------------------
  // h('button.primary', {onclick, 'aria-label': …}, 'text', child…)
  function h(selector, props, ...children) {
    const match = /^([a-z0-9]+)?((?:[.#][\w-]+)*)$/i.exec(selector);
    const element = document.createElement((match && match[1]) || 'div');
    if (match && match[2]) {
      for (const part of match[2].match(/[.#][\w-]+/g)) {
        if (part[0] === '.') element.classList.add(part.slice(1));
        else element.id = part.slice(1);
      }
    }
    if (props) {
      for (const [key, value] of Object.entries(props)) {
        if (value === undefined || value === null || value === false) continue;
        if (key.startsWith('on') && typeof value === 'function') element.addEventListener(key.slice(2), value);
        else if (key === 'dataset') Object.assign(element.dataset, value);
        else if (key === 'value' || key === 'checked' || key === 'selected' || key === 'disabled') element[key] = value;
        else element.setAttribute(key, value === true ? '' : String(value));
      }
    }
    append(element, children);
    return element;
  }
  function append(parent, children) {
    for (const child of children.flat(Infinity)) {
      if (child === null || child === undefined || child === false) continue;
      parent.appendChild(typeof child === 'string' || typeof child === 'number' ? document.createTextNode(String(child)) : child);
    }
    return parent;
  }
  const SVG_NS = 'http://www.w3.org/2000/svg';
  function s(name, attrs, ...children) {
    const element = document.createElementNS(SVG_NS, name);
    for (const [key, value] of Object.entries(attrs || {})) {
      if (value === undefined || value === null || value === false) continue;
      if (key.startsWith('on') && typeof value === 'function') element.addEventListener(key.slice(2), value);
      else element.setAttribute(key, String(value));
    }
    for (const child of children.flat(Infinity)) {
      if (child === null || child === undefined || child === false) continue;
      element.appendChild(typeof child === 'string' ? document.createTextNode(child) : child);
    }
    return element;
  }
  // Small line icons, drawn in the text colour.
  const ICONS = {
    mouse: 'M12 3a6 6 0 0 1 6 6v6a6 6 0 0 1-12 0V9a6 6 0 0 1 6-6zM12 3v6M6 10h12',
    layers: 'M12 3l9 5-9 5-9-5 9-5zM3 13l9 5 9-5',
    profile: 'M4 5h16v14H4zM8 9h8M8 13h8M8 17h5',
    apps: 'M4 4h7v7H4zM13 4h7v7h-7zM4 13h7v7H4zM13 13h7v7h-7z',
    commands: 'M5 5h14v4H5zM5 11h14v4H5zM5 17h9v3H5z',
    test: 'M9 3h6M10 3v6l-5 10a1 1 0 0 0 1 1h12a1 1 0 0 0 1-1l-5-10V3',
    update: 'M12 4v11M7 10l5 5 5-5M5 20h14',
    close: 'M6 6l12 12M18 6L6 18',
    plus: 'M12 5v14M5 12h14',
    up: 'M12 19V5M6 11l6-6 6 6',
    down: 'M12 5v14M6 13l6 6 6-6',
    trash: 'M5 7h14M10 7V4h4v3M7 7l1 13h8l1-13',
    edit: 'M4 20h4L19 9l-4-4L4 16v4z',
    record: 'M12 12m-6 0a6 6 0 1 0 12 0a6 6 0 1 0-12 0',
    stop: 'M7 7h10v10H7z',
    star: 'M12 3l2.7 5.6 6.2.9-4.5 4.3 1 6.1L12 17l-5.5 2.9 1-6.1L3 9.5l6.2-.9z',
    link: 'M10 14a4 4 0 0 0 5.7 0l3-3a4 4 0 0 0-5.7-5.7l-1 1M14 10a4 4 0 0 0-5.7 0l-3 3a4 4 0 0 0 5.7 5.7l1-1',
    key: 'M3 7h18v10H3zM7 11h1M11 11h1M15 11h1M8 14h8',
    device: 'M7 7h10v10H7zM10 3v4M14 3v4M10 17v4M14 17v4M3 10h4M3 14h4M17 10h4M17 14h4',
  };
  function icon(name) {
    return s('svg', { class: 'icon', viewBox: '0 0 24 24', 'aria-hidden': 'true', focusable: 'false' },
      s('path', { d: ICONS[name] || '' }));
  }

  // --- Errors and notices -----------------------------------------------------------------
  const listeners = [];
  function report(error) {
    const message = error && error.userMessage ? error.userMessage
      : t('error.page', { message: error && error.message ? error.message : String(error) });
    for (const fn of listeners) fn(message, 'error');
    if (!(error && error.userMessage)) console.error(error);
  }
  function notify(message, kind) {
    for (const fn of listeners) fn(message, kind || 'info');
  }
  function onNotice(fn) { listeners.push(fn); }

  // An error whose message is meant for the user as it stands.
  function userError(message) {
    const error = new Error(message);
    error.userMessage = message;
    return error;
  }

  // --- The bridge -------------------------------------------------------------------------
  // call('editor', 'profileList') → a Promise of the answer. A call that is not offered, or
  // that the editor does not answer within the time, fails with a message saying so
  // (timeout 0 for calls that wait for the user, like the application chooser).
  const TIMEOUT_MS = 15000;
  function call(objectName, method, args, options) {
    const timeout = options && options.timeout !== undefined ? options.timeout : TIMEOUT_MS;
    return new Promise((resolve, reject) => {
      const target = root[objectName];
      if (!target || typeof target[method] !== 'function') {
        reject(userError(t('error.notOffered', { method })));
        return;
      }
      let timer = null;
      if (timeout > 0) {
        timer = setTimeout(() => reject(userError(t('error.noAnswer', { method }))), timeout);
      }
      try {
        target[method].apply(target, (args || []).concat([(value) => {
          if (timer) clearTimeout(timer);
          resolve(value);
        }]));
      } catch (error) {
        if (timer) clearTimeout(timer);
        reject(error);
      }
    });
  }
  const ed = (method, ...args) => call('editor', method, args);
  const dev = (method, ...args) => call('device', method, args);

  // --- Dialogs ----------------------------------------------------------------------------
  let dialogCount = 0;
  // A modal dialog: content built by `build(close)`; resolves with what close() is given
  // (undefined for Escape). The dialog is removed when it closes.
  function modal(title, build, options) {
    return new Promise((resolve) => {
      const id = 'dialog-title-' + (++dialogCount);
      const dialog = h('dialog.dialog' + (options && options.wide ? '.wide' : ''), { 'aria-labelledby': id });
      let done = false;
      const close = (value) => {
        if (done) return;
        done = true;
        if (dialog.open) dialog.close();
        dialog.remove();
        resolve(value);
      };
      dialog.addEventListener('cancel', (event) => {
        event.preventDefault();
        if (options && options.onCancel && options.onCancel() === false) return;
        close(undefined);
      });
      dialog.appendChild(h('h2.dialog-title', { id }, title));
      dialog.appendChild(build(close));
      document.body.appendChild(dialog);
      dialog.showModal();
      const first = dialog.querySelector('[autofocus]') || dialog.querySelector('input, select, textarea, button.primary, button');
      if (first) first.focus();
    });
  }

  // Asks a question; resolves with the value of the button chosen (the last is the cancel).
  function ask(title, message, buttons) {
    return modal(title, (close) => h('div',
      null,
      h('p.dialog-message', null, message),
      h('div.dialog-buttons', null, buttons.map((b) => h('button' + (b.primary ? '.primary' : '') + (b.danger ? '.danger' : ''),
        { type: 'button', onclick: () => close(b.value), autofocus: b.primary || undefined }, b.label)))));
  }

  // Asks for a name; resolves with it, or null when cancelled. `check(name)` answers why a
  // name will not do, or null.
  function askName(title, label, value, check, action) {
    return modal(title, (close) => {
      const errorId = 'name-error-' + dialogCount;
      const input = h('input.text', { type: 'text', value: value || '', 'aria-describedby': errorId, autofocus: true, spellcheck: 'false' });
      const error = h('p.field-error', { id: errorId, role: 'alert' });
      const submit = (event) => {
        event.preventDefault();
        const problem = check(input.value);
        if (problem) {
          error.textContent = problem;
          input.setAttribute('aria-invalid', 'true');
          input.focus();
          return;
        }
        close(input.value.trim());
      };
      input.addEventListener('input', () => {
        input.removeAttribute('aria-invalid');
        error.textContent = '';
      });
      setTimeout(() => input.select(), 0);
      return h('form', { onsubmit: submit },
        h('label.field', null, h('span.label', null, label), input), error,
        h('div.dialog-buttons', null,
          h('button.primary', { type: 'submit' }, action || t('button.ok')),
          h('button', { type: 'button', onclick: () => close(null) }, t('button.cancel'))));
    });
  }

  root.$ = $;
  root.Page = { h, s, append, icon, report, notify, onNotice, userError, call, ed, dev, modal, ask, askName };
})(typeof self !== 'undefined' ? self : this);
