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

import ast
import os
import re
import subprocess
import unittest

SOURCE = os.environ.get("TALMIR880_SOURCE",
                        os.path.join(os.path.dirname(__file__), "..", ".."))
DUMP = os.environ["TALMIR880_TABLE_DUMP"]


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


def man_page_headers():
    with open(os.path.join(SOURCE, "packaging", "talmir880-scpi.1"), encoding="utf-8") as f:
        text = f.read()
    section = re.search(r"^\.SH COMMANDS\n(.*?)^\.SH ", text, re.M | re.S).group(1)
    listing = re.search(r"^\.nf\n(.*?)^\.fi$", section, re.M | re.S).group(1)
    lines = [re.split(r" {2,}", line.replace("\\-", "-").strip())
             for line in listing.splitlines()]
    return headers_in(lines)


def automation_headers():
    with open(os.path.join(SOURCE, "docs", "automation.md"), encoding="utf-8") as f:
        text = f.read()
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
    """The Python class's module, parsed: its path, its constants
    evaluated, and each control of Talmir880 as its assignment and its
    keywords."""
    path = os.path.join(SOURCE, "python", "talmir880", "generator.py")
    with open(path, encoding="utf-8") as f:
        tree = ast.parse(f.read(), path)
    constants = {}
    for node in tree.body:
        if (isinstance(node, ast.Assign) and len(node.targets) == 1 and
                isinstance(node.targets[0], ast.Name) and node.targets[0].id.isupper()):
            constants[node.targets[0].id] = eval(  # pylint: disable=eval-used
                compile(ast.Expression(node.value), path, "eval"), {}, dict(constants))
    talmir = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "Talmir880")
    controls = [(node, {k.arg: k.value for k in node.value.keywords}) for node in talmir.body
                if isinstance(node, ast.Assign) and isinstance(node.value, ast.Call) and
                getattr(node.value.func, "id", None) == "_control"]
    return path, constants, controls


def python_class():
    """The module's constants, evaluated, and each control of Talmir880 as
    (attribute, setting command, validator name, values expression)."""
    _, constants, controls = python_module()
    return constants, [(node.targets[0].id, node.value.args[1].value, keywords["validator"].id,
                        keywords["values"]) for node, keywords in controls]


class PythonClassTest(unittest.TestCase):
    rows, facts = dump()
    constants, controls = python_class()

    def test_ranges_are_the_tables(self):
        checked = {c for c in self.controls if c[2] in ("_frequency", "_whole_points", "_level")}
        self.assertGreaterEqual(len(checked), 8, "the class's ranged controls were not found")
        headers = resolve([setting.split()[0] for _, setting, _, _ in checked])
        problems = []
        for attribute, setting, validator, values in sorted(checked):
            name = values.id if isinstance(values, ast.Name) else ast.unparse(values)
            given = self.constants.get(name)
            header = headers[setting.split()[0]]
            row = self.rows.get(header)
            if row is None:
                problems.append("Talmir880.%s sends %r, which no row of the table takes" %
                                (attribute, setting))
                continue
            if validator == "_level":
                levels = [int(x) for x in self.facts["levels"].split(",")]
                if given != levels:
                    problems.append("Talmir880.%s takes %s = %r; the device's levels are %r" %
                                    (attribute, name, given, levels))
                continue
            if [float(x) for x in given] != row["range"]:
                problems.append("Talmir880.%s takes %s = %r; the table's %s takes %g to %g" %
                                (attribute, name, given, header, *row["range"]))
        if problems:
            self.fail("\n" + "\n".join(problems))

    def test_sweep_step_limit_is_the_devices(self):
        self.assertEqual(self.constants["MAX_SWEEP_STEP_HZ"], float(self.facts["max_sweep_step"]),
                         "generator.py's MAX_SWEEP_STEP_HZ is not the device's widest sweep step")


if __name__ == "__main__":
    unittest.main()
