#!/usr/bin/env python3
"""Write pages that check_page.sh must refuse, each with the message it must give.

    broken_pages.py TEMPLATE DEMO.html DEMO.json OUT_DIR

writes OUT_DIR/bad-NAME.html for each case below and prints one line "NAME<TAB>MESSAGE" per
page. The pages are the demo page with one fault put in.
"""
import json
import os
import sys

CSP_META = '<meta http-equiv="Content-Security-Policy"'
END = "</body>"


def before_end(page, markup):
    assert page.count(END) == 1, "the page must end its body once"
    return page.replace(END, markup + END)


def script(code):
    return "<script>" + code + "</script>"


def cases(template, page, data):
    yield "template", "the placeholder was not replaced", template
    yield ("unescaped", "the page is not ready",
           template.replace("/*WELDRIX_REPORT_DATA*/", json.dumps(data, ensure_ascii=False)))
    no_csp = page.replace(CSP_META, '<meta name="no-csp"')
    yield ("external-image", "the page requested http://example.invalid/pixel.png",
           before_end(no_csp, '<img src="http://example.invalid/pixel.png" alt="">'))
    yield ("external-fetch", "the page requested https://example.invalid/data",
           before_end(no_csp, script('fetch("https://example.invalid/data").catch(function () {});')))
    yield ("external-socket", "the page requested ws://example.invalid/s",
           before_end(no_csp, script('try { new WebSocket("ws://example.invalid/s"); } catch (e) {}')))
    yield ("no-csp", "no Content-Security-Policy meta tag", no_csp)
    yield ("csp-blocked", "ran into its Content-Security-Policy",
           before_end(page, script('var i = new Image(); i.src = "http://example.invalid/p.png"; document.body.appendChild(i);')))
    yield ("missing-mark", "top view: change 1 has 1 vertex rings, 2 moved vertices have numbers",
           before_end(page, script('document.querySelector("[data-view=top] circle.ring[data-change=\\"1\\"]").remove();')))
    yield ("unmarked-removal", "front view: change 6 (line 17) has no mark",
           before_end(page, script('for (const m of document.querySelectorAll("[data-view=front] [data-change=\\"6\\"]")) m.remove();')))
    yield ("markup-from-data", "#changes holds a <img> element",
           before_end(page, script('for (const r of document.querySelectorAll("#changes .reason")) '
                                   'r.innerHTML = r.textContent.replace(/onerror="[^"]*"/, "");')))
    yield ("mirrored-top", "top view: screen y of the rings does not follow the view",
           page.replace("sx: [1, 0, 0], sy: [0, 0, -1]", "sx: [1, 0, 0], sy: [0, 0, 1]"))
    yield ("right-from-behind", "right view: screen x of the rings does not follow the view",
           page.replace("sx: [0, 0, 1], sy: [0, 1, 0]", "sx: [0, 0, -1], sy: [0, 1, 0]"))
    yield ("unfitted", "the drawing does not fit in the view",
           page.replace("if (!anyExt || !(s > 0) || !isFinite(s))", "s *= 3; if (!anyExt || !(s > 0) || !isFinite(s))"))


def main(argv):
    if len(argv) != 4:
        raise SystemExit(__doc__)
    template = open(argv[0], encoding="utf-8").read()
    page = open(argv[1], encoding="utf-8").read()
    data = json.load(open(argv[2], encoding="utf-8"))
    for name, message, text in cases(template, page, data):
        if text == page:
            raise SystemExit("%s: the fault could not be put into the page (has the template changed?)" % name)
        with open(os.path.join(argv[3], "bad-%s.html" % name), "w", encoding="utf-8") as fh:
            fh.write(text)
        print("%s\t%s" % (name, message))


if __name__ == "__main__":
    main(sys.argv[1:])
