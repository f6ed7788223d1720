#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Writes an archive of kit RUN folders for pellrix-fleet's benchmark.

Each chip is a 16 MiB part holding a real OVMF build at its top; the bytes
below it are left as a hole (read as zeros), so each chip costs about 2 MiB
of disk however large it reads. Most boards carry the golden image on both
chips; 4 % carry another OVMF build on Backup (its drivers changed), 4 % a
variable added on Main, 3 % a Backup cut short, 3 % a Backup with 4 KiB
overwritten inside the compressed driver volume.

usage: make_fleet_archive.py GOLDEN_OVMF OTHER_OVMF OUT BOARDS
"""
import os
import random
import struct
import sys

CHIP = 16 << 20
VARIABLES_AT = 0x48 + 28  # OVMF's NV volume header, then the store header


def write_chip(path, image, cut=None, patch=None):
    """The image at the top of a sparse 16 MiB part, `patch` = (offset in the image, bytes)."""
    image = bytearray(image)
    if patch:
        at, data = patch
        image[at : at + len(data)] = data
    with open(path, "wb") as out:
        out.truncate(CHIP)
        out.seek(CHIP - len(image))
        out.write(image)
        if cut:
            out.truncate(cut)


def setup_variable():
    """An authenticated-layout variable Setup holding one byte."""
    name = "Setup\0".encode("utf-16-le")
    vendor = bytes(range(16))
    header = struct.pack("<HBBIQ16sIII16s", 0x55AA, 0x3F, 0, 7, 0, bytes(16), 0, len(name), 1, vendor)
    return header + name + b"\x01"


def main():
    golden_path, other_path, out, boards = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    golden = open(golden_path, "rb").read()
    other = open(other_path, "rb").read()
    os.makedirs(os.path.join(out, "boards"), exist_ok=True)
    write_chip(os.path.join(out, "golden.bin"), golden)
    rng = random.Random(7)
    for number in range(1, boards + 1):
        folder = os.path.join(out, "boards", "RUN%04d" % number)
        os.makedirs(folder, exist_ok=True)
        kind = number % 100
        main_patch = (VARIABLES_AT, setup_variable()) if 86 <= kind < 90 else None
        write_chip(os.path.join(folder, "MAIN.BIN"), golden, patch=main_patch)
        backup = os.path.join(folder, "BACKUP.BIN")
        if 90 <= kind < 94:
            write_chip(backup, other)
        elif 94 <= kind < 97:
            write_chip(backup, golden, cut=CHIP - (1 << 20))
        elif 97 <= kind:
            write_chip(backup, golden, patch=(0x100000 + rng.randrange(0x80000), rng.randbytes(4096)))
        else:
            write_chip(backup, golden)
        result = "PASS comparison=0x80" if kind < 86 else "FAIL comparison=0x8E save-main=0x80 save-backup=0x80 record=0x80"
        with open(os.path.join(folder, "RESULT.TXT"), "w", newline="") as text:
            text.write(result + "\r\n")


if __name__ == "__main__":
    main()
