"""The man page, docs/automation.md and the Python class against the
instrument's command table and error table (dumped by talmir880_command_table_dump): the
table is the truth, and each failure names what drifted from it.

How the documents write headers: the man page's COMMANDS list holds entries
separated by two or more blanks, each a header and its parameters; the
automation guide's Commands table holds code spans in its first column.
A header is written as the table spells it ("[SOURce]:FREQuency:STARt"),
with "?" for the query form; one starting with ":" replaces the last node of
the header before it in the same line or cell (":STOP" after
"[SOURce]:FREQuency:STARt"). Words without a lower-case letter and not
starting with "*" (UP, DOWN, ranges) are not headers."""

import inspect
import os
import re
import subprocess
import sys
import unittest

SOURCE = os.environ.get("TALMIR880_SOURCE",
                        os.path.join(os.path.dirname(__file__), "..", ".."))
DUMP = os.environ["TALMIR880_TABLE_DUMP"]


def source(path):
    """A file of the source tree as it is checked in."""
    with open(os.path.join(SOURCE, path), encoding="utf-8") as f:
        return f.read()


def dump():
    """The rows by header, and the device facts."""
    rows, facts = {}, {"errors": set()}
    out = subprocess.run([DUMP], check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        fields = line.split("\t")
        if fields[0] == "row":
            header, setting, query, takes, low, high = fields[1:]
            rows[header] = {"setting": setting == "1", "query": query == "1",
                            "takes": takes, "range": [float(low), float(high)]}
        elif fields[0] == "error":
            facts["errors"].add((int(fields[1]), fields[2]))
        else:
            facts[fields[0]] = fields[1]
    return rows, facts


def resolve(written):
    """The row header each setting as written names ("-" for none)."""
    out = subprocess.run([DUMP, "--resolve"] + list(written), check=True,
                         capture_output=True, text=True).stdout
    return dict(zip(written, out.splitlines()))


def is_header(word):
    return word.startswith(("*", ":")) or re.search("[a-z]", word) is not None


def relative_to(previous, node):
    """`node` (":STOP") in place of the last node of `previous`."""
    cut = previous.rfind("[") if previous.endswith("]") else previous.rfind(":")
    return previous[:max(cut, 0)] + node


def headers_in(phrases):
    """(header, is_query) of each phrase whose first word is a header; a
    phrase group is one line or one cell, for relative headers."""
    found = []
    for group in phrases:
        previous = None
        for phrase in group:
            words = phrase.split()
            if not words or not is_header(words[0]):
                continue
            header = words[0]
            query = header.endswith("?")
            header = header.rstrip("?")
            if header.startswith(":"):
                if previous is None:
                    raise AssertionError("%r has no header before it to follow" % phrase)
                header = relative_to(previous, header)
            previous = header
            found.append((header, query))
    return found


def man_page_headers(read=source):
    text = read("packaging/talmir880-scpi.1")
    section = re.search(r"^\.SH COMMANDS\n(.*?)^\.SH ", text, re.M | re.S).group(1)
    listing = re.search(r"^\.nf\n(.*?)^\.fi$", section, re.M | re.S).group(1)
    lines = [re.split(r" {2,}", line.replace("\\-", "-").strip())
             for line in listing.splitlines()]
    return headers_in(lines)


def automation_headers(read=source):
    text = read("docs/automation.md")
    section = re.search(r"^## Commands\n(.*?)^## ", text, re.M | re.S).group(1)
    cells = []
    for line in section.splitlines():
        if line.startswith("|") and not line.startswith("|---"):
            first = re.split(r"(?<!\\)\|", line)[1]
            cells.append([span.replace("\\|", "|") for span in re.findall(r"`([^`]*)`", first)])
    return headers_in(cells[1:])  # the first row names the columns


class DocumentsTest(unittest.TestCase):
    rows, facts = dump()

    def check_document(self, name, documented):
        self.assertTrue(documented, "%s: no command list found" % name)
        problems = []
        for header, query in documented:
            row = self.rows.get(header)
            form = header + ("?" if query else "")
            if row is None:
                problems.append("%s documents %s, which no row of the table has" % (name, form))
            elif not row["query" if query else "setting"]:
                problems.append("%s documents %s, but that row has no %s form" %
                                (name, form, "query" if query else "setting"))
        for header in self.rows:
            if header not in {h for h, _ in documented}:
                problems.append("%s leaves out the table's row %s" % (name, header))
        if problems:
            self.fail("\n" + "\n".join(problems))

    def test_man_page_lists_the_table(self):
        self.check_document("talmir880-scpi.1 COMMANDS", man_page_headers())

    def test_automation_guide_lists_the_table(self):
        self.check_document("automation.md Commands", automation_headers())


def automation_errors():
    """(number, text) of each error the automation guide's Errors table
    names; a row may name several, and a text's ";detail" is left off."""
    with open(os.path.join(SOURCE, "docs", "automation.md"), encoding="utf-8") as f:
        text = f.read()
    section = re.search(r"^## Errors\n(.*?)^## ", text, re.M | re.S).group(1)
    found = []
    for line in section.splitlines():
        cells = [c.strip() for c in line.split("|")[1:-1]]
        if len(cells) < 2 or not re.match("[\u2212-]?[0-9]", cells[0]):
            continue
        codes = [int(c.replace("\u2212", "-")) for c in cells[0].split(",")]
        texts = [t.strip().split(";")[0] for t in cells[1].split(",")]
        if len(codes) != len(texts):
            raise AssertionError("automation.md Errors: %r pairs no text with each number" % line)
        found += zip(codes, texts)
    return found


class ErrorsTest(unittest.TestCase):
    rows, facts = dump()

    def test_automation_guide_lists_the_errors(self):
        documented = automation_errors()
        errors = self.facts["errors"]
        problems = ["automation.md Errors has %d,\"%s\", which the error table has not" % e
                    for e in documented if e not in errors]
        problems += ["automation.md Errors leaves out %d,\"%s\"" % e
                     for e in sorted(errors) if e[0] != 0 and e not in documented]
        if problems:
            self.fail("\n" + "\n".join(problems))


def python_module():
    """The Python class's module, imported from the source tree."""
    sys.path.insert(0, os.path.join(SOURCE, "python"))
    from talmir880 import generator  # pylint: disable=import-outside-toplevel
    return generator


def python_controls(cls=None):
    """Each described setting's property of Talmir880 (or of `cls`): its
    attribute, query, setting, docstring, the values it takes and the
    setting's kind."""
    module = python_module()
    return [{"attribute": name, "query": made.query, "setting": made.command,
             "docs": made.__doc__, "values": made.values, "kind": made.setting["kind"]}
            for name, made in inspect.getmembers(cls or module.Talmir880)
            if isinstance(made, module._Setting)]  # pylint: disable=protected-access


class PythonClassTest(unittest.TestCase):
    rows, facts = dump()
    controls = python_controls()

    def test_ranges_are_the_tables(self):
        checked = [c for c in self.controls if c["kind"] in ("frequency", "count", "level")]
        self.assertGreaterEqual(len(checked), 8, "the class's ranged controls were not found")
        headers = resolve([c["setting"].split()[0] for c in checked])
        problems = []
        for c in sorted(checked, key=lambda c: c["attribute"]):
            attribute, setting, given = c["attribute"], c["setting"], c["values"]
            header = headers[setting.split()[0]]
            row = self.rows.get(header)
            if row is None:
                problems.append("Talmir880.%s sends %r, which no row of the table takes" %
                                (attribute, setting))
                continue
            if c["kind"] == "level":
                levels = [int(x) for x in self.facts["levels"].split(",")]
                if list(given) != levels:
                    problems.append("Talmir880.%s takes %r; the device's levels are %r" %
                                    (attribute, given, levels))
                continue
            if [float(x) for x in given] != row["range"]:
                problems.append("Talmir880.%s takes %r; the table's %s takes %g to %g" %
                                (attribute, given, header, *row["range"]))
        if problems:
            self.fail("\n" + "\n".join(problems))

    def test_sweep_step_limit_is_the_devices(self):
        self.assertEqual(python_module().MAX_SWEEP_STEP_HZ, float(self.facts["max_sweep_step"]),
                         "generator.py's MAX_SWEEP_STEP_HZ is not the device's widest sweep step")


if __name__ == "__main__":
    unittest.main()
