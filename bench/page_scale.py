#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""pellrix-diff's report page for a pair of 20,000 changed files, in headless
Chromium. Goals: page at most 3 MB, first draw under 1 s, the tab's
renderer under 300 MB, a zoom step under 50 ms. Run on demand:

    bench/page_scale.py [BUILD_DIR] [FILES] [RUNS]

The pair comes from the browser tests' pair maker (make_builder_pair
--many-files); the page is written once and opened RUNS times (default 3)
in a fresh Chromium each. Printed, as medians: the page's size; first
contentful paint and the moment the page's script has drawn everything;
DOM nodes; the renderer's resident memory (the largest renderer process
under the browser, from /proc) and the JavaScript heap; the slowest and the
median zoom step over 16 steps in from the whole chip and 16 back out.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
source = os.path.dirname(here)
sys.path.insert(0, os.path.join(source, "tests", "browser"))
from devtools import Browser  # noqa: E402


def descendants(pid):
    """The process ids under pid, from /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                parent = int(stat.read().rsplit(")", 1)[1].split()[1])
        except OSError:
            continue
        children.setdefault(parent, []).append(int(entry))
    found, queue = [], [pid]
    while queue:
        for child in children.get(queue.pop(), []):
            found.append(child)
            queue.append(child)
    return found


def renderer_rss_mib(browser):
    """Resident memory of the largest renderer process: the tab's."""
    largest = 0
    for pid in descendants(browser.process.pid):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                if b"--type=renderer" not in cmdline.read():
                    continue
            with open(f"/proc/{pid}/status") as status:
                for line in status:
                    if line.startswith("VmRSS:"):
                        largest = max(largest, int(line.split()[1]))
        except OSError:
            continue
    return largest / 1024


def open_slowly(browser, page):
    """Browser.open with room for a page that takes a minute."""
    browser.call("Page.navigate", url="file://" + os.path.abspath(page))
    browser.wait_event("Page.loadEventFired", timeout=180)
    deadline = time.time() + 180
    while browser.evaluate("document.body && document.body.dataset.ready") != "true":
        if time.time() > deadline:
            raise RuntimeError("the page never finished drawing")
        time.sleep(0.1)


ZOOM_STEPS = """(() => {
  const button = (action) => document.querySelector('[data-action=' + action + ']');
  button('all').click();
  const times = [];
  for (const action of [...Array(16).fill('in'), ...Array(16).fill('out')]) {
    const begin = performance.now();
    button(action).click();
    times.push(performance.now() - begin);
  }
  return times;
})()"""


def measure(page, runs):
    results = {"paint": [], "drawn": [], "nodes": [], "rss": [], "heap": [], "zoom_max": [], "zoom_median": []}
    for _ in range(runs):
        browser = Browser()
        try:
            open_slowly(browser, page)
            results["paint"].append(browser.evaluate(
                "new Promise(done => new PerformanceObserver(list => { for (const e of list.getEntries())"
                " if (e.name === 'first-contentful-paint') done(e.startTime); })"
                ".observe({type: 'paint', buffered: true}))"))
            results["drawn"].append(browser.evaluate("performance.getEntriesByName('pellrix-drawn')[0].startTime"))
            time.sleep(1)  # let the renderer settle after the first draw
            results["nodes"].append(browser.call("Memory.getDOMCounters")["nodes"])
            results["rss"].append(renderer_rss_mib(browser))
            results["heap"].append(browser.call("Runtime.getHeapUsage")["usedSize"] / (1 << 20))
            steps = browser.evaluate(ZOOM_STEPS)
            results["zoom_max"].append(max(steps))
            results["zoom_median"].append(statistics.median(steps))
        finally:
            browser.close()
    return {key: statistics.median(values) for key, values in results.items()}


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(source, "build")
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    tool = os.path.join(build, "diff", "pellrix-diff")
    maker = os.path.join(build, "tests", "make_builder_pair")
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([maker, "--many-files", str(count), folder], check=True)
        main_dump, backup_dump = os.path.join(folder, "MAIN.BIN"), os.path.join(folder, "BACKUP.BIN")
        page = os.path.join(folder, "page.html")
        subprocess.run([tool, f"--bios-size={os.path.getsize(main_dump)}", "--html", page, main_dump, backup_dump],
                       stdout=subprocess.DEVNULL, check=False)
        r = measure(page, runs)
        print(f"{count} changed files: page {os.path.getsize(page) / 1e6:.2f} MB (goal <= 3 MB)")
        print(f"  first contentful paint {r['paint']:.0f} ms, drawn {r['drawn']:.0f} ms (goal < 1000 ms)")
        print(f"  DOM nodes {r['nodes']:.0f}; renderer RSS {r['rss']:.0f} MiB (goal < 300 MB), JS heap {r['heap']:.0f} MiB")
        print(f"  zoom step: slowest {r['zoom_max']:.1f} ms, median {r['zoom_median']:.1f} ms (goal < 50 ms)")


if __name__ == "__main__":
    main()
