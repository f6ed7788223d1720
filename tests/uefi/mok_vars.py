#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Appends shim's MokList to a copy of an OVMF variable store: one more record
of the authenticated store (attributes NV|BS), holding an EFI_SIGNATURE_LIST
of X.509 type with one certificate, as MokManager leaves it after an
enrolment.

usage: mok_vars.py VARS_IN CERT.der VARS_OUT
"""
import struct
import sys
import uuid

AUTHENTICATED_STORE = uuid.UUID("aaf32c78-947b-439a-a180-2e144ec37792")
SHIM_LOCK = uuid.UUID("605dab50-e046-4300-abb6-3dd810dd8b23")
CERT_X509 = uuid.UUID("a5c059a1-94e4-4aa7-87b5-ab155c2bf072")
HEADER = struct.Struct("<HBBIQ16sIII16s")  # AUTHENTICATED_VARIABLE_HEADER, 60 bytes
VAR_ADDED = 0x3F


def align4(n):
    return (n + 3) & ~3


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    store = bytearray(open(argv[1], "rb").read())
    cert = open(argv[2], "rb").read()
    fv_header_length = struct.unpack_from("<H", store, 0x30)[0]
    if uuid.UUID(bytes_le=bytes(store[fv_header_length:fv_header_length + 16])) != AUTHENTICATED_STORE:
        sys.exit("mok_vars: not an authenticated variable store")
    store_size = struct.unpack_from("<I", store, fv_header_length + 16)[0]
    end = fv_header_length + store_size
    at = align4(fv_header_length + 28)
    while at + HEADER.size <= end and struct.unpack_from("<H", store, at)[0] == 0x55AA:
        fields = HEADER.unpack_from(store, at)
        at = align4(at + HEADER.size + fields[7] + fields[8])
    name = "MokList\0".encode("utf-16-le")
    owner = SHIM_LOCK.bytes_le
    data = CERT_X509.bytes_le + struct.pack("<III", 28 + 16 + len(cert), 0, 16 + len(cert)) + owner + cert
    record = HEADER.pack(0x55AA, VAR_ADDED, 0, 0x3, 0, bytes(16), 0, len(name), len(data), SHIM_LOCK.bytes_le)
    record += name + data
    if at + len(record) > end or any(b != 0xFF for b in store[at:at + len(record)]):
        sys.exit("mok_vars: no free room at the end of the store")
    store[at:at + len(record)] = record
    open(argv[3], "wb").write(store)


if __name__ == "__main__":
    main(sys.argv)
