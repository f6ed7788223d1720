#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""pellrix-diff's report page in headless Chromium, for one pair of dumps.

usage: check_page.py PELLRIX_DIFF MAIN BACKUP OUT_DIR NAME
       check_page.py --many-ranges PELLRIX_DIFF MAIN OUT_DIR NAME
       check_page.py --many-files PELLRIX_DIFF MAIN BACKUP OUT_DIR NAME

Writes NAME.html (the pair) and NAME-info.html (Main alone) into OUT_DIR,
opens each from disk and checks: no console error and no request; the
embedded document is --json's (with the bytes the page adds); the bytes
view shows the files' bytes around each chosen range (from the range list,
the map and its keys) and a compressed file's decompressed bytes, marks
exactly the bytes that differ, and says so of a range left out under a
small --html-bytes; the table's rows are the JSON's files and
each class filter and the search show exactly theirs; choosing a row (by
mouse and by keyboard) marks the file on both maps at the JSON's offsets;
the hover card over a mark names the file; the summary reads as the text
report's top; zoom stops at one 4 KiB block and a drag zooms; the maps stack
on a narrow screen; a screenshot (NAME.png, kept) is neither blank nor one
colour; variables and summary keys the page does not know by name show.
With --many-ranges: a Backup made from MAIN with more ranges than the page
lists, whose maps must draw exact ranges in a narrow view and shade spans
by their share of differing bytes in a wide one; then a pair of noise with
more ranges than the page embeds exactly, whose later spans stay shaded.
With --many-files: a pair of thousands of changed files, whose table holds
only the rows near its view while search, filter and keys reach all, is
never blank while rows match, is one Tab stop, and prints a bounded number
of rows with a note of the rest.
Every page is also checked at 400 px: no table wider than its box, every
card's line labelled.
Prints each failure and exits 1 when there is any.
"""
import base64
import io
import json
import os
import random
import shutil
import subprocess
import sys

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from devtools import Browser  # noqa: E402
from page_data import document_of  # noqa: E402

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)
    return condition


dumps_folder = None


def run(arguments):
    """Run in the dumps' folder, so that the page names them as a user would."""
    return subprocess.run(arguments, capture_output=True, text=True, cwd=dumps_folder)


def embedded(browser, page_bytes=False):
    """The page's document, expanded here from its compact form, without
    the page's own bytes (returned apart when asked for)."""
    document = document_of(json.loads(browser.evaluate("document.getElementById('report-data').textContent")))
    bytes_part = document.pop("page_bytes", None)
    return (document, bytes_part) if page_bytes else document


NEXT_FRAME = "new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)))"
ROWS = "Array.from(document.querySelectorAll('#file-table tbody tr[data-guid]'))"


def page_document(browser):
    """The document as the page read it back, without the page's own bytes."""
    document = json.loads(browser.evaluate("JSON.stringify(window.pellrixReport)"))
    document.pop("page_bytes", None)
    return document


NARROW = """(() => {
  const wide = [];
  for (const table of document.querySelectorAll('table')) {
    if (table.closest('[hidden]')) continue;
    const box = table.closest('.scroll') || table.parentElement;
    const width = table.getBoundingClientRect().width;
    if (width > box.clientWidth + 1) wide.push((table.id || 'table') + ' ' + Math.round(width) + ' in ' + box.clientWidth);
  }
  const broken = [];
  const measure = document.createElement('canvas').getContext('2d');
  for (const cell of document.querySelectorAll('#dump-table td')) {
    const style = getComputedStyle(cell);
    measure.font = style.font;
    // A word narrower than the table's box has room for a line of its own.
    const room = (cell.closest('.scroll') || document.documentElement).clientWidth - parseFloat(style.paddingLeft) -
      parseFloat(style.paddingRight);
    const text = cell.firstChild;
    if (!text || text.nodeType !== Node.TEXT_NODE) continue;
    for (const match of text.data.matchAll(/\\S+/g)) {
      if (measure.measureText(match[0]).width > room) continue;  // longer than a line: it must wrap
      const range = document.createRange();
      range.setStart(text, match.index);
      range.setEnd(text, match.index + match[0].length);
      const lines = new Set(Array.from(range.getClientRects(), (r) => Math.round(r.top)));
      if (lines.size > 1) broken.push(match[0]);
    }
  }
  // Cards: each cell says what it is (which line is Main, which Backup).
  const unlabelled = new Set();
  for (const cell of document.querySelectorAll('.scroll td')) {
    if (cell.closest('[hidden]') || cell.closest('tr.spacer')) continue;
    if (getComputedStyle(cell, '::before').content === 'none') unlabelled.add(cell.closest('table').id || 'table');
  }
  return {wide, broken, unlabelled: Array.from(unlabelled), page: document.documentElement.scrollWidth,
          window: document.documentElement.clientWidth};
})()"""


def check_narrow(browser, name):
    """Catches tables squeezed on a phone: at 400 px no table is wider than
    its box, the page no wider than the screen, no word of the dumps
    table that fits its box is broken across lines, and every card's line
    has its label."""
    browser.call("Emulation.setDeviceMetricsOverride", width=400, height=900, deviceScaleFactor=1, mobile=False)
    browser.evaluate(NEXT_FRAME)
    found = browser.evaluate(NARROW)
    browser.call("Emulation.clearDeviceMetricsOverride")
    browser.evaluate(NEXT_FRAME)
    check(not found["wide"], f"{name}: at 400 px tables wider than their box: {found['wide']}")
    check(found["page"] <= found["window"] + 1, f"{name}: at 400 px the page is {found['page']} px wide")
    check(not found["broken"], f"{name}: at 400 px words broken in the dumps table: {found['broken'][:6]}")
    check(not found["unlabelled"], f"{name}: at 400 px cards without labels in {found['unlabelled']}")


ROW_KEYS = "r => [r.dataset.guid, Number(r.dataset.index), r.dataset.path, r.dataset.change]"


def table_rows(browser):
    """Every row the filter and search show, gathered by scrolling the
    table's box from top to bottom (it holds only the rows near its view)."""
    return browser.evaluate(f"""(async () => {{
        const box = document.querySelector('#file-table').closest('.scroll');
        const frame = () => new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)));
        const seen = new Map();
        box.scrollTop = 0;
        for (let n = 0; n < 10000; ++n) {{
          await frame();
          for (const r of {ROWS}) seen.set(Number(r.dataset.row), ({ROW_KEYS})(r));
          if (box.scrollTop + box.clientHeight >= box.scrollHeight - 1) break;
          // The last row built to the top of the box: the next rows built
          // overlap these (24 are built above the view).
          const built = {ROWS};
          if (!built.length) break;
          box.scrollTop += Math.max(1, built[built.length - 1].getBoundingClientRect().top - box.getBoundingClientRect().top);
        }}
        box.scrollTop = 0;
        await frame();
        return Array.from(seen.values()); }})()""")


def printed_rows(browser):
    """The file table's rows and its note in a printout."""
    browser.call("Emulation.setEmulatedMedia", media="print")
    browser.evaluate(NEXT_FRAME)  # the change of medium reaches the page's listener
    rows = browser.evaluate(f"{ROWS}.map({ROW_KEYS})")
    note = browser.evaluate("document.getElementById('file-print-note').textContent")
    browser.call("Emulation.setEmulatedMedia", media="")
    browser.evaluate(NEXT_FRAME)
    return rows, note


def reveal_row(browser, index):
    """Scrolls the file table until the row of files[index] is in the
    document (all rows shown); returns an expression for it."""
    found = browser.evaluate(f"""(async () => {{
        const box = document.querySelector('#file-table').closest('.scroll');
        const frame = () => new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)));
        let seen = 0;  // present over two frames: the table settles after a scroll
        for (let n = 0; n < 30; ++n) {{
          if (box.querySelector('tr[data-row="{index}"]')) {{
            if (++seen === 2) return true;
            await frame();
            continue;
          }}
          seen = 0;
          const rows = Array.from(box.querySelectorAll('tr[data-row]'));
          const first = rows[0], last = rows[rows.length - 1];
          const height = (last.getBoundingClientRect().bottom - first.getBoundingClientRect().top) / rows.length;
          const middle = (Number(first.dataset.row) + Number(last.dataset.row)) / 2;
          box.scrollTop += ({index} - middle) * height;
          await frame();
        }}
        return false; }})()""")
    check(found, f"row {index} never came into the table")
    return f"document.querySelector('#file-table tbody tr[data-row=\"{index}\"]')"


def row_key(file, kind):
    return [file["guid"], file["index"], "/".join(file["path"]), kind]


def holder_of(file, layout_files):
    """The innermost file with a flash offset that holds a file in compressed bytes."""
    path = file["path"]
    for depth in range(len(path) - 1, -1, -1):
        for candidate in layout_files:
            if candidate["guid"] == path[depth] and candidate["path"] == path[:depth]:
                return candidate
    return None


def click(browser, selector_expression):
    box = browser.evaluate(f"""(() => {{ const e = {selector_expression}; e.scrollIntoView({{block: 'center'}});
        const r = e.getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; }})()""")
    for kind in ("mousePressed", "mouseReleased"):
        browser.call("Input.dispatchMouseEvent", type=kind, x=box[0], y=box[1], button="left", clickCount=1)


def press_enter(browser, selector_expression):
    browser.evaluate(f"({selector_expression}).focus()")
    browser.call("Input.dispatchKeyEvent", type="keyDown", key="Enter", code="Enter", windowsVirtualKeyCode=13, text="\r")
    browser.call("Input.dispatchKeyEvent", type="keyUp", key="Enter", code="Enter", windowsVirtualKeyCode=13)


def check_marks(browser, report, file, label):
    """Both maps mark the file where the JSON puts it, and hovering a mark names it."""
    for side in ("main", "backup"):
        place = file[side]
        dump = report["dumps"][0 if side == "main" else 1]
        mark = browser.evaluate(f"""(() => {{
            const frame = document.querySelector('.map-frame[data-chip={side}]');
            const mark = frame.querySelector('.mark');
            if (!mark) return null;
            return {{offset: Number(mark.dataset.flashOffset), size: Number(mark.dataset.size), left: mark.offsetLeft,
              width: mark.offsetWidth, start: Number(frame.dataset.viewStart), end: Number(frame.dataset.viewEnd),
              plotLeft: Number(frame.dataset.plotLeft), plotWidth: frame.querySelector('canvas').clientWidth}}; }})()""")
        if place is None:
            check(mark is None, f"{label}: {side} map marks a file it does not hold")
            continue
        shown = file if place["flash_offset"] is not None else None
        offset, size = place["flash_offset"], place["size"]
        if shown is None:
            holder = holder_of(file, dump["layout"]["files"])
            if not check(holder is not None, f"{label}: no holder with a flash offset on {side}"):
                continue
            shown, offset, size = holder, holder["flash_offset"], holder["size"]
        if not check(mark is not None, f"{label}: {side} map has no mark"):
            continue
        check(mark["offset"] == offset and mark["size"] == size,
              f"{label}: {side} mark at {mark['offset']:#x}+{mark['size']:#x}, JSON says {offset:#x}+{size:#x}")
        expected_x = mark["plotLeft"] + (offset - mark["start"]) / (mark["end"] - mark["start"]) * (
            mark["plotWidth"] - mark["plotLeft"])
        check(abs(mark["left"] + 2 - max(expected_x, mark["plotLeft"])) <= 1.5,
              f"{label}: {side} mark drawn at x {mark['left'] + 2}, offset {offset:#x} is at x {expected_x:.1f}")
        # The hover card over the mark names the file drawn there.
        centre = browser.evaluate(f"""(() => {{ const m = document.querySelector('.map-frame[data-chip={side}] .mark');
            m.scrollIntoView({{block: 'center'}}); const r = m.getBoundingClientRect();
            return [r.left + r.width / 2, r.top + r.height / 2]; }})()""")
        browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=centre[0], y=centre[1])
        text = browser.evaluate("(() => { const c = document.getElementById('hover-card'); return c.hidden ? '' : c.textContent; })()")
        name = shown["name"] or shown["guid"]
        check(name in text and shown["guid"] in text, f"{label}: hover card over the {side} mark reads {text!r}, not {name}")


def check_comparison(browser, tool, main, backup, folder, name):
    page = os.path.join(folder, name + ".html")
    as_json = run([tool, "--json", main, backup])
    plain = run([tool, main, backup])
    drawn = run([tool, "--html", page, main, backup])
    check(drawn.returncode == plain.returncode and drawn.stdout == plain.stdout and drawn.stderr == "",
          f"--html changed the text report or status ({drawn.returncode}, {drawn.stderr!r})")
    report = json.loads(as_json.stdout)
    url = browser.open(page)
    check(embedded(browser) == report, "the embedded document is not --json's")
    # Catches the page's own reader of its compact document going wrong.
    check(page_document(browser) == report, "the document the page read back is not --json's")
    check_narrow(browser, name)

    # Catches a long name widening the page and squeezing the maps: with the
    # longest name's row chosen, the page is no wider than the window and
    # both maps keep half of it.
    browser.evaluate("(() => { const rows = Array.from(document.querySelectorAll('#file-table tbody tr'));"
                     " const longest = rows.sort((a, b) => b.textContent.length - a.textContent.length)[0];"
                     " if (longest) longest.click(); })()")
    widths = browser.evaluate("[document.documentElement.scrollWidth, document.documentElement.clientWidth,"
                              " ...Array.from(document.querySelectorAll('.map')).map(m => Math.round(m.getBoundingClientRect().width))]")
    check(widths[0] <= widths[1] + 1, f"page {widths[0]} px wide in a {widths[1]} px window")
    check(len(set(widths[2:])) == 1, f"maps of widths {widths[2:]}")
    # Catches a scroll box keyboard users cannot reach.
    unreachable = browser.evaluate("Array.from(document.querySelectorAll('.scroll')).filter(s => s.tabIndex < 0).length")
    check(unreachable == 0, f"{unreachable} scroll boxes cannot take the focus")
    # Catches a printout cut to the rows that fit the scroll box.
    browser.call("Emulation.setEmulatedMedia", media="print")
    browser.evaluate(NEXT_FRAME)
    clipped = browser.evaluate("Array.from(document.querySelectorAll('.scroll')).filter(s => !s.closest('[hidden]')"
                               " && s.scrollHeight > s.clientHeight + 1).length")
    browser.call("Emulation.setEmulatedMedia", media="")
    check(clipped == 0, f"{clipped} tables cut short in print")

    # Catches the masked card reading "undefined": the card over each
    # chip's first masked area names its kind.
    browser.evaluate("document.querySelector('[data-action=all]').click()")
    for index, side in enumerate(("main", "backup")):
        masked = report["dumps"][index]["masked"]
        if not masked:
            continue
        area = masked[0]
        point = browser.evaluate(f"""(() => {{
            const frame = document.querySelector('.map-frame[data-chip={side}]');
            const c = frame.querySelector('canvas'); c.scrollIntoView({{block: 'center'}});
            const box = c.getBoundingClientRect();
            const start = Number(frame.dataset.viewStart), end = Number(frame.dataset.viewEnd);
            const rows = Math.round((c.clientHeight - 22) / 26);
            const x = 64 + ({area["flash_offset"] + area["length"] / 2} - start) / (end - start) * (c.clientWidth - 64);
            return [box.left + x, box.top + 22 + (rows - 2) * 26 + 13]; }})()""")
        browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=point[0], y=point[1])
        text = browser.evaluate("(() => { const c = document.getElementById('hover-card'); return c.hidden ? '' : c.textContent; })()")
        check(("Masked: " + area["what"]) in text and "undefined" not in text,
              f"{name}: hover card over {side}'s masked {area['what']} reads {text!r}")

    # Catches details only a pointer can reach: n on a focused map writes
    # the first item in view below the maps, p steps back to the last.
    browser.evaluate("document.querySelector('[data-action=all]').click(); document.querySelector('.map canvas').focus()")
    texts = []
    for key in ("n", "p"):
        browser.call("Input.dispatchKeyEvent", type="keyDown", key=key, code="Key" + key.upper(), text=key)
        browser.call("Input.dispatchKeyEvent", type="keyUp", key=key, code="Key" + key.upper())
        texts.append(browser.evaluate("document.getElementById('selection').textContent"))
    check("item: 1 of " in texts[0] and "undefined" not in texts[0], f"{name}: n on the map shows {texts[0][:160]!r}")
    check(" of " in texts[1] and "item: 1 of " not in texts[1], f"{name}: p from the first item shows {texts[1][:160]!r}")
    # Catches the differences stepped to after every region, volume and
    # file, and a masked area listed twice: n through all items in view
    # meets the differing ranges first and each masked area once per chip.
    total = int(texts[1].split(" of ")[-1].split()[0])
    items = []
    if total <= 400:
        items = browser.evaluate(f"""(() => {{ const titles = [];
            for (let n = 0; n < {total}; ++n) {{
              document.activeElement.dispatchEvent(new KeyboardEvent('keydown', {{key: 'n', bubbles: true}}));
              const s = document.getElementById('selection');
              titles.push([s.querySelector('.card-title').textContent, s.textContent]); }}
            return titles; }})()""")
    differs = [i for i, (title, _) in enumerate(items) if "differing range" in title]
    check(total > 400 or (differs == list(range(len(differs))) and (len(differs) > 0) == bool(report["differences"])),
          f"{name}: n reaches the differences at items {differs[:8]} of {len(items)}")
    masked = [text.split("offset: ")[1].split(",")[0] for title, text in items if title.startswith("Masked: ")]
    check(len(masked) == len(set(masked)), f"{name}: a masked area listed twice on the map: {sorted(masked)}")

    # Catches raw JSON in the variables table and a heading over an empty
    # one: one readable row per variable, or no section.
    cells = browser.evaluate("document.getElementById('variables-section').hidden ? null :"
                             " Array.from(document.querySelectorAll('#variable-table tbody tr'), r => r.textContent)")
    if report.get("variables"):
        check(cells is not None and len(cells) == len(report["variables"]), f"{name}: variable rows {cells!r}")
        for cell in cells or []:
            check('{"' not in cell and "[object" not in cell, f"{name}: raw JSON in a variable row: {cell[:120]!r}")
        for variable in report["variables"]:
            for entry in variable.get("added", []):
                check(any(entry["sha256"] in cell for cell in cells or []), f"{name}: added entry {entry['sha256']} not shown")
            # Catches a re-signed variable whose row does not say what changed.
            for field in variable.get("header_changes", []):
                words = f"{field['field']} {field['main']} -> {field['backup']}"
                check(any(words in cell for cell in cells or []), f"{name}: {variable['name']}'s {words!r} not shown")
    else:
        check(cells is None, f"{name}: a variables heading over no variables")

    # The verdict and summary read as the text report's top lines.
    top = [line.strip() for line in plain.stdout.split("\n\n")[0].splitlines()]
    shown = browser.evaluate("[document.getElementById('verdict').textContent]"
                             ".concat(Array.from(document.querySelectorAll('#summary li'), li => li.textContent))")
    known = ("On-board verdict", "not checked in a dump", "Differences after masking", "Files:", "Variables:", "Warning:")
    for line in shown:
        if line.startswith(known):
            check(line in top, f"summary line {line!r} is not the text report's")
    check(len([line for line in shown if line.startswith(known)]) >= 4, f"summary lines missing: {shown}")
    # Catches the causes card dropping, reordering or rewording a cause.
    causes = browser.evaluate("Array.from(document.querySelectorAll('#causes li'), li => li.textContent)")
    check(causes == [line[len("cause: "):] for line in top if line.startswith("cause: ")],
          f"{name}: the causes card {causes} is not the text report's cause lines")

    expected = [row_key(f, f["change"]) for f in report["files"]]
    check(table_rows(browser) == expected, "the table's rows are not the JSON's files")
    for kind in ("changed", "moved", "only in Main", "only in Backup", "all"):
        browser.evaluate(f"document.querySelector('#file-filter input[value=\"{kind}\"]').click()")
        want = [row for row in expected if kind == "all" or row[3] == kind]
        check(table_rows(browser) == want, f"filter {kind!r} does not show exactly its files")
    named = [f for f in report["files"] if f["name"]]
    if named:
        word = named[-1]["name"]
        browser.evaluate(f"""(() => {{ const s = document.getElementById('file-search'); s.value = {json.dumps(word)};
            s.dispatchEvent(new Event('input')); }})()""")
        want = [row_key(f, f["change"]) for f in report["files"]
                if word.lower() in ((f["name"] or "") + " " + f["guid"]).lower()]
        check(table_rows(browser) == want, f"search {word!r} does not show exactly the matching files")
        browser.evaluate("(() => { const s = document.getElementById('file-search'); s.value = '';"
                         " s.dispatchEvent(new Event('input')); })()")

    # One file of each class, and one inside compressed bytes: chosen by
    # mouse, the second of them by keyboard.
    picks = {}
    for index, file in enumerate(report["files"]):
        picks.setdefault(file["change"], index)
        if file["compressed"]:
            picks.setdefault("compressed", index)
    for turn, index in enumerate(sorted(set(picks.values()))):
        row = reveal_row(browser, index)
        (press_enter if turn == 1 else click)(browser, row)
        label = f"{name} file {report['files'][index]['name'] or report['files'][index]['guid']}"
        check(browser.evaluate(f"({row}).getAttribute('aria-selected')") == "true", f"{label}: row not selected")
        check_marks(browser, report, report["files"][index], label)

    # Zooming stops at one 4 KiB block; a drag across the map zooms to the
    # span dragged over.
    view = "(() => { const f = document.querySelector('.map-frame'); return [Number(f.dataset.viewStart), Number(f.dataset.viewEnd)]; })()"
    browser.evaluate("document.querySelector('[data-action=all]').click(); document.querySelector('.map canvas').focus()")
    for _ in range(40):
        browser.call("Input.dispatchKeyEvent", type="keyDown", key="+", text="+")
        browser.call("Input.dispatchKeyEvent", type="keyUp", key="+")
    start, end = browser.evaluate(view)
    check(end - start == 4096, f"the closest zoom shows {end - start} bytes, not one 4 KiB block")
    browser.evaluate("document.querySelector('[data-action=all]').click()")
    box = browser.evaluate("""(() => { const c = document.querySelector('.map canvas'); c.scrollIntoView({block: 'center'});
        const r = c.getBoundingClientRect(); return [r.left, r.top + r.height / 2, r.width]; })()""")
    plot_left = browser.evaluate("Number(document.querySelector('.map-frame').dataset.plotLeft)")
    x0, x1 = box[0] + plot_left + 0.25 * (box[2] - plot_left), box[0] + plot_left + 0.5 * (box[2] - plot_left)
    browser.call("Input.dispatchMouseEvent", type="mousePressed", x=x0, y=box[1], button="left", clickCount=1)
    browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=x1, y=box[1], button="left")
    browser.call("Input.dispatchMouseEvent", type="mouseReleased", x=x1, y=box[1], button="left", clickCount=1)
    start, end = browser.evaluate(view)
    flash = report["geometry"]["flash_size"]
    check(abs(start - flash / 4) <= flash / 200 and abs(end - flash / 2) <= flash / 200,
          f"a drag over the second quarter of the map shows {start:#x}-{end:#x}")

    # Narrow screens stack the maps; wide ones put them side by side.
    lefts = "Array.from(document.querySelectorAll('.map')).map(m => Math.round(m.getBoundingClientRect().left))"
    side_by_side = browser.evaluate(lefts)
    browser.call("Emulation.setDeviceMetricsOverride", width=600, height=1000, deviceScaleFactor=1, mobile=False)
    stacked = browser.evaluate(lefts)
    browser.call("Emulation.clearDeviceMetricsOverride")
    check(len(set(side_by_side)) == 2 and len(set(stacked)) == 1, f"maps at {side_by_side} wide, {stacked} narrow")

    browser.evaluate("document.querySelector('[data-action=all]').click(); document.activeElement.blur(); window.scrollTo(0, 0)")
    shot = base64.b64decode(browser.call("Page.captureScreenshot", format="png")["data"])
    with open(os.path.join(folder, name + ".png"), "wb") as out:
        out.write(shot)
    image = Image.open(io.BytesIO(shot)).convert("RGB")
    colours = image.getcolors(maxcolors=1 << 20) or []
    commonest = max(count for count, _ in colours) if colours else 0
    check(len(colours) > 16 and commonest < 0.97 * image.width * image.height,
          f"screenshot nearly one colour: {len(colours)} colours, commonest {commonest} pixels")
    for problem in browser.problems(url):
        check(False, f"{name}: {problem}")
    check_bytes(browser, tool, main, backup, report, page, folder, name)
    check_later_keys(browser, page, report, folder, name)


def check_later_keys(browser, page, report, folder, name):
    """Variables and summary lines the page does not know by name still show."""
    extended = dict(report, variables=[{"name": "Boot0001", "change": "changed"}, {"name": "Lang", "change": "only in Main"}])
    extended["summary"] = dict(report["summary"], area_lines=["ME region: 3 ranges, 12 bytes"])
    text = open(page, encoding="utf-8").read()
    opening = '<script type="application/json" id="report-data">'
    begin = text.index(opening) + len(opening)
    end = text.index("</script>", begin)
    copy = os.path.join(folder, name + "-later-keys.html")
    with open(copy, "w", encoding="utf-8") as out:
        out.write(text[:begin] + json.dumps(extended).replace("<", "\\u003c") + text[end:])
    browser.events.clear()
    url = browser.open(copy)
    rows = browser.evaluate("document.getElementById('variables-section').hidden ? -1 :"
                            " document.querySelectorAll('#variable-table tbody tr').length")
    check(rows == 2, f"{name}: the variables section shows {rows} rows for 2 variables")
    lines = browser.evaluate("Array.from(document.querySelectorAll('#summary li'), li => li.textContent)")
    check("ME region: 3 ranges, 12 bytes" in lines, f"{name}: a summary line of an unknown key is not shown: {lines}")
    for problem in browser.problems(url):
        check(False, f"{name}-later-keys: {problem}")


def check_info(browser, tool, main, folder, name):
    page = os.path.join(folder, name + "-info.html")
    as_json = json.loads(run([tool, "--info", "--json", main]).stdout)
    check(run([tool, "--info", "--html", page, main]).returncode == 0, "--info --html failed")
    browser.events.clear()
    url = browser.open(page)
    check(embedded(browser) == as_json, "the one-dump page's document is not --info --json's")
    rows = [row[:3] for row in table_rows(browser)]
    check(rows == [row_key(f, "")[:3] for f in as_json["files"]], "the one-dump table's rows are not the JSON's files")
    for problem in browser.problems(url):
        check(False, f"{name}-info: {problem}")


# ---- the bytes view

def read_dump(name):
    return open(os.path.join(dumps_folder or "", name), "rb").read()


def bytes_shown(browser):
    """The view's caption and lines: offset, then each chip's 16 bytes as
    (value or None where blank, marked)."""
    caption, lines = browser.evaluate("""[document.getElementById('bytes-caption').textContent,
        Array.from(document.querySelectorAll('#bytes-view tbody tr'), (row) => [Number(row.dataset.offset),
          Array.from(row.querySelectorAll('td'), (cell) => Array.from(cell.childNodes,
            (node) => [node.textContent, node.nodeName === 'MARK']))])]""")
    shown = []
    for offset, cells in lines:
        sides = []
        for nodes in cells:
            text, marks = "".join(t for t, _ in nodes), "".join(("m" if m else " ") * len(t) for t, m in nodes)
            sides.append([(None if text[3 * i] == " " else int(text[3 * i:3 * i + 2], 16), marks[3 * i] == "m")
                          for i in range(16)])
        shown.append((offset, sides))
    return caption, shown


def check_shown(shown, main, backup, label):
    """Lines 16 bytes apart, each byte the file's at its offset (`main`,
    `backup`: offset to byte or None), marked exactly where the two differ."""
    wrong = [hex(offset + i) for offset, (m, b) in shown for i in range(16)
             if (m[i][0], b[i][0]) != (main(offset + i), backup(offset + i))
             or m[i][1] != b[i][1] or m[i][1] != (main(offset + i) != backup(offset + i))]
    offsets = [offset for offset, _ in shown]
    check(offsets and not wrong and offsets == list(range(offsets[0], offsets[0] + 16 * len(offsets), 16)),
          f"{label}: {len(shown)} lines, wrong bytes or marks at {wrong[:4]}")


def check_bytes(browser, tool, main, backup, report, page, folder, name):
    browser.events.clear()
    url = browser.open(page)
    readers = []
    for data in (read_dump(main), read_dump(backup)):
        start = max(0, report["geometry"]["flash_size"] - len(data))  # a shorter dump lies at the part's top
        readers.append(lambda at, d=data, s=start: d[at - s] if 0 <= at - s < len(d) else None)
    ranges = [(r["flash_offset"], r["length"]) for r in report["differences"] + (report["below_bios_region"] or [])]
    row = "document.querySelector('#range-table tr[data-start=\"{}\"]')"
    # Catches bytes that are not the files' at the offsets shown, marks on
    # equal bytes or none on differing ones: each range chosen in the list
    # (the second by keyboard) shows the files' bytes around it.
    for index, (start, length) in enumerate(ranges[:16]):
        (press_enter if index == 1 else click)(browser, row.format(start))
        caption, shown = bytes_shown(browser)
        check(f"range at flash {start:#x}" in caption and shown and shown[0][0] <= start < shown[-1][0] + 16,
              f"{name} range {start:#x}: {caption!r}")
        check_shown(shown, *readers, f"{name} range {start:#x}")
    if ranges:
        check_narrow(browser, name + " bytes view")
    # Catches a map that does not reach the view: a click on the last range,
    # then n up to the first and Enter on the focused map.
    canvas = "document.querySelector('.map-frame[data-chip=main] canvas')"
    for start, length in ranges[-1:] + ranges[:1]:
        browser.evaluate("document.querySelector('[data-action=all]').click()")
        for _ in range(4):
            drag_to(browser, "main", start - 1024, start + length + 1024)
        if (start, length) == ranges[-1]:
            line = differs_row(browser, "main")
            scale = (line["width"] - 64) / (line["end"] - line["start"])
            x = line["left"] + 64 + (start + length / 2 - line["start"]) * scale
            for kind in ("mousePressed", "mouseReleased"):
                browser.call("Input.dispatchMouseEvent", type=kind, x=x, y=line["top"], button="left", clickCount=1)
        else:
            browser.evaluate(canvas + ".focus()")
            for _ in range(60):
                browser.call("Input.dispatchKeyEvent", type="keyDown", key="n", code="KeyN", text="n")
                if f"offset: {start:#x} to" in browser.evaluate("document.getElementById('selection').textContent"):
                    break
            press_enter(browser, canvas)
        check(f"range at flash {start:#x}" in bytes_shown(browser)[0], f"{name}: {start:#x} chosen on the map")
    # Catches a compressed file shown by its compressed bytes: the packed
    # driver's view is its file as built (written beside the pair).
    packed = [i for i, f in enumerate(report["files"]) if f["name"] == "PackedDriver" and f["compressed"]]
    if os.path.exists(os.path.join(dumps_folder or "", "PACKED-MAIN.BIN")):
        check(len(packed) == 1, f"{name}: the packed driver is not a file inside compressed bytes")
        click(browser, f"document.querySelectorAll('#file-table tbody tr')[{packed[0]}]")
        caption, shown = bytes_shown(browser)
        built = [read_dump("PACKED-MAIN.BIN"), read_dump("PACKED-BACKUP.BIN")]
        check("Decompressed bytes of PackedDriver" in caption, f"{name}: the packed driver's view reads {caption!r}")
        check_shown(shown, *[lambda at, d=d: d[at] if 0 <= at < len(d) else None for d in built], f"{name} packed driver")
    # Catches a compressed file on one chip only said to have no differing
    # range: the page says where it is and shows its bytes as built.
    alone = [i for i, f in enumerate(report["files"]) if f["name"] == "PackedOnlyInMain"]
    if os.path.exists(os.path.join(dumps_folder or "", "PACKED-ONLY-MAIN.BIN")):
        built = read_dump("PACKED-ONLY-MAIN.BIN")
        check(len(alone) == 1 and report["files"][alone[0]]["change"] == "only in Main",
              f"{name}: the driver only Main holds is not one file only in Main")
        click(browser, reveal_row(browser, alone[0]))
        caption, shown = bytes_shown(browser)
        check("PackedOnlyInMain is on Main only, inside compressed bytes" in caption, f"{name}: its view reads {caption!r}")
        check_shown(shown, lambda at: built[at] if 0 <= at < len(built) else None, lambda at: None,
                    f"{name} driver only in Main")
    for problem in browser.problems(url):
        check(False, f"{name}-bytes: {problem}")

    # Catches a bound overrun, bytes taken out of the list's order, and a
    # left-out range that shows nothing or stale bytes.
    bound = os.path.join(folder, name + "-bytes-bound.html")
    check(run([tool, "--html-bytes=200", "--html", bound, main, backup]).stderr == "", "--html-bytes failed")
    browser.events.clear()
    url = browser.open(bound)
    document, page_bytes = embedded(browser, page_bytes=True)
    taken = [tuple(r[:2]) for r in page_bytes["ranges"]]
    used = sum(len(base64.b64decode(r[i])) for r in page_bytes["ranges"] for i in (3, 5))
    check(document == report and used == page_bytes["embedded"] <= 200 and taken == ranges[:len(taken)]
          and page_bytes["ranges_left_out"] == len(ranges) - len(taken),
          f"{name}: {used} bytes embedded for {taken}, not at most 200 for the first of {ranges[:4]}")
    if len(taken) < len(ranges):
        click(browser, row.format(ranges[-1][0]))
        caption, shown = bytes_shown(browser)
        check("left out" in caption and f"{ranges[-1][0]:#x}" in caption and not shown, f"{name}: left out: {caption!r}")
    for problem in browser.problems(url):
        check(False, f"{name}-bytes-bound: {problem}")


# ---- more ranges than the page lists: spans, shaded or drawn exact

def many_range_backup(main_path, backup_path):
    """Main with bytes changed in the erased end of its BIOS region: three
    4 KiB spans of single bytes 64 apart (1.6% differ), then three of 4-byte
    runs 32 apart (12.5% differ): 576 ranges, more than the page lists;
    and three single bytes in MovedDriver's image, ranges in a named file."""
    data = bytearray(open(main_path, "rb").read())
    named = data.index("MovedDriver".encode("utf-16-le"))
    for at in (named - 200, named - 136, named - 72):
        data[at] ^= 0x5A
    sparse, dense = len(data) - 0x8000, len(data) - 0x5000
    for at in range(sparse, dense, 64):
        data[at] ^= 0x5A
    for at in range(dense, len(data) - 0x2000, 32):
        data[at:at + 4] = bytes(b ^ 0xA5 for b in data[at:at + 4])
    open(backup_path, "wb").write(bytes(data))


def differs_row(browser, side):
    """The differs row of a map: view, plot geometry and one line of pixels
    (red, green, green of the ground just above the bar) 5 pixels below the
    row's bar top, clear of the bar's lines."""
    return browser.evaluate(f"""(() => {{
        const frame = document.querySelector('.map-frame[data-chip={side}]');
        const c = frame.querySelector('canvas'); c.scrollIntoView({{block: 'center'}});
        const ratio = c.width / c.clientWidth;
        const rows = Math.round((c.clientHeight - 22) / 26);
        const y = 22 + (rows - 1) * 26 + 3 + 5;
        const line = c.getContext('2d').getImageData(0, Math.round(y * ratio), c.width, 1).data;
        const ground = c.getContext('2d').getImageData(0, Math.round((y - 6) * ratio), c.width, 1).data;
        const pixels = [];
        for (let x = 0; x < c.clientWidth; ++x) {{
          const at = Math.floor((x + 0.5) * ratio) * 4;
          pixels.push([line[at], line[at + 1], ground[at + 1]]);
        }}
        const box = c.getBoundingClientRect();
        return {{start: Number(frame.dataset.viewStart), end: Number(frame.dataset.viewEnd), width: c.clientWidth,
                 left: box.left, top: box.top + y, pixels}}; }})()""")


def byte_span(row, x):
    """The flash bytes pixel x of the plot stands for."""
    scale = (row["end"] - row["start"]) / (row["width"] - 64)
    return row["start"] + (x - 64) * scale, row["start"] + (x + 1 - 64) * scale


def drag_to(browser, side, start, end):
    row = differs_row(browser, side)
    scale = (row["width"] - 64) / (row["end"] - row["start"])
    x0 = row["left"] + 64 + (start - row["start"]) * scale
    x1 = row["left"] + 64 + (end - row["start"]) * scale
    browser.call("Input.dispatchMouseEvent", type="mousePressed", x=x0, y=row["top"], button="left", clickCount=1)
    browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=(x0 + x1) / 2, y=row["top"], button="left")
    browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=x1, y=row["top"], button="left")
    browser.call("Input.dispatchMouseEvent", type="mouseReleased", x=x1, y=row["top"], button="left", clickCount=1)


def file_label(file):
    return file["name"] if file["name"] else "(no name) " + file["guid"]


def where_text(r):
    """A range's place as the range list words it."""
    return (r["kind"] or "") + (" " + r["region"] if r.get("region") else "") + (": " + file_label(r["file"]) if r.get("file") else "")


def check_many_ranges(browser, tool, main, folder, name):
    global dumps_folder
    pair = os.path.join(folder, name)
    os.makedirs(pair, exist_ok=True)
    shutil.copyfile(main, os.path.join(pair, "MAIN.BIN"))
    many_range_backup(main, os.path.join(pair, "BACKUP.BIN"))
    dumps_folder = pair
    page = os.path.join(folder, name + ".html")
    report = json.loads(run([tool, "--json", "MAIN.BIN", "BACKUP.BIN"]).stdout)
    drawn = run([tool, "--html", page, "MAIN.BIN", "BACKUP.BIN"])
    check(os.path.exists(page) and drawn.stderr == "", f"--html failed: {drawn.stderr!r}")
    # Catches page-only data leaking into --json: it lists every range.
    check(isinstance(report["differences"], list) and len(report["differences"]) > 512 and "differences_spans" not in report,
          f"{name}: --json does not list its {len(report['differences'])} ranges alone")
    # Each range with its place (kind, volume, files) from the document's table.
    ranges = [dict(report["places"][r["place"]], **r) for r in report["differences"]]
    browser.events.clear()
    url = browser.open(page)
    document = embedded(browser)
    spans = document.get("differences_spans", {})
    # Catches the page's document drifting from --json beyond the spans, and
    # exact ranges that are not --json's.
    rest = {k: v for k, v in document.items() if k != "differences_spans"}
    check(rest == {k: v for k, v in report.items() if k != "differences"}, f"{name}: the page's document is not --json's")
    flat = [n for r in ranges for n in (r["flash_offset"], r["length"], r["differing_bytes"])]
    check(spans.get("exact_ranges") == flat and spans.get("exact_spans") == len(spans.get("spans", [])),
          f"{name}: the page's exact ranges are not --json's")

    # Catches span blocks drawn solid in a narrow view: zoomed to the first
    # changed span, a pixel is red only over a range of --json, and every
    # range there shows red.
    span_size = spans.get("span_size", 4096)
    first = min(r["flash_offset"] for r in ranges if r["flash_offset"] >= len(open(main, "rb").read()) - 0x8000)
    browser.evaluate("document.querySelector('[data-action=all]').click()")
    drag_to(browser, "main", first, first + span_size)
    row = differs_row(browser, "main")
    check(row["end"] - row["start"] <= 2 * span_size, f"{name}: the drag zoomed to {row['end'] - row['start']} bytes")
    ends = [(r["flash_offset"], r["flash_offset"] + r["length"]) for r in ranges]
    stray, red_ranges = [], set()
    for x in range(64, row["width"]):
        red, green, _ = row["pixels"][x]
        if red < 150 or green > 100:
            continue
        low, high = byte_span(row, x)
        hit = [i for i, (b, e) in enumerate(ends) if b < high + 1 and e > low - 1]
        red_ranges.update(hit)
        if not hit:
            stray.append(hex(int(low)))
    check(not stray, f"{name}: red pixels where --json has no range: {stray[:5]}")
    shown = [i for i, (b, e) in enumerate(ends) if b >= row["start"] and e <= row["end"]]
    missing = [hex(ends[i][0]) for i in shown if i not in red_ranges]
    check(shown and not missing, f"{name}: ranges in a narrow view not drawn: {missing[:5]} of {len(shown)}")
    # Catches the place of a range lost with the spans: the card over one
    # drawn exact names its kind and file as --json does, and each row of
    # the range list says where its range lies.
    if shown:
        hovered = ranges[shown[0]]
        x = row["left"] + 64 + (hovered["flash_offset"] + hovered["length"] / 2 - row["start"]) * (row["width"] - 64) / (row["end"] - row["start"])
        browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=x, y=row["top"])
        text = browser.evaluate("(() => { const c = document.getElementById('hover-card'); return c.hidden ? '' : c.textContent; })()")
        kind = hovered["kind"] or hovered.get("region") or "-"
        named = "Main file: " + file_label(hovered["file"]) if hovered.get("file") else ""
        check(f"kind: {kind}" in text and named in text, f"{name}: the card over the range at {hovered['flash_offset']:#x} reads {text!r}")
    where = browser.evaluate("Array.from(document.querySelectorAll('#range-table tbody tr'), r => r.children[4].textContent)")
    want = [where_text(r) for r in ranges[:len(where)]]
    check(len(where) == 512 and where == want, f"{name}: the range list's places {where[:3]} are not --json's {want[:3]}")
    # Catches a printout of every listed range without a word of the cap.
    browser.call("Emulation.setEmulatedMedia", media="print")
    printed = browser.evaluate("[Array.from(document.querySelectorAll('#range-table tbody tr'))"
                               ".filter(r => r.getClientRects().length).length,"
                               " document.getElementById('range-print-note').textContent]")
    browser.call("Emulation.setEmulatedMedia", media="")
    check(printed[0] == 100 and "the first 100 of the 512 ranges listed" in printed[1], f"{name}: print of the range list: {printed}")

    # Catches a block that stands for many ranges drawn solid, or shaded by
    # anything but its share of differing bytes: in the whole-chip view each
    # changed span's inner pixels show that share (with a floor of 0.2).
    browser.evaluate("document.querySelector('[data-action=all]').click()")
    row = differs_row(browser, "main")
    wrong = []
    checked = 0
    inner = 64
    for span in spans.get("spans", []):
        members = [r for r in ranges if r["flash_offset"] // span_size == span["flash_offset"] // span_size]
        begin = span["flash_offset"]
        end = max(r["flash_offset"] + r["length"] for r in members)
        if len(members) < 32:
            continue
        share = sum(r["differing_bytes"] for r in members) / (end - begin)
        expected = 0.2 + 0.8 * share
        for x in range(64, row["width"]):
            low, high = byte_span(row, x)
            if low < begin + 1 or high > end - 1:
                continue
            checked += 1
            inner = x
            alpha = 1 - row["pixels"][x][1] / max(row["pixels"][x][2], 1)
            if abs(alpha - expected) > 0.03:
                wrong.append((hex(begin), round(alpha, 3), round(expected, 3)))
    check(checked > 20 and not wrong, f"{name}: spans not shaded by share ({checked} pixels): {wrong[:4]}")
    # Catches a shaded block whose card does not say what the shade means.
    browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=row["left"] + inner + 0.5, y=row["top"])
    text = browser.evaluate("(() => { const c = document.getElementById('hover-card'); return c.hidden ? '' : c.textContent; })()")
    check("shaded by share" in text, f"{name}: the card over a shaded span reads {text!r}")
    # Catches the keyboard's details missing what the shade means: p on a
    # focused map at the whole chip steps onto a dense span among the
    # differences it steps through first.
    browser.evaluate("document.querySelector('.map-frame[data-chip=main] canvas').focus()")
    dense = [f"{s['ranges']} ranges, {s['differing_bytes']} differing bytes of {s['length']}: shaded by share"
             for s in spans.get("spans", []) if s["ranges"] > 64]
    for _ in range(len(spans.get("spans", []))):
        browser.call("Input.dispatchKeyEvent", type="keyDown", key="n", code="KeyN", text="n")
        text = browser.evaluate("document.getElementById('selection').textContent")
        if any(words in text for words in dense):
            break
    check(dense and any(words in text for words in dense), f"{name}: the details of a dense span read {text!r}")
    for problem in browser.problems(url):
        check(False, f"{name}: {problem}")
    check_left_out(browser, tool, folder, name)


def check_left_out(browser, tool, folder, name):
    """8 MiB of noise with a byte changed every 80: 104,858 ranges, more
    than the page embeds exactly."""
    global dumps_folder
    pair = os.path.join(folder, name + "-left-out")
    os.makedirs(pair, exist_ok=True)
    data = bytearray(random.Random(7).randbytes(8 << 20))
    open(os.path.join(pair, "MAIN.BIN"), "wb").write(bytes(data))
    for at in range(0, len(data), 80):
        data[at] ^= 0x5A
    open(os.path.join(pair, "BACKUP.BIN"), "wb").write(bytes(data))
    dumps_folder = pair
    page = os.path.join(folder, name + "-left-out.html")
    drawn = run([tool, "--bios-size=0x800000", "--html", page, "MAIN.BIN", "BACKUP.BIN"])
    check(os.path.exists(page) and drawn.stderr == "", f"--html failed: {drawn.stderr!r}")
    browser.events.clear()
    url = browser.open(page)
    spans = embedded(browser)["differences_spans"]
    exact_spans = spans["exact_spans"]
    check(0 < exact_spans < len(spans["spans"]) - 8, f"{name}: {exact_spans} of {len(spans['spans'])} spans exact")
    # Catches a span whose ranges were left out drawn solid (or blank) at
    # the narrowest zoom, and a card that does not say they were left out.
    span = spans["spans"][(exact_spans + len(spans["spans"])) // 2]
    begin, end = span["flash_offset"], span["flash_offset"] + span["length"]
    browser.evaluate("document.querySelector('[data-action=all]').click()")
    for _ in range(3):
        drag_to(browser, "main", begin, end)
    row = differs_row(browser, "main")
    inside = [x for x in range(64, row["width"]) if begin + 1 <= byte_span(row, x)[0] and byte_span(row, x)[1] <= end - 1]
    alphas = [1 - row["pixels"][x][1] / max(row["pixels"][x][2], 1) for x in inside]
    expected = 0.2 + 0.8 * span["differing_bytes"] / span["length"]
    check(len(inside) > 50 and all(abs(a - expected) < 0.03 for a in alphas),
          f"{name}: a left-out span over {len(inside)} pixels is not shaded {expected:.3f}: {sorted(set(round(a, 2) for a in alphas))[:6]}")
    if inside:
        browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=row["left"] + inside[len(inside) // 2] + 0.5, y=row["top"])
    text = browser.evaluate("(() => { const c = document.getElementById('hover-card'); return c.hidden ? '' : c.textContent; })()")
    check("shaded by share" in text and "left out" in text, f"{name}: the card over a left-out span reads {text!r}")
    for problem in browser.problems(url):
        check(False, f"{name}-left-out: {problem}")


# ---- a table of thousands of files

def rendered_rows(browser):
    return browser.evaluate(f"{ROWS}.map(r => Number(r.dataset.row))")


def check_many_files(browser, tool, main, backup, folder, name):
    """A pair of thousands of changed files: the table holds only the rows
    near its view, yet search, filter, keyboard and print reach every row."""
    global dumps_folder
    dumps_folder = os.path.dirname(main)
    main, backup = os.path.basename(main), os.path.basename(backup)
    bios = f"--bios-size={os.path.getsize(os.path.join(dumps_folder, main))}"
    page = os.path.join(folder, name + ".html")
    report = json.loads(run([tool, bios, "--json", main, backup]).stdout)
    drawn = run([tool, bios, "--html", page, main, backup])
    check(os.path.exists(page) and drawn.stderr == "", f"--html failed: {drawn.stderr!r}")
    files = report["files"]
    browser.events.clear()
    url = browser.open(page)
    # Catches the compact document drifting from --json (its ranges are
    # spans on the page, as for any pair of more than 512).
    rest = {k: v for k, v in report.items() if k != "differences"}
    for document, reader in ((embedded(browser), "expanded here"), (page_document(browser), "read by the page")):
        check({k: v for k, v in document.items() if k != "differences_spans"} == rest,
              f"{name}: the page's document ({reader}) is not --json's")

    # Catches a table that builds every row: only rows near the view are in
    # the document, the first ones first.
    shown = rendered_rows(browser)
    check(len(files) > 1000 and 0 < len(shown) < 200 and shown[0] == 0,
          f"{name}: {len(shown)} of {len(files)} rows in the document, from {shown[:1]}")
    every = [row_key(f, f["change"]) for f in files]
    check(table_rows(browser) == every, f"{name}: scrolling through the table does not reach every row")
    # Catches a printout that runs away (every row of 20,000 files) or stops
    # at the rows in view without saying so: it holds the first 500 rows
    # shown and says how many it left out; with a filter, that class's.
    rows, note = printed_rows(browser)
    check(rows == every[:500] and f"the first 500 of the {len(files)} files shown" in note
          and f"other {len(files) - 500} are left out" in note, f"{name}: print shows {len(rows)} rows, note {note!r}")
    pdf = base64.b64decode(browser.call("Page.printToPDF", paperWidth=8.27, paperHeight=11.69)["data"])
    pages = pdf.count(b"/Type /Page") - pdf.count(b"/Type /Pages")
    check(0 < pages <= 60, f"{name}: the printout has {pages} pages")

    # Catches rows far down the table out of reach: scrolled to the end, the
    # last file's row is there and choosing it marks the file on both maps.
    last = len(files) - 1
    row = reveal_row(browser, last)
    click(browser, row)
    check(browser.evaluate(f"({row}).getAttribute('aria-selected')") == "true", f"{name}: the last row is not selected")
    check_marks(browser, report, files[last], f"{name} last file")

    # Catches a search limited to the rows built: from the top of the table,
    # the search finds a file near the end, and choosing it marks it.
    browser.evaluate("document.querySelector('#file-table').closest('.scroll').scrollTop = 0")
    browser.evaluate(NEXT_FRAME)
    target = files[-2]
    browser.evaluate(f"""(() => {{ const s = document.getElementById('file-search'); s.value = {json.dumps(target['name'])};
        s.dispatchEvent(new Event('input')); }})()""")
    want = [row_key(f, f["change"]) for f in files if target["name"].lower() in (f["name"] + " " + f["guid"]).lower()]
    check(table_rows(browser) == want and len(want) == 1, f"{name}: search {target['name']!r} shows {len(table_rows(browser))} rows")
    click(browser, f"{ROWS}[0]")
    check_marks(browser, report, target, f"{name} searched file")
    browser.evaluate("(() => { const s = document.getElementById('file-search'); s.value = '';"
                     " s.dispatchEvent(new Event('input')); })()")
    browser.evaluate("document.querySelector('#file-filter input[value=\"changed\"]').click()")
    changed = [row_key(f, f["change"]) for f in files if f["change"] == "changed"]
    check(table_rows(browser) == changed, f"{name}: the changed filter does not show every changed file")

    # Catches a table left blank while rows match: scrolled to its end, a
    # search or a class filter of a few rows computed their first row from
    # the old scroll position. The rows found are drawn, in the box's view.
    only = [row_key(f, f["change"]) for f in files if f["change"] == "only in Main"]
    check(0 < len(only) < 10, f"{name}: the pair has {len(only)} files only in Main")
    for action, want in ((f"s.value = {json.dumps(files[-1]['name'])}; s.dispatchEvent(new Event('input'))",
                          [row_key(files[-1], files[-1]["change"])]),
                         ("s.value = ''; s.dispatchEvent(new Event('input'));"
                          " document.querySelector('#file-filter input[value=\"only in Main\"]').click()", only)):
        drawn = browser.evaluate(f"""(async () => {{
            const frame = () => new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)));
            const box = document.querySelector('#file-table').closest('.scroll');
            const s = document.getElementById('file-search');
            document.querySelector('#file-filter input[value="all"]').click();
            box.scrollTop = box.scrollHeight;
            await frame();
            {action};
            await frame();
            const view = box.getBoundingClientRect();
            return {ROWS}.filter(r => {{ const b = r.getBoundingClientRect(); return b.bottom > view.top && b.top < view.bottom; }})
              .map({ROW_KEYS}); }})()""")
        check(drawn == want, f"{name}: after scrolling to the end, {action[:40]!r} draws {len(drawn)} of {len(want)} rows in view")
    rows, note = printed_rows(browser)
    check(rows == only and note == "", f"{name}: the printout of a filtered table holds {len(rows)} rows, note {note!r}")
    browser.evaluate("document.querySelector('#file-filter input[value=\"all\"]').click()")

    # Catches a row per Tab stop: the table is one, its rows reached by keys.
    stops = browser.evaluate("""(() => { const box = document.querySelector('#file-table').closest('.scroll');
        return [box, ...box.querySelectorAll('*')].filter(e => e.tabIndex >= 0).length; })()""")
    check(stops == 1, f"{name}: the file table holds {stops} Tab stops")
    browser.evaluate("document.querySelector('#file-table').closest('.scroll').focus()")
    browser.call("Input.dispatchKeyEvent", type="keyDown", key="End", code="End", windowsVirtualKeyCode=35)
    check(browser.evaluate("document.activeElement.dataset.row") == str(len(files) - 1), f"{name}: End on the table misses the last row")
    # Catches differences behind thousands of files: n on a focused map
    # whole steps onto a difference first.
    browser.evaluate("document.querySelector('[data-action=all]').click(); document.querySelector('.map canvas').focus()")
    browser.call("Input.dispatchKeyEvent", type="keyDown", key="n", code="KeyN", text="n")
    text = browser.evaluate("document.getElementById('selection').textContent")
    check("differing range" in text, f"{name}: n on the map first shows {text[:100]!r}")

    # Catches keyboard users stuck at the rows first built: arrow keys walk
    # past them, each row taking the focus.
    browser.evaluate("document.querySelector('#file-table').closest('.scroll').scrollTop = 0")
    browser.evaluate(NEXT_FRAME)
    # From the table's box, Down goes to the chosen file's row (the
    # searched one above), Home to the first.
    for key, code, row in (("ArrowDown", 40, len(files) - 2), ("Home", 36, 0)):
        browser.evaluate("document.querySelector('#file-table').closest('.scroll').focus()")
        browser.call("Input.dispatchKeyEvent", type="keyDown", key=key, code=key, windowsVirtualKeyCode=code)
        check(browser.evaluate("document.activeElement.dataset.row") == str(row), f"{name}: {key} on the table misses row {row}")
    steps = max(rendered_rows(browser)) + 20
    for _ in range(steps):
        browser.call("Input.dispatchKeyEvent", type="keyDown", key="ArrowDown", code="ArrowDown", windowsVirtualKeyCode=40)
        browser.call("Input.dispatchKeyEvent", type="keyUp", key="ArrowDown", code="ArrowDown", windowsVirtualKeyCode=40)
    focused = browser.evaluate("document.activeElement.dataset.row")
    check(focused == str(steps), f"{name}: {steps} arrow keys down from the first row focus row {focused}")
    check_narrow(browser, name)
    for problem in browser.problems(url):
        check(False, f"{name}: {problem}")


def main():
    if len(sys.argv) == 7 and sys.argv[1] == "--many-files":
        tool, main_dump, backup_dump, folder = (os.path.abspath(a) for a in sys.argv[2:6])
        os.makedirs(folder, exist_ok=True)
        browser = Browser()
        try:
            check_many_files(browser, tool, main_dump, backup_dump, folder, sys.argv[6])
        finally:
            browser.close()
        print(f"{sys.argv[6]}: {len(failures)} failures")
        return 1 if failures else 0
    if len(sys.argv) == 6 and sys.argv[1] == "--many-ranges":
        tool, main_dump, folder = (os.path.abspath(a) for a in sys.argv[2:5])
        browser = Browser()
        try:
            check_many_ranges(browser, tool, main_dump, folder, sys.argv[5])
        finally:
            browser.close()
        print(f"{sys.argv[5]}: {len(failures)} failures")
        return 1 if failures else 0

    if len(sys.argv) != 6:
        print(__doc__, file=sys.stderr)
        return 2
    global dumps_folder
    tool, main_dump, backup_dump, folder = (os.path.abspath(a) for a in sys.argv[1:5])
    name = sys.argv[5]
    os.makedirs(folder, exist_ok=True)
    if os.path.dirname(main_dump) == os.path.dirname(backup_dump):
        dumps_folder = os.path.dirname(main_dump)
        main_dump, backup_dump = os.path.basename(main_dump), os.path.basename(backup_dump)
    browser = Browser()
    try:
        check_comparison(browser, tool, main_dump, backup_dump, folder, name)
        check_info(browser, tool, main_dump, folder, name)
    finally:
        browser.close()
    print(f"{name}: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
