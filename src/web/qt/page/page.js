// The front panel in the browser: shows what the server pushes over /ws and
// sends each action as one short message, "NAME VALUE".
"use strict";

const $ = (id) => document.getElementById(id);
// Under /inst<i>/ the page is one generator of several: its live link and
// its identification are under the same prefix.
const base = (location.pathname.match(/^\/inst\d+\//) || ["/"])[0];
let socket = null;
let retry = 500;

function mhz(value) { return value.toFixed(6).replace(/0+$/, "").replace(/\.$/, ""); }

function setIdle(input, value) {
  // Never under the user's fingers.
  if (document.activeElement !== input) input.value = value;
}

function addError(text) {
  const item = document.createElement("li");
  item.textContent = text;
  const log = $("errors");
  log.append(item);
  while (log.children.length > 20) log.firstElementChild.remove();
  log.scrollTop = log.scrollHeight;
}

// The device as far as its acknowledgements tell: never "off" while it may be on.
const kNowClass = { on: "on", off: "off", unsure: "bad" };

function showNow(id, text, state) {
  $(id).textContent = text;
  $(id).className = kNowClass[state];
}

function show(s) {
  const rf = { on: "output on", off: "output off", unsure: "output not confirmed" }[s.rf_now];
  showNow("rf-now", mhz(s.rf_now_mhz) + " MHz, " + rf, s.rf_now);
  const mod = { on: "on", off: "off", unsure: "not confirmed" }[s.mod_now];
  showNow("mod-now", mhz(s.mod_now_khz) + " kHz, " + mod, s.mod_now);
  $("level-now").textContent = s.level_now + " dBm";
  $("port-now").textContent = s.port;
  $("port-now").className = s.port === "open" ? "on" : (s.port === "closed" ? "off" : "bad");
  setIdle($("rf"), mhz(s.rf_mhz));
  setIdle($("mod"), mhz(s.mod_khz));
  setIdle($("level"), String(s.level));
  setIdle($("start"), mhz(s.start_mhz));
  setIdle($("stop"), mhz(s.stop_mhz));
  setIdle($("points"), String(s.points));
  $("rf-on").checked = s.rf_on;
  $("mod-on").checked = s.mod_on;
  $("progress").value = s.sweeping ? s.progress : 0;
  $("pass-now").textContent = s.sweeping
    ? "Pass " + s.progress + " %" + (s.repeating ? ", repeating" : "")
    : (s.repeating ? "Repeating" : "No pass running");
  $("controls").disabled = !s.control;
  $("access").hidden = s.control;
  $("login").hidden = s.control || !s.password;
  $("access-why").textContent = s.password
    ? "Log in with the server's password to change settings from this machine."
    : "Only the generator's own machine may change settings: the server has no password set.";
}

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(message);
  else addError("not connected: " + message);
}

function connect() {
  socket = new WebSocket("ws://" + location.host + base + "ws");
  socket.onopen = () => {
    retry = 500;
    $("link").textContent = "Live";
    $("link").className = "live";
  };
  socket.onmessage = (event) => {
    let m;
    try { m = JSON.parse(event.data); } catch (e) { return; }
    if (m.type === "state") show(m);
    else if (m.type === "errors") m.errors.forEach(addError);
    else if (m.type === "refused") addError(m.text);
  };
  socket.onclose = () => {
    $("link").textContent = "Disconnected; trying again…";
    $("link").className = "";
    $("controls").disabled = true;
    setTimeout(connect, retry);
    retry = Math.min(retry * 2, 8000);
  };
}

function wire() {
  for (const input of document.querySelectorAll("input[data-action]:not([type=checkbox])")) {
    input.addEventListener("change", () => send(input.dataset.action + " " + input.value.trim()));
  }
  for (const box of document.querySelectorAll("input[type=checkbox][data-action]")) {
    box.addEventListener("change", () => send(box.dataset.action + " " + (box.checked ? 1 : 0)));
  }
  $("level").addEventListener("change", () => send("level " + $("level").value));
  for (const button of document.querySelectorAll("button[data-action]")) {
    button.addEventListener("click", () => send(button.dataset.action));
  }
  $("login").addEventListener("submit", async (event) => {
    event.preventDefault();
    const reply = await fetch("/login", { method: "POST", body: $("password").value,
                                          headers: { "Content-Type": "text/plain" } });
    $("password").value = "";
    if (reply.ok) socket.close();  // reconnects with the session
    else addError("login refused");
  });
}

async function identification() {
  try {
    const reply = await fetch(base + "lxi/identification");
    const xml = new DOMParser().parseFromString(await reply.text(), "text/xml");
    const text = (name) => (xml.getElementsByTagName(name)[0] || {}).textContent || "–";
    $("lxi-manufacturer").textContent = text("Manufacturer");
    $("lxi-model").textContent = text("Model");
    $("lxi-serial").textContent = text("SerialNumber");
    $("lxi-firmware").textContent = text("FirmwareRevision");
    $("lxi-host").textContent = text("Hostname");
    $("lxi-ip").textContent = text("IPAddress");
    if (base !== "/") {
      $("generator").textContent = " " + text("SerialNumber");
      document.title = "TALMIR-880 " + text("SerialNumber");
      $("back").hidden = false;
    }
    for (const a of xml.getElementsByTagName("InstrumentAddressString")) {
      if (a.textContent.endsWith("::SOCKET")) $("lxi-socket").textContent = a.textContent;
      if (a.textContent.endsWith("::INSTR")) $("lxi-instr").textContent = a.textContent;
    }
  } catch (e) {
    addError("identification unavailable");
  }
}

wire();
connect();
identification();
