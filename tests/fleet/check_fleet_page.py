#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""pellrix-fleet's page in headless Chromium, checked against the --json
document of the same run and against the RESULT.TXT files written:

- the bars: one per group, its count, matching golden apart, lengths on one
  scale (catches a group dropped, misfiled or drawn to the wrong size);
- the matrix: one column per file or variable across all groups, each cell
  the change the JSON gives for that group (catches the same file split over
  two columns, a cell in the wrong group or column);
- each group's differences: three shown, the rest behind a click, none lost;
- failures per day equal what the RESULT.TXT files date and say;
- a folder named as markup stays text; nothing is requested, no error;
- at 400 px the page is no wider than the screen; a `main` landmark;
- a fleet of 250 groups draws a matrix of the most common 60 columns and
  200 groups, saying what it left out;
- each group whose first board's chips differ has its pair drawn by
  pellrix-diff's report page.

usage: check_fleet_page.py PELLRIX-FLEET MAKE_FLEET_BOARDS WORKDIR
"""
import collections
import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser"))
from devtools import Browser  # noqa: E402

failures = []
HOSTILE = '<img src=x onerror="document.title=\'owned\'">&amp;'


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def day_truth(boards, document):
    """Per day from the files themselves: runs, runs not PASS, and boards the
    JSON puts in a group that differs from golden."""
    differing = set()
    for group in document["groups"]:
        if not all(chip["state"] in ("identical", "masked-only") for chip in group["signature"]):
            differing.update(name.split(" (")[0] for name in group["boards"])
    days = collections.defaultdict(lambda: [0, 0, 0])
    for folder in os.listdir(boards):
        result = os.path.join(boards, folder, "RESULT.TXT")
        text = open(result, encoding="ascii").read().split()
        date = next((w[5:15] for w in text if w.startswith("date=") and w[5:9].isdigit()), None)
        if date:
            days[date][0] += 1
            days[date][1] += text[0] != "PASS"
            days[date][2] += os.path.join(boards, folder) in differing
    return [{"date": d, "runs": r, "failed": f, "differing": x} for d, (r, f, x) in sorted(days.items())]


def expected_matrix(document):
    """{subject: {group index: sorted changes}} and the columns' count."""
    columns = collections.defaultdict(dict)
    for index, group in enumerate(document["groups"]):
        for chip in group["signature"]:
            for item in chip["differences"]:
                check(item["key"] == item["subject"] + (" " + item["change"] if item["change"] != "differs" else ""),
                      f"item {item['key']!r} is not its subject and change")
                columns[item["subject"]].setdefault(index, set()).add(item["change"])
    return {s: {str(g): sorted(c) for g, c in cells.items()} for s, cells in columns.items()}


def many_differences(record):
    """A board whose Main differs in seven ways, as a map step would write
    it: the driver the other groups change is missing here (one column for
    both), files named as markup, a move, a variable, an area. Undated."""
    driver = "file 6D1F0C2B-3A44-4E10-9B01-020304050607/F1EE7001-3333-4444-0908-070605040301#0"
    hostile = f"DXE driver \"{HOSTILE}\""
    record["board"] += "-many"
    if "key" in record:  # another board, not the same one reached again
        record["key"] += "-many"
    record["result"]["values"].pop("date")
    record["chips"][0]["differences"] = sorted([
        {"key": driver + " missing", "text": 'DXE driver "SetupDxe" missing'},
        {"key": "file 6D1F0C2B-3A44-4E10-9B01-020304050607/0000AAAA-0000-0000-0000-000000000001#0 added",
         "text": hostile + " added"},
        {"key": "file 6D1F0C2B-3A44-4E10-9B01-020304050607/0000AAAA-0000-0000-0000-000000000002#0 moved",
         "text": "PEI module \"PlatformPei\" moved"},
        {"key": "file 6D1F0C2B-3A44-4E10-9B01-020304050607/0000AAAA-0000-0000-0000-000000000003#0 moved and changed",
         "text": "PEI module \"CpuPei\" moved and changed"},
        {"key": "variable F1EE7101-3333-4444-0908-070605040301:" + HOSTILE + " deleted",
         "text": "variable " + HOSTILE + " deleted"},
        {"key": "area free space", "text": "free space differs"},
        {"key": "length longer", "text": "longer than golden"},
    ], key=lambda item: item["key"])
    return record


def main():
    fleet, maker, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    subprocess.run([maker, work], check=True)
    boards = os.path.join(work, "boards")
    shutil.copytree(os.path.join(boards, "RUN005"), os.path.join(boards, HOSTILE))
    lines = subprocess.run([fleet, "--jsonl", os.path.join(work, "golden.bin"), boards], capture_output=True,
                           text=True).stdout.splitlines()
    lines.append(json.dumps(many_differences(json.loads(next(l for l in lines if "RUN005" in l)))))
    with open(os.path.join(work, "boards.jsonl"), "w") as out:
        out.write("\n".join(lines) + "\n")
    page = os.path.join(work, "fleet.html")
    run = subprocess.run([fleet, "group", "--json", "--html", page, os.path.join(work, "boards.jsonl")],
                         capture_output=True, text=True)
    check(run.returncode == 1, f"exit status {run.returncode}, not 1: {run.stderr}")
    document = json.loads(run.stdout)
    groups = document["groups"]
    check(document["days"] == day_truth(boards, document),
          f"--json's days differ from RESULT.TXT: {document['days']} {day_truth(boards, document)}")
    pairs = 0
    for group in groups:
        chips = group["signature"]
        same = lambda a, b: (a["state"], a["differences"]) == (b["state"], b["differences"])
        pairs += len(chips) == 2 and not same(chips[0], chips[1])
    matrix = expected_matrix(document)
    # The driver changed on Backup alone and on both chips: one column.
    check(any(len(cells) > 1 for cells in matrix.values()), "no file differs in two groups: the matrix is untested")
    browser = Browser()
    try:
        url = browser.open(page)
        check(browser.evaluate("document.title") == "pellrix-fleet" and
              browser.evaluate("document.querySelectorAll('img').length") == 0, "a folder's name ran as markup")
        check(browser.evaluate("document.querySelectorAll('main #sizes, main #groups').length") == 2,
              "the page's content is not in its main landmark")

        bars = browser.evaluate("""['bars-differ', 'bars-match'].map(id => Array.from(document.querySelectorAll(
            '#' + id + ' li')).map(li => [Number(li.dataset.group), Number(li.querySelector('.count').textContent),
            li.querySelector('.bar').getBoundingClientRect().width, li.querySelector('.track').getBoundingClientRect().width]))""")
        fits = lambda g: all(chip["state"] in ("identical", "masked-only") for chip in g["signature"])
        for drawn, want in zip(bars, (False, True)):
            expected = [[i, g["count"]] for i, g in enumerate(groups) if fits(g) == want]
            check([b[:2] for b in drawn] == expected, f"bars {'matching' if want else 'differing'}: {drawn} {expected}")
        largest = max(g["count"] for g in groups)
        for index, count, width, track in bars[0] + bars[1]:
            check(abs(width - track * count / largest) <= 1.5, f"group {index}'s bar is {width} of {track} px for {count}")

        drawn = browser.evaluate("""(() => { const subjects = Array.from(document.querySelectorAll('#matrix thead th'))
            .slice(1).map(th => th.dataset.subject); const cells = {};
            subjects.forEach(s => cells[s] = {});
            document.querySelectorAll('#matrix tbody tr').forEach(tr => Array.from(tr.querySelectorAll('td')).forEach(
              (td, i) => { if (td.dataset.change) cells[subjects[i]][tr.dataset.group] = td.dataset.change.split(' / ').sort(); }));
            return [subjects, cells]; })()""")
        check(len(drawn[0]) == len(set(drawn[0])), f"a subject has two columns: {drawn[0]}")
        check(drawn[1] == matrix, f"the matrix differs from --json:\n{drawn[1]}\n{matrix}")

        items = browser.evaluate("""Array.from(document.querySelectorAll('article.group')).map(a => [
            Number(a.dataset.group), Array.from(a.querySelectorAll(':scope > ul.items li')).map(li => li.dataset.key || null),
            Array.from(a.querySelectorAll(':scope > details.more li')).map(li => li.dataset.key || null),
            Array.from(a.querySelectorAll('ul.boards li')).map(li => li.textContent)])""")
        check([i[0] for i in items] == list(range(len(groups))), f"groups listed: {[i[0] for i in items]}")
        for index, shown, more, names in items:
            group = groups[index]
            keys = list(dict.fromkeys(d["key"] for c in group["signature"] for d in c["differences"]))
            drawn_keys = [k for k in shown + more if k]
            check(len(shown) == min(3, len(shown) + len(more)), f"group {index}: {len(shown)} items shown, {len(more)} behind")
            check(drawn_keys == keys, f"group {index}: items {drawn_keys}, --json {keys}")
            check(names == group["boards"], f"group {index}: boards {names}, --json {group['boards']}")
        check(any(HOSTILE in " ".join(i[3]) for i in items), "the hostile folder's name is not shown as text")

        days = browser.evaluate("""Array.from(document.querySelectorAll('#day-bars li')).map(li => ({date: li.dataset.date,
            runs: Number(li.dataset.runs), failed: Number(li.dataset.failed), differing: Number(li.dataset.differing)}))""")
        check(days == document["days"] and days, f"failures per day {days}, --json {document['days']}")

        frames = browser.evaluate("document.querySelectorAll('iframe.pair').length")
        check(frames == pairs and pairs > 0, f"{frames} pairs drawn, {pairs} expected")
        deadline = time.time() + 20
        ready = []
        while time.time() < deadline:
            ready = browser.evaluate("""Array.from(document.querySelectorAll('iframe.pair')).map(f =>
                f.contentDocument && f.contentDocument.body ? f.contentDocument.body.dataset.ready : null)""")
            if all(r == "true" for r in ready):
                break
            time.sleep(0.1)
        check(all(r == "true" for r in ready), f"the pairs' report pages did not finish drawing: {ready}")
        rows = browser.evaluate("""Array.from(document.querySelectorAll('iframe.pair')).map(f =>
            f.contentDocument.querySelectorAll('#file-table tbody tr').length)""")
        check(any(count > 0 for count in rows), f"no pair's report lists a file: {rows}")

        # At 400 px, with every disclosure open, the page scrolls down only.
        browser.call("Emulation.setDeviceMetricsOverride", width=400, height=900, deviceScaleFactor=1, mobile=False)
        browser.evaluate("document.querySelectorAll('details').forEach(d => d.open = true)")
        time.sleep(0.2)
        widths = browser.evaluate("[document.documentElement.scrollWidth, document.documentElement.clientWidth]")
        check(widths[0] <= widths[1] + 1, f"at 400 px the page is {widths[0]} px wide in {widths[1]}")
        if os.environ.get("PELLRIX_FLEET_SHOT"):
            import base64
            shot = browser.call("Page.captureScreenshot", format="png", captureBeyondViewport=True)["data"]
            open(os.environ["PELLRIX_FLEET_SHOT"], "wb").write(base64.b64decode(shot))
        browser.call("Emulation.clearDeviceMetricsOverride")
        problems = browser.problems(url)
        check(not problems, f"the page: {problems}")

        # A fleet of 250 groups, each with its own file: the matrix draws the
        # 60 columns and 200 groups with most boards and says what it left
        # out (catches a matrix of every group against every file).
        wide = os.path.join(work, "wide.jsonl")
        base = json.loads(lines[-1])
        with open(wide, "w") as out:
            for i in range(250):
                base["board"] = base["key"] = f"wide-{i:03d}"
                base["chips"][0]["differences"] = [{"key": f"file 0000BBBB-0000-0000-0000-{i:012d}#0 changed",
                                                    "text": f'DXE driver "D{i}" changed'}]
                out.write(json.dumps(base) + "\n")
        subprocess.run([fleet, "group", "--html", os.path.join(work, "wide.html"), wide], capture_output=True)
        browser.open(os.path.join(work, "wide.html"))
        shape = browser.evaluate("""[document.querySelectorAll('#matrix thead th').length - 1,
            document.querySelectorAll('#matrix tbody tr').length, (document.querySelector('#subjects .not-drawn') || {}).textContent || '']""")
        check(shape[:2] == [60, 200] and "190 columns and 50 groups" in shape[2], f"the wide fleet's matrix: {shape}")
    finally:
        browser.close()
    if failures:
        print(f"{len(failures)} failures")
        return 1
    print(f"the fleet page draws the {len(groups)} groups of --json, {len(matrix)} columns, "
          f"{len(document['days'])} days and {pairs} pairs")
    return 0


if __name__ == "__main__":
    sys.exit(main())
