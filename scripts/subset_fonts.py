#!/usr/bin/python3
"""Makes the panel's own two fonts, regular and bold, from Debian's Noto Sans
Mono CJK SC: only the printable ASCII letters and the characters of the
panel's own texts (every string literal under src/), renamed so that they
never pass for the full font.

Every caption of the window is drawn in these two small files, so the panel
neither maps pages of the 20 MB system fonts nor has FreeType parse their
65 535 glyphs when it starts. Anything else, such as Chinese typed into an
entry line, still comes from the system's fonts. Run it again whenever a
text of the panel gains a character; tests/qt checks that none is missing.

    scripts/subset_fonts.py      # needs python3-fonttools and fonts-noto-cjk
"""
import pathlib
import re
import sys

from fontTools import subset
from fontTools.ttLib import TTFont

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUT = ROOT / "src/app/resources/fonts"
NOTO = pathlib.Path("/usr/share/fonts/opentype/noto")
SOURCE_FAMILY = "Noto Sans Mono CJK SC"
FAMILY = "TALMIR-880 Panel"
STYLES = {"Regular": "NotoSansCJK-Regular.ttc", "Bold": "NotoSansCJK-Bold.ttc"}
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')


def panel_text():
    chars = {chr(c) for c in range(0x20, 0x7F)}
    for path in sorted((ROOT / "src").rglob("*.[ch]pp")):
        for literal in LITERAL.findall(path.read_text(encoding="utf-8")):
            chars.update(c for c in literal if ord(c) >= 0x80)
    return "".join(sorted(chars))


def face_index(collection, family):
    for index in range(TTFont(collection, fontNumber=0, lazy=True).reader.numFonts):
        names = TTFont(collection, fontNumber=index, lazy=True)["name"]
        if names.getDebugName(1) == family:
            return index
    sys.exit(f"{family} is not in {collection}")


def rename(font, style):
    postscript = FAMILY.replace(" ", "").replace("-", "") + "-" + style
    names = font["name"]
    names.names = [n for n in names.names if n.nameID not in (1, 2, 3, 4, 6, 16, 17, 21, 22)]
    for name_id, value in ((1, FAMILY), (2, style), (3, postscript),
                           (4, f"{FAMILY} {style}"), (6, postscript)):
        names.setName(value, name_id, 3, 1, 0x409)
    names.setName(f"Subset of {SOURCE_FAMILY} {style} for the TALMIR-880 panel", 5, 3, 1, 0x409)
    cff = font["CFF "].cff
    cff.fontNames = [postscript]
    top = cff.topDictIndex[0]
    top.FamilyName, top.FullName = FAMILY, f"{FAMILY} {style}"


def main():
    text = panel_text()
    OUT.mkdir(parents=True, exist_ok=True)
    for style, file in STYLES.items():
        collection = NOTO / file
        font = TTFont(collection, fontNumber=face_index(collection, SOURCE_FAMILY),
                      recalcTimestamp=False)
        options = subset.Options()
        options.layout_features = []  # captions need no shaping beyond the cmap
        options.name_IDs = ["*"]
        options.notdef_outline = True
        subsetter = subset.Subsetter(options)
        subsetter.populate(text=text)
        subsetter.subset(font)
        rename(font, style)
        target = OUT / f"talmir880-panel-{style.lower()}.otf"
        font.save(target)
        print(f"{target.relative_to(ROOT)}: {len(text)} characters, {target.stat().st_size} bytes")


if __name__ == "__main__":
    main()
