#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Helpers for the UEFI Shell tests on the virtual board (run_differential_test.sh,
run_field_kit_test.sh).

  make-board NAME SAMPLE_DIR OUT_DIR   write OUT_DIR/board.json and its images;
                                       NAME random-SEED-INDEX: a random board
                                       (random_boards.py) with OUT_DIR/plan.txt
  changed-file                         print the GUID of the driver file that the
                                       board "changed-driver" changes on Backup
  with-active BOARD_JSON ACTIVE OUT    the board with "active" set to ACTIVE
  active REPORT_JSON                   print the report's active_chip
  startup BOARD_JSON                   print the board's raw start-up position
  as-terminal TEXT                     rewrite a console text as OVMF's serial
                                       terminal shows it ('?' for a control
                                       character it cannot show)
  split SERIAL_LOG OUT_DIR             one console text and status per case
  check-record NAME BOARD_JSON REC_DIR STATUS_MARKER ACTIVE_MARKER
                                       what pellrix-record wrote for board NAME
                                       (ACTIVE_MARKER "-": the chip active
                                       afterwards was not observed)

The boards are variations of the sample board written by
`pellrix-sim --write-sample`; every board states QEMU's MTRR count and
physical address width so that the simulator sees the processor the real
shell runs on.
"""
import json
import os
import re
import sys

MODEL_NAME = 64          # descriptor offsets
CHECKSUM_TABLE = 96
CHECKSUM_COUNT = 98
CHECKSUM_ENTRY = 16
CHECKSUM_VALUE = 12
BIOS_START = 0x800000    # the sample part's BIOS region (16 MiB part, 8 MiB region)
DXE_VOLUME = BIOS_START + 0x080000
WINDOW_ONLY_PART = 0x1000000  # what the recorder reads without a mailbox: 0xFF000000 up
FILE_HEADER = 24         # firmware file header: name, checks, type, attributes, size, state
FILE_TYPE_DRIVER = 0x07
# A driver of the sample's DXE volume.
CHANGED_DRIVER = "7A3C0086-1F2E-4D5C-9B8A-766554433286"


def descriptor_offset(image):
    """Offset of the "$BDR" descriptor (second signature 0x5AA5 at +8)."""
    position = image.find(b"$BDR")
    while position >= 0:
        if image[position + 8:position + 10] == b"\xa5\x5a":
            return position
        position = image.find(b"$BDR", position + 1)
    sys.exit("vboard_cases: no descriptor in the sample image")


def guid_bytes(text):
    """A GUID's bytes as a firmware file header holds them."""
    parts = text.split("-")
    head = b"".join(int(p, 16).to_bytes(n, "little") for p, n in zip(parts[:3], (4, 2, 2)))
    return head + bytes.fromhex(parts[3] + parts[4])


def change_driver(image, guid):
    """Flips one byte in the middle of the named driver file's body."""
    name = guid_bytes(guid)
    at = image.find(name, BIOS_START)
    while at >= 0 and at % 8:
        at = image.find(name, at + 1)
    if at < 0 or image[at + 18] != FILE_TYPE_DRIVER:
        sys.exit("vboard_cases: no driver file %s in the sample image" % guid)
    size = int.from_bytes(image[at + 20:at + 23], "little")
    image[at + FILE_HEADER + (size - FILE_HEADER) // 2] ^= 0x01


def read(path):
    with open(path, "rb") as f:
        return bytearray(f.read())


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def chip(image):
    return {"image": image, "bios_size": 0x800000, "block_size": 4096}


def make_board(name, sample_dir, out_dir):
    random_board = re.fullmatch(r"random-(\d+)-(\d+)", name)
    if random_board:
        import random_boards
        random_boards.make_board(int(random_board.group(1)), int(random_board.group(2)), sample_dir, out_dir)
        return
    os.makedirs(out_dir, exist_ok=True)
    main = read(os.path.join(sample_dir, "main.rom"))
    backup = read(os.path.join(sample_dir, "backup.rom"))
    board = {"mtrr": {"variable_pairs": 8, "phys_address_bits": 40}}
    if name == "sample":
        pass
    elif name in ("model-name", "model-name-neither"):
        # Backup carries another model name: the identity check fails. The
        # second board starts on a position that names neither chip.
        if name == "model-name-neither":
            board["active"] = 2
        at = descriptor_offset(backup) + MODEL_NAME
        old = bytes(backup[at:at + 32])
        assert old.startswith(b"PELLRIX PX-100"), old
        backup[at:at + 14] = b"PELLRIX PX-200"
    elif name == "model-name-control":
        # Backup's model name ends in a control character (0x10) that the
        # serial terminal shows as '?': the identity check fails.
        at = descriptor_offset(backup) + MODEL_NAME
        end = bytes(backup[at:at + 32]).index(b"\0")
        backup[at + end] = 0x10
    elif name == "data-mismatch":
        # One byte inside a driver of Backup's DXE volume, outside every
        # masked area.
        backup[DXE_VOLUME + 0x100000] ^= 0x01
    elif name == "changed-driver":
        change_driver(backup, CHANGED_DRIVER)
    elif name == "backup-active":
        board["active"] = "backup"
    elif name == "bad-checksum":
        # Main's first stored checksum is off by one bit.
        descriptor = descriptor_offset(main)
        table = descriptor + int.from_bytes(main[descriptor + CHECKSUM_TABLE:descriptor + CHECKSUM_TABLE + 2], "little")
        assert main[descriptor + CHECKSUM_COUNT] >= 1
        main[table + CHECKSUM_VALUE] ^= 0x01
    elif name == "stuck-switch":
        board["switch"] = "stuck"
    elif name in ("ignore-main", "ignore-main-save"):
        # Main can be left but never selected again: every restore of it fails.
        board["switch"] = "ignore-main"
    elif name == "smi-port":
        # The FADT the program is shown names another SMI port.
        board["smi_port"] = 0x1234
    elif name == "no-acpi":
        board["acpi"] = "absent"
    elif name == "no-facp":
        board["acpi"] = "no-facp"
    elif name == "fail-alloc":
        # The program's third pool allocation fails (an image buffer of the
        # comparison); every run counts from 1.
        board["fail_alloc"] = [3]
    elif name == "unsupported":
        board["is_supported"] = 0
    elif name == "no-chip-select":
        board["chip_select"] = "absent"
    else:
        sys.exit("vboard_cases: unknown board " + name)
    write(os.path.join(out_dir, "main.rom"), main)
    write(os.path.join(out_dir, "backup.rom"), backup)
    board["chips"] = {"main": chip("main.rom"), "backup": chip("backup.rom")}
    with open(os.path.join(out_dir, "board.json"), "w") as f:
        json.dump(board, f, indent=2)
        f.write("\n")


def with_active(board_json, active, out):
    with open(board_json) as f:
        board = json.load(f)
    board["active"] = int(active)
    with open(out, "w") as f:
        json.dump(board, f, indent=2)
        f.write("\n")


def active(report_json):
    with open(report_json) as f:
        print(json.load(f)["active_chip"])


def hazards(report_json):
    """Prints what a real board would not have survived; nothing when clean."""
    with open(report_json) as f:
        report = json.load(f)
    for fault in report["cpu_faults"]:
        print(fault)
    if report["mmio_reads"]:
        print(f"{report['mmio_reads']} window reads below the flash decode")


ESCAPE = re.compile(rb"\x1b\[[0-9;=?]*[A-Za-z]")
CASE = re.compile(rb"=== case (\d+) ===\r\n")
STATUS = re.compile(rb"=== status (0x[0-9A-Fa-f]+) ===\r\n")


def split(serial_log, out_dir):
    """Writes case-K.txt (the console between the case's markers, escape
    sequences removed and CRLF turned into LF; a bare CR stays) and
    case-K.status (%lasterror% in decimal) for every case found."""
    with open(serial_log, "rb") as f:
        console = ESCAPE.sub(b"", f.read())
    os.makedirs(out_dir, exist_ok=True)
    for begin in CASE.finditer(console):
        number = begin.group(1).decode()
        status = STATUS.search(console, begin.end())
        if status is None:
            continue
        text = console[begin.end():status.start()].replace(b"\r\n", b"\n")
        write(os.path.join(out_dir, "case-%s.txt" % number), text)
        with open(os.path.join(out_dir, "case-%s.status" % number), "w") as f:
            f.write("%d\n" % int(status.group(1), 16))


SAMPLE_PART_NAME = "SIM25Q128"   # the board file's default part name
DEFAULT_SMI_PORT = 0xB2
ERASED_PART = 16 << 20           # a chip without an image


def number(value):
    """A board file's integer: a number or a hexadecimal string."""
    return int(value, 16) if isinstance(value, str) else int(value)


def startup_position(board):
    """The raw chip position active at start."""
    value = board.get("active", "main")
    if value in ("main", "backup"):
        return 0 if value == "main" else 1
    return number(value)


def startup(board_json):
    with open(board_json) as f:
        print(startup_position(json.load(f)))


def switch_takes(switch, chip):
    """Whether a request for raw position `chip` changes the active chip."""
    if switch == "stuck":
        return False
    if switch.startswith("ignore-"):
        return chip != (0 if switch == "ignore-main" else 1)
    return True


def expected_capture(board):
    """What pellrix-record observes on BOARD, as the recorder's own reasoning
    would have it from outside: (recorded switch or None, chips read as
    {"main": bool, "backup": bool}, whether the start-up position is active
    again, the position left active)."""
    raw = startup_position(board)
    switch = board.get("switch", "ok")
    present = board.get("chip_select", "present") == "present" and number(board.get("is_supported", 1)) != 0
    if not present:
        return None, {"main": True, "backup": True}, True, raw
    if raw in (0, 1):
        other = raw ^ 1
        moved = switch_takes(switch, other)
        restored = not moved or switch_takes(switch, raw)
        if not moved:
            recorded = "stuck"
        elif not restored:
            recorded = "ignore-" + ("main", "backup")[raw]
        else:
            recorded = "ok"
        read = {("main", "backup")[raw]: True, ("main", "backup")[other]: moved}
        return recorded, read, restored, raw if restored else other
    # Neither chip at start: Main, then Backup, then the start-up position.
    reached = {"main": switch_takes(switch, 0), "backup": switch_takes(switch, 1)}
    names = {(True, True): "ok", (True, False): "ignore-backup", (False, True): "ignore-main", (False, False): "stuck"}
    return names[(reached["main"], reached["backup"])], reached, switch_takes(switch, raw) or not any(
        reached.values()), raw


def chip_part(board, base, name):
    """The chip's whole part and its sizes as the mailbox reports them."""
    chip = board.get("chips", {}).get(name, {})
    data = read(os.path.join(base, chip["image"])) if "image" in chip else None
    flash = number(chip["flash_size"]) if "flash_size" in chip else len(data) if data is not None else ERASED_PART
    part = bytes(data[:flash]) if data is not None else b"\xff" * flash
    return part, {"flash_size": flash, "bios_size": number(chip.get("bios_size", flash)),
                  "block_size": number(chip.get("block_size", 4096)),
                  "part_name": chip.get("part_name", SAMPLE_PART_NAME)}


def window_part(part, sizes):
    """What the recorder reads without a mailbox: the window from 0xFF000000
    up, the top of the BIOS region at its top and erased bytes below it."""
    shown = min(sizes["bios_size"], WINDOW_ONLY_PART, len(part))
    return b"\xff" * (WINDOW_ONLY_PART - shown) + part[len(part) - shown:]


def reaches_mailbox(board):
    """Whether the flash SMI gets to the board: the FADT names a port."""
    return board.get("acpi", "present") == "present" and number(board.get("smi_port", DEFAULT_SMI_PORT)) != 0


# What OVMF's serial terminal shows in place of a character it cannot show:
# every control character but backspace, tab, line feed and carriage return
# becomes '?'. The program prints the byte; the comparison is of what the
# console shows, so the simulator's text is read through the same rule.
TERMINAL_SHOWS = bytes(c if c >= 0x20 or c in (0x08, 0x09, 0x0A, 0x0D) else ord("?") for c in range(0x80)) + \
    bytes(range(0x80, 0x100))


def as_terminal(path):
    """Rewrites the simulator's console text at PATH as the terminal shows it."""
    data = read(path)
    write(path, data.translate(TERMINAL_SHOWS))


def check_record(name, board_json, rec_dir, status_marker, active_marker):
    """Prints every way in which the record differs from what the recorder
    can observe on the board; nothing when it describes the board truly and
    the run left the board where the board lets it."""
    with open(board_json) as f:
        board = json.load(f)
    base = os.path.dirname(board_json)
    problems = []
    raw = startup_position(board)
    recorded_switch, read_chips, restored, left = expected_capture(board)
    status = 0x80 if all(read_chips.values()) and restored else 0x82
    if status_marker != "=== record status 0x%X ===" % status:
        problems.append("pellrix-record did not end with 0x%X: %s" % (status, status_marker or "(no status)"))
    if active_marker != "-" and active_marker != "=== record active 0x%X ===" % left:
        problems.append("the active position after recording is not %d: %s" % (left, active_marker))
    try:
        with open(os.path.join(rec_dir, "board.json")) as f:
            record = json.load(f)
    except (OSError, ValueError) as error:
        print("no readable board.json in the record: %s" % error)
        return
    chip_select = board.get("chip_select", "present")
    present = recorded_switch is not None
    if chip_select == "present" and not present:
        chip_select = "unsupported"
    acpi = board.get("acpi", "present")
    expected = {
        "active": raw if chip_select != "absent" else 0,
        "chip_select": chip_select,
        "switch": recorded_switch,
        # Without a chip select the flash SMI is never sent; without an SMI
        # port from the FADT it cannot be.
        "mailbox": board.get("mailbox", "qvt") if present and reaches_mailbox(board) else "none",
        "acpi": acpi,
        "smi_port": number(board.get("smi_port", DEFAULT_SMI_PORT)) if acpi == "present" else None,
    }
    for key, value in expected.items():
        if record.get(key) != value:
            problems.append("%s is %r, the board has %r" % (key, record.get(key), value))
    window_only = expected["mailbox"] == "none"
    # Without a chip select the one chip that answers stands for both.
    answering = "backup" if raw == 1 else "main"
    for chip in ("main", "backup"):
        recorded = record["chips"][chip]
        if not read_chips[chip]:
            # Never read: no image, and the record says why.
            if "image" in recorded or "unread" not in recorded:
                problems.append("chips.%s is recorded though the switch never reached it" % chip)
            continue
        part, sizes = chip_part(board, base, chip if present else answering)
        if window_only:
            part = window_part(part, sizes)
            sizes = {"flash_size": WINDOW_ONLY_PART, "bios_size": WINDOW_ONLY_PART, "block_size": 4096}
        if "image" not in recorded:
            problems.append("chips.%s has no image though the recorder read it" % chip)
            continue
        with open(os.path.join(rec_dir, recorded["image"]), "rb") as f:
            got = f.read()
        if got != part:
            problems.append("%s.rom is not the board's %s chip" % (chip, chip if present else answering))
        for key, value in sizes.items():
            if recorded.get(key) != value:
                problems.append("chips.%s.%s is %r, the board has %r" % (chip, key, recorded.get(key), value))
    for problem in problems:
        print(problem)


def main(argv):
    commands = {"make-board": (make_board, 3), "changed-file": (lambda: print(CHANGED_DRIVER), 0), "with-active": (with_active, 3), "active": (active, 1), "hazards": (hazards, 1), "split": (split, 2), "check-record": (check_record, 5), "startup": (startup, 1), "as-terminal": (as_terminal, 1)}
    if len(argv) < 2 or argv[1] not in commands or len(argv) - 2 != commands[argv[1]][1]:
        sys.exit(__doc__)
    function, _ = commands[argv[1]]
    function(*argv[2:])


if __name__ == "__main__":
    main(sys.argv)
