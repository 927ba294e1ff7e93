#!/usr/bin/env python3
"""Turns a pack into a seed for pack_open_fuzz: the two 128 KiB colour tables are cut out and a
first byte of 1 asks the target to put tables back at the data offset, so the fuzzer spends its
bytes on the header, counts, thumbnails and picture entries.

usage: pack_seed.py PACK.evg SEED   (small packs make fast seeds: few pictures, small thumbnails)
"""
import struct, sys

TABLES = 2 * 65536 * 2  # best_match and second_match, 16 bits per RGB565 value

pack = open(sys.argv[1], "rb").read()
# A pack with a header names its data offset at byte 12; a headerless one starts with the tables.
data = struct.unpack_from("<H", pack, 12)[0] if pack[:8] == b"EVERGREE" else 0
open(sys.argv[2], "wb").write(b"\x01" + pack[:data] + pack[data + TABLES:])
