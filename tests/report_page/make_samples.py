#!/usr/bin/env python3
"""Build sample data for the weldrix report page and fill the page template with it.

    make_samples.py --template app/report_page.html --out DIR [NAME ...]

writes DIR/NAME.json (the data object) and DIR/NAME.html (the filled page) for each sample:

  demo      the small demo part: every kind of change, snapped and merged vertices, one line
            and one moved vertex with "inf"/"nan" coordinates, and texts that would break a
            page that let them reach the HTML (tags, a script end tag, an HTML comment opener,
            U+2028, non-ASCII)
  empty     one file without any change and without geometry
  odd       data at the edges of the format (see sample_odd), and a file without a drawing
  batch     300 small parts in one report, as a batch run gives
  full20k   a 20,000-line part drawn in full
  big100k   a 100,000-line part of which only the changed lines and their neighbours are drawn
  huge      a 100,000-line part drawn in full (not built unless named)

The page is filled the way weldrix fills it: the template line that holds only the placeholder is
replaced by the JSON text with every "<" written as "\\u003c". Python standard library only.
"""
import argparse
import json
import math
import os
import random
import sys

PLACEHOLDER = "/*WELDRIX_REPORT_DATA*/"
HOSTILE_NAME = 'd\u00e9mo <b>bold</b> "q" </script><!--<script> \u2713.dat'
HOSTILE_REASON = '<img src=x onerror="document.title=1"> & the two ends met\u2028(after U+2028)'


def fill_template(template_text, data):
    """Replace the placeholder line by the JSON text, escaping "</" as weldrix does."""
    lines = template_text.split("\n")
    hits = [i for i, line in enumerate(lines) if line.strip() == PLACEHOLDER]
    if len(hits) != 1:
        raise SystemExit("template: expected exactly one line holding only %s, found %d" % (PLACEHOLDER, len(hits)))
    text = json.dumps(data, ensure_ascii=False, separators=(",", ":")).replace("<", "\\u003c")
    lines[hits[0]] = text
    return "\n".join(lines)


def manhattan(a, b):
    return sum(abs(x - y) for x, y in zip(a, b))


def r6(v):
    return round(v, 6)


# ---------------------------------------------------------------- a synthetic part
class Part:
    """Lines of a part as [type, points] with a 1-based line number each."""

    def __init__(self):
        self.lines = []  # dicts: line, type, pts (output/clean), state, inp (input pts), change
        self.subfile = []  # [type, x, y, z, ...]
        self.next_line = 1

    def comment(self, n=1):
        self.next_line += n

    def add(self, t, pts):
        d = {"line": self.next_line, "type": t, "pts": [list(map(r6, p)) for p in pts], "state": 0}
        self.next_line += 1
        self.lines.append(d)
        return d

    def subref(self):
        line = self.next_line
        self.next_line += 1
        return line


def stud(part, cx, cy, cz, radius=6.0, height=4.0, n=16, with_subfile=True):
    """A stud: side quads, top triangles, top and bottom edges, conditional lines on the side."""
    ring = [(cx + radius * math.cos(2 * math.pi * k / n), cz + radius * math.sin(2 * math.pi * k / n)) for k in range(n)]
    top, bot = cy - height, cy
    if with_subfile:
        part.subref()  # "1 16 ... 4-4edge.dat" at the top: drawn faintly from its inlined geometry
        for k in range(n):
            a, b = ring[k], ring[(k + 1) % n]
            part.subfile.append([2, r6(a[0]), r6(top), r6(a[1]), r6(b[0]), r6(top), r6(b[1])])
    for k in range(n):
        a, b = ring[k], ring[(k + 1) % n]
        part.add(4, [(a[0], bot, a[1]), (b[0], bot, b[1]), (b[0], top, b[1]), (a[0], top, a[1])])
    for k in range(n):
        a, b = ring[k], ring[(k + 1) % n]
        part.add(3, [(cx, top, cz), (a[0], top, a[1]), (b[0], top, b[1])])
    for k in range(n):
        a, b = ring[k], ring[(k + 1) % n]
        part.add(2, [(a[0], top, a[1]), (b[0], top, b[1])])
        part.add(2, [(a[0], bot, a[1]), (b[0], bot, b[1])])
    for k in range(n):
        a, p, q = ring[k], ring[k - 1], ring[(k + 1) % n]
        part.add(5, [(a[0], bot, a[1]), (a[0], top, a[1]), (p[0], bot, p[1]), (q[0], bot, q[1])])


def plate(part, cols, rows):
    """A plate cols x rows studs: top face, sides, edges, and a stud on each cell."""
    w, d, h = cols * 20.0, rows * 20.0, 8.0
    part.comment(3)
    part.add(4, [(0, 0, 0), (w, 0, 0), (w, 0, d), (0, 0, d)])
    part.add(4, [(0, h, 0), (w, h, 0), (w, 0, 0), (0, 0, 0)])
    part.add(4, [(0, h, d), (w, h, d), (w, 0, d), (0, 0, d)])
    part.add(4, [(0, h, 0), (0, h, d), (0, 0, d), (0, 0, 0)])
    part.add(4, [(w, h, 0), (w, h, d), (w, 0, d), (w, 0, 0)])
    for a, b in [((0, 0, 0), (w, 0, 0)), ((w, 0, 0), (w, 0, d)), ((w, 0, d), (0, 0, d)), ((0, 0, d), (0, 0, 0)),
                 ((0, h, 0), (w, h, 0)), ((w, h, 0), (w, h, d)), ((w, h, d), (0, h, d)), ((0, h, d), (0, h, 0)),
                 ((0, 0, 0), (0, h, 0)), ((w, 0, 0), (w, h, 0)), ((w, 0, d), (w, h, d)), ((0, 0, d), (0, h, d))]:
        part.add(2, [a, b])
    for r in range(rows):
        part.comment()
        for c in range(cols):
            stud(part, c * 20 + 10, 0, r * 20 + 10)


def perturb(rng, p, amount):
    return [r6(x + rng.uniform(-amount, amount)) for x in p]


def make_changes(part, rng, fraction, subfile_name="4-4edge.dat"):
    """Turn a fraction of the lines into changes: moved corners, quads made triangles, and extra
    degenerate lines that weldrix removes. Returns the changes in line order."""
    changes = []
    groups = {}
    candidates = [d for d in part.lines if rng.random() < fraction]
    for d in candidates:
        t = d["type"]
        roll = rng.random()
        if t == 4 and roll < 0.2:
            # the last two corners met: the quad is written as a triangle
            d["inp"] = [list(p) for p in d["pts"]]
            d["inp"][3] = perturb(rng, d["pts"][2], 0.0015)
            to = d["pts"][2]
            d["pts"] = d["pts"][:3]
            d["state"] = 3
            dist = manhattan(d["inp"][3], to)
            d["change"] = {"line": d["line"], "type": 4, "change": "triangle", "reason": "corners 3 and 4 met",
                           "vertices": [{"index": 3, "from": d["inp"][3], "to": to, "distance": r6(dist), "onto": "merged"}]}
            groups.setdefault(tuple(to), set()).add(tuple(d["inp"][3]))
        elif t != 5 or roll < 0.5:
            verts = []
            for idx in rng.sample(range(len(d["pts"])), min(len(d["pts"]), rng.choice([1, 1, 2]))):
                to = d["pts"][idx]
                frm = perturb(rng, to, 0.0015)
                v = {"index": idx, "from": frm, "to": to, "distance": r6(manhattan(frm, to))}
                if rng.random() < 0.3:
                    v["onto"] = "snapped"
                    v["subfile"] = subfile_name
                else:
                    v["onto"] = "merged"
                    groups.setdefault(tuple(to), set()).add(tuple(frm))
                verts.append(v)
            d["state"] = 1
            d["change"] = {"line": d["line"], "type": t, "change": "moved", "vertices": verts}
        if "change" in d:
            changes.append(d["change"])
    # degenerate stub edges and slivers, one per 12 changes, each removed
    kept = [d for d in part.lines if d["type"] in (3, 4)]
    for _ in range(max(1, len(candidates) // 12)):
        base = rng.choice(kept)["pts"][0]
        if rng.random() < 0.6:
            pts = [base, perturb(rng, base, 0.002)]
            d = part.add(2, pts)
            reason = "the two ends of the edge met"
        else:
            pts = [base, perturb(rng, base, 0.002), [base[0] + 3, base[1], base[2]]]
            d = part.add(3, pts)
            reason = "corners 1 and 2 met"
        d["state"] = 2
        d["inp"] = d["pts"]
        d["change"] = {"line": d["line"], "type": d["type"], "change": "removed", "reason": reason, "vertices": []}
        changes.append(d["change"])
    changes.sort(key=lambda c: c["line"])
    glist = [{"to": list(k), "from": sorted([list(f) for f in v])} for k, v in groups.items()]
    return changes, glist


def count_lines(part, written):
    counts = {"lines": 0, "edges": 0, "conditionals": 0, "triangles": 0, "quads": 0, "subfiles": 0}
    counts["lines"] = part.next_line - 1
    for d in part.lines:
        if written and d["state"] == 2:
            counts["lines"] -= 1
            continue
        t = d["type"]
        if written and d["state"] == 3:
            t = 3
        key = {2: "edges", 3: "triangles", 4: "quads", 5: "conditionals"}[t]
        counts[key] += 1
    counts["subfiles"] = 0 if not part.subfile else len(part.subfile) // 16
    return counts


def drawing_entry(d):
    pts = d["inp"] if d["state"] == 2 else d["pts"]
    flat = [c for p in pts for c in p]
    return [d["line"], d["type"], d["state"]] + flat


def file_entry(name, part, changes, groups, full, neighbours=3, subfile_cap=None, snap=True):
    moved = sum(len(c["vertices"]) for c in changes)
    dists = [v["distance"] for c in changes for v in c["vertices"] if isinstance(v["distance"], (int, float))]
    f = {
        "input": name, "output": name.replace(".dat", "-clean.dat"),
        "thresholds": {"vertex": 0.005, "subfile": 0.005}, "snap_on_subfiles": snap,
        "read": count_lines(part, False), "written": count_lines(part, True),
        "changes": changes, "groups": groups,
        "totals": {"removed": sum(c["change"] == "removed" for c in changes),
                   "triangles": sum(c["change"] == "triangle" for c in changes),
                   "moved": moved, "largest_distance": max(dists) if dists else 0},
    }
    if full:
        lines = [drawing_entry(d) for d in part.lines]
        sub = part.subfile
        note = ""
    else:
        order = {d["line"]: k for k, d in enumerate(part.lines)}
        keep = set()
        for c in changes:
            k = order[c["line"]]
            keep.update(range(max(0, k - neighbours), min(len(part.lines), k + neighbours + 1)))
        lines = [drawing_entry(part.lines[k]) for k in sorted(keep)]
        sub = part.subfile[: subfile_cap or len(part.subfile)]
        note = ("the part has %d lines; only the %d changed lines and the lines next to them (%d in all) are drawn, "
                "with a sample of the subfile geometry" % (part.next_line - 1, len(changes), len(lines)))
    return f, {"full": full, "lines": lines, "subfile": sub, "note": note}


def report(entries):
    return {"report": {"format": "weldrix-report", "version": 1, "files": [e[0] for e in entries]},
            "drawing": [e[1] for e in entries]}


# ---------------------------------------------------------------- the samples
def sample_demo():
    """The demo part, close to examples/demo.dat, with every kind of change and hostile texts."""
    p = Part()
    p.comment(4)
    p.subref()  # 1 16 0 0 0 10 0 0 0 1 0 0 0 10 4-4edge.dat
    for k in range(16):
        a, b = 2 * math.pi * k / 16, 2 * math.pi * (k + 1) / 16
        p.subfile.append([2, r6(10 * math.cos(a)), 0, r6(10 * math.sin(a)), r6(10 * math.cos(b)), 0, r6(10 * math.sin(b))])
    p.comment(3)
    ring = [(10 * math.cos(math.pi / 8 * k), 10 * math.sin(math.pi / 8 * k)) for k in range(5)]
    outer = [(20 * math.cos(math.pi / 8 * k), 20 * math.sin(math.pi / 8 * k)) for k in range(5)]
    quads = []
    for k in range(4):
        quads.append(p.add(4, [(ring[k][0], 0, ring[k][1]), (ring[k + 1][0], 0, ring[k + 1][1]),
                               (outer[k + 1][0], 0, outer[k + 1][1]), (outer[k][0], 0, outer[k][1])]))
    p.comment()
    tab = p.add(4, [(20, 0, 0), (18.477591, 0, 7.653669), (25, 0, 5), (25.002, 0, 5.001)])
    p.comment()
    sliver = p.add(3, [(14.141, 0, 14.142), (14.143, 0, 14.144), (7.071, 0, 7.071)])
    stub = p.add(2, [(24.999, 0, 5.001), (24.999, 0, 4.998)])
    p.comment()
    edges = [p.add(2, [(outer[k][0], 0, outer[k][1]), (outer[k + 1][0], 0, outer[k + 1][1])]) for k in range(4)]
    p.add(2, [(ring[0][0], 0, ring[0][1]), (outer[0][0], 0, outer[0][1])])
    p.add(2, [(ring[4][0], 0, ring[4][1]), (outer[4][0], 0, outer[4][1])])
    # an underside so the part has some height, and a conditional line
    p.add(4, [(outer[0][0], 4, outer[0][1]), (outer[4][0], 4, outer[4][1]), (outer[4][0], 0, outer[4][1]), (outer[0][0], 0, outer[0][1])])
    p.add(5, [(outer[2][0], 0, outer[2][1]), (outer[2][0], 4, outer[2][1]), (outer[1][0], 0, outer[1][1]), (outer[3][0], 0, outer[3][1])])
    bad = p.add(2, [(0, 0, 0), (0, 0, 0)])  # coordinates replaced by "inf"/"nan" below
    changes = []
    # inner corners snapped onto the circle
    for k, q in enumerate(quads):
        to0, to1 = q["pts"][0], q["pts"][1]
        f0 = [r6(to0[0] + 0.002), 0, r6(to0[2] + 0.001)]
        f1 = [r6(to1[0] - 0.001), 0, r6(to1[2] + 0.003)]
        q["state"] = 1
        c = {"line": q["line"], "type": 4, "change": "moved", "vertices": [
            {"index": 0, "from": f0, "to": to0, "distance": r6(manhattan(f0, to0)), "onto": "snapped", "subfile": "4-4edge.dat"},
            {"index": 1, "from": f1, "to": to1, "distance": r6(manhattan(f1, to1)), "onto": "snapped",
             "subfile": "</script>4-4edge.dat" if k == 2 else "4-4edge.dat"}]}
        q["change"] = c
        changes.append(c)
    # the tab: corners 3 and 4 met
    tab["inp"] = [list(x) for x in tab["pts"]]
    tab["pts"] = tab["pts"][:3]
    tab["state"] = 3
    changes.append({"line": tab["line"], "type": 4, "change": "triangle", "reason": "corners 3 and 4 met",
                    "vertices": [{"index": 3, "from": [25.002, 0, 5.001], "to": [25, 0, 5], "distance": 0.003, "onto": "merged"}]})
    sliver["inp"] = sliver["pts"]
    sliver["state"] = 2
    changes.append({"line": sliver["line"], "type": 3, "change": "removed", "reason": "corners 1 and 2 met",
                    "vertices": [{"index": 1, "from": [14.143, 0, 14.144], "to": [14.141, 0, 14.142], "distance": 0.004, "onto": "merged"}]})
    stub["inp"] = stub["pts"]
    stub["state"] = 2
    changes.append({"line": stub["line"], "type": 2, "change": "removed", "reason": HOSTILE_REASON, "vertices": []})
    # an edge moved onto the merged corner; one moved vertex whose output is not a number
    e = edges[1]
    e["state"] = 1
    changes.append({"line": e["line"], "type": 2, "change": "moved", "vertices": [
        {"index": 0, "from": [18.478, 0, 7.655], "to": e["pts"][0], "distance": 0.003, "onto": "merged"},
        {"index": 1, "from": ["nan", 0, 0], "to": ["inf", 0, "nan"], "distance": "inf", "onto": "merged"}]})
    # a pathological line: every corner has a non-number, kept as it is
    bad["pts"] = [["inf", 0, 0], [0, "-inf", "nan"]]
    changes.sort(key=lambda c: c["line"])
    groups = [{"to": [25, 0, 5], "from": [[25.002, 0, 5.001], [24.999, 0, 5.001], [25, 0, 5]]},
              {"to": list(edges[1]["pts"][0]), "from": [[18.478, 0, 7.655], [18.477, 0, 7.653]]}]
    f, dr = file_entry(HOSTILE_NAME, p, changes, groups, True)
    f["output"] = "demo-clean.dat"
    f["totals"]["largest_distance"] = 0.004
    # geometry faults: a moved quad made concave, a moved edge made identical to another (repaired),
    # and one on a line the change list does not hold
    f["geometry"] = [{"line": quads[1]["line"], "fault": "concave", "fixed": False},
                     {"line": e["line"], "fault": "identical", "to_line": edges[0]["line"], "fixed": True},
                     {"line": edges[3]["line"], "fault": "identical", "to_line": edges[2]["line"], "fixed": False}]
    f["totals"]["geometry_faults"] = 3
    f["totals"]["geometry_fixed"] = 1
    return report([(f, dr)])


def sample_empty():
    p = Part()
    p.comment(3)
    f, dr = file_entry("empty.dat", p, [], [], True)
    return report([(f, dr)])


def sample_odd():
    """Data at the edges of what weldrix writes: a removed line that is not drawn, a drawing line
    of type 1 and one cut short, non-numbers in subfile geometry and in a vertex, no totals; and a
    second file for which the drawing list has no entry at all."""
    lines = [
        [3, 1, 0, 0, 0, 0],                      # type 1: never drawn
        [4, 4, 1, 0, 0, 0, 10, 0, 0, 10, 0, 10, 0, 0, 10],
        [5, 2, 0, 0, 0, 0, 10, 0],               # cut short: one point only
        [6, 5, 0, 0, 0, 10, 10, 0, 10, 0, 0, 0, 10, 0, 10],
        [7, 3, 3, 0, 0, 0, 10, 0, 0, 0, 0, 10],  # not a quad, but marked as made a triangle
    ]
    changes = [
        {"line": 4, "type": 4, "change": "moved", "vertices": [
            {"index": 0, "from": [0.001, 0, 0], "to": [0, 0, 0], "distance": 0.001, "onto": "merged"},
            {"index": 2, "from": [10, 0, 10.002], "to": None, "distance": "nan", "onto": "merged"}]},
        {"line": 7, "type": 4, "change": "triangle", "reason": "corners 2 and 3 met", "vertices": []},
        {"line": 9, "type": 2, "change": "removed", "reason": "not in the drawing", "vertices": []},
    ]
    # Names may hold control characters, which the page shows as \xHH.
    f1 = {"input": "odd\x1b]0;t\x07\n.dat", "output": "odd-clean\x7f.dat", "thresholds": {"vertex": 0.005},
          "snap_on_subfiles": False, "read": {"lines": 9}, "written": {"lines": 8},
          "changes": changes, "groups": [{"to": [0, 0, 0], "from": [[0.001, 0, 0]]}]}
    d1 = {"full": False, "lines": lines, "note": "odd <i>data</i>",
          "subfile": [[2, "-inf", 0, 0, 5, 5, 5], [3, 1, 1, 1, 2, 2, 2, "nan", 3, 3], [4, 0, 0]]}
    f2 = {"input": "undrawn.dat", "output": "undrawn-clean.dat", "output_written": False, "changes": [
        {"line": 2, "type": 2, "change": "moved", "vertices": [
            {"index": 1, "from": [1, 1, 1.003], "to": [1, 1, 1], "distance": 0.003, "onto": "snapped", "subfile": "s\\x\x01.dat"},
            {"index": 0, "from": [5, 1, 1.003], "to": [5, 1, 1], "distance": 0.003, "onto": "merged"}]}]}
    return {"report": {"format": "weldrix-report", "version": 1, "files": [f1, f2]}, "drawing": [d1]}


def sample_batch(n=300):
    rng = random.Random(7)
    entries = []
    for i in range(n):
        p = Part()
        plate(p, rng.randint(1, 3), rng.randint(1, 2))
        # every fifth file (the first one too) comes out unchanged
        changes, groups = make_changes(p, rng, 0.03) if i % 5 != 0 else ([], [])
        entries.append(file_entry("parts/batch%03d.dat" % i, p, changes, groups, True))
    return report(entries)


def sample_part(target_lines, fraction, full, seed):
    rng = random.Random(seed)
    p = Part()
    side = 1
    while 80 * side * side < target_lines:
        side += 1
    cols, rows = side, max(1, (target_lines // 82) // side)
    plate(p, cols, rows)
    changes, groups = make_changes(p, rng, fraction)
    while p.next_line <= target_lines:  # pad with comment lines up to the size asked for
        p.comment()
    f, dr = file_entry("big%d.dat" % target_lines, p, changes, groups, full, subfile_cap=4000)
    return report([(f, dr)])


SAMPLES = {
    "demo": sample_demo,
    "empty": sample_empty,
    "odd": sample_odd,
    "batch": sample_batch,
    "full20k": lambda: sample_part(20000, 0.03, True, 11),
    "big100k": lambda: sample_part(100000, 0.02, False, 13),
    "huge": lambda: sample_part(100000, 0.01, True, 17),
}
DEFAULT = ["demo", "empty", "odd", "batch", "full20k", "big100k"]


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--template", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("names", nargs="*", help="samples to build (default: %s)" % " ".join(DEFAULT))
    a = ap.parse_args(argv)
    names = a.names or DEFAULT
    for n in names:
        if n not in SAMPLES:
            raise SystemExit("unknown sample %s (known: %s)" % (n, " ".join(SAMPLES)))
    with open(a.template, encoding="utf-8") as fh:
        template = fh.read()
    os.makedirs(a.out, exist_ok=True)
    for n in names:
        data = SAMPLES[n]()
        with open(os.path.join(a.out, n + ".json"), "w", encoding="utf-8") as fh:
            json.dump(data, fh, ensure_ascii=False)
        with open(os.path.join(a.out, n + ".html"), "w", encoding="utf-8") as fh:
            fh.write(fill_template(template, data))
        files = data["report"]["files"]
        print("%-8s %d file(s), %d changes, %d drawn lines -> %s" % (
            n, len(files), sum(len(f.get("changes", [])) for f in files),
            sum(len(d["lines"]) for d in data["drawing"]), os.path.join(a.out, n + ".html")))


if __name__ == "__main__":
    main(sys.argv[1:])
