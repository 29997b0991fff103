#!/usr/bin/env python3
"""The renderers and the document writer of scripts/figures.sh.

    figures.py render FORMAT < OUTPUT     a figure source's output as Markdown
    figures.py put NAME NOTE < MARKDOWN   the text between the markers
                                          <!-- figure NAME --> and
                                          <!-- /figure NAME --> in docs/*.md
                                          (and README.md), headed by NOTE

FORMAT: "text" (a fenced block), "markdown" (as it is), "gbench" (Google
Benchmark's JSON as a table: name, label, CPU time and the counters) or
"gbench-speedup" (the same with each row's speed-up over the slowest row of
its family, the name before the first '/').
"""
import glob
import json
import os
import re
import sys

DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def time_text(value, unit):
    return "%.4g %s" % (value, {"us": "µs"}.get(unit, unit))


def gbench(text, speedup):
    start = text.find("{")
    data = json.loads(text[start:]) if start >= 0 else {"benchmarks": []}
    rows = data.get("benchmarks", [])
    # Repeated runs: their medians stand for them.
    if any(b.get("run_type") == "aggregate" for b in rows):
        rows = [dict(b, name=b["run_name"]) for b in rows if b.get("aggregate_name") == "median"]
    counters = []
    for b in rows:
        for k, v in b.items():
            if k.startswith("x_") and k not in counters and isinstance(v, (int, float)):
                counters.append(k)
    slowest = {}
    for b in rows:
        family = b["name"].split("/")[0]
        slowest[family] = max(slowest.get(family, 0.0), b["cpu_time"])
    head = ["benchmark", "label", "CPU time" + (" (median)" if any(
        b.get("aggregate_name") for b in rows) else "")] + counters + (["speed-up"] if speedup else [])
    out = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for b in rows:
        cells = [b["name"], b.get("label", ""), time_text(b["cpu_time"], b.get("time_unit", "ns"))]
        cells += ["%.3g" % b[k] if k in b else "" for k in counters]
        if speedup:
            cells.append("%.1f×" % (slowest[b["name"].split("/")[0]] / b["cpu_time"]))
        out.append("| " + " | ".join(cells) + " |")
    return "\n".join(out) + "\n"


def render(fmt, text):
    if fmt == "markdown":
        return text if text.endswith("\n") else text + "\n"
    if fmt == "text":
        return "```\n" + text.rstrip("\n") + "\n```\n"
    if fmt in ("gbench", "gbench-speedup"):
        return gbench(text, fmt == "gbench-speedup")
    sys.exit("figures.py: unknown format " + fmt)


def put(name, note, body):
    begin, end = "<!-- figure %s -->" % name, "<!-- /figure %s -->" % name
    pattern = re.compile(re.escape(begin) + r".*?" + re.escape(end), re.S)
    block = "%s\n%s\n\n%s%s" % (begin, note, body, end)
    files = sorted(glob.glob(os.path.join(DOCS, "docs", "*.md"))) + [os.path.join(DOCS, "README.md")]
    found = 0
    for path in files:
        with open(path, encoding="utf-8") as f:
            doc = f.read()
        if begin not in doc:
            continue
        new = pattern.sub(lambda m: block, doc)
        if new != doc:
            with open(path, "w", encoding="utf-8") as f:
                f.write(new)
        found += 1
    if not found:
        sys.exit("figures.py: no marker %s in docs/*.md or README.md" % begin)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "render":
        sys.stdout.write(render(sys.argv[2], sys.stdin.read()))
    elif len(sys.argv) == 4 and sys.argv[1] == "put":
        put(sys.argv[2], sys.argv[3], sys.stdin.read())
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
