// The front panel in the browser: shows what the server pushes over /ws and
// sends each action as one short message, "NAME VALUE".
"use strict";

const $ = (id) => document.getElementById(id);
// Under /inst<i>/ the page is one generator of several: its live link and
// its identification are under the same prefix.
const base = (location.pathname.match(/^\/inst\d+\//i) || ["/"])[0];
let socket = null;
let retry = 500;
let live = false;
let last = null;          // the last state, to word again in another language
let identity = null;      // what the identification said
// Texts of the logs, kept as keys so that a change of language rewords them.
const logged = { errors: [], events: [] };
// The page's own actions as the instrument ran them, newest last.
const ran = [];
const kRanShown = 50;

// A value as the page writes it: to six places, no trailing zeros.
function decimal(value) { return value.toFixed(6).replace(/0+$/, "").replace(/\.$/, ""); }

function setIdle(input, value) {
  // Never under the user's fingers.
  if (document.activeElement !== input) input.value = value;
}

// A VISA resource string that a narrow screen breaks only after a "::"
// (not inside an IPv6 host's brackets), as the list page writes it.
function visa(element, resource) {
  element.replaceChildren();
  const outer = document.createElement("span");
  outer.className = "visa";
  for (const field of resource.match(/(\[[^\]]*\]|[^:[]|:(?!:))*(::|$)/g).filter(Boolean)) {
    const span = document.createElement("span");
    span.textContent = field;
    outer.append(span, document.createElement("wbr"));
  }
  element.append(outer);
}

// An entry of a log: a key and its argument, or a text as it came.
function entry(item) {
  if (typeof item === "string") return item;
  const text = T(item.key, item.arg === undefined ? undefined : entry(item.arg));
  return item.suffix ? text + ": " + item.suffix : text;
}

function showLog(id) {
  const log = $(id);
  log.replaceChildren(...logged[id].map((item) => {
    const li = document.createElement("li");
    li.textContent = entry(item);
    return li;
  }));
  log.dataset.empty = T("none");
  log.parentElement.scrollTop = log.parentElement.scrollHeight;
}

function addTo(id, item) {
  logged[id].push(item);
  while (logged[id].length > 20) logged[id].shift();
  showLog(id);
}

// Each action's line, and its errors or that it was done.
function showRan() {
  const list = $("scpi");
  list.replaceChildren(...ran.map((r) => {
    const li = document.createElement("li");
    const code = document.createElement("code");
    code.textContent = r.line;
    li.append(code, " \u2192 " + (r.errors.length ? r.errors.join("; ") : T("ran_ok")));
    if (r.errors.length) li.className = "bad";
    return li;
  }));
  list.dataset.empty = T("none");
  list.parentElement.scrollTop = list.parentElement.scrollHeight;
}

function showRecording() {
  $("record").disabled = recorder.on;
  $("stop-record").disabled = !recorder.on;
  $("recording").textContent = recorder.on ? T("recording", recorder.actions.length)
    : (recorder.kept ? T("recorded", recorder.actions.length) : "");
}

// The resource a script reaches this generator by, as this page reached it.
function resource() {
  const addresses = identity
    ? [...identity.getElementsByTagName("InstrumentAddressString")].map((a) => a.textContent) : [];
  return addresses.find((a) => a.endsWith("::SOCKET")) || addresses.find((a) => a.endsWith("::INSTR"))
    || "TCPIP::" + location.hostname + "::5025::SOCKET";
}

function offer(id, text) {
  const link = $(id);
  if (link.href) URL.revokeObjectURL(link.href);
  link.href = URL.createObjectURL(new Blob([text], { type: "text/plain" }));
}

function stopRecording() {
  recorder.stop();
  const at = resource();
  offer("export-scpi", recorded.scpi(recorder.actions));
  offer("export-pyvisa", recorded.pyvisa(recorder.actions, at, recorder.started));
  offer("export-pymeasure", recorded.pymeasure(recorder.actions, at, recorder.started));
  $("exports").hidden = !recorder.kept;
  showRecording();
}

// The device as far as its acknowledgements tell: never "off" while it may be on.
const kNowClass = { on: "on", off: "off", unsure: "bad" };

function showNow(id, text, state) {
  $(id).textContent = text;
  $(id).className = kNowClass[state];
}

// Unsure, the frequency is not known either: the device may have taken
// the command that went unanswered, or not.
function nowText(value, unit, state, words) {
  return state === "unsure" ? T(words.unsure) : value + " " + unit + ", " + T(words[state]);
}

function show(s) {
  last = s;
  showNow("rf-now", nowText(decimal(s.rf_now_mhz), "MHz", s.rf_now,
                            { on: "output_on", off: "output_off", unsure: "output_unsure" }),
          s.rf_now);
  showNow("mod-now", nowText(decimal(s.mod_now_khz), "kHz", s.mod_now,
                             { on: "on", off: "off", unsure: "not_confirmed" }),
          s.mod_now);
  $("level-now").textContent = s.level_now + " dBm";
  $("port-now").textContent = T("port_" + s.port);
  $("port-now").className = s.port === "open" ? "on" : (s.port === "closed" ? "off" : "bad");
  // Each setting's field is named by its control's action.
  for (const setting of SETTINGS) {
    const value = s[setting.action];
    const control = $(setting.control);
    if (value === undefined) continue;
    if (setting.kind === "boolean") control.checked = value;
    else if (setting.list === "steps") showStep(control, value);
    else setIdle(control, decimal(value));
  }
  $("save-mode").textContent = T(s.sweep_mode ? "mode_sweep" : "mode_vfo");
  $("progress").value = s.sweeping ? s.progress : 0;
  $("pass-now").textContent = s.sweeping
    ? T("pass", s.progress) + (s.repeating ? T("repeating_suffix") : "")
    : T(s.repeating ? "repeating" : "no_pass");
  $("controls").disabled = !s.control;
  $("access").hidden = s.control;
  $("login").hidden = s.control || !s.password;
  $("access-why").textContent = T(s.password ? "why_log_in" : "why_this_machine");
}

// The step the instrument holds; one a script set that the list lacks is
// shown as such.
function showStep(select, hz) {
  const value = String(hz);
  if (![...select.options].some((o) => o.value === value)) {
    select.querySelectorAll("[data-extra]").forEach((o) => o.remove());
    const option = new Option(value + "Hz", value);
    option.dataset.extra = "";
    select.append(option);
  }
  setIdle(select, value);
}

// A setting's row as its description has it: a switch's box before its
// label, a value's label (with the unit, where its options do not say it)
// before its field or its list.
function settingRow(s) {
  const row = document.createElement("div");
  const label = document.createElement("label");
  label.htmlFor = s.control;
  const words = s.unit && s.kind !== "boolean" && s.list !== "steps"
    ? document.createElement("span") : label;
  words.dataset.text = s.name;
  words.textContent = T(s.name);
  if (words !== label) label.append(words, " (" + s.unit + ")");
  const control = document.createElement(s.list ? "select" : "input");
  control.id = s.control;
  if (s.kind === "boolean") control.type = "checkbox";
  control.dataset.action = s.action;
  if (s.list) {
    const options = s.list === "steps" ? STEPS : s.levels.map((v) => [v, String(v)]);
    for (const [value, caption] of options) control.append(new Option(caption, String(value)));
  } else if (s.kind !== "boolean") {
    // A count is whole; a frequency may have a point.
    control.inputMode = s.kind === "count" ? "numeric" : "decimal";
    control.autocomplete = "off";
    control.maxLength = s.kind === "count" ? 6 : 20;
  }
  row.className = s.kind === "boolean" ? "row switch" : "row";
  if (s.kind === "boolean") row.append(control, label);
  else row.append(label, control);
  return row;
}

// Each group of settings where index.html keeps its place.
function build() {
  for (const place of document.querySelectorAll("[data-settings]")) {
    place.replaceWith(...SETTINGS.filter((s) => s.group === place.dataset.settings).map(settingRow));
  }
}

function showLink() {
  $("link").dataset.text = live ? "live" : (socket ? "disconnected" : "connecting");
  $("link").textContent = T($("link").dataset.text);
  $("link").className = live ? "live" : "";
}

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(message);
  else addTo("errors", { key: "not_connected", arg: message });
}

function connect() {
  const next = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host +
                             base + "ws");
  next.onopen = () => {
    retry = 500;
    live = true;
    showLink();
  };
  next.onmessage = (event) => {
    let m;
    try { m = JSON.parse(event.data); } catch (e) { return; }
    if (m.type === "state") show(m);
    else if (m.type === "errors") m.errors.forEach((e) => addTo("errors", e));
    else if (m.type === "ran") {
      ran.push(m);
      while (ran.length > kRanShown) ran.shift();
      showRan();
      m.errors.forEach((e) => addTo("errors", e));
      recorder.add(m);
      showRecording();
    }
    else if (m.type === "refused") addTo("errors", { key: m.reason, suffix: m.detail });
    else if (m.type === "device") {
      addTo("events", m.fault
        ? { key: "device_gone", arg: { key: "fault_" + m.fault.replace(/ /g, "_") } }
        : { key: "device_back" });
    }
  };
  next.onclose = () => {
    live = false;
    showLink();
    $("controls").disabled = true;
    setTimeout(connect, retry);
    retry = Math.min(retry * 2, 8000);
  };
  socket = next;
}

function wire() {
  for (const input of document.querySelectorAll("input[data-action]:not([type=checkbox])")) {
    input.addEventListener("change", () => send(input.dataset.action + " " + input.value.trim()));
  }
  for (const box of document.querySelectorAll("input[type=checkbox][data-action]")) {
    box.addEventListener("change", () => send(box.dataset.action + " " + (box.checked ? 1 : 0)));
  }
  for (const select of document.querySelectorAll("select[data-action]")) {
    select.addEventListener("change", () => send(select.dataset.action + " " + select.value));
  }
  for (const button of document.querySelectorAll("button[data-action]")) {
    button.addEventListener("click", () => send(button.dataset.action));
  }
  // Saving is for good: the dialog says what the device will start in.
  $("save").addEventListener("click", () => {
    $("save-question").textContent = T("save_question", $("save-mode").textContent);
    $("save-dialog").showModal();
  });
  $("save-dialog").addEventListener("close", () => {
    if ($("save-dialog").returnValue === "save") send("save");
  });
  $("record").addEventListener("click", () => {
    recorder.start();
    $("exports").hidden = true;
    showRecording();
  });
  $("stop-record").addEventListener("click", stopRecording);
  for (const link of $("exports").querySelectorAll("a")) {
    link.addEventListener("click", () => { recorder.kept = false; });
  }
  // A reload or a closed tab asks before a recording is lost.
  addEventListener("beforeunload", (event) => {
    if (recorder.holds()) event.preventDefault();
  });
  $("login").addEventListener("submit", async (event) => {
    event.preventDefault();
    const reply = await fetch("/login", { method: "POST", body: $("password").value,
                                          headers: { "Content-Type": "text/plain" } });
    $("password").value = "";
    if (reply.ok) socket.close();  // reconnects with the session
    else addTo("errors", { key: "login_refused" });
  });
}

function showIdentity() {
  if (!identity) return;
  const text = (name) => (identity.getElementsByTagName(name)[0] || {}).textContent || "–";
  $("lxi-manufacturer").textContent = text("Manufacturer");
  $("lxi-model").textContent = text("Model");
  $("lxi-serial").textContent = text("SerialNumber");
  $("lxi-firmware").textContent = text("FirmwareRevision");
  $("lxi-description").textContent = text("ManufacturerDescription");
  $("lxi-version").textContent = text("LXIVersion");
  $("lxi-host").textContent = text("Hostname");
  $("lxi-ip").textContent = text("IPAddress");
  $("lxi-mac").textContent = text("MACAddress");
  if (base !== "/") {
    $("generator").textContent = " " + text("SerialNumber");
    document.title = "TALMIR-880 " + text("SerialNumber");
    $("back").hidden = false;
  }
  // Over TLS: the certificate's fingerprint, to compare with the browser's.
  const fingerprint = text("CertificateSha256");
  // Broken between its pairs only, as certificate viewers show it.
  $("lxi-certificate").replaceChildren(...fingerprint.split(":").flatMap(
    (pair, i, all) => (i < all.length - 1 ? [pair + ":", document.createElement("wbr")] : [pair])));
  $("lxi-certificate-row").hidden = fingerprint === "–";
  const only = [...identity.getElementsByTagName("ThisMachineOnly")].map((e) => e.textContent);
  for (const [way, id] of [["SOCKET", "lxi-socket"], ["INSTR", "lxi-instr"]]) {
    const found = [...identity.getElementsByTagName("InstrumentAddressString")]
      .map((a) => a.textContent).find((a) => a.endsWith("::" + way));
    if (found) visa($(id), found);
    else $(id).textContent = only.includes(way) ? T("this_machine_only") : "–";
  }
}

async function identification() {
  try {
    const reply = await fetch(base + "lxi/identification");
    identity = new DOMParser().parseFromString(await reply.text(), "text/xml");
    showIdentity();
  } catch (e) {
    addTo("errors", { key: "identification_unavailable" });
  }
}

onLanguage = () => {
  if (last) show(last);
  showLink();
  showIdentity();
  showLog("errors");
  showLog("events");
  showRan();
  showRecording();
};
build();
wire();
onLanguage();
connect();
identification();
