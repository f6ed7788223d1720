#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""pellrix-fleet's page in headless Chromium: the groups it draws (counts,
descriptions, boards) equal the --json document of the same run, each group
whose first board's chips differ has that pair drawn by pellrix-diff's
report page, the page loads nothing and logs no error, fits a 400 px
screen and has a main landmark.

usage: check_fleet_page.py PELLRIX-FLEET MAKE_FLEET_BOARDS WORKDIR
"""
import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "browser"))
from devtools import Browser  # noqa: E402

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def main():
    fleet, maker, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    subprocess.run([maker, work], check=True)
    page = os.path.join(work, "fleet.html")
    run = subprocess.run([fleet, "--json", "--html", page, os.path.join(work, "golden.bin"),
                          os.path.join(work, "boards")], capture_output=True, text=True)
    check(run.returncode == 1, f"exit status {run.returncode}, not 1: {run.stderr}")
    document = json.loads(run.stdout)
    expected = [[g["count"], g["description"], g["boards"]] for g in document["groups"]]
    # The groups whose first board's two chips differ: their pair is drawn.
    pairs = 0
    for group in document["groups"]:
        chips = group["signature"]
        same = lambda a, b: (a["state"], a["differences"]) == (b["state"], b["differences"])
        pairs += len(chips) == 2 and not same(chips[0], chips[1])
    browser = Browser()
    try:
        url = browser.open(page)
        drawn = browser.evaluate("""Array.from(document.querySelectorAll('#groups tbody tr')).map(r =>
            [Number(r.querySelector('td.count').textContent), r.querySelector('.description').textContent,
             Array.from(r.querySelectorAll('ul.boards li')).map(li => li.textContent)])""")
        check(drawn == expected, f"the page's groups differ from --json:\n{drawn}\n{expected}")
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
        # The driver group's pair names the changed driver in its file table.
        rows = browser.evaluate("""Array.from(document.querySelectorAll('iframe.pair')).map(f =>
            f.contentDocument.querySelectorAll('#file-table tbody tr').length)""")
        check(any(count > 0 for count in rows), f"no pair's report lists a file: {rows}")
        # Catches a page wider than a phone (the golden SHA-256 is one long
        # word) and one without a main landmark for screen readers.
        browser.call("Emulation.setDeviceMetricsOverride", width=400, height=900, deviceScaleFactor=1, mobile=False)
        browser.evaluate("new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)))")
        widths = browser.evaluate("[document.documentElement.scrollWidth, document.documentElement.clientWidth]")
        browser.call("Emulation.clearDeviceMetricsOverride")
        check(widths[0] <= widths[1] + 1, f"at 400 px the page is {widths[0]} px wide")
        landmarks = browser.evaluate("document.querySelectorAll('main').length")
        check(landmarks == 1 and browser.evaluate("!!document.querySelector('main #groups')"),
              f"{landmarks} main landmarks, or the groups outside it")
        problems = browser.problems(url)
        check(not problems, f"the page: {problems}")
    finally:
        browser.close()
    if failures:
        print(f"{len(failures)} failures")
        return 1
    print(f"the fleet page draws the {len(expected)} groups of --json and {pairs} pairs")
    return 0


if __name__ == "__main__":
    sys.exit(main())
