// The list of generators: each one's port and RF output, live, from the
// state its front panel's link pushes. It only watches: it sends nothing,
// so it takes none of an instrument's client places.
"use strict";

const sections = Array.from(document.querySelectorAll("section[data-live]"));
const live = new Set();
let wasLive = false;

function linkStatus() {
  const link = document.getElementById("link");
  const all = live.size === sections.length;
  wasLive = wasLive || all;
  link.dataset.text = all ? "live" : (wasLive ? "disconnected" : "connecting");
  link.textContent = T(link.dataset.text);
  link.className = all ? "live" : "";
}

// Worded through data-text, so that a change of language rewords it.
function show(section, s) {
  const port = section.querySelector("output[id$='-port']");
  port.dataset.text = "port_" + s.port;
  port.textContent = T(port.dataset.text);
  port.className = s.port === "open" ? "on" : (s.port === "closed" ? "off" : "bad");
  const rf = section.querySelector("output[id$='-rf']");
  // The device's RF: never "off" while it may be on.
  rf.dataset.text = { on: "on", off: "off", unsure: "not_confirmed" }[s.rf_now];
  rf.textContent = T(rf.dataset.text);
  rf.className = { on: "on", off: "off", unsure: "bad" }[s.rf_now];
}

function watch(section) {
  let retry = 500;
  const connect = () => {
    const socket = new WebSocket("ws://" + location.host + section.dataset.live);
    socket.onopen = () => {
      retry = 500;
      live.add(section);
      linkStatus();
    };
    socket.onmessage = (event) => {
      let m;
      try { m = JSON.parse(event.data); } catch (e) { return; }
      if (m.type === "state") show(section, m);
    };
    socket.onclose = () => {
      live.delete(section);
      linkStatus();
      setTimeout(connect, retry);
      retry = Math.min(retry * 2, 8000);
    };
  };
  connect();
}

sections.forEach(watch);
