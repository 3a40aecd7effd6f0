// The registry of the editor's views, in the order the side bar lists them, and what the
// views draw alike. Each view-*.js adds itself: {id, label, icon, render() → element}.
(function (root) {
  'use strict';
  const { h } = root.Page;
  const list = [];

  function heading(text, sub) {
    return h('header.view-header', null, h('h1', { tabindex: '-1' }, text), sub ? h('p.view-sub', null, sub) : null);
  }

  root.EditorViews = {
    list,
    add(view) { list.push(view); },
    byId: (id) => list.find((v) => v.id === id),
    heading,
  };
})(typeof self !== 'undefined' ? self : this);
