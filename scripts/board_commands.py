#!/usr/bin/env python3
"""Writes the power-board command reference of docs/protocols.md from the
command table (src/model/board_cmds.h and .cpp): the lines between the two
"board-commands" markers.

    scripts/board_commands.py           rewrite the reference
    scripts/board_commands.py --check   exit 1 when the document and the table differ
"""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
HEADER = os.path.join(ROOT, "src", "model", "board_cmds.h")
TABLE = os.path.join(ROOT, "src", "model", "board_cmds.cpp")
DOC = os.path.join(ROOT, "docs", "protocols.md")
BEGIN = "<!-- board-commands: written by scripts/board_commands.py from src/model/board_cmds.cpp -->"
END = "<!-- board-commands end -->"

ENUM = re.compile(r"^\s*(kCmd\w+) = (\d+),", re.M)
STR = r'"((?:[^"\\]|\\.)*)"'
ROW = re.compile(r"^\s*\{(kCmd\w+), %s, %s, (kCmd\w+), %s, (\w+)\},\s*$" % (STR, STR, STR))


def unescape(s):
    return s.replace('\\"', '"').replace("\\\\", "\\")


def reference():
    with open(HEADER, encoding="utf-8") as f:
        codes = {name: int(code) for name, code in ENUM.findall(f.read())}
    rows, seen = [], set()
    with open(TABLE, encoding="utf-8") as f:
        lines = f.read().split("\n")
    start = next(i for i, l in enumerate(lines) if "kBoardCmds[] = {" in l)
    for line in lines[start + 1:]:
        if line.strip() == "};":
            break
        m = ROW.match(line)
        if not m:
            sys.exit("board_cmds.cpp: a row this script cannot read: " + line.strip())
        name, text, fields, setting, reply, _ = m.groups()
        if name not in codes or setting not in codes or name in seen:
            sys.exit("board_cmds.cpp: unknown or repeated command " + name)
        seen.add(name)
        shared = "" if setting == name else "`%s`" % setting
        rows.append("| %d | `%s` | `%s` | %s | %s | %s |" % (
            codes[name], name, unescape(text), unescape(fields), shared, unescape(reply)))
    missing = sorted(set(codes) - seen)
    if missing:
        sys.exit("board_cmds.cpp: no row for " + ", ".join(missing))
    head = ["| Code | Name | Sends | Filled from | Shares the setting of | Reply |",
            "|---|---|---|---|---|---|"]
    return "\n".join(head + rows) + "\n"


def main():
    with open(DOC, encoding="utf-8") as f:
        doc = f.read()
    if BEGIN not in doc or END not in doc:
        sys.exit("docs/protocols.md: the board-commands markers are missing")
    before, rest = doc.split(BEGIN, 1)
    _, after = rest.split(END, 1)
    new = before + BEGIN + "\n" + reference() + END + after
    if "--check" in sys.argv:
        if new != doc:
            print("docs/protocols.md differs from the command table: run scripts/board_commands.py")
            return 1
        return 0
    if new != doc:
        with open(DOC, "w", encoding="utf-8") as f:
            f.write(new)
    return 0


if __name__ == "__main__":
    sys.exit(main())
