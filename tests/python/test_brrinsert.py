"""brrinsert and vornish_brr.insert end to end, on music-state dumps and
images generated from real recordings (scan_images.py) with a seed the
directory rules were not tuned on: every entry replaced by a shorter
recording, a longer one with free space and a longer one without, each
result read back by the scanner and brrdecode; the refusals; --at."""
import os
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

import numpy

import scan_images
import vornish_brr

INSERT = os.environ["BRRINSERT"]
SCAN = os.environ["BRRSCAN"]
DECODE = os.environ["BRRDECODE"]
SEED = 14


class Made:
    gen = None
    folder = None

    @classmethod
    def get(cls):
        if cls.gen is None:
            cls.gen = scan_images.Generator(vornish_brr, SEED)
            cls.dumps = [cls.gen.dump_image() for _ in range(2)]
            cls.folder = Path(tempfile.mkdtemp(prefix="brrinsert-test-"))
        return cls


def recording(blocks):
    """A real recording encoded to exactly `blocks` blocks, looping over its
    second half, behind its loop header."""
    x = Made.gen.rng.choice(Made.gen.src.instruments)
    pcm = numpy.resize(scan_images.resample(x["pcm"], x["rate"], 16000), blocks * 16)
    loop = blocks // 2 * 16
    return vornish_brr.encode(pcm, loop_start=loop, effort="fast", loop_header=True)


def run(*args):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True)


def entries(data):
    return {f.entry: (f.offset, f.loop) for f in vornish_brr.scan(data) if f.found_by == "directory"}


def free_range(dump):
    """The larger stretch of memory after the samples that the echo buffer leaves."""
    start, end = -(-dump.end // 16) * 16, 0x10000
    if dump.echo:
        low, high = dump.echo[0], dump.echo[0] + dump.echo[1]
        start, end = max([(start, low), (high, end)], key=lambda r: r[1] - r[0])
    return start, end


class Replace(unittest.TestCase):
    def check_result(self, dump, number, sample, out):
        """Entry `number` names the new sample with its loop, the other entries
        are as before, and no other byte changed; it loops stably."""
        before, after = entries(dump.data), entries(out)
        offset, loop = after[number]
        blocks = sample[2:]
        self.assertEqual(out[offset:offset + len(blocks)], blocks)
        self.assertEqual(loop, struct.unpack_from("<H", sample)[0] // 9)
        self.assertEqual({k: v for k, v in after.items() if k != number},
                         {k: v for k, v in before.items() if k != number})
        entry = 0x100 + dump.directory + 4 * number
        changed = [i for i in range(len(out)) if out[i] != dump.data[i]]
        self.assertTrue(all(offset <= i < offset + len(blocks) or entry <= i < entry + 4 for i in changed))
        path = Made.folder / "back.brr"
        path.write_bytes(sample[:2] + out[offset:offset + len(blocks)])
        self.assertIn("Looping is stable.", run(DECODE, "-f", "--loops", "3", "-o", Made.folder / "back.wav",
                                                 path).stdout)

    def test_every_entry_shorter_longer_and_without_room(self):
        made = Made.get()
        for k, dump in enumerate(made.dumps):
            image = made.folder / f"dump{k}.bin"
            image.write_bytes(dump.data)
            found = entries(dump.data)
            for address, start, _, _ in dump.entries:
                number = (address - dump.directory) // 4
                old = next(f for f in vornish_brr.scan(dump.data) if f.entry == number)
                shared = sum(1 for a, s, _, _ in dump.entries if s == start and a != address) > 0
                with self.subTest(dump=k, entry=number):
                    self.assertIn(number, found)
                    low, high = free_range(dump)
                    room = high - low >= 9 * (old.blocks + 40)
                    cases = [(max(1, old.blocks // 2), [], not shared), (old.blocks + 40, [f"--free={low}:{high}"], room),
                             (old.blocks + 40, [], False)]
                    for blocks, free, fits in cases:
                        sample = recording(blocks)
                        path, out = made.folder / "new.brr", made.folder / "out.bin"
                        path.write_bytes(sample)
                        out.unlink(missing_ok=True)
                        done = run(INSERT, "--entry", number, *free, image, path, "-o", out)
                        if not fits:
                            self.assertEqual(done.returncode, 1, done.stderr)
                            self.assertIn(f"needs {len(sample) - 2} bytes", done.stderr)
                            self.assertFalse(out.exists())
                            continue
                        self.assertEqual(done.returncode, 0, done.stderr)
                        new = out.read_bytes()
                        self.check_result(dump, number, sample, new)
                        where = entries(new)[number][0] - 0x100
                        self.assertEqual(where, start if not free else low)
                        ranges = [tuple(map(int, f[7:].split(":"))) for f in free]
                        self.assertEqual(vornish_brr.insert(dump.data, sample, entry=number, free=ranges), new)


class Refusals(unittest.TestCase):
    def test_places_that_overlap_are_refused_and_nothing_written(self):
        made = Made.get()
        dump = next(d for d in made.dumps if d.echo)
        image = made.folder / "refused.bin"
        image.write_bytes(dump.data)
        number = 0
        old = next(f for f in vornish_brr.scan(dump.data) if f.entry == number)
        path = made.folder / "long.brr"
        path.write_bytes(recording(old.blocks + 40))
        other = next(s for a, s, _, _ in dump.entries if s != dump.entries[0][1])
        for free, why in [(dump.echo[0], "echo buffer"), (dump.directory, "directory"), (other, "another entry's sample")]:
            with self.subTest(why):
                out = made.folder / "refused.out"
                done = run(INSERT, "--entry", number, f"--free={free}:{min(0x10000, free + 0x2000)}", image, path, "-o", out)
                self.assertEqual(done.returncode, 1)
                self.assertIn("would overlap " + ("" if why.startswith("another") else "the ") + why, done.stderr)
                self.assertFalse(out.exists())
        with self.assertRaises(vornish_brr.Error) as caught:
            vornish_brr.insert(dump.data, path.read_bytes(), entry=number, free=[(dump.echo[0], dump.echo[0] + 0x2000)])
        self.assertEqual(caught.exception.status, 16)

    def test_outputs_follow_the_shell_rules(self):
        made = Made.get()
        dump = made.dumps[0]
        image, path, out = made.folder / "shell.bin", made.folder / "short.brr", made.folder / "shell.out"
        image.write_bytes(dump.data)
        path.write_bytes(recording(2))
        out.write_bytes(b"keep")
        for args, code, left in [(["-o", out], 1, b"keep"), (["-n"], 0, b"keep"), (["-o", image], 1, b"keep"),
                                 (["-f", "-o", out], 0, None), ([], 2, None), (["--in-place", "-o", out], 2, None)]:
            with self.subTest(args=args):
                done = run(INSERT, "--entry", 0, image, path, *args)
                self.assertEqual(done.returncode, code, done.stderr)
                self.assertEqual(image.read_bytes(), dump.data)
                if left:
                    self.assertEqual(out.read_bytes(), left)
        self.assertEqual(run(INSERT, "--entry", 0, image, path, "--in-place", "-q").stdout, "")
        self.assertEqual(image.read_bytes(), out.read_bytes())

    def test_at_an_offset_of_a_rom_like_image(self):
        made = Made.get()
        rom = made.gen.mixed_image(1 << 20)
        image = made.folder / "rom.bin"
        image.write_bytes(rom.data)
        at, blocks, _ = max(rom.samples, key=lambda s: s[1])
        path = made.folder / "at.brr"
        for size, code in [(blocks - 3, 0), (blocks + 1, 1)]:
            path.write_bytes(recording(size))
            out = made.folder / "rom.out"
            out.unlink(missing_ok=True)
            done = run(INSERT, "--at", hex(at), image, path, "-o", out)
            self.assertEqual(done.returncode, code, done.stderr)
            if code == 0:
                new = out.read_bytes()
                self.assertEqual(new[at:at + 9 * size], path.read_bytes()[2:])
                self.assertEqual(new[:at] + new[at + 9 * size:], rom.data[:at] + rom.data[at + 9 * size:])
                self.assertIn(f"loop block {size // 2}", done.stdout)
            else:
                self.assertIn(f"holds {9 * blocks}", done.stderr)
                self.assertFalse(out.exists())


if __name__ == "__main__":
    unittest.main()
