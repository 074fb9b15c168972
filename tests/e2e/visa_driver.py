"""A pyvisa client driven line by line from standard input, for the panel's
end-to-end tests: `w TEXT` writes, `q TEXT` queries; each prints one line,
`ok`, the answer, or `error: ...`."""

import sys

import pyvisa

generator = pyvisa.ResourceManager("@py").open_resource(
    sys.argv[1], read_termination="\n", write_termination="\n", timeout=5000)
for line in sys.stdin:
    kind, _, text = line.rstrip("\n").partition(" ")
    try:
        if kind == "w":
            generator.write(text)
            print("ok", flush=True)
        else:
            print(generator.query(text), flush=True)
    except Exception as fault:  # told to the test, which decides
        print("error: %s" % fault, flush=True)
