#!/usr/bin/env python3
"""Lists the longest functions of src/ and checks that none is longer than a
limit. Exit status 1 when one is.

    scripts/longest_functions.py              the 10 longest, then the verdict
    scripts/longest_functions.py --max 80     the limit (default 80)
    scripts/longest_functions.py --top 30     how many to list

A function's length is its physical lines from the first line of its
signature to its closing brace, both included, with the blank and comment
lines inside. Comments, string and character literals and preprocessor lines
are blanked out first; then every '{' opened at namespace or class level
after a ')' (and qualifiers such as const or an initializer list) starts a
function body. Lambdas, local classes and blocks count to the function that
holds them; a lambda in a table at namespace level is no function of its own.
"""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
CONTROL = re.compile(r"^(if|for|while|switch|catch|do|else|return)\b")
SCOPE = re.compile(r"^(template\s*<[^{]*>\s*)?(namespace|struct|class|union|enum|extern)\b")
SIGNATURE = re.compile(r"^[^=(]*[\w>~\]]\s*\(.*\)[\w\s]*(->[^{]*|:[^{]*)?$", re.S)


def blank(code):
    """The code with comments, literals and preprocessor lines turned into
    spaces (line breaks kept, so line numbers stay)."""
    out, i, n = [], 0, len(code)
    line_start = True
    while i < n:
        c = code[i]
        if line_start and c == "#":
            j = i
            while j < n and (code[j] != "\n" or code[j - 1] == "\\"):
                j += 1
            out.append(re.sub(r"[^\n]", " ", code[i:j]))
            i = j
            continue
        if code.startswith("//", i):
            j = code.find("\n", i)
            j = n if j < 0 else j
        elif code.startswith("/*", i):
            j = code.find("*/", i + 2)
            j = n if j < 0 else j + 2
        elif c in "\"'":
            m = re.match(r'R"([^(]*)\(', code[i - 1:i + 20]) if c == '"' and i > 0 else None
            if m:
                j = code.find(")" + m.group(1) + '"', i) + len(m.group(1)) + 2
            else:
                j = i + 1
                while j < n and code[j] != c:
                    j += 2 if code[j] == "\\" else 1
                j += 1
        else:
            if not c.isspace():
                line_start = False
            elif c == "\n":
                line_start = True
            out.append(c)
            i += 1
            continue
        out.append(re.sub(r"[^\n]", " ", code[i:j]))
        i = j
    return "".join(out)


def functions(path):
    """(length, first line, name) of every function defined in the file."""
    with open(path, encoding="utf-8") as f:
        code = blank(f.read())
    found = []
    stack = []  # for each open brace: (kind, start offset, name)
    start = 0  # where the text before the next brace begins
    for i, c in enumerate(code):
        if c in ";":
            start = i + 1
        elif c == "{":
            text = code[start:i].strip()
            outer = not stack or stack[-1][0] == "scope"
            if outer and SCOPE.match(text):
                kind = "scope"
            elif outer and text and not CONTROL.match(text) and SIGNATURE.match(text):
                kind = "function"
            else:
                kind = "block"
            begin = start + (len(code[start:i]) - len(code[start:i].lstrip()))
            name = text.split("(")[0].split()[-1] if kind == "function" else ""
            stack.append((kind, begin, name))
            start = i + 1
        elif c == "}":
            if stack:
                kind, begin, name = stack.pop()
                if kind == "function":
                    first = code.count("\n", 0, begin) + 1
                    last = code.count("\n", 0, i) + 1
                    found.append((last - first + 1, first, name))
            start = i + 1
    return found


def main():
    limit, top = 80, 10
    args = sys.argv[1:]
    if "--max" in args:
        limit = int(args[args.index("--max") + 1])
    if "--top" in args:
        top = int(args[args.index("--top") + 1])
    rows = []
    for folder, _, names in os.walk(ROOT):
        for name in sorted(names):
            if name.endswith((".cpp", ".h")):
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, os.path.join(ROOT, ".."))
                rows += [(n, "%s:%d" % (rel, line), fn) for n, line, fn in functions(path)]
    rows.sort(key=lambda r: (-r[0], r[1]))
    for n, where, fn in rows[:top]:
        print("%4d  %s  %s" % (n, where, fn))
    over = [r for r in rows if r[0] > limit]
    if over:
        print("longest functions: %d over %d lines" % (len(over), limit))
        return 1
    print("longest functions: none over %d lines (%d functions)" % (limit, len(rows)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
