"""The faces against the generator's settings as the program describes them
(talmir880_command_table_dump --settings): the Python class, the web page's
controls, the man pages' and the automation guide's command lists, and
what the documents' prose says of the levels and the ranges.

Each check takes the description and returns what a face lacks or
misstates, so that a setting described and shown nowhere is reported. The
class's settings and the command lists are derived (scripts/describe.py):
they are checked in as the generator gives them now, and the generator,
given one setting more, gives each of them that setting.
A range is written "A unit to B unit" ("20 Hz to 9.99999999 GHz", "5 to
9999"); the levels as their numbers in order."""

import html.parser
import json
import os
import re
import subprocess
import sys
import unittest

from test_command_table import (DUMP, SOURCE, headers_in, is_header, relative_to, resolve,
                                source, automation_headers, man_page_headers, python_controls,
                                python_module)

sys.path.insert(0, os.path.join(SOURCE, "scripts"))
import describe  # noqa: E402 pylint: disable=wrong-import-position

SCALE = {"Hz": 1, "kHz": 1e3, "MHz": 1e6, "GHz": 1e9}
RANGE = re.compile(r"(\d[\d.]*)\s*(GHz|MHz|kHz|Hz)?\s+to\s+(\d[\d.]*)\s*(GHz|MHz|kHz|Hz)?")
LEVEL = re.compile(r"-\d+")


def description(*more):
    out = subprocess.run([DUMP, "--settings", *more], check=True, capture_output=True,
                         text=True).stdout
    return json.loads(out)


def test_only_setting():
    """A setting the device does not have, described for the tests alone."""
    return description("--test-only")[-1]


def page_headers(actions):
    """The row header each page action sets ("-" for none)."""
    out = subprocess.run([DUMP, "--page-line"] + list(actions), check=True,
                         capture_output=True, text=True).stdout
    return dict(zip(actions, out.splitlines()))


def plain(text):
    """Blanks folded, and minus as a hyphen: "\\-3" and "\u22123" are -3."""
    return " ".join(text.replace("\\-", "-").replace("\u2212", "-").split())


def ranges_in(text):
    """Each "A to B" of the text, in units of 1 (Hz, points)."""
    found = []
    for low, low_unit, high, high_unit in RANGE.findall(plain(text)):
        high_scale = SCALE.get(high_unit, 1)
        found.append([float(low) * SCALE.get(low_unit, high_scale), float(high) * high_scale])
    return found


def same_range(a, b):
    return all(abs(x - y) <= 1e-9 * max(1.0, abs(y)) for x, y in zip(a, b))


def ranged(setting):
    return setting["kind"] in ("frequency", "count")


def setting_of(settings, header):
    return next((s for s in settings if header in (s["header"], s["also"])), None)


def stated(where, setting, text):
    """What `text`, said of `setting`, misstates of its range or levels."""
    problems = []
    if ranged(setting):
        for found in ranges_in(text):
            if not same_range(found, [setting["min"], setting["max"]]):
                problems.append("%s gives %s as %.12g to %.12g; it takes %.12g to %.12g" %
                                (where, setting["name"], *found, setting["min"], setting["max"]))
    if setting["kind"] == "level":
        levels = [int(x) for x in LEVEL.findall(plain(text))]
        if levels != setting["levels"]:
            problems.append("%s lists the levels %r; the device's are %r" %
                            (where, levels, setting["levels"]))
    return problems


# The Python class.

def spelled(word, choice):
    """Whether `word` is the short or the long form of `choice` ("SWE", "SWEep")."""
    short = "".join(c for c in choice if not c.islower())
    return word.upper() in (short, choice.upper())


def check_python(settings, controls, resolve_fn):
    """What Talmir880 lacks or misstates: a property per setting, whose
    setting and query name its header, taking its range, levels or words."""
    written = sorted({c["setting"].split()[0] for c in controls} |
                     {c["query"].rstrip("?") for c in controls})
    headers = resolve_fn(written)
    problems = []
    for s in settings:
        mine = [c for c in controls
                if headers[c["setting"].split()[0]] in (s["header"], s["also"])]
        if not mine:
            problems.append("Talmir880 has no property for %s (%s)" % (s["name"], s["header"]))
        for c in mine:
            where = "Talmir880.%s" % c["attribute"]
            if headers[c["query"].rstrip("?")] != headers[c["setting"].split()[0]]:
                problems.append("%s asks %s, not the %s it sets" % (where, c["query"], s["header"]))
            values = c["values"]
            if ranged(s) and [float(x) for x in values] != [s["min"], s["max"]]:
                problems.append("%s takes %r; %s takes %.12g to %.12g" %
                                (where, values, s["name"], s["min"], s["max"]))
            elif s["kind"] == "level" and list(values) != s["levels"]:
                problems.append("%s takes %r; the device's levels are %r" %
                                (where, values, s["levels"]))
            elif s["kind"] == "boolean" and (str(values.get(True)).upper() not in ("1", "ON") or
                                             str(values.get(False)).upper() not in ("0", "OFF")):
                problems.append("%s sends %r for on and off" % (where, values))
            elif s["kind"] == "mode":
                words = s["choices"].split("|")
                for word in values.values():
                    if not any(spelled(word, w) for w in words):
                        problems.append("%s sends %r, not one of %s" % (where, word, s["choices"]))
            problems += stated(where + "'s docstring", s, c["docs"])
    return problems


# The web page.

LANGUAGES = ["zh-CN", "zh-TW", "en"]


class _Controls(html.parser.HTMLParser):
    """Every element with an id, and the places index.html keeps for the
    groups of setting controls the page builds (data-settings)."""

    def __init__(self):
        super().__init__()
        self.elements, self.places = {}, []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.elements[attrs["id"]] = dict(attrs, tag=tag)
        if "data-settings" in attrs:
            self.places.append(attrs["data-settings"])


def page_controls():
    with open(os.path.join(SOURCE, "src", "web", "qt", "page", "index.html"),
              encoding="utf-8") as f:
        parser = _Controls()
        parser.feed(f.read())
    return parser


def page_model():
    """The settings' controls as texts.js gives them to the page (SETTINGS),
    or None where the dump was built without the web face."""
    run = subprocess.run([DUMP, "--page-settings"], capture_output=True, text=True)
    return json.loads(run.stdout) if run.returncode == 0 else None


def check_page(settings, model, page, headers_fn):
    """What the page's model (texts.js's SETTINGS, from which page.js builds
    the controls) lacks or misstates: the control of each setting the page
    shows, its action setting the setting's header, its kind, levels and
    words in each language, and a place for its group in index.html; no
    control that is no described setting's, and none written into
    index.html by hand, where it would be a second copy."""
    problems = []
    shown = [s for s in settings if s["page_control"]]
    actions = headers_fn([s["page_action"] for s in shown])
    built = {m["name"]: m for m in model}
    for s in shown:
        m = built.get(s["name"])
        if m is None:
            problems.append("the page's SETTINGS has no control for %s" % s["name"])
            continue
        if (m["control"], m["action"]) != (s["page_control"], s["page_action"]):
            problems.append("the page builds #%s sending %r for %s, not #%s sending %r" %
                            (m["control"], m["action"], s["name"], s["page_control"],
                             s["page_action"]))
        elif actions[s["page_action"]] not in (s["header"], s["also"]):
            problems.append("the page's action %s sets %s, not %s" %
                            (s["page_action"], actions[s["page_action"]], s["header"]))
        if m["kind"] != s["kind"] or m["group"] != s.get("page_group"):
            problems.append("the page shows %s as a %s in %r, not a %s in %r" %
                            (s["name"], m["kind"], m["group"], s["kind"], s.get("page_group")))
        if s["kind"] == "level" and (m["list"] != "levels" or m["levels"] != s["levels"]):
            problems.append("the page offers %s the levels %r; the device's are %r" %
                            (s["name"], m["levels"], s["levels"]))
        if sorted(m["label"]) != sorted(LANGUAGES) or not all(m["label"].values()):
            problems.append("the page words %s as %r" % (s["name"], m["label"]))
        if m["group"] not in page.places:
            problems.append("index.html has no place for %s's group %r" % (s["name"], m["group"]))
    described = {s["name"] for s in shown}
    for name in built:
        if name not in described:
            problems.append("the page's control for %s is no described setting's" % name)
    for name, element in page.elements.items():
        if element["tag"] in ("input", "select") and "data-action" in element:
            problems.append("index.html writes the control #%s; the page builds it" % name)
    return problems


# The documents.

def man_listing(page, read=source):
    text = read("packaging/" + page)
    section = re.search(r"^\.SH COMMANDS\n(.*?)^\.SH ", text, re.M | re.S).group(1)
    return re.search(r"^\.nf\n(.*?)^\.fi$", section, re.M | re.S).group(1).splitlines()


def automation_section(title, read=source):
    text = read("docs/automation.md")
    return re.search(r"^## %s\n(.*?)^## " % title, text, re.M | re.S).group(1)


def documents(read=source):
    """The documents as `read` gives their files."""
    return {"man": man_page_headers(read), "man_listing": man_listing("talmir880-scpi.1", read),
            "automation": automation_headers(read),
            "commands": automation_section("Commands", read),
            "panel": read("packaging/talmir880.1"), "scpi": read("packaging/talmir880-scpi.1"),
            "guide": read("docs/automation.md"), "readme": read("README.md")}


def panel_steps():
    out = subprocess.run([DUMP, "--panel-steps"], check=True, capture_output=True,
                         text=True).stdout
    return [float(line) for line in out.split()]


QUANTITY = re.compile(r"(-?\d[\d.]*)\s*(GHz|MHz|kHz|Hz|dBm|points)\b")


def start_ups_stated(where, settings, text, complete):
    """What `text`, giving start-up values, misstates: each quantity (a
    frequency, a level, a number of points; both ends of "A to B MHz") is the
    start-up value of a setting of its kind, and a mode the mode's first
    word. With `complete`, each setting the page shows that starts at a
    quantity is there."""
    text = plain(re.sub(r"`[^`]*`", "", text))
    stated_values = [("frequency", v) for r in ranges_in(text) for v in r]
    for number, unit in QUANTITY.findall(RANGE.sub("", text)):
        kind = {"dBm": "level", "points": "count"}.get(unit, "frequency")
        stated_values.append((kind, float(number) * SCALE.get(unit, 1)))
    problems = []
    for kind, value in stated_values:
        if not any(s["kind"] == kind and same_range([value], [s["start_up"]]) for s in settings):
            problems.append("%s gives %.12g as a start-up %s; no setting starts there" %
                            (where, value, kind))
    for word in re.findall(r"\bmode (\w+)", text):
        for s in (s for s in settings if s["kind"] == "mode"):
            first = s["choices"].split("|")[int(s["start_up"])]
            if not spelled(word, first):
                problems.append("%s starts %s at %s, not %s" % (where, s["name"], word, first))
    if complete:
        for s in settings:
            if (s["page_control"] and s["kind"] in ("frequency", "level", "count") and
                    s["start_up"] and
                    not any(k == s["kind"] and same_range([v], [s["start_up"]])
                            for k, v in stated_values)):
                problems.append("%s leaves out %s's start-up value, %.12g" %
                                (where, s["name"], s["start_up"]))
    return problems


def check_start_ups(settings, docs, steps):
    """What *RST's row in automation.md, *RST's paragraph in the server's
    man page and the panel's man page say otherwise than the description:
    the start-up values, and the panel's tuning steps."""
    problems = []
    rows = [line for line in docs["commands"].splitlines() if line.startswith("| `*RST`")]
    if len(rows) != 1:
        problems.append("automation.md's Commands has %d rows for *RST" % len(rows))
    for row in rows:
        problems += start_ups_stated("automation.md's *RST row", settings, row, complete=True)
    paragraph = re.search(r"^\.B \*RST\n(.*?)^\.B ", docs["scpi"], re.M | re.S)
    if paragraph is None:
        problems.append("talmir880-scpi.1 says nothing of *RST")
    else:
        problems += start_ups_stated("talmir880-scpi.1's *RST", settings, paragraph.group(1),
                                     complete=False)
    found = re.search(r"by a step from ([^,;]*)", plain(docs["panel"]))
    wanted = [min(steps), max(steps)]
    given = ranges_in(found.group(1)) if found else []
    if not given or not same_range(given[0], wanted):
        problems.append("talmir880.1 gives the tuning steps as %s; the panel steps %.12g to "
                        "%.12g Hz" % (found.group(1) if found else "nothing", *wanted))
    return problems


NUMBERS = {"two": 2, "three": 3, "four": 4, "five": 5, "six": 6, "seven": 7, "eight": 8}


def check_docs(settings, docs):
    """What the man pages and automation.md lack or misstate: each
    setting's header in both command lists, a range or level list written
    beside a header as the setting has it, the guide's ranges and levels,
    and the panel's man page's levels."""
    problems = []
    for s in settings:
        for header in filter(None, (s["header"], s["also"])):
            for name, documented in (("talmir880-scpi.1 COMMANDS", docs["man"]),
                                     ("automation.md Commands", docs["automation"])):
                if header not in {h for h, _ in documented}:
                    problems.append("%s leaves out %s (%s)" % (name, s["name"], header))
    # A phrase of the man page's listing that is no header says something
    # of the header before it on its line.
    for line in docs["man_listing"]:
        previous = None
        for phrase in re.split(r" {2,}", line.replace("\\-", "-").strip()):
            words = phrase.split()
            if words and is_header(words[0]):
                header = words[0].rstrip("?")
                previous = relative_to(previous, header) if header.startswith(":") else header
            elif previous and setting_of(settings, previous):
                problems += stated("talmir880-scpi.1 COMMANDS", setting_of(settings, previous),
                                   phrase)
    rows = [line for line in docs["commands"].splitlines() if line.startswith("| `")]
    for s in settings:
        if s["kind"] != "level":
            continue
        for row in rows:
            cells = re.split(r"(?<!\\)\|", row)
            if [h for h, _ in headers_in([re.findall(r"`([^`]*)`", cells[1])])] == [s["header"]]:
                problems += stated("automation.md's %s row" % s["header"], s, cells[2])
        for where, text in (("automation.md", docs["commands"]), ("talmir880.1", docs["panel"])):
            for count in re.findall(r"\b(\w+) (?:RF )?levels\b", plain(text)):
                if count in NUMBERS and NUMBERS[count] != len(s["levels"]):
                    problems.append("%s speaks of %s levels; the device has %d" %
                                    (where, count, len(s["levels"])))
        listed = re.search(r"levels: (.*?dBm)", plain(docs["panel"]))
        if listed is None:
            problems.append("talmir880.1 does not list the levels")
        else:
            problems += stated("talmir880.1", s, listed.group(1))
    # The guide's Ranges paragraph: every range it gives is a setting's;
    # its asides in brackets say what cannot be set.
    paragraph = re.search(r"^Ranges .*?\n\n", docs["commands"], re.M | re.S).group(0)
    paragraph = re.sub(r"\([^()]*\)", "", paragraph)
    for found in ranges_in(paragraph):
        if not any(ranged(s) and same_range(found, [s["min"], s["max"]]) for s in settings):
            problems.append("automation.md's Ranges give %.12g to %.12g, which no setting takes" %
                            tuple(found))
    return problems


LEVEL_LIST = re.compile(r"-\d+(?:, -\d+)+,? (?:and|or) -\d+")
CW_STARTS = re.compile(r"CW range starts at ([\d.]+) ?(GHz|MHz|kHz|Hz)")


def check_prose(settings, docs):
    """What the prose says of the settings outside the derived lists, its
    asides in brackets left out: each count of levels and each list of
    them, each range with its units in the server's documents, and where
    the CW range starts."""
    problems = []
    texts = {"README.md": docs["readme"], "automation.md": docs["guide"],
             "talmir880-scpi.1": docs["scpi"], "talmir880.1": docs["panel"]}
    texts = {where: re.sub(r"\([^()]*\)", "", plain(text)) for where, text in texts.items()}
    for s in (s for s in settings if s["kind"] == "level"):
        for where, text in texts.items():
            for count in re.findall(r"\b(\w+) (?:RF )?levels\b", text):
                if count.lower() in NUMBERS and NUMBERS[count.lower()] != len(s["levels"]):
                    problems.append("%s speaks of %s levels; the device has %d" %
                                    (where, count, len(s["levels"])))
            for listed in LEVEL_LIST.findall(text):
                problems += stated(where, s, listed)
    for where in ("automation.md", "talmir880-scpi.1"):
        for low, low_unit, high, high_unit in RANGE.findall(texts[where]):
            if not (low_unit and high_unit):
                continue
            found = [float(low) * SCALE[low_unit], float(high) * SCALE[high_unit]]
            if not any(ranged(s) and same_range(found, [s["min"], s["max"]]) for s in settings):
                problems.append("%s gives %.12g to %.12g, which no setting takes" %
                                (where, *found))
        cw = next(s for s in settings if s["steps"])
        for value, unit in CW_STARTS.findall(texts[where]):
            if not same_range([float(value) * SCALE[unit]], [cw["min"]]):
                problems.append("%s starts the CW range at %s %s; %s starts at %.12g" %
                                (where, value, unit, cw["name"], cw["min"]))
    return problems


class SettingsTest(unittest.TestCase):
    settings = description()
    page = page_model()

    def check(self, problems):
        if problems:
            self.fail("\n" + "\n".join(problems))

    def test_python_class_has_each_setting(self):
        self.check(check_python(self.settings, python_controls(), resolve))

    def test_page_has_each_setting_it_shows(self):
        if self.page is None:
            self.skipTest("the dump was built without the web face")
        self.check(check_page(self.settings, self.page, page_controls(), page_headers))

    def test_documents_state_each_setting(self):
        self.check(check_docs(self.settings, documents()))

    def test_prose_states_the_levels_and_ranges(self):
        self.check(check_prose(self.settings, documents()))

    def test_prose_misstating_a_level_or_a_range_is_reported(self):
        changed = [dict(s, levels=s["levels"][:-1]) if s["kind"] == "level" else
                   dict(s, min=30) if s["steps"] else s for s in self.settings]
        problems = "\n".join(check_prose(changed, documents()))
        for where in ("README.md speaks of four", "automation.md lists the levels",
                      "automation.md gives 20 to 9999999990", "talmir880-scpi.1 gives 20 to",
                      "automation.md starts the CW range at 20 Hz",
                      "talmir880-scpi.1 starts the CW range at 20 Hz"):
            self.assertIn(where, problems)

    def test_documents_state_start_up_values_and_panel_steps(self):
        self.check(check_start_ups(self.settings, documents(), panel_steps()))

    def test_a_start_up_or_step_misstated_is_reported(self):
        moved = [dict(s, start_up=2e6) if s["name"] == "tuning_step" else s
                 for s in self.settings]
        problems = check_start_ups(moved, documents(), panel_steps())
        self.assertTrue(problems and all("start-up" in p for p in problems), problems)
        self.assertTrue(any("tuning_step" in p for p in problems), problems)
        problems = check_start_ups(self.settings, documents(), panel_steps() + [5e9])
        self.assertEqual(len(problems), 1, problems)
        self.assertIn("tuning steps", problems[0])

    def test_a_setting_no_face_has_is_reported_by_each_check(self):
        test_only = test_only_setting()
        more = self.settings + [test_only]
        for name, check in (("python", lambda s: check_python(s, python_controls(), resolve)),
                            ("page", lambda s: check_page(s, self.page or [], page_controls(),
                                                          page_headers)),
                            ("docs", lambda s: check_docs(s, documents()))):
            added = [p for p in check(more) if p not in check(self.settings)]
            self.assertTrue(added, "%s: %s is not reported" % (name, test_only["name"]))
            self.assertTrue(all(test_only["name"] in p for p in added), "%s: %r" % (name, added))


class DerivedTest(unittest.TestCase):
    """What scripts/describe.py derives from the description and the table."""

    table = describe.read_dump(DUMP)

    def test_derived_files_are_what_the_generator_gives(self):
        stale = describe.stale(self.table, SOURCE)
        self.assertEqual(stale, [], "these differ from what the description and the table "
                         "give; run %s" % describe.REGENERATE)

    def test_a_setting_more_gets_a_property_a_row_and_a_line(self):
        offset = test_only_setting()
        more = self.table["settings"] + [offset]
        table = dict(self.table, settings=more, attributes=json.loads(subprocess.run(
            [DUMP, "--attributes", "--test-only"], check=True, capture_output=True,
            text=True).stdout))
        texts = describe.generate(table, source)
        described = {}
        exec(texts[describe.PYTHON], described)  # pylint: disable=exec-used
        module = python_module()
        probe = type("Probe", (module.Talmir880,),
                     module._properties(described["SETTINGS"]))  # pylint: disable=protected-access
        self.assertEqual((probe.rf_offset.command, probe.rf_offset.values),
                         ("FREQ:OFFS %.12g", [1e3, 2e6]))
        self.assertIn("\n| `[SOURce]:FREQuency:OFFSet <f>` | 1 kHz to 2 MHz |",
                      describe.guide_table(table))
        self.assertRegex(describe.man_listing(table),
                         r"\n\[SOURce\]:FREQuency:OFFSet <f> {3,}1 kHz to 2 MHz\n")
        self.assertIn("\n| `rfOffset` | `DevDouble` | Hz | 1000 | 2000000 | yes | yes | ",
                      describe.tango_table(table))

        # The server has no such row: FREQ:OFFS names the header it would have.
        def resolve_more(written):
            return dict(resolve([w for w in written if w != "FREQ:OFFS"]),
                        **{"FREQ:OFFS": offset["header"]})

        self.assertEqual(check_python(more, python_controls(probe), resolve_more), [])
        self.assertEqual(check_docs(more, documents(lambda path: texts.get(path) or
                                                    source(path))), [])

    def test_units_are_the_descriptions(self):
        def unit(s):
            return {"level": "dBW", "frequency": "Xz"}.get(s["kind"], s["unit"])
        table = dict(self.table, settings=[dict(s, unit=unit(s)) for s in self.table["settings"]])
        guide = describe.guide_table(table)
        self.assertIn("| \u22123, \u22126, \u22129, \u221212 dBW | ", guide)
        self.assertIn("| the level in dBW |", guide)
        self.assertIn("| 20 Xz to 9.99999999 GXz | ", guide)
        self.assertIn(" 20 Xz to 9.99999999 GXz\n", describe.man_listing(table))
        described, text = {}, describe.generate(table, source)[describe.PYTHON]
        exec(text, described)  # pylint: disable=exec-used
        module = python_module()
        made = module._properties(described["SETTINGS"])  # pylint: disable=protected-access
        self.assertIn("in dBW", made["power"].__doc__)
        with self.assertRaisesRegex(ValueError, "^-5 dBW is not a level"):
            made["power"].fset(None, -5)
        with self.assertRaisesRegex(ValueError, "^15 Xz is outside 20 Xz to 9.99999999 GXz$"):
            made["frequency"].fset(None, 15)

    def test_the_status_rows_name_each_bit_the_instrument_sets(self):
        extra = {"register": "questionable", "name": "extra", "value": 1 << 11, "words": "extra"}
        table = dict(self.table, status=self.table["status"] + [extra])
        self.assertIn(" | bit 9 (512): device not answering; bit 10 (1024): output not confirmed; "
                      "bit 11 (2048): extra |\n", describe.guide_table(table))
        self.assertIn("'not_confirmed': 1024, 'extra': 2048}", describe.python_description(table))


if __name__ == "__main__":
    unittest.main()
