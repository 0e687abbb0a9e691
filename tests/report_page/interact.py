#!/usr/bin/env python3
"""Use a filled report page as a person would: real mouse and keyboard input, sent to headless
Chromium through its DevTools protocol over a pipe (--remote-debugging-pipe; Python standard
library only, no network port).

    interact.py DEMO.html [BATCH.html]

DEMO.html is a one-file report with at least three changes; BATCH.html a report with several
files. Prints one PASS/FAIL line per scenario and "N passed, N failed"; exits 1 on a failure.
"""
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-features=NetworkTimeServiceQuerying", "--host-resolver-rules=MAP * ~NOTFOUND",
         "--proxy-server=http://127.0.0.1:9", "--window-size=1400,1000", "--hide-scrollbars"]


class Browser:
    def __init__(self):
        exe = os.environ.get("CHROMIUM") or shutil.which("chromium") or shutil.which("chromium-browser")
        if not exe:
            raise SystemExit("chromium not found (apt-get install chromium)")
        self.profile = tempfile.mkdtemp(prefix="interact.")
        to_chrome_r, self.to_chrome = os.pipe()
        self.from_chrome, from_chrome_w = os.pipe()
        cmd = " ".join("'%s'" % a.replace("'", "'\\''") for a in [exe] + FLAGS + [
            "--remote-debugging-pipe", "--user-data-dir=" + self.profile, "about:blank"])
        self.proc = subprocess.Popen(["bash", "-c", "exec %s 3<&%d 4>&%d" % (cmd, to_chrome_r, from_chrome_w)],
                                     pass_fds=(to_chrome_r, from_chrome_w),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_chrome_r)
        os.close(from_chrome_w)
        self.buf = b""
        self.next_id = 0
        self.events = []
        self.session = None

    def close(self):
        try:
            self.send("Browser.close", session=False)
        except Exception:
            pass
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        shutil.rmtree(self.profile, ignore_errors=True)

    def _read(self, timeout):
        end = time.time() + timeout
        while b"\0" not in self.buf:
            left = end - time.time()
            if left <= 0 or not select.select([self.from_chrome], [], [], left)[0]:
                raise TimeoutError("Chromium did not answer")
            chunk = os.read(self.from_chrome, 1 << 20)
            if not chunk:
                raise EOFError("Chromium closed the pipe")
            self.buf += chunk
        msg, self.buf = self.buf.split(b"\0", 1)
        return json.loads(msg)

    def send(self, method, params=None, session=None, timeout=60):
        self.next_id += 1
        msg = {"id": self.next_id, "method": method, "params": params or {}}
        if session is None and self.session:
            msg["sessionId"] = self.session
        os.write(self.to_chrome, json.dumps(msg).encode() + b"\0")
        while True:
            m = self._read(timeout)
            if m.get("id") == self.next_id:
                if "error" in m:
                    raise RuntimeError("%s: %s" % (method, m["error"]))
                return m.get("result", {})
            self.events.append(m)

    def wait_event(self, method, timeout=60):
        end = time.time() + timeout
        while True:
            for i, m in enumerate(self.events):
                if m.get("method") == method:
                    return self.events.pop(i)
            m = self._read(max(0.1, end - time.time()))
            self.events.append(m)

    def open(self, url):
        target = self.send("Target.createTarget", {"url": "about:blank"}, session=False)["targetId"]
        self.session = self.send("Target.attachToTarget", {"targetId": target, "flatten": True}, session=False)["sessionId"]
        self.send("Page.enable")
        self.events.clear()
        self.send("Page.navigate", {"url": url})
        self.wait_event("Page.loadEventFired")
        self.js("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")

    def js(self, expr):
        r = self.send("Runtime.evaluate", {"expression": expr, "returnByValue": True, "awaitPromise": True})
        if "exceptionDetails" in r:
            raise RuntimeError("page script failed: %s" % r["exceptionDetails"].get("exception", {}).get("description"))
        return r["result"].get("value")

    def click(self, x, y):
        for t in ("mouseMoved", "mousePressed", "mouseReleased"):
            self.send("Input.dispatchMouseEvent", {"type": t, "x": x, "y": y, "button": "left" if t != "mouseMoved" else "none",
                                                   "buttons": 1 if t == "mousePressed" else 0, "clickCount": 1})
        self.settle()

    def drag(self, x, y, dx, dy):
        self.send("Input.dispatchMouseEvent", {"type": "mouseMoved", "x": x, "y": y})
        self.send("Input.dispatchMouseEvent", {"type": "mousePressed", "x": x, "y": y, "button": "left", "buttons": 1, "clickCount": 1})
        for k in range(1, 6):
            self.send("Input.dispatchMouseEvent", {"type": "mouseMoved", "x": x + dx * k / 5, "y": y + dy * k / 5, "button": "left", "buttons": 1})
        self.send("Input.dispatchMouseEvent", {"type": "mouseReleased", "x": x + dx, "y": y + dy, "button": "left", "clickCount": 1})
        self.settle()

    def wheel(self, x, y, dy):
        self.send("Input.dispatchMouseEvent", {"type": "mouseWheel", "x": x, "y": y, "deltaX": 0, "deltaY": dy})
        self.settle()

    KEYS = {"ArrowDown": 40, "ArrowUp": 38, "Home": 36, "End": 35, "Escape": 27, "Enter": 13}

    def key(self, key):
        p = {"key": key, "code": key if key in self.KEYS else "Key" + key.upper(),
             "windowsVirtualKeyCode": self.KEYS[key] if key in self.KEYS else ord(key.upper())}
        if key not in self.KEYS:
            p["text"] = key
        self.send("Input.dispatchKeyEvent", dict(p, type="keyDown"))
        self.send("Input.dispatchKeyEvent", dict(p, type="keyUp"))
        self.settle()

    def type_text(self, text):
        self.send("Input.insertText", {"text": text})
        self.settle()

    def settle(self):
        self.js("new Promise(r => requestAnimationFrame(() => setTimeout(r, 0)))")


# page-side helpers, evaluated in the page
HELPERS = r"""
window.__t = {
  views: () => Array.from(document.querySelectorAll("svg[data-view]")),
  viewBoxes: () => __t.views().map(s => s.getAttribute("viewBox").split(" ").map(Number)),
  selected: () => Number(document.documentElement.getAttribute("data-selected-change")),
  // state of the selection: selected rows, and per view the changes whose marks are highlighted
  selState: () => ({
    rows: Array.from(document.querySelectorAll("#changes .crow.sel")).map(r => Number(r.dataset.change)),
    ariaRows: Array.from(document.querySelectorAll('#changes [aria-selected="true"]')).map(r => Number(r.dataset.change)),
    views: __t.views().map(s => Array.from(new Set(Array.from(s.querySelectorAll(".mk.sel")).map(m => Number(m.dataset.change)))))
  }),
  // a ring of some change whose centre no mark of another change comes near, in view v
  lonelyRing: (v) => {
    const svg = __t.views()[v];
    const marks = Array.from(svg.querySelectorAll("circle.mk")).map(m => {
      const r = m.getBoundingClientRect();
      return { c: Number(m.dataset.change), x: r.left + r.width / 2, y: r.top + r.height / 2, w: r.width };
    });
    const box = svg.getBoundingClientRect();
    for (const m of marks) {
      if (m.x < box.left + 30 || m.x > box.right - 10 || m.y < box.top + 30 || m.y > box.bottom - 10) continue;
      if (marks.every(o => o.c === m.c || Math.hypot(o.x - m.x, o.y - m.y) > 20)) return m;
    }
    return null;
  },
  ringWidths: () => Array.from(document.querySelectorAll("svg[data-view] circle.ring")).slice(0, 20).map(c => c.getBoundingClientRect().width),
  userPoint: (v, x, y) => {
    const svg = __t.views()[v];
    const p = new DOMPoint(x, y).matrixTransform(svg.getScreenCTM().inverse());
    return [p.x, p.y];
  },
  centre: (v) => { const r = __t.views()[v].getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; },
  rowCentre: (i) => { const r = document.getElementById("change-" + i); r.scrollIntoView({block: "nearest"}); const b = r.getBoundingClientRect(); return [b.left + 20, b.top + 8]; },
};
true
"""

results = []


def scenario(name):
    def wrap(fn):
        results.append((name, fn))
        return fn
    return wrap


def expect(cond, msg):
    if not cond:
        raise AssertionError(msg)


def close(a, b, rel=1e-6):
    return abs(a - b) <= rel * max(abs(a), abs(b), 1e-300)


def run_demo(b, url):
    b.open(url)
    b.js(HELPERS)
    n = b.js("document.querySelectorAll('#changes .crow[data-change]').length")
    expect(n >= 3, "the demo page needs three changes, it has %s" % n)
    fit_boxes = b.js("__t.viewBoxes()")

    @scenario("clicking a ring in each view selects its change, its row and its marks in all views")
    def _():
        for v in range(4):
            b.key("Escape")
            m = b.js("__t.lonelyRing(%d)" % v)
            expect(m is not None, "view %d: no ring stands apart from the others" % v)
            b.click(m["x"], m["y"])
            st = b.js("__t.selState()")
            expect(b.js("__t.selected()") == m["c"], "view %d: clicking change %d's ring selected %s" % (v, m["c"], b.js("__t.selected()")))
            expect(st["rows"] == [m["c"]] and st["ariaRows"] == [m["c"]], "view %d: selected rows %s" % (v, st))
            expect(all(vs == [m["c"]] for vs in st["views"]), "view %d: highlighted marks per view %s" % (v, st["views"]))

    @scenario("clicking a row, then arrow keys, Home and End move the selection")
    def _():
        x, y = b.js("__t.rowCentre(0)")
        b.click(x, y)
        expect(b.js("__t.selected()") == 0, "a click on row 0 selected %s" % b.js("__t.selected()"))
        b.key("ArrowDown")
        b.key("ArrowDown")
        expect(b.js("__t.selected()") == 2, "two ArrowDown from 0 gave %s" % b.js("__t.selected()"))
        b.key("ArrowUp")
        expect(b.js("__t.selected()") == 1, "ArrowUp gave %s" % b.js("__t.selected()"))
        b.key("End")
        expect(b.js("__t.selected()") == n - 1, "End gave %s" % b.js("__t.selected()"))
        st = b.js("__t.selState()")
        expect(st["rows"] == [n - 1] and all(vs in ([n - 1], []) for vs in st["views"]) and any(st["views"]), "after End: %s" % st)
        b.key("Home")
        expect(b.js("__t.selected()") == 0, "Home gave %s" % b.js("__t.selected()"))
        b.key("Escape")
        st = b.js("__t.selState()")
        expect(b.js("__t.selected()") == -1 and not st["rows"] and not any(st["views"]), "Escape left %s" % st)

    @scenario("the wheel zooms all four views by one factor and keeps the point under the cursor")
    def _():
        b.key("f")
        before = b.js("__t.viewBoxes()")
        cx, cy = b.js("__t.centre(0)")
        x, y = cx + 60, cy - 40
        p0 = b.js("__t.userPoint(0, %f, %f)" % (x, y))
        w0 = b.js("__t.ringWidths()")
        b.wheel(x, y, -400)
        after = b.js("__t.viewBoxes()")
        p1 = b.js("__t.userPoint(0, %f, %f)" % (x, y))
        f = after[0][2] / before[0][2]
        expect(f < 0.8, "the front view did not zoom in (width factor %g)" % f)
        expect(all(close(a[2] / bb[2], f, 1e-6) and close(a[3] / bb[3], f, 1e-6) for a, bb in zip(after, before)),
               "the views zoomed by different factors: %s -> %s" % (before, after))
        tol = 0.5 * before[0][2] / 400
        expect(abs(p1[0] - p0[0]) < tol and abs(p1[1] - p0[1]) < tol, "the point under the cursor moved: %s -> %s" % (p0, p1))
        w1 = b.js("__t.ringWidths()")
        expect(w0 and all(abs(a - c) < 0.75 for a, c in zip(w0, w1)), "rings changed their size on screen: %s -> %s" % (w0[:4], w1[:4]))

    @scenario("dragging a view pans all views together and selects nothing")
    def _():
        b.key("Escape")
        before = b.js("__t.viewBoxes()")
        box = b.js("(() => { const r = __t.views()[1].getBoundingClientRect(); return [r.left, r.top]; })()")
        b.drag(box[0] + 12, box[1] + 40, 80, 50)
        after = b.js("__t.viewBoxes()")
        per_px = before[1][2] / b.js("__t.views()[1].getBoundingClientRect().width")
        expect(abs((before[1][0] - after[1][0]) - 80 * per_px) < 2 * per_px and abs((before[1][1] - after[1][1]) - 50 * per_px) < 2 * per_px,
               "the top view did not follow the drag: %s -> %s" % (before[1], after[1]))
        # top view: screen x is X, screen y is -Z; the front view shares X, so it moves by as much in x
        expect(abs((before[0][0] - after[0][0]) - 80 * per_px) < 2 * per_px, "the front view did not pan with the top view")
        expect(all(close(a[2], bb[2]) for a, bb in zip(after, before)), "a drag changed the scale")
        expect(b.js("__t.selected()") == -1, "the drag selected change %s" % b.js("__t.selected()"))

    @scenario("Z zooms onto the selected change, F fits the part again")
    def _():
        x, y = b.js("__t.rowCentre(1)")
        b.click(x, y)
        b.key("z")
        zoomed = b.js("__t.viewBoxes()")
        expect(all(z[2] < f[2] * 0.9 for z, f in zip(zoomed, fit_boxes)), "Z did not zoom in: %s" % zoomed)
        inside = b.js("""__t.views().every(s => { const r = s.getBoundingClientRect();
            return Array.from(s.querySelectorAll('circle.mk.sel')).every(c => { const b = c.getBoundingClientRect();
              const x = b.left + b.width / 2, y = b.top + b.height / 2; return x > r.left && x < r.right && y > r.top && y < r.bottom; }); })""")
        expect(inside, "after Z a mark of the selected change is outside its view")
        b.key("f")
        refit = b.js("__t.viewBoxes()")
        expect(all(all(close(a, c, 1e-9) or abs(a - c) < 1e-6 for a, c in zip(r, f)) for r, f in zip(refit, fit_boxes)),
               "F did not restore the fitted views: %s vs %s" % (refit, fit_boxes))

    @scenario("the page loaded without a script error and blocked no load")
    def _():
        expect(b.js("document.documentElement.dataset.state") == "ready", "data-state is not ready")
        expect(b.js("document.documentElement.dataset.cspViolations") == "0", "CSP violations")


def run_batch(b, url):
    @scenario("batch: the changed files come first and the page opens on one; \"changed files only\" hides the others until turned off")
    def _():
        b.open(url)
        b.js(HELPERS)
        items = "Array.from(document.querySelectorAll('#filelist .fitem'))"
        changed = b.js("%s.map(i => Number(i.querySelector('.fc').textContent.split(' ')[0]) > 0)" % items)
        expect(changed and not changed[-1] and changed[0], "the list does not start with changed files: %s" % changed[:8])
        expect(changed == sorted(changed, reverse=True), "an unchanged file comes before a changed one")
        shown = b.js("document.documentElement.dataset.file")
        expect(b.js("Number(document.getElementById('file-%s').querySelector('.fc').textContent.split(' ')[0])" % shown) > 0,
               "the page opened on file %s, which did not change" % shown)
        expect(b.js("document.getElementById('changed-only').checked") is True, "\"changed files only\" is off")
        visible = b.js("%s.map(i => !i.hidden)" % items)
        expect(visible == changed, "\"changed files only\" shows %d files, %d changed" % (sum(visible), sum(changed)))
        x, y = b.js("(() => { const r = document.getElementById('changed-only').getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; })()")
        b.click(x, y)
        visible = b.js("%s.map(i => !i.hidden)" % items)
        expect(all(visible), "turned off, the filter still hides %d files" % visible.count(False))

    @scenario("batch: picking a file in the list shows that file; the filter hides the others")
    def _():
        b.open(url)
        b.js(HELPERS)
        files = b.js("document.querySelectorAll('#filelist .fitem').length")
        expect(files > 3, "the batch page lists %s files" % files)
        x, y = b.js("(() => { const r = document.getElementById('file-2').getBoundingClientRect(); return [r.left + 20, r.top + 10]; })()")
        b.click(x, y)
        expect(b.js("document.documentElement.dataset.file") == "2", "clicking the third file showed file %s" % b.js("document.documentElement.dataset.file"))
        want = b.js("Number(document.querySelector('#file-2 .fc').textContent.split(' ')[0])")
        rows = b.js("document.querySelectorAll('#changes .crow[data-change]').length")
        expect(rows == want, "file 2 shows %d change rows, its entry says %d" % (rows, want))
        marks = b.js("__t.views().map(s => new Set(Array.from(s.querySelectorAll('[data-change]')).map(m => m.dataset.change)).size)")
        expect(all(m == want for m in marks), "the views mark %s changes, file 2 has %d" % (marks, want))
        b.key("ArrowDown")
        expect(b.js("document.documentElement.dataset.file") == "3", "ArrowDown in the file list showed file %s" % b.js("document.documentElement.dataset.file"))
        x, y = b.js("(() => { const r = document.getElementById('filter').getBoundingClientRect(); return [r.left + 10, r.top + 5]; })()")
        b.click(x, y)
        b.type_text("batch01")
        shown = b.js("Array.from(document.querySelectorAll('#filelist .fitem')).filter(i => !i.hidden).map(i => i.querySelector('.fn').textContent)")
        expect(shown and all("batch01" in s for s in shown) and len(shown) < files, "the filter shows %s" % shown[:5])


def main(argv):
    if not 1 <= len(argv) <= 2:
        raise SystemExit(__doc__)
    b = Browser()
    passed = failed = 0
    try:
        run_demo(b, Path(argv[0]).resolve().as_uri())
        demo = list(results)
        del results[:]
        for name, fn in demo:
            try:
                fn()
                print("PASS " + name)
                passed += 1
            except Exception as e:  # one scenario's failure must not hide the others
                print("FAIL %s: %s" % (name, e))
                failed += 1
        if len(argv) == 2:
            run_batch(b, Path(argv[1]).resolve().as_uri())
            for name, fn in results:
                try:
                    fn()
                    print("PASS " + name)
                    passed += 1
                except Exception as e:
                    print("FAIL %s: %s" % (name, e))
                    failed += 1
    finally:
        b.close()
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main(sys.argv[1:])
