#!/usr/bin/env python3
"""Brings a copy of a translation file up to date from its sources and fails
when a text is unfinished, vanished or obsolete, when a translation loses or
adds a place holder (%1 ...), or when it still holds Chinese.

usage: check_translations.py <lupdate> <file.ts> --options <lupdate options...> --dirs <dirs...>
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

CHINESE = re.compile("[\u2e80-\u2fff\u3000-\u303f\u3400-\u4dbf\u4e00-\u9fff\uf900-\ufaff\ufe30-\ufe4f\uff00-\uffef]")
PLACE = re.compile(r"%L?(\d+)")


def main(argv):
    lupdate, ts = argv[1], argv[2]
    rest = argv[3:]
    if "--options" not in rest or "--dirs" not in rest:
        print(__doc__, file=sys.stderr)
        return 2
    options = rest[rest.index("--options") + 1:rest.index("--dirs")]
    dirs = rest[rest.index("--dirs") + 1:]
    with tempfile.TemporaryDirectory() as tmp:
        copy = os.path.join(tmp, os.path.basename(ts))
        shutil.copyfile(ts, copy)
        run = subprocess.run([lupdate, *options, *dirs, "-ts", copy], capture_output=True, text=True)
        if run.returncode != 0:
            print(run.stdout + run.stderr, file=sys.stderr)
            return 1
        root = ET.parse(copy).getroot()
    problems = []
    count = 0
    for ctx in root.findall("context"):
        name = ctx.findtext("name")
        for msg in ctx.findall("message"):
            count += 1
            src = msg.findtext("source") or ""
            tr = msg.find("translation")
            text = (tr.text or "") if tr is not None else ""
            kind = tr.get("type") if tr is not None else "missing"
            where = "%s: %r" % (name, src)
            if kind in ("unfinished", "missing"):
                problems.append("unfinished " + where)
            elif kind in ("vanished", "obsolete"):
                problems.append("%s (no longer in the sources) %s" % (kind, where))
            else:
                if sorted(set(PLACE.findall(src))) != sorted(set(PLACE.findall(text))):
                    problems.append("place holders differ %s -> %r" % (where, text))
                if CHINESE.search(text):
                    problems.append("Chinese in the translation %s -> %r" % (where, text))
                if not text.strip() and src.strip():
                    problems.append("empty translation " + where)
    for p in problems:
        print(p)
    print("%s: %d texts, %d problems" % (os.path.basename(ts), count, len(problems)))
    return 1 if problems or count == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
