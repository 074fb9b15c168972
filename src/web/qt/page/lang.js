// The pages in the panel's three languages: the one chosen on a page, kept
// by this browser alone, or else the first of the browser's own
// (Accept-Language) that is one of them; English for any other.
"use strict";

const LANGUAGE_KEY = "talmir880.language";
const TAGS = LANGUAGES.map((l) => l[0]);
// A setting's words come with its description, under its name.
for (const s of SETTINGS) for (const tag of TAGS) TEXTS[tag][s.name] = s.label[tag];
let language = "en";
// Called after every change of language, to word what the page made itself.
let onLanguage = () => {};

function stored() {
  try { return localStorage.getItem(LANGUAGE_KEY); } catch (e) { return null; }
}

function fromBrowser() {
  for (const tag of navigator.languages || [navigator.language || ""]) {
    const t = tag.toLowerCase();
    if (t.startsWith("zh")) return /^zh-(tw|hk|mo)|hant/.test(t) ? "zh-TW" : "zh-CN";
    if (t.startsWith("en")) return "en";
  }
  return "en";
}

// The text of a key in the page's language; "{}" becomes `arg`.
function T(key, arg) {
  const text = TEXTS[language][key];
  return arg === undefined ? text : text.replace("{}", arg);
}

function translate() {
  document.documentElement.lang = language;
  for (const e of document.querySelectorAll("[data-text]")) e.textContent = T(e.dataset.text, e.dataset.arg);
  for (const e of document.querySelectorAll("[data-label]")) e.setAttribute("aria-label", T(e.dataset.label));
  onLanguage();
}

function chooseLanguage(tag) {
  language = tag;
  try { localStorage.setItem(LANGUAGE_KEY, tag); } catch (e) { /* kept for this page only */ }
  translate();
}

(function () {
  const choice = stored();
  language = TAGS.includes(choice) ? choice : fromBrowser();
  const select = document.getElementById("language");
  for (const [tag, name] of LANGUAGES) {
    const option = new Option(name, tag);
    option.lang = tag;
    select.append(option);
  }
  select.value = language;
  select.addEventListener("change", () => chooseLanguage(select.value));
  translate();
})();
