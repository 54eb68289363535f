#!/usr/bin/env python3
"""Writes loop.brr: a short looping sample with a 2-byte loop header.

The file is a 16-bit little-endian loop offset (in bytes, counted from the
first block) followed by 8 blocks. Blocks 0-5 are the attack: a square wave
whose period is one block (eight codes of +7, then eight of -7) at ranges 12
down to 10. Blocks 6-7 are the loop: one period of a quieter square wave
spread over two blocks (sixteen codes of +5, then sixteen of -5) at range 10.
The last block carries both the end flag (bit 0) and the loop flag (bit 1),
and the header points at block 6 (offset 54). Every block uses filter 0, so
the loop sounds the same on every pass.

Usage: python3 make_loop.py [OUTPUT]   (default: loop.brr beside this script)
"""
import os
import sys

LOOP_BLOCK = 6
out = bytearray((LOOP_BLOCK * 9).to_bytes(2, "little"))
for i in range(LOOP_BLOCK):
    out.append((12 - i // 2) << 4)
    out += bytes([0x77] * 4 + [0x99] * 4)
out.append(10 << 4)
out += bytes([0x55] * 8)
out.append(10 << 4 | 0x3)  # end and loop flags
out += bytes([0xBB] * 8)

path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "loop.brr")
with open(path, "wb") as f:
    f.write(out)
