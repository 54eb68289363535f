#!/usr/bin/env python3
"""Writes tone.brr: one second of a 500 Hz square wave that fades out.

At 8000 Hz one period of 500 Hz is 16 samples, exactly one block: eight codes
of +7 (0x7) then eight of -7 (0x9). Every block uses filter 0, so each sample
is just the code scaled by the block's range: 7 << 11 >> 1 = 7168, played as
14336. The range steps down from 11 to 4 over the 500 blocks, halving the
amplitude at each step, and the last block carries the end flag (bit 0).

Usage: python3 make_tone.py [OUTPUT]   (default: tone.brr beside this script)
"""
import os
import sys

BLOCKS = 500
data = bytes([0x77] * 4 + [0x99] * 4)
out = bytearray()
for i in range(BLOCKS):
    brr_range = 11 - (i * 8) // BLOCKS
    end_flag = 1 if i == BLOCKS - 1 else 0
    out.append(brr_range << 4 | 0 << 2 | end_flag)
    out += data

path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "tone.brr")
with open(path, "wb") as f:
    f.write(out)
