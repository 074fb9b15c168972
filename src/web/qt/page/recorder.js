// A session of the page's own actions, recorded in the page (nothing of it
// is kept on the server) and given back as a script that does it again:
// the SCPI lines, a pyvisa script and one of the Python class. Each action
// comes as the server ran it: its line, whether a script waits for it, the
// class's statements.
"use strict";

const recorder = {
  actions: [],
  on: false,
  kept: false,     // a recording stopped and not yet downloaded
  started: null,

  start() {
    this.actions = [];
    this.on = true;
    this.kept = false;
    this.started = new Date();
  },
  stop() {
    this.on = false;
    this.kept = this.actions.length > 0;
  },
  // An action the instrument ran; one it refused is no part of the session.
  add(ran) {
    if (this.on && ran.errors.length === 0) this.actions.push(ran);
  },
  // Whether leaving the page would lose something.
  holds() { return this.actions.length > 0 && (this.on || this.kept); },
};

// A Python string literal: JSON's escapes are Python's too.
function py(text) { return JSON.stringify(text); }

function heading(tool, started) {
  return [
    "#!/usr/bin/env python3",
    `"""A session of the TALMIR-880's page, recorded ${started.toISOString()};`,
    `run it to do it again (${tool})."""`,
  ];
}

const recorded = {
  scpi(actions) { return actions.map((a) => a.line + "\n").join(""); },

  // Each line written as the page sent it; *OPC? waits where the page's
  // user saw the device (or a sweep pass) finish it.
  pyvisa(actions, resource, started) {
    return [
      ...heading("pyvisa", started),
      "import sys",
      "",
      "import pyvisa",
      "",
      `inst = pyvisa.ResourceManager().open_resource(${py(resource)},`,
      "                                              read_termination=\"\\n\", write_termination=\"\\n\")",
      "# A sweep pass is waited for to its end.",
      "inst.timeout = 60000",
      ...actions.flatMap((a) => [`inst.write(${py(a.line)})`, ...(a.waits ? ['inst.query("*OPC?")'] : [])]),
      "errors = []",
      "while True:",
      "    code, _, text = inst.query(\"SYST:ERR?\").strip().partition(\",\")",
      "    if int(code) == 0:",
      "        break",
      "    errors.append(code + \",\" + text)",
      "inst.close()",
      "if errors:",
      "    sys.exit(\"the instrument refused: \" + \"; \".join(errors))",
      "",
    ].join("\n");
  },

  // The class waits for the device in every setting and raises for an
  // error; its sweep() waits for the pass.
  pymeasure(actions, resource, started) {
    return [
      ...heading("PyMeasure", started),
      "import sys",
      "",
      "from talmir880.generator import Talmir880",
      "",
      `gen = Talmir880(${py(resource)})`,
      ...actions.flatMap((a) => a.python),
      "errors = gen.check_errors()",
      "gen.adapter.connection.close()",
      "if errors:",
      "    sys.exit(\"the instrument refused: %r\" % errors)",
      "",
    ].join("\n");
  },
};
