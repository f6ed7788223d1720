#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Random boards and command lines for the differential test, from a seed.

Board "random-SEED-INDEX" is the same board and command list on every run
(random.Random seeded with both numbers; nothing else feeds it). Every key
varies that both pellrix-sim and the virtual board realise: the start-up
chip by name and by raw position, chip select and its support answer, the
switch, the mailbox's answer, the ACPI tables and the FADT's SMI_CMD, pool
allocations that fail, part names, geometry (parts of 8 or 16 MiB,
BIOS regions from 2 to 16 MiB, blocks from 2 KiB to 16 MiB), and the
sample's chips with edits in drivers, masked areas, identity texts,
descriptor sizes and checksums, and erased blocks. The processor is QEMU's
(8 variable MTRR pairs, 40 address bits), the one the real shell runs on.

The command list draws from every form of the command line, accepted and
rejected, so that every status the program can end with on such a board
comes up: the plan format is run_differential_test.sh's ("arguments||"
entries separated by ';', no status fixed).
"""
import json
import os
import random

MIB = 1 << 20
DESCRIPTOR_FIELDS = {  # offset, width of the descriptor's fields the edits touch
    "flash_size": (16, 4), "bios_size": (20, 4), "block_size": (24, 4),
    "part_number": (32, 8), "version": (40, 4), "model_name": (64, 32),
}
PART_NAMES = ["SIM25Q128", "W25Q128JV", "MX25L12835F", "N25Q128A", "S25FL128", "GD25B127D",
              "A" * 48, "x", "SIM25Q128 "]

# Every command form: accepted ones and the rejections the grammar names.
ACCEPTED = ["", "/i", "/I", "/delay", "/DELAY", "/Delay", "/?", "/h", "/H", "/p", "/P",
            "/c 1", "/c 2", "/C 1", "/C 2", "/s 1", "/s 2", "/S 1", "/S 2",
            "/delay 0", "/delay 007", "/DELAY 3", "/Delay 10", "/delay 000", "/delay 5"]
REJECTED = ["/ix", "/delay5", "/c", "/s", "/c 3", "/c 0", "/c 01", "/s 3", "/p 1", "/i 1", "/HELP", "-h",
            "/D", "/DeLaY", "/delay 101", "/delay 0100", "/delay 1a", "/delay -5", "/delay +5",
            "/i /delay", "/delay /i", "/delay 1 2", "/c 1 2", "/s 1x", "01", "/x"]
# Chip changes and saves weigh more: they move the board and write files.
WEIGHTED = ACCEPTED + ["", "/i", "/p", "/c 1", "/c 2", "/s 1", "/s 2"] * 2


def descriptor_offset(image, start):
    at = image.find(b"$BDR", start)
    while at >= 0 and image[at + 8:at + 10] != b"\xa5\x5a":
        at = image.find(b"$BDR", at + 1)
    return at


def edit_field(rng, image, region_start, field):
    """Flips a bit of one of the descriptor's identity fields."""
    at, width = DESCRIPTOR_FIELDS[field]
    descriptor = descriptor_offset(image, region_start)
    if descriptor < 0:
        return  # an erased part has none
    # A size stays a plausible one (bytes 1 and 2): a wild size makes the
    # descriptor itself unreadable, which the other edits reach already.
    byte = rng.randrange(1, 3) if field.endswith("_size") else rng.randrange(width)
    image[descriptor + at + byte] ^= 1 << rng.randrange(7)


def edit_chip(rng, image, region_start):
    """One random edit of a sample chip; returns its name for the board's note."""
    descriptor = descriptor_offset(image, region_start)
    if descriptor < 0:
        return "none"
    # The identity fields weigh more: each check's status comes up only when
    # the checks after it pass.
    kind = rng.choice(["none"] * 4 + list(DESCRIPTOR_FIELDS) * 2 + ["checksum", "driver", "driver", "byte", "masked",
                                                                     "erased"])
    if kind in DESCRIPTOR_FIELDS:
        edit_field(rng, image, region_start, kind)
    elif kind == "checksum":
        table = descriptor + int.from_bytes(image[descriptor + 96:descriptor + 98], "little")
        count = image[descriptor + 98]
        if count:
            image[table + 16 * rng.randrange(count) + 12 + rng.randrange(4)] ^= 1 << rng.randrange(8)
    elif kind == "driver":
        image[region_start + 0x80000 + rng.randrange(0x200000)] ^= 1 << rng.randrange(8)
    elif kind == "byte":
        image[region_start + rng.randrange(len(image) - region_start)] ^= 1 << rng.randrange(8)
    elif kind == "masked":
        # Inside a variable record: the variable store is masked before the
        # comparison.
        at = image.find(b"NVAR", region_start)
        if at >= 0:
            image[at + 16 + rng.randrange(16)] ^= 1 << rng.randrange(8)
    elif kind == "erased":
        block = rng.randrange(region_start // 4096, len(image) // 4096)
        image[block * 4096:(block + 1) * 4096] = b"\xff" * 4096
    return kind


def make_chip(rng, sample, out_dir, name):
    """One chip: the sample part, edited, in one of the geometries."""
    image = bytearray(sample)
    region = 8 * MIB  # the sample's BIOS region, at the top of its 16 MiB part
    edit = edit_chip(rng, image, len(image) - region)
    shape = rng.choice(["sample"] * 5 + ["small-part", "region", "block", "erased-part", "window"])
    chip = {"image": name + ".rom", "bios_size": region, "block_size": 4096}
    if shape == "small-part":
        image = image[len(image) - region:]  # an 8 MiB part that is all BIOS region
    elif shape == "region":
        chip["bios_size"] = rng.choice([2, 4, 12, 16]) * MIB
    elif shape == "block":
        chip["block_size"] = rng.choice([2048, 8192, 65536, 16 * MIB])
    elif shape == "erased-part":
        image = bytearray(b"\xff" * len(image))
    elif shape == "window":
        chip["bios_size"] = rng.choice([2, 4, 8, 16]) * MIB
        chip["block_size"] = rng.choice([2048, 4096, 65536])
    if rng.random() < 0.3:
        chip["part_name"] = rng.choice(PART_NAMES)
    with open(os.path.join(out_dir, chip["image"]), "wb") as f:
        f.write(image)
    return chip, "%s/%s" % (shape, edit)


def make_board(seed, index, sample_dir, out_dir):
    """Writes OUT_DIR/board.json, its images, OUT_DIR/plan.txt (the command
    list) and OUT_DIR/note.txt (which edits and shapes were drawn)."""
    rng = random.Random("%d-%d" % (seed, index))
    os.makedirs(out_dir, exist_ok=True)
    with open(os.path.join(sample_dir, "main.rom"), "rb") as f:
        sample_main = f.read()
    with open(os.path.join(sample_dir, "backup.rom"), "rb") as f:
        sample_backup = f.read()
    board = {"mtrr": {"variable_pairs": 8, "phys_address_bits": 40}}
    board["active"] = rng.choice(["main", "backup", "main", "backup", 0, 1, 1, 2, 3, 7, 0x80, 0xFF])
    # Half the boards keep the firmware's defaults, so that their chips'
    # differences reach the comparison.
    if rng.random() < 0.5:
        board["chip_select"] = rng.choice(["present"] * 6 + ["absent", "unsupported"])
        if rng.random() < 0.1:
            board["is_supported"] = rng.choice([0, 2, 0xFF])
        board["switch"] = rng.choice(["ok"] * 3 + ["stuck", "ignore-main", "ignore-backup"])
        board["mailbox"] = rng.choice(["qvt"] * 6 + ["qv1", "none"])
        board["acpi"] = rng.choice(["present"] * 6 + ["absent", "no-facp"])
        if rng.random() < 0.3:
            board["smi_port"] = rng.choice([0xB2, 0xB0, 0x1234, 0xFFFF, 0])
    if rng.random() < 0.12:
        # The first is the start-up record's (133); the others fall on
        # mailbox buffers, records and image buffers.
        board["fail_alloc"] = [1] if rng.random() < 0.5 else sorted(rng.sample(range(2, 9), rng.randint(1, 2)))
    notes = []
    chips = {}
    twins = False
    for name, sample in (("main", sample_main), ("backup", sample_backup)):
        # Backup is often Main's twin, the same or with one edit of its
        # own, so that a comparison gets past the other checks to the one
        # that edit fails, or to the data.
        if name == "backup" and rng.random() < 0.5:
            chips["backup"] = dict(chips["main"])
            with open(os.path.join(out_dir, "main.rom"), "rb") as f:
                twin = bytearray(f.read())
            edit = rng.choice(["part_name", "chip"] + list(DESCRIPTOR_FIELDS))
            if edit == "part_name":
                chips["backup"]["part_name"] = "TWIN25Q128"
            elif edit == "chip":
                edit = edit_chip(rng, twin, max(0, len(twin) - 8 * MIB))
            else:
                edit_field(rng, twin, max(0, len(twin) - 8 * MIB), edit)
            twins = True
            chips["backup"]["image"] = "backup.rom"
            with open(os.path.join(out_dir, "backup.rom"), "wb") as f:
                f.write(twin)
            notes.append("backup=main+" + edit)
            continue
        chips[name], note = make_chip(rng, sample, out_dir, name)
        notes.append("%s=%s" % (name, note))
    board["chips"] = chips
    commands = [rng.choice(WEIGHTED) for _ in range(rng.randint(3, 6))]
    if twins or rng.random() < 0.75:
        commands[0] = rng.choice(["", "/i", "/delay 0"])  # a comparison from the board's own start
    if rng.random() < 0.5:
        commands[rng.randrange(len(commands))] = rng.choice(REJECTED)
    with open(os.path.join(out_dir, "board.json"), "w") as f:
        json.dump(board, f, indent=2)
        f.write("\n")
    with open(os.path.join(out_dir, "note.txt"), "w") as f:
        f.write(" ".join(notes) + "\n")
    with open(os.path.join(out_dir, "plan.txt"), "w") as f:
        f.write(";".join("%s||" % (c or "-") for c in commands) + "\n")


STATUSES = {128, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 142, 145, 146}


def sim_sweep(sim, seed, count, work):
    """Every board of SEED in pellrix-sim alone: no run crashes, hangs or
    touches anything outside its --dir, every status is one the program can
    end with, and every one of them comes up. Returns the problems."""
    import hashlib
    import shlex
    import shutil
    import subprocess
    problems = []
    seen = set()
    sample = os.path.join(work, "sample-source")
    subprocess.run([sim, "--write-sample", sample, "--"], check=True, stdout=subprocess.DEVNULL)
    for index in range(1, count + 1):
        board_dir = os.path.join(work, "random-%d-%d" % (seed, index))
        shutil.rmtree(board_dir, ignore_errors=True)
        make_board(seed, index, sample, board_dir)

        def digest():
            return sorted((name, hashlib.sha256(open(os.path.join(board_dir, name), "rb").read()).hexdigest())
                          for name in os.listdir(board_dir) if os.path.isfile(os.path.join(board_dir, name)))
        before = digest()
        with open(os.path.join(board_dir, "plan.txt")) as f:
            plan = [entry.split("|")[0] for entry in f.read().strip().split(";")]
        for k, arguments in enumerate(plan, 1):
            run_dir = os.path.join(board_dir, "c%d" % k)
            os.makedirs(run_dir, exist_ok=True)
            words = [] if arguments == "-" else shlex.split(arguments)
            try:
                run = subprocess.run([sim, "--board", os.path.join(board_dir, "board.json"), "--dir", run_dir, "--"] + words,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=120)
            except subprocess.TimeoutExpired:
                problems.append("random-%d-%d '%s': no end within 120 s" % (seed, index, arguments))
                continue
            if run.returncode not in STATUSES:
                problems.append("random-%d-%d '%s': status %d: %s" % (seed, index, arguments, run.returncode,
                                                                      run.stderr.decode(errors="replace").strip()))
            seen.add(run.returncode)
        if digest() != before:
            problems.append("random-%d-%d: a run changed the board's own files" % (seed, index))
    for status in sorted(STATUSES - seen):
        problems.append("status %d never came up in %d boards" % (status, count))
    return problems


if __name__ == "__main__":
    import sys
    if len(sys.argv) != 6 or sys.argv[1] != "sim-sweep":
        sys.exit("usage: random_boards.py sim-sweep PELLRIX_SIM SEED COUNT WORK_DIR")
    found = sim_sweep(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5])
    for problem in found:
        print(problem)
    print("%s boards in pellrix-sim: %d problems" % (sys.argv[4], len(found)))
    sys.exit(1 if found else 0)
