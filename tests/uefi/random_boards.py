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


def edit_chip(rng, image, region_start):
    """One random edit of a sample chip; returns its name for the board's note."""
    descriptor = descriptor_offset(image, region_start)
    kind = rng.choice(["none", "none", "model_name", "version", "part_number", "checksum", "flash_size",
                       "bios_size", "block_size", "driver", "byte", "masked", "erased"])
    if kind in DESCRIPTOR_FIELDS:
        at, width = DESCRIPTOR_FIELDS[kind]
        image[descriptor + at + rng.randrange(width)] ^= 1 << rng.randrange(7)
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
    board["chip_select"] = rng.choice(["present"] * 8 + ["absent", "unsupported"])
    if rng.random() < 0.1:
        board["is_supported"] = rng.choice([0, 2, 0xFF])
    board["switch"] = rng.choice(["ok"] * 4 + ["stuck", "ignore-main", "ignore-backup"])
    board["mailbox"] = rng.choice(["qvt"] * 6 + ["qv1", "none"])
    board["acpi"] = rng.choice(["present"] * 8 + ["absent", "no-facp"])
    if rng.random() < 0.3:
        board["smi_port"] = rng.choice([0xB2, 0xB0, 0x1234, 0xFFFF, 0])
    if rng.random() < 0.2:
        board["fail_alloc"] = sorted(rng.sample(range(1, 9), rng.randint(1, 2)))
    notes = []
    chips = {}
    for name, sample in (("main", sample_main), ("backup", sample_backup)):
        # Backup is often Main's twin, so that a comparison gets past the
        # identity checks to the data.
        if name == "backup" and rng.random() < 0.3:
            chips["backup"] = dict(chips["main"], image="main.rom")
            notes.append("backup=main")
            continue
        chips[name], note = make_chip(rng, sample, out_dir, name)
        notes.append("%s=%s" % (name, note))
    board["chips"] = chips
    commands = [rng.choice(WEIGHTED) for _ in range(rng.randint(3, 6))]
    if rng.random() < 0.5:
        commands[rng.randrange(len(commands))] = rng.choice(REJECTED)
    with open(os.path.join(out_dir, "board.json"), "w") as f:
        json.dump(board, f, indent=2)
        f.write("\n")
    with open(os.path.join(out_dir, "note.txt"), "w") as f:
        f.write(" ".join(notes) + "\n")
    with open(os.path.join(out_dir, "plan.txt"), "w") as f:
        f.write(";".join("%s||" % (c or "-") for c in commands) + "\n")
