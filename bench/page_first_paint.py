#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""First paint of pellrix-diff's report page in headless Chromium (goal:
under 1 s), for the OVMF pair and for 64 MiB dumps with 200,000 differing
ranges; also the page's size (goal: at most 2 MB). Run on demand:

    bench/page_first_paint.py [PELLRIX_DIFF] [RUNS]

Each page is written once and opened RUNS times (default 5) in a fresh
headless Chromium; printed: the median of Chromium's first-contentful-paint
and of the moment the page's script has drawn everything.
"""
import os
import random
import statistics
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
source = os.path.dirname(here)
sys.path.insert(0, os.path.join(source, "tests", "browser"))
from devtools import Browser  # noqa: E402


def many_ranges_pair(folder):
    """64 MiB of noise and a copy with one byte changed every 335 bytes."""
    a, b = os.path.join(folder, "a.bin"), os.path.join(folder, "b.bin")
    data = bytearray(random.Random(7).randbytes(64 << 20))
    with open(a, "wb") as out:
        out.write(data)
    for at in range(0, len(data), len(data) // 200000):
        data[at] ^= 0x5A
    with open(b, "wb") as out:
        out.write(data)
    return ["--bios-size=0x4000000", a, b]


def measure(tool, pair, page, runs):
    subprocess.run([tool, "--html", page, *pair], stdout=subprocess.DEVNULL, check=False)
    paints, drawn = [], []
    for _ in range(runs):
        browser = Browser()
        try:
            browser.open(page)
            paints.append(browser.evaluate(
                "new Promise(done => new PerformanceObserver(list => { for (const e of list.getEntries())"
                " if (e.name === 'first-contentful-paint') done(e.startTime); })"
                ".observe({type: 'paint', buffered: true}))"))
            drawn.append(browser.evaluate("performance.getEntriesByName('pellrix-drawn')[0].startTime"))
        finally:
            browser.close()
    return os.path.getsize(page), statistics.median(paints), statistics.median(drawn)


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else os.path.join(source, "build", "diff", "pellrix-diff")
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    ovmf = os.path.join(source, "tests", "data", "ovmf")
    with tempfile.TemporaryDirectory() as folder:
        cases = [("OVMF pair", [os.path.join(ovmf, "ovmf-2022.11-6+deb12u1.fd"),
                                os.path.join(ovmf, "ovmf-2022.11-6+deb12u2.fd")]),
                 ("64 MiB, 200,000 ranges", many_ranges_pair(folder))]
        for name, pair in cases:
            size, paint, drawn = measure(tool, pair, os.path.join(folder, "page.html"), runs)
            print(f"{name}: page {size} bytes, first contentful paint {paint:.0f} ms, drawn {drawn:.0f} ms")


if __name__ == "__main__":
    main()
