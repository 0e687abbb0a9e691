#!/usr/bin/env python3
"""Checks behind check_page.sh (Python standard library only).

    check_dom.py files PAGE.html                  file indices worth rendering (first, middle, last)
    check_dom.py dom PAGE.html DOM.html INDEX      the DOM Chromium dumped for file INDEX
    check_dom.py net NETLOG.json                  nothing was requested on behalf of the page
    check_dom.py png SHOT.png                     a PNG of 1400 x 1000 pixels

The data is read back from PAGE.html itself (between "const weldrixData =" and the line after
it that starts with "; /* end of the report data"), so the DOM is compared with what weldrix
put into the page, not with anything the page computed. Each failure is printed on stderr;
the exit status is 1 if there was any.
"""
import json
import math
import re
import struct
import sys
from html.parser import HTMLParser

DATA_START = "const weldrixData =\n"
DATA_END = "\n; /* end of the report data"
VIEWS = {
    "front": ((1, 0, 0), (0, 1, 0)),
    "top": ((1, 0, 0), (0, 0, -1)),
    "right": ((0, 0, 1), (0, 1, 0)),
    "iso": ((math.sqrt(0.5), 0, math.sqrt(0.5)), (1 / math.sqrt(6), 2 / math.sqrt(6), -1 / math.sqrt(6))),
}
VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}
# tags the page itself builds inside the areas that show texts from the data
TEXT_TAGS = {"div", "span", "h2", "dl", "dt", "dd", "table", "thead", "tbody", "tr", "th", "td", "b"}
FETCHING_TAGS = {"link", "iframe", "frame", "object", "embed", "base", "img", "image", "video", "audio",
                 "source", "track", "use", "feimage", "portal", "fencedframe"}
URL_ATTRS = {"src", "href", "xlink:href", "srcset", "action", "formaction", "poster", "data", "background",
             "ping", "manifest", "codebase", "archive", "longdesc", "lowsrc", "dynsrc", "imagesrcset"}
CSP_SOURCES_ALLOWED = {"'none'", "'unsafe-inline'", "data:"}

errors = []


def fail(msg):
    errors.append(msg)


def finish(ok_message):
    if errors:
        for e in errors[:40]:
            print("FAIL: " + e, file=sys.stderr)
        if len(errors) > 40:
            print("FAIL: ... and %d more" % (len(errors) - 40), file=sys.stderr)
        sys.exit(1)
    print(ok_message)


# ---------------------------------------------------------------- the data in the page
def read_data(page_path):
    with open(page_path, encoding="utf-8") as fh:
        text = fh.read()
    b = text.rfind(DATA_END)
    a = text.rfind(DATA_START, 0, max(b, 0))  # JSON text holds no raw line break, so this is its start
    if a < 0 or b < a:
        raise SystemExit("FAIL: %s: no report data found between %r and %r" % (page_path, DATA_START.strip(), DATA_END.strip()))
    body = text[a + len(DATA_START):b]
    if body.strip() == "/*WELDRIX_REPORT_DATA*/":
        raise SystemExit("FAIL: %s: the placeholder was not replaced (this is the bare template)" % page_path)
    try:
        return json.loads(body)
    except ValueError as e:
        raise SystemExit("FAIL: %s: the report data is not valid JSON: %s" % (page_path, e))


def shown(v):
    """A text as the page shows it: each control character (0x00-0x1F, DEL) written \\xHH."""
    return re.sub(r"[\x00-\x1f\x7f]", lambda m: "\\x%02X" % ord(m.group()), str(v))


def num(v):
    return v if isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v) else None


def point(v):
    if isinstance(v, list) and len(v) >= 3:
        p = [num(c) for c in v[:3]]
        if all(c is not None for c in p):
            return p
    return None


def drawn_points(entry):
    """The corners a drawing line is drawn with: 2 for edges and conditional lines, 3 or 4 else."""
    t = entry[1] if len(entry) > 1 else None
    avail = (len(entry) - 3) // 3
    want = {2: 2, 5: 2, 3: 3, 4: 4}.get(t, 0)
    return [point(entry[3 + 3 * j:6 + 3 * j]) for j in range(min(avail, want))], t in (3, 4)


def has_segment(pts, closed):
    n = len(pts)
    segs = n if closed and n > 2 else n - 1
    return any(pts[j] is not None and pts[(j + 1) % n] is not None for j in range(max(segs, 0)))


# ---------------------------------------------------------------- a small DOM from Chromium's dump
class Node:
    __slots__ = ("tag", "attrs", "children", "parent", "text")

    def __init__(self, tag, attrs, parent):
        self.tag, self.attrs, self.children, self.parent, self.text = tag, attrs, [], parent, []

    def iter(self):
        stack = [self]
        while stack:
            n = stack.pop()
            yield n
            stack.extend(reversed(n.children))

    def text_content(self):
        out = []
        for n in self.iter():
            out.extend(n.text)
        return "".join(out)

    def cls(self):
        return (self.attrs.get("class") or "").split()


class Tree(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Node("#root", {}, None)
        self.cur = self.root

    def handle_starttag(self, tag, attrs):
        n = Node(tag, {k: (v if v is not None else "") for k, v in attrs}, self.cur)
        self.cur.children.append(n)
        if tag not in VOID:
            self.cur = n

    def handle_startendtag(self, tag, attrs):
        self.cur.children.append(Node(tag, {k: (v if v is not None else "") for k, v in attrs}, self.cur))

    def handle_endtag(self, tag):
        n = self.cur
        while n is not self.root and n.tag != tag:
            n = n.parent
        if n is not self.root:
            self.cur = n.parent

    def handle_data(self, data):
        self.cur.text.append(data)


def parse_dom(path):
    t = Tree()
    with open(path, encoding="utf-8", errors="replace") as fh:
        t.feed(fh.read())
    t.close()
    return t.root


def by_id(root, ident):
    for n in root.iter():
        if n.attrs.get("id") == ident:
            return n
    return None


# ---------------------------------------------------------------- checks on the DOM
def check_static(root):
    """The page can fetch nothing: a strict CSP before any script, and no element that loads."""
    html = next((n for n in root.iter() if n.tag == "html"), None)
    csp, first_script_seen = None, False
    for n in root.iter():
        if n.tag == "script":
            first_script_seen = True
        if n.tag == "meta" and n.attrs.get("http-equiv", "").lower() == "content-security-policy":
            if first_script_seen:
                fail("the Content-Security-Policy meta tag comes after a script")
            csp = n.attrs.get("content", "")
    if csp is None:
        fail("no Content-Security-Policy meta tag")
    else:
        directives = {}
        for part in csp.split(";"):
            words = part.split()
            if words:
                directives[words[0].lower()] = words[1:]
        if directives.get("default-src") != ["'none'"]:
            fail("the CSP does not start from default-src 'none': %r" % csp)
        for d, srcs in directives.items():
            for s in srcs:
                if s not in CSP_SOURCES_ALLOWED:
                    fail("the CSP allows %s in %s" % (s, d))
    for n in root.iter():
        if n.tag in FETCHING_TAGS and not (n.tag == "img" and n.attrs.get("src", "").startswith("data:")):
            fail("a <%s> element is in the page" % n.tag)
        if n.tag == "meta" and n.attrs.get("http-equiv", "").lower() == "refresh":
            fail("a meta refresh is in the page")
        for a, v in n.attrs.items():
            if a in URL_ATTRS and not v.startswith("data:"):
                fail("<%s %s=%r> could load something" % (n.tag, a, v[:80]))
        style = n.attrs.get("style", "") + ("".join(n.text) if n.tag == "style" else "")
        if re.search(r"url\(\s*['\"]?(?!data:)|@import", style, re.I):
            fail("a style in <%s> loads from a URL" % n.tag)
    if html is None:
        fail("no <html> element")
        return {}
    if html.attrs.get("data-csp-violations", "0") != "0":
        fail("the page ran into its Content-Security-Policy %s time(s), last: %s" % (
            html.attrs.get("data-csp-violations"), html.attrs.get("data-csp-blocked", "?")))
    return html.attrs


def ring_scale(rings_by_view):
    """The rings lie where the views' axes put their vertices, all at one scale: in every view
    cx = a*u + b and cy = a*v + c, with u, v the vertex's screen axes for that view and one
    positive a for all views and both axes. a is the median of the slopes fitted to each view's
    x and y; every ring must lie within rounding (1 unit) of the line of slope a through the
    centre of its series. Returns a, or None when no series spreads."""
    series = []
    for view, pairs in rings_by_view.items():
        for axis, vec, k in (("x", VIEWS[view][0], 1), ("y", VIEWS[view][1], 2)):
            smp = [(sum(t[0][i] * vec[i] for i in range(3)), t[k]) for t in pairs]
            if not smp:
                continue
            mu = sum(u for u, _ in smp) / len(smp)
            mc = sum(c for _, c in smp) / len(smp)
            sxx = sum((u - mu) ** 2 for u, _ in smp)
            slope = sum((u - mu) * (c - mc) for u, c in smp) / sxx if sxx > 1e-12 else None
            series.append((view, axis, smp, mu, mc, slope))
    slopes = sorted(x[5] for x in series if x[5] is not None)
    if not slopes:
        return None
    a = slopes[len(slopes) // 2]
    if a <= 0:
        fail("the rings are mirrored (median scale %g)" % a)
        return None
    for view, axis, smp, mu, mc, _ in series:
        worst = max(abs(c - (mc + a * (u - mu))) for u, c in smp)
        if worst > 1.01:
            fail("%s view: screen %s of the rings does not follow the view's axes at the shared scale "
                 "(off by up to %.3g units)" % (view, axis, worst))
    return a


NUM_RE = re.compile(r"-?\d+(?:\.\d+)?(?:e-?\d+)?")


def check_views(root, f, drawing):
    changes = f.get("changes") or []
    n = len(changes)
    svgs = {n_.attrs.get("data-view"): n_ for n_ in root.iter() if n_.tag == "svg" and n_.attrs.get("data-view")}
    if sorted(svgs) != sorted(VIEWS):
        fail("expected the views %s, found %s" % (sorted(VIEWS), sorted(svgs)))
    lines = drawing.get("lines", []) if isinstance(drawing, dict) else []
    by_line = {}
    for e in lines:
        if isinstance(e, list) and len(e) >= 3 and e[0] not in by_line:
            by_line[e[0]] = e
    # what each change must show
    expect = []
    for c in changes:
        entry = by_line.get(c.get("line"))
        pts, closed = drawn_points(entry) if entry else ([], False)
        verts = [v for v in c.get("vertices", []) if isinstance(v, dict)]
        tos = [point(v.get("to")) for v in verts]
        froms = [point(v.get("from")) for v in verts]
        rings = [p for p in tos if p is not None]
        seg = has_segment(pts, closed)
        drawable = seg or rings or any(p is not None for p in pts) or any(p is not None for p in froms)
        expect.append({"rings": rings, "seg": seg, "drawable": drawable, "kind": c.get("change"),
                       "anypt": any(p is not None for p in pts)})
    kept = [e for e in lines if isinstance(e, list) and len(e) > 3 and e[2] == 0 and e[0] not in
            {c.get("line") for c in changes} and has_segment(*drawn_points(e))]
    boxes = {}
    rings_by_view = {}
    for view, svg in svgs.items():
        marks = {}
        coords = []
        for el in svg.iter():
            for a in ("d", "cx", "cy"):
                v = el.attrs.get(a)
                if v is not None:
                    if re.search(r"NaN|Infinity|undefined|null", v):
                        fail("%s view: <%s %s=...> holds %r" % (view, el.tag, a, v[:60]))
            dc = el.attrs.get("data-change")
            if dc is not None:
                if not re.fullmatch(r"\d+", dc) or int(dc) >= n:
                    fail("%s view: a mark names change %r, the file has %d" % (view, dc, n))
                    continue
                marks.setdefault(int(dc), []).append(el)
            if el.tag == "path" and el.attrs.get("d"):
                coords.extend(float(x) for x in NUM_RE.findall(el.attrs["d"]))
            if el.tag == "circle" and "cx" in el.attrs:
                coords.extend((float(el.attrs["cx"]), float(el.attrs["cy"])))
        pairs = []
        for i, ex in enumerate(expect):
            els = marks.get(i, [])
            if ex["drawable"] and not els:
                fail("%s view: change %d (line %s) has no mark" % (view, i, changes[i].get("line")))
                continue
            rings = [e for e in els if e.tag == "circle" and "ring" in e.cls()]
            if len(rings) != len(ex["rings"]):
                fail("%s view: change %d has %d vertex rings, %d moved vertices have numbers" % (
                    view, i, len(rings), len(ex["rings"])))
            else:
                pairs.extend((p, float(r.attrs["cx"]), float(r.attrs["cy"])) for p, r in zip(ex["rings"], rings))
            if ex["kind"] == "removed" and ex["anypt"] and not any("removed" in e.cls() for e in els):
                fail("%s view: removed change %d is not drawn as removed" % (view, i))
            if ex["kind"] == "triangle" and ex["seg"] and not any(e.tag == "path" and "triangle" in e.cls() for e in els):
                fail("%s view: change %d (made a triangle) has no highlighted line" % (view, i))
        if kept:
            base = [e for e in svg.iter() if e.tag == "path" and ("kf" in e.cls() or "ke" in e.cls() or "kc" in e.cls())]
            if not any(e.attrs.get("d") for e in base):
                fail("%s view: the %d unchanged lines are not drawn" % (view, len(kept)))
        rings_by_view[view] = pairs
        vb = [float(x) for x in svg.attrs.get("viewbox", svg.attrs.get("viewBox", "")).split()] or None
        if not vb or len(vb) != 4 or vb[2] <= 0 or vb[3] <= 0:
            fail("%s view: no usable viewBox (%r)" % (view, svg.attrs.get("viewbox")))
        else:
            boxes[view] = vb
            if coords:
                xs, ys = coords[0::2], coords[1::2]
                tol = 1e-6 * max(vb[2], vb[3])
                if min(xs) < vb[0] - tol or max(xs) > vb[0] + vb[2] + tol or min(ys) < vb[1] - tol or max(ys) > vb[1] + vb[3] + tol:
                    fail("%s view: the drawing does not fit in the view" % view)
    # one scale for all views: the rings agree on it, and the equal view cells (equal to within a
    # pixel of layout rounding) show viewBoxes of equal size
    ring_scale(rings_by_view)
    sizes = {v: (b[2], b[3]) for v, b in boxes.items()}
    if sizes:
        w0, h0 = next(iter(sizes.values()))
        for v, (w, h) in sizes.items():
            if abs(w - w0) > 0.005 * w0 or abs(h - h0) > 0.005 * h0:
                fail("the views do not share one scale: viewBox sizes %s" % sizes)
                break
    return sum(1 for e in expect if e["drawable"])


def check_lists(root, f, drawing):
    changes = f.get("changes") or []
    for ident in ("summary", "changes", "groups", "headline"):
        box = by_id(root, ident)
        if box is None:
            fail("no #%s in the page" % ident)
            continue
        for el in box.iter():
            if el is not box and el.tag not in TEXT_TAGS:
                fail("#%s holds a <%s> element: a text from the data became markup" % (ident, el.tag))
    summary = by_id(root, "summary")
    if summary is not None:
        text = summary.text_content()
        wanted = [shown(f.get("input")), shown(f.get("output"))]
        for key in ("read", "written"):
            if isinstance(f.get(key), dict) and "lines" in f[key]:
                wanted.append(str(f[key]["lines"]))
        for w in wanted:
            if w not in text:
                fail("the summary does not show %r" % w)
        for k, v in (f.get("totals") or {}).items():
            if str(v) not in text:
                fail("the summary does not show the total %s = %r" % (k, v))
        if (f.get("output_written") is False) != ("not written" in text and "would write" in text):
            fail("the summary %s that the output was not written (a check)" % ("does not say" if f.get("output_written") is False else "says"))
        if isinstance(drawing, dict) and drawing.get("full") is False and drawing.get("note") and drawing["note"] not in text:
            fail("the summary does not show why only part of the drawing is shown")
    box = by_id(root, "changes")
    if box is not None:
        rows = [el for el in box.iter() if el.attrs.get("data-change") is not None]
        if [r.attrs["data-change"] for r in rows] != [str(i) for i in range(len(changes))]:
            fail("the change list has %d rows, the file has %d changes" % (len(rows), len(changes)))
        else:
            for i, (r, c) in enumerate(zip(rows, changes)):
                spans = [ch for ch in r.children if ch.tag == "span"]
                texts = {(ch.cls() or [""])[0]: ch.text_content() for ch in spans}
                if texts.get("ln") != str(c.get("line")):
                    fail("change row %d shows line %r, not %r" % (i, texts.get("ln"), c.get("line")))
                if "reason" in c and texts.get("reason") != shown(c["reason"]):
                    fail("change row %d shows the reason %r, not %r" % (i, texts.get("reason"), c["reason"]))
                verts = texts.get("verts", "")
                for v in c.get("vertices", []):
                    for part in ("subfile",):
                        if isinstance(v, dict) and part in v and shown(v[part]) not in verts:
                            fail("change row %d does not show the subfile %r" % (i, v[part]))
                if len(c.get("vertices", [])) != (verts.count("\n") + 1 if verts else 0):
                    fail("change row %d lists %d vertices, not %d" % (i, verts.count("\n") + 1 if verts else 0, len(c.get("vertices", []))))
    # Each geometry fault named in the summary, and on its line's change row, which is marked.
    geometry = [g for g in (f.get("geometry") or []) if isinstance(g, dict)]
    stext = summary.text_content() if summary is not None else ""
    rows_by_line = {}
    if box is not None:
        for r in box.iter():
            if r.attrs.get("data-change") is not None:
                rows_by_line[str(changes[int(r.attrs["data-change"])].get("line"))] = r
    for g in geometry:
        name = "geometry fault: %s" % {"bowtie": "a bowtie", "warped": "warped beyond 3",
                                       "warped-1": "warped beyond 1"}.get(g.get("fault"), g.get("fault"))
        if "to_line" in g:
            name += " to line %s" % g["to_line"]
        if g.get("fixed") is True:
            name += " (repaired by --fix)"
        if "Line %s: %s" % (g.get("line"), name) not in stext:
            fail("the summary does not name the geometry fault %r" % g)
        r = rows_by_line.get(str(g.get("line")))
        if r is not None and ("geo" not in r.cls() or name not in r.text_content()):
            fail("the change row of line %s is not marked with its geometry fault %r" % (g.get("line"), name))
    groups = f.get("groups") or []
    gbox = by_id(root, "groups")
    if gbox is not None:
        g = [el for el in gbox.iter() if el.attrs.get("data-group") is not None]
        if len(g) != len(groups):
            fail("the group list has %d rows, the file has %d groups" % (len(g), len(groups)))


def check_file_list(root, files, shown):
    """Every file listed, the changed ones first; "changed files only" on when any changed, hiding
    the others (unless the file shown is one of them)."""
    fl = by_id(root, "filelist")
    items = [el for el in fl.iter() if el.attrs.get("data-file") is not None] if fl else []
    if len(items) != len(files):
        fail("the file list has %d entries, the report %d files" % (len(items), len(files)))
    order = [int(el.attrs["data-file"]) for el in items]
    if order != list_order(files):
        fail("the file list is not in the order changed files first, then by name: %s" % order[:12])
    only = by_id(root, "changed-only")
    # On when any file changed, unless the file shown is one it would hide (that turns it off).
    on = any(changed(f) for f in files) and 0 <= shown < len(files) and changed(files[shown])
    if only is None:
        fail("the file list has no \"changed files only\" filter")
    elif ("checked" in only.attrs) != on:
        fail("\"changed files only\" is %s with file %d shown" % ("on" if "checked" in only.attrs else "off", shown))
    hidden = [int(el.attrs["data-file"]) for el in items if "hidden" in el.attrs]
    if hidden != ([i for i in list_order(files) if not changed(files[i])] if on else []):
        fail("the file list hides files %s, not %s" % (hidden[:12], "the unchanged ones" if on else "none"))

def cmd_dom(page, dom, index):
    data = read_data(page)
    files = data["report"]["files"]
    f = files[index]
    drawing = data["drawing"][index] if index < len(data.get("drawing", [])) else None
    root = parse_dom(dom)
    attrs = check_static(root)
    if attrs.get("data-state") != "ready":
        msg = by_id(root, "message")
        fail("the page is not ready (data-state=%r): %s" % (attrs.get("data-state"), msg.text_content().strip() if msg else ""))
        finish("")
    if attrs.get("data-file") != str(index):
        fail("the page shows file %r, not file %d" % (attrs.get("data-file"), index))
    drawn = check_views(root, f, drawing)
    check_lists(root, f, drawing)
    if len(files) > 1:
        check_file_list(root, files, index)
    finish("ok: file %d: %d changes, %d of them marked in all 4 views, summary, change list, %d groups; "
           "script %s ms, ready %s ms after navigation" % (index, len(f.get("changes") or []), drawn,
                                                       len(f.get("groups") or []), attrs.get("data-render-ms"),
                                                       attrs.get("data-ready-ms")))


# ---------------------------------------------------------------- the network log
NET_SCHEME = re.compile(r"^(https?|wss?|ftp)://", re.I)
PAGE_TIE = re.compile(r"file://|data:|null \[internally")


def cmd_net(path):
    """Every URL request and preconnect in Chromium's net log is either the page's or the
    browser's own. The page's carry the page's origin as initiator or its file:// site in their
    network isolation key / socket group; Chromium's background requests carry neither (they have
    no initiator). Any network request tied to the page fails the check; the browser's own are
    listed, and never leave the machine (all host names resolve to nothing and the only proxy is a
    closed local port)."""
    with open(path, encoding="utf-8", errors="replace") as fh:
        text = fh.read()
    try:
        log = json.loads(text)
    except ValueError:
        # Chromium may be stopped before it closes the JSON; the events are complete lines
        log = json.loads(text.rstrip().rstrip(",") + "]}")
    names = {v: k for k, v in log["constants"]["logEventTypes"].items()}
    urls = {}  # source id -> url
    tied = {}  # source id -> reason
    browser = set()
    for e in log.get("events", []):
        p = e.get("params") or {}
        sid = e.get("source", {}).get("id")
        url = p.get("url")
        if isinstance(url, str) and NET_SCHEME.match(url):
            urls.setdefault(sid, url)
        ini = p.get("initiator")
        if isinstance(ini, str) and ini != "not an origin":
            tied[sid] = "initiator %s" % ini
        for key in ("network_isolation_key", "network_anonymization_key", "group_id"):
            v = p.get(key)
            if isinstance(v, str) and PAGE_TIE.search(v):
                tied[sid] = "%s %s" % (key, v)
        if names.get(e.get("type")) == "HTTP_STREAM_JOB_CONTROLLER" and p.get("is_preconnect") and isinstance(url, str):
            tied.setdefault(sid, "preconnect")
        host = p.get("host")
        if isinstance(host, str) and names.get(e.get("type"), "").startswith("HOST_RESOLVER") and \
                PAGE_TIE.search(str(p.get("network_anonymization_key", ""))):
            tied[sid] = "name lookup for the page"
            urls.setdefault(sid, host)
    page_urls = {url for sid, url in urls.items() if sid in tied}
    for sid, url in sorted(urls.items(), key=lambda kv: str(kv[0])):
        if sid in tied:
            fail("the page requested %s (%s)" % (url, tied[sid]))
        elif url not in page_urls:
            browser.add(re.sub(r"[?#].*", "", url))
    note = "; Chromium's own background requests, blocked: " + ", ".join(sorted(browser)) if browser else ""
    finish("ok: no network request on behalf of the page%s" % note)


def cmd_png(path):
    with open(path, "rb") as fh:
        head = fh.read(24)
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n":
        fail("%s is not a PNG" % path)
    else:
        w, h = struct.unpack(">II", head[16:24])
        if (w, h) != (1400, 1000):
            fail("%s is %dx%d, not 1400x1000" % (path, w, h))
    finish("ok: screenshot %s" % path)


def changed(f):
    t = f.get("totals") if isinstance(f, dict) and isinstance(f.get("totals"), dict) else {}
    n = sum(v for v in (t.get(k) for k in ("removed", "triangles", "moved")) if isinstance(v, (int, float)))
    return n > 0 or bool(isinstance(f, dict) and f.get("changes"))


def list_order(files):
    """The file list's order: the changed files first, then the others, each in the report's order."""
    return [i for i, f in enumerate(files) if changed(f)] + [i for i, f in enumerate(files) if not changed(f)]


def cmd_files(page):
    """The files to check: first the one the page opens on by itself, then a middle and the last."""
    files = read_data(page)["report"]["files"]
    first = list_order(files)[0] if files else 0
    print(" ".join(str(i) for i in [first] + sorted({len(files) // 2, len(files) - 1} - {first}) if i >= 0))


def main(argv):
    if len(argv) == 2 and argv[0] == "files":
        cmd_files(argv[1])
    elif len(argv) == 4 and argv[0] == "dom":
        cmd_dom(argv[1], argv[2], int(argv[3]))
    elif len(argv) == 2 and argv[0] == "net":
        cmd_net(argv[1])
    elif len(argv) == 2 and argv[0] == "png":
        cmd_png(argv[1])
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)


if __name__ == "__main__":
    main(sys.argv[1:])
