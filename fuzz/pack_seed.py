#!/usr/bin/env python3
"""Seeds for pack_open_fuzz. A first byte of 1 asks the target to put its own colour tables
(best_match v % 7, second_match v % 5) back at the data offset, so the fuzzer spends its bytes on
the header, counts, thumbnails, picture entries and the candidate section.

usage: pack_seed.py PACK.evg SEED
           the pack with its two 128 KiB tables cut out (small packs make fast seeds: few
           pictures, small thumbnails)
       pack_seed.py --candidates SEED [PICTURE.jpg] [--header]
           a pack of 7 pictures (2 x 2 thumbnails; picture 0 is the JPEG given, the others
           empty) whose candidate section (K = 1) agrees with those tables, so that it loads
"""
import struct, sys, zlib

TABLES = 2 * 65536 * 2  # best_match and second_match, 16 bits per RGB565 value


def candidate_seed(args):
    seed = args[0]
    jpeg = open(args[1], "rb").read() if len(args) > 1 and args[1] != "--header" else b""
    count, edge = 7, 2
    data = struct.pack("<HH", count, edge) + bytes(range(count * edge * edge * 2))
    for p in range(count):
        picture = jpeg if p == 0 else b""
        data += struct.pack("<I", len(picture)) + picture
    # The first candidate of every colour is its best_match, v % 7.
    section = b"EVGCANDS" + struct.pack("<HH", 1, 1) + b"".join(struct.pack("<H", v % 7) for v in range(65536))
    data += section + struct.pack("<I", zlib.crc32(section))
    header = b""
    if "--header" in args:
        header = bytearray(3250)
        header[0:10] = b"EVERGREEN "
        struct.pack_into("<HHHH", header, 10, 0, 3250, count, 0)
        header[18:24] = b"Seeder"
    open(seed, "wb").write(b"\x01" + bytes(header) + data)


if sys.argv[1] == "--candidates":
    candidate_seed(sys.argv[2:])
else:
    pack = open(sys.argv[1], "rb").read()
    # A pack with a header names its data offset at byte 12; a headerless one starts with the tables.
    data = struct.unpack_from("<H", pack, 12)[0] if pack[:8] == b"EVERGREE" else 0
    open(sys.argv[2], "wb").write(b"\x01" + pack[:data] + pack[data + TABLES:])
