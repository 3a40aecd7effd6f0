// Every text the page shows, in each language it speaks: t('key', {name: …}) answers the
// text of the chosen language with its {placeholders} filled in. English and German are
// complete (a model test fails on a key or a placeholder missing from either); the names
// of keys, media keys and the like are translated through name(English name).
//
// The language is the editor's choice (editor.currentLocale) unless the user picked one
// in the Device view; setLanguage() switches it for every text drawn afterwards.
//
// Loaded by the page as a classic script (KinetraStrings) and by node's test runner.
(function (root, factory) {
  'use strict';
  const texts = typeof require === 'function' ? require('./strings-texts.js') : root.KinetraTexts;
  const api = factory(texts);
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.KinetraStrings = api;
})(typeof self !== 'undefined' ? self : this, function (TEXTS) {
  'use strict';

  const LANGUAGES = Object.keys(TEXTS);
  let current = 'en';

  function fill(text, params) {
    if (!params) return text;
    return text.replace(/\{(\w+)\}/g, (whole, name) => (params[name] === undefined ? whole : String(params[name])));
  }

  // The text of `key` in the chosen language (English when that language lacks it, the
  // key itself when no language has it).
  function t(key, params) {
    const table = TEXTS[current].ui;
    const text = Object.prototype.hasOwnProperty.call(table, key) ? table[key]
      : Object.prototype.hasOwnProperty.call(TEXTS.en.ui, key) ? TEXTS.en.ui[key] : key;
    return fill(text, params);
  }

  // A name of the input world (keys, media keys, mouse buttons, directions), given in
  // English, in the chosen language; names no language lists (letters, F-keys) as they are.
  function name(english) {
    const names = TEXTS[current].names;
    return Object.prototype.hasOwnProperty.call(names, english) ? names[english] : english;
  }

  // The page's language for a locale code the editor answers ("de", "en", "zh-CHT"…):
  // one the page speaks, else English.
  function languageFor(code) {
    const base = String(code || '').toLowerCase().split(/[-_]/)[0];
    return LANGUAGES.includes(base) ? base : 'en';
  }

  function setLanguage(code) {
    current = languageFor(code);
    if (typeof document !== 'undefined') document.documentElement.lang = current;
    return current;
  }

  return { t, name, setLanguage, languageFor, language: () => current, LANGUAGES, TEXTS };
});
