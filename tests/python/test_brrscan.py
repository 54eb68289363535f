"""The sample scanner end to end, on images generated from real recordings
and real files (scan_images.py) with seeds its tables were not tuned on:
what it finds and misses, the memory images' directories, brrscan against
vornish_brr.scan, extraction read back by brrdecode and sndfile-info, and
the shell rules."""
import json
import struct
import os
import pty
import re
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

import numpy

import scan_images
import vornish_brr

SCAN = os.environ["BRRSCAN"]
DECODE = os.environ["BRRDECODE"]
SEED = 12  # never looked at while the scanner was tuned (odd seeds tuned it, 10 checked it)


def run(*args, ok=True, stdin=None):
    done = subprocess.run([str(a) for a in args], capture_output=True, stdin=stdin)
    if ok and done.returncode != 0:
        raise AssertionError(f"{args}: {done.returncode} {done.stderr.decode()}")
    return done


def overlaps(f, start, end):
    return f.offset < end and start < f.offset + 9 * f.blocks


class Images:
    """One set of images, made once for all the tests."""
    made = None

    @classmethod
    def get(cls):
        if cls.made is None:
            gen = scan_images.Generator(vornish_brr, SEED)
            cls.made = {
                "mixed": gen.mixed_image(6 << 20),
                "random": gen.junk_image(["random"], 4 << 20),
                "code": gen.junk_image(list(gen.src.code), 6 << 20),
                "memory": [gen.memory_image() for _ in range(3)],
                "dumps": [gen.dump_image() for _ in range(8)],
            }
            cls.folder = Path(tempfile.mkdtemp(prefix="brrscan-test-"))
        return cls.made


class Measured(unittest.TestCase):
    """Recall and false finds at the defaults, as the README states them."""

    def test_finds_samples_and_not_other_bytes(self):
        images = Images.get()
        found = exact = total = 0
        for image in [images["mixed"]] + images["memory"]:
            finds = vornish_brr.scan(image.data)
            for start, blocks, _ in image.samples:
                if blocks < 8:
                    continue
                total += 1
                end = start + 9 * blocks
                hits = [f for f in finds if overlaps(f, start, end) and (f.offset - start) % 9 == 0]
                shared = [min(end, f.offset + 9 * f.blocks) - max(start, f.offset) for f in hits]
                if any(s >= 0.9 * 9 * blocks and 9 * f.blocks - s <= 0.1 * 9 * blocks for f, s in zip(hits, shared)):
                    found += 1
                exact += any(f.offset == start and f.blocks == blocks for f in hits)
        print(f"\nrecall {found}/{total} = {found / total:.3f} overlapping, {exact / total:.3f} exact")
        # The aims (0.98 and 0.90); today 0.983 and 0.949 on this seed.
        self.assertGreaterEqual(found / total, 0.98)
        self.assertGreaterEqual(exact / total, 0.90)
        for name in ["random", "code", "mixed"]:
            image = images[name]
            real = [(s, s + 9 * b) for s, b, _ in image.samples]
            false = [f for f in vornish_brr.scan(image.data) if not any(overlaps(f, s, e) for s, e in real)]
            mib = (len(image.data) - sum(e - s for s, e in real)) / 2 ** 20
            print(f"{name}: {len(false)} false finds in {mib:.1f} MiB of other bytes")
            self.assertLessEqual(len(false), mib, name)

    def test_every_directory_entry_exactly_with_its_loop(self):
        for image in Images.get()["memory"]:
            finds = {(f.offset, f.loop) for f in vornish_brr.scan(image.data) if f.found_by == "directory"}
            for entry, start, loop_address, loop in image.entries:
                self.assertIn((start, loop), finds, hex(entry))
            named = {(f.offset, f.directory) for f in vornish_brr.scan(image.data, directory=image.directory)}
            self.assertIn((image.entries[0][1], image.entries[0][0]), named)

    def test_every_dump_entry_once_with_its_loop_and_the_register_directory(self):
        for k, dump in enumerate(Images.get()["dumps"]):
            with self.subTest(k):
                finds = vornish_brr.scan(dump.data)
                self.assertEqual(sorted((f.directory, f.offset - 0x100, f.loop) for f in finds if f.entry is not None),
                                 sorted((e, s, loop) for e, s, _, loop in dump.entries))
                self.assertEqual(vornish_brr.read_dump(dump.data).directory_names_samples, not dump.stale)
                if dump.echo:  # no find of the scan in the echo buffer
                    start, end = 0x100 + dump.echo[0], 0x100 + sum(dump.echo)
                    self.assertFalse([f for f in finds if f.offset < end and start < f.offset + 9 * f.blocks])


class Tool(unittest.TestCase):
    def image(self, name, data):
        path = Images.folder / name
        path.write_bytes(data)
        return path

    def test_tool_and_module_agree(self):
        images = Images.get()
        for name, image in [("mixed", images["mixed"]), ("memory", images["memory"][0])]:
            path = self.image(name + ".bin", image.data)
            listed = [json.loads(line) for line in run(SCAN, "--json", path).stdout.splitlines()]
            module = vornish_brr.scan(numpy.frombuffer(image.data, numpy.uint8))
            self.assertEqual([(d["offset"], d["blocks"], d["loop"], d["found_by"], d["directory"]) for d in listed],
                             [(f.offset, f.blocks, f.loop, f.found_by, f.directory) for f in module])
            self.assertTrue(all(abs(d["score"] - f.score) < 1e-4 for d, f in zip(listed, module)))
            self.assertEqual({d["image"] for d in listed}, {str(path)})
        with open(path, "rb") as image:
            piped = run(SCAN, "--json", "-", stdin=image).stdout.splitlines()
        self.assertEqual([json.loads(line)["offset"] for line in piped], [d["offset"] for d in listed])
        # A name that is not UTF-8: its bytes read as Latin-1.
        latin = self.image(os.fsdecode(b"caf\xe9.bin"), images["memory"][0].data)
        line = run(SCAN, "--json", latin).stdout.splitlines()[0]
        self.assertTrue(json.loads(line.decode("utf-8"))["image"].endswith("caf\u00e9.bin"))

    def test_an_image_that_shrinks_is_an_error_or_read_whole(self):
        path = self.image("shrinking.bin", Images.get()["mixed"].data * 8)
        scan = subprocess.Popen([SCAN, path], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        time.sleep(0.05)
        os.truncate(path, 4096)
        err = scan.communicate()[1].decode()
        self.assertIn(scan.returncode, (0, 1), err)  # never a signal (SIGBUS)
        if scan.returncode:
            self.assertIn("shrink", err)

    def test_a_dump_lists_its_titles_and_writes_voices_at_their_rates(self):
        dump = next(d for d in Images.get()["dumps"] if d.titles and d.voices)
        path = self.image("song.dump", dump.data)
        listed = [json.loads(line) for line in run(SCAN, "--json", path).stdout.splitlines()]
        self.assertEqual(listed[0]["dump"]["song"], dump.titles[0])
        self.assertEqual(listed[0]["dump"]["echo"], list(dump.echo) if dump.echo else None)
        played = {}
        for v, (number, pitch) in sorted(dump.voices.items(), reverse=True):
            played[number] = (v, (pitch * 32000 + 2048) // 4096)  # halves round up, as the library does
        for rate_options, rate_of in [([], lambda n: played.get(n, (0, 32000))[1]), (["--pitch", "0x800"], lambda n: 16000),
                                      (["--rate", "22050"], lambda n: 22050)]:
            out = Path(tempfile.mkdtemp(dir=Images.folder))
            run(SCAN, "-q", "-x", out, "--wav", *rate_options, path)
            for d in listed[1:]:
                if d["entry"] is not None:
                    wav = out / f"song.dump.0x{d['offset']:06x}.wav"
                    if d.get("voice") is not None:
                        self.assertEqual((d["voice"], d["rate"]), played[d["entry"]])
                    if wav.exists() and d["entry"] == min(e["entry"] for e in listed[1:] if e["offset"] == d["offset"]):
                        self.assertEqual(struct.unpack_from("<I", wav.read_bytes(), 24)[0], rate_of(d["entry"]))

    def test_extracted_samples_play_back_with_their_loops(self):
        image = Images.get()["memory"][1]
        looped = [(start, loop) for _, start, _, loop in image.entries if loop is not None]
        self.assertTrue(looped)
        # One more entry: the first looped sample's start with its first block as the loop.
        data = bytearray(image.data)
        extra = image.entries[-1][0] + 4
        data[extra:extra + 4] = struct.pack("<HH", looped[0][0], looped[0][0])
        path = self.image("mem1.bin", bytes(data))
        out = Path(tempfile.mkdtemp(dir=Images.folder)) / "made"  # -x makes it
        self.assertEqual(run(SCAN, "-q", "-x", out, "--wav", path).stdout, b"")
        self.assertTrue((out / f"mem1.bin.0x{looped[0][0]:06x}.entry0x{extra:04x}.brr").is_file())
        for start, loop in looped:
            brr = out / f"mem1.bin.0x{start:06x}.brr"
            said = run(DECODE, "--loops", "3", "-f", "-o", out / "played.wav", brr).stdout.decode()
            self.assertIn(f"Loop start : block {loop}.", said)
            self.assertIn("Looping is stable.", said)
            info = run("sndfile-info", str(brr.with_suffix(".wav"))).stdout.decode()
            self.assertRegex(info, rf"Start :\s+{16 * loop}\b")
        again = run(SCAN, "-q", "-x", out, path, ok=False)
        self.assertEqual(again.returncode, 1)
        self.assertIn(b"file exists (use -f to overwrite)", again.stderr)
        run(SCAN, "-q", "-f", "-x", out, path)

    def test_unique_lists_a_shared_sample_once_with_both_places(self):
        memory = Images.get()["memory"][0]
        start = memory.samples[0][0]
        shared = memory.data[start:start + 0x4000]
        first = self.image("first.bin", b"\x00" * 4096 + shared)
        second = self.image("second.bin", bytes(range(256)) * 16 + b"\xff" * 100 + shared)
        lines = [json.loads(line) for line in run(SCAN, "--json", "--unique", first, second).stdout.splitlines()]
        both = [d for d in lines if {p["image"] for p in d["places"]} == {str(first), str(second)}]
        self.assertTrue(both)
        self.assertEqual(len({(d["blocks"], d["offset"]) for d in lines}), len(lines))
        for d in both:
            offsets = sorted(p["offset"] for p in d["places"])
            self.assertEqual(offsets[1] - offsets[0], 100)

    def test_refusals_say_why(self):
        memory = self.image("m.bin", Images.get()["memory"][0].data)
        for args, code, message in [
            (["--min-score", "1.5", memory], 2, "invalid score"),
            (["--wav", memory], 2, "--wav needs -x DIR"),
            (["--directory", "0x1234", memory], 2, "invalid directory"),
            (["--memory-offset", "18446744073709551620", memory], 2, "from 0 to 0x4000000000000000"),
            (["-o", "x", memory], 2, "writes no single output"),
            (["-x", memory, memory], 2, "is not a directory"),
            (["-x", Images.folder / "none" / "deeper", memory], 1, "cannot create the directory: No such file"),
            (["--memory-offset", "1", memory], 1, "too short for a 64 KiB memory image"),
            ([Images.folder / "none.bin"], 1, "No such file or directory"),
        ]:
            done = run(SCAN, *args, ok=False)
            self.assertEqual(done.returncode, code, args)
            self.assertIn(message, done.stderr.decode(), args)

    def test_progress_on_a_terminal(self):
        path = self.image("big.bin", Images.get()["mixed"].data)
        leader, follower = pty.openpty()
        done = subprocess.run([SCAN, path], stdout=subprocess.DEVNULL, stderr=follower)
        os.close(follower)
        shown = os.read(leader, 65536).decode()
        os.close(leader)
        self.assertEqual(done.returncode, 0)
        self.assertRegex(shown, r"brrscan: .*big\.bin: +\d+%")
        quiet = run(SCAN, path).stderr
        self.assertEqual(quiet, b"")


class Module(unittest.TestCase):
    def test_found_blocks_decode_as_the_sample(self):
        image = Images.get()["memory"][2]
        f = vornish_brr.scan(image.data)[0]
        view = f.blocks_view(image.data)
        self.assertEqual(len(view), 9 * f.blocks)
        self.assertEqual(vornish_brr.decode(view, stop_at_end=True).block_count, f.blocks)
        with self.assertRaises(ValueError):
            f.blocks_view(image.data[:f.offset])
        with self.assertRaises(vornish_brr.Error) as bad:
            vornish_brr.scan(image.data, min_score=2)
        self.assertEqual(bad.exception.status, 12)
        self.assertTrue(re.match(r"Found\(offset=\d+", repr(f)))


if __name__ == "__main__":
    unittest.main()
