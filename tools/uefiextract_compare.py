#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Holds pellrix-diff's firmware tree against UEFIExtract's report.

  uefiextract_compare.py PELLRIX_DIFF IMAGE              one image: the same files
  uefiextract_compare.py PELLRIX_DIFF MAIN BACKUP        a pair: the same changes

For one image, `pellrix-diff --info --json` must list exactly the files
`UEFIExtract IMAGE report` lists (pad files aside), each with the same path,
GUID and name, and must have opened every section; and exactly its variable
entries (by offset, deleted ones too), the live ones with the same vendor
GUID, name, attributes and data size. For a pair, the files
pellrix-diff calls changed, only in Main and only in Backup must be exactly
those whose UEFIExtract CRC32 differs or that exist on one side; and the
variables of the stores UEFIExtract reads (its "VSS entry" items, by vendor
GUID and name) must differ exactly as pellrix-diff says: changed when their
data (UEFIExtract's body), attributes or authenticated header (monotonic
counter, time stamp, public-key index) differ, only on one side otherwise,
each at UEFIExtract's offset with its data size. UEFIExtract names no
deleted copy, so "deleted in Backup" counts as "only in Main" there. Prints
one line per check and exits non-zero on any difference.
"""
import collections
import json
import os
import shutil
import subprocess
import sys
import tempfile


# Files UEFIExtract names by their well-known GUID rather than by a
# user-interface section; pellrix-diff reports only the latter.
BUILT_IN_NAMES = {
    "1B45CC0A-156A-428A-AF62-49864DA0E6E6": "PEI apriori file",
    "FC510EE7-FFDC-11D4-BD41-0080C73C8881": "DXE apriori file",
    "1BA0062E-C779-4582-8566-336AE8F78F09": "Volume Top File",
}


def uefiextract_files(image):
    """{(path, guid, index): (name, crc32)} from UEFIExtract's report."""
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, os.path.basename(image))
        shutil.copyfile(image, copy)
        run = subprocess.run(["UEFIExtract", copy, "report"], capture_output=True, text=True)
        report = copy + ".report.txt"
        if not os.path.exists(report):
            sys.exit(f"UEFIExtract wrote no report for {image} (status {run.returncode}): {run.stdout}{run.stderr}")
        with open(report, encoding="utf-8", errors="replace") as lines:
            rows = [line.rstrip("\n").split("|") for line in lines][1:]
    files = {}
    seen = collections.Counter()
    stack = []  # (depth, guid) of the enclosing volumes and files
    for columns in rows:
        if len(columns) < 6:
            continue
        kind, subtype, crc = columns[0].strip(), columns[1].strip(), columns[4].strip()
        label = columns[5].strip()
        depth = len(label) - len(label.lstrip("-"))
        guid = label.lstrip("- ").strip()
        while stack and stack[-1][0] >= depth:
            stack.pop()
        if kind not in ("Volume", "File"):
            continue
        if kind == "File" and subtype != "Pad":
            path = tuple(g for _, g in stack)
            name = columns[6].strip() if len(columns) > 6 and columns[6].strip() else None
            if name is not None and BUILT_IN_NAMES.get(guid) == name:
                name = None
            key = (path, guid)
            files[(path, guid, seen[key])] = (name, crc)
            seen[key] += 1
        stack.append((depth, guid))
    return files


def uefiextract_variables(image, with_bases=False):
    """{(guid, name): (base, attributes, data, header)} of the live variables UEFIExtract reads
    (header: an authenticated entry's monotonic counter, time stamp and public-key index);
    with_bases: also the offsets of all its variable entries, deleted ones included."""
    variables = {}
    bases = set()
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, os.path.basename(image))
        shutil.copyfile(image, copy)
        subprocess.run(["UEFIExtract", copy, "report"], capture_output=True)
        with open(copy + ".report.txt", encoding="utf-8", errors="replace") as report:
            for columns in (line.split("|") for line in report):
                if len(columns) >= 6 and columns[0].strip() == "VSS entry":
                    bases.add(int(columns[2], 16))
        if not bases:
            return (variables, bases) if with_bases else variables
        subprocess.run(["UEFIExtract", copy, "unpack"], capture_output=True)
        dump = copy + ".dump"
        for entry in sorted(os.listdir(dump)):
            if not (entry.startswith("VSS_entry_") and entry.endswith("_info.txt")):
                continue
            fields = {}
            with open(os.path.join(dump, entry), encoding="utf-8", errors="replace") as info:
                for line in info:
                    key, _, value = line.rstrip("\n").partition(": ")
                    fields.setdefault(key, value)
            if fields.get("Subtype") == "Invalid" or "Variable GUID" not in fields:
                continue
            with open(os.path.join(dump, entry[: -len("info.txt")] + "body.bin"), "rb") as body:
                data = body.read()
            state = int(fields["State"].rstrip("h"), 16)
            key = (fields["Variable GUID"], fields.get("Text", ""))
            # Of two readable copies the firmware reads the added one.
            if key in variables and state != 0x3F:
                continue
            header = tuple(fields.get(name) for name in ("Monotonic counter", "Timestamp", "PubKey index"))
            variables[key] = (int(fields["Base"].rstrip("h"), 16), int(fields["Attributes"].split("h")[0], 16), data, header)
    return (variables, bases) if with_bases else variables


def check_store_listing(image, info):
    """Every variable entry of the one-dump report where UEFIExtract has one, the live ones alike."""
    theirs, bases = uefiextract_variables(image, with_bases=True)
    shift = info["geometry"]["flash_size"] - info["size"]
    entries = [v for store in info["variable_stores"] for v in store["variables"]]
    ours = {}
    for v in entries:
        if v["state"] in ("added", "in deleted transition"):
            ours[(v["vendor_guid"], v["name"])] = (v["flash_offset"] - shift, v["attributes"], v["data_size"])
    failures = []
    offsets = {v["flash_offset"] - shift for v in entries}
    for base in sorted(bases - offsets):
        failures.append(f"variable entry at {base:#x} missed by pellrix-diff")
    for base in sorted(offsets - bases):
        failures.append(f"variable entry at {base:#x} not in UEFIExtract's report")
    for key in sorted(set(ours) | set(theirs)):
        expected = (theirs[key][0], theirs[key][1], len(theirs[key][2])) if key in theirs else None
        if ours.get(key) != expected:
            failures.append(f"variable {key}: offset, attributes, size {ours.get(key)}, UEFIExtract {expected}")
    if bases or entries:
        print(f"{os.path.basename(image)}: {len(entries)} variable entries, {len(ours)} live, UEFIExtract "
              f"{len(bases)} and {len(theirs)}: {'same' if not failures else 'DIFFERENT'}")
    return failures


def check_variables(main, backup, report):
    a, b = uefiextract_variables(main), uefiextract_variables(backup)
    expected = {}
    for key in set(a) | set(b):
        if key not in b:
            expected[key] = "only in Main"
        elif key not in a:
            expected[key] = "only in Backup"
        elif a[key][1:] != b[key][1:]:
            expected[key] = "changed"
    as_uefiextract_sees = {"deleted in Backup": "only in Main", "deleted in Main": "only in Backup"}
    found = {}
    failures = []
    shifts = [report["geometry"]["flash_size"] - dump["size"] for dump in report["dumps"]]
    for entry in report["variables"]:
        key = (entry["vendor_guid"], entry["name"])
        found[key] = as_uefiextract_sees.get(entry["change"], entry["change"])
        for side, ours, theirs, shift in (("main", entry["main"], a, shifts[0]), ("backup", entry["backup"], b, shifts[1])):
            if ours is None or key not in theirs or ours["state"] not in ("added", "in deleted transition"):
                continue
            base, _, data, _ = theirs[key]
            if (ours["flash_offset"] - shift, ours["data_size"]) != (base, len(data)):
                failures.append(f"variable {key} in {side}: offset {ours['flash_offset'] - shift:#x}, "
                                f"{ours['data_size']} bytes; UEFIExtract {base:#x}, {len(data)} bytes")
    for key in sorted(set(expected) | set(found)):
        if expected.get(key) != found.get(key):
            failures.append(f"variable {key}: UEFIExtract says {expected.get(key)}, pellrix-diff {found.get(key)}")
    counts = collections.Counter(entry["change"] for entry in report["variables"])
    print(f"{os.path.basename(main)} / {os.path.basename(backup)}: variables ({len(a)} and {len(b)} read) "
          f"{dict(sorted(counts.items())) or 'none differ'}: {'same as UEFIExtract' if not failures else 'DIFFERENT'}")
    return failures


def pellrix(program, *arguments):
    run = subprocess.run([program, *arguments], capture_output=True)
    if run.returncode not in (0, 1):
        sys.exit(f"{program} {' '.join(arguments)}: exit {run.returncode}: {run.stderr.decode(errors='replace')}")
    return json.loads(run.stdout)


def key_of(entry):
    return (tuple(entry["path"]), entry["guid"], entry["index"])


def check_one(program, image):
    reference = uefiextract_files(image)
    info = pellrix(program, "--info", "--json", image)
    ours = {key_of(f): f["name"] for f in info["files"]}
    failures = []
    for key in sorted(set(reference) - set(ours)):
        failures.append(f"missed by pellrix-diff: {key}")
    for key in sorted(set(ours) - set(reference)):
        failures.append(f"not in UEFIExtract's report: {key}")
    for key in sorted(set(ours) & set(reference)):
        if ours[key] != reference[key][0]:
            failures.append(f"name of {key}: {ours[key]!r}, UEFIExtract {reference[key][0]!r}")
    for entry in info["files"]:
        for problem in entry.get("problems", []):
            failures.append(f"{entry['guid']}: {problem}")
    failures += [f"tree: {p}" for p in info["problems"]]
    failures += check_store_listing(image, info)
    named = sum(1 for f in info["files"] if f["name"])
    compressed = sum(1 for f in info["files"] if f["compressed"])
    print(f"{os.path.basename(image)}: {len(ours)} files ({named} named, {compressed} inside compressed sections, "
          f"{info['decompressed_bytes']} bytes decompressed), "
          f"UEFIExtract {len(reference)}: {'same' if not failures else 'DIFFERENT'}")
    return failures


def check_pair(program, main, backup):
    a, b = uefiextract_files(main), uefiextract_files(backup)
    expected = {
        "changed": {k for k in set(a) & set(b) if a[k][1] != b[k][1]},
        "only in Main": set(a) - set(b),
        "only in Backup": set(b) - set(a),
    }
    report = pellrix(program, "--json", main, backup)
    found = collections.defaultdict(set)
    for entry in report["files"]:
        if "moved_to" in entry:
            # Moved between volumes: one entry, two keys for the CRC32s.
            found["only in Main"].add(key_of(entry))
            found["only in Backup"].add((tuple(entry["moved_to"]["path"]), entry["guid"], entry["moved_to"]["index"]))
        else:
            found[entry["change"]].add(key_of(entry))
    failures = []
    for change, keys in expected.items():
        for key in sorted(keys - found[change]):
            failures.append(f"{change} by CRC32, not by pellrix-diff: {key}")
        for key in sorted(found[change] - keys):
            failures.append(f"{change} by pellrix-diff, not by CRC32: {key}")
    counts = ", ".join(f"{len(found[c])} {c}" for c in ("changed", "moved", "only in Main", "only in Backup"))
    print(f"{os.path.basename(main)} / {os.path.basename(backup)}: {counts}: "
          f"{'same as the CRC32s' if not failures else 'DIFFERENT'}")
    return failures + check_variables(main, backup, report)


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    failures = check_one(sys.argv[1], sys.argv[2]) if len(sys.argv) == 3 else check_pair(*sys.argv[1:])
    for failure in failures[:50]:
        print("  " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
