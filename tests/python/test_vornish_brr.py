"""vornish_brr against the brrdecode tool: the same bytes over the tool's
table of sample forms and options, samples that match the WAV's, and errors
that raise instead of ending the interpreter."""
import os
import pydoc
import random
import subprocess
import tempfile
import unittest
import wave
from pathlib import Path

import numpy
import vornish_brr

TOOL = os.environ["BRRDECODE"]
EXAMPLES = Path(os.environ["VORNISH_EXAMPLES"])


def sample_file(headers, loop_header=None, seed=21):
    """Blocks with the given header bytes and fixed random data, behind an
    optional 2-byte loop header."""
    rng = random.Random(seed)
    out = bytearray() if loop_header is None else bytearray(loop_header.to_bytes(2, "little"))
    for header in headers:
        out.append(header)
        out += bytes(rng.randrange(256) for _ in range(8))
    return bytes(out)


LOOPING = [0xB4, 0xC8, 0xB0, 0xAC, 0x97]  # last block: end and loop flags
ENDING = [0xB4, 0xC8, 0xB1, 0xAC, 0x94]   # end flag on block 2
PLAIN = [0xB4, 0xC8, 0xB0, 0xAC, 0x94]

# name, file, keyword options of convert
CASES = [
    ("header_and_flags", sample_file(LOOPING, 18), {}),
    ("header_flags_loops_rate", sample_file(LOOPING, 18), {"loops": 3, "rate": 32000}),
    ("header_without_flags", sample_file(PLAIN, 27), {}),
    ("header_not_a_block", sample_file(LOOPING, 10), {}),
    ("header_past_the_end", sample_file(LOOPING, 45), {"loops": 2}),
    ("no_header_option", sample_file(LOOPING, 18), {"no_header": True}),
    ("stray_bytes_no_header", sample_file(PLAIN) + b"\x12\x34", {"no_header": True}),
    ("stray_bytes", sample_file(PLAIN) + b"\x12\x34", {}),
    ("size_5_mod_9", bytes(5 + 9), {}),
    ("empty", b"", {}),
    ("blocks_after_end", sample_file(ENDING), {}),
    ("stop_at_end", sample_file(ENDING), {"stop_at_end": True}),
    ("stop_at_end_header_past_it", sample_file(ENDING, 27), {"stop_at_end": True}),
    ("loop_start_option", sample_file(PLAIN), {"loop_start": 1, "loops": 2}),
    ("loop_start_overrides_header", sample_file(LOOPING, 18), {"loop_start": 4, "smpl": False}),
    ("loop_start_outside", sample_file(PLAIN), {"loop_start": 5}),
    ("random_many_loops", sample_file(bytes(random.Random(3).randrange(256) for _ in range(40)), seed=4),
     {"loops": 17, "rate": 11025}),
    ("example_loop", open(os.path.join(EXAMPLES, "loop.brr"), "rb").read(), {"loops": 4, "rate": 32000}),
    ("example_tone", open(os.path.join(EXAMPLES, "tone.brr"), "rb").read(), {}),
]

FILES = {name: data for name, data, _ in CASES}


def tool_args(options):
    args = []
    for key, value in options.items():
        if key in ("no_header", "stop_at_end"):
            args.append("--" + key.replace("_", "-"))
        elif key == "smpl":
            args.append("--no-smpl")
        elif key == "play":
            args += ["--play", hex(value)]
        else:
            args += ["--" + key.replace("_", "-"), str(value)]
    return args


def run_tool(data, options):
    """The tool's WAV for data, or None when it refuses the file."""
    with tempfile.TemporaryDirectory() as scratch:
        source = os.path.join(scratch, "in.brr")
        target = os.path.join(scratch, "out.wav")
        with open(source, "wb") as f:
            f.write(data)
        done = subprocess.run([TOOL, "-q", *tool_args(options), "-o", target, source],
                              stderr=subprocess.DEVNULL)
        if done.returncode != 0:
            return None
        with open(target, "rb") as f:
            return f.read()


class ConvertTest(unittest.TestCase):
    def test_convert_gives_the_tools_bytes(self):
        for name, data, options in CASES:
            with self.subTest(name):
                expected = run_tool(data, options)
                if expected is None:
                    with self.assertRaises(vornish_brr.Error) as caught:
                        vornish_brr.convert(data, **options)
                    self.assertIn(caught.exception.status, (1, 2, 9, 10))
                    self.assertEqual(caught.exception.text, str(caught.exception))
                else:
                    self.assertEqual(vornish_brr.convert(data, **options), expected)

    def test_decode_gives_the_wavs_samples(self):
        for name, data, options in CASES:
            wav = run_tool(data, options)
            if wav is None:
                continue
            with self.subTest(name):
                sample = vornish_brr.decode(data, **options)
                count = len(sample.samples)
                self.assertEqual(wav[44 + 2 * count:][:4], b"smpl" if sample.smpl_loop else b"")
                numpy.testing.assert_array_equal(sample.samples, numpy.frombuffer(wav, "<i2", count, 44))
                self.assertEqual(sample.rate, options.get("rate", 32000))

    def test_every_buffer_kind_is_read_in_place(self):
        data = FILES["header_and_flags"]
        expected = vornish_brr.convert(data)
        for view in (bytearray(data), memoryview(data), numpy.frombuffer(data, numpy.uint8)):
            self.assertEqual(vornish_brr.convert(view), expected)
        with self.assertRaises(TypeError):
            vornish_brr.convert(numpy.zeros(9, numpy.int16))


def play_plainly(decoded, pitch):
    """What the voice outputs at pitch, computed here from the rules."""
    g = vornish_brr.INTERPOLATION_TABLE.astype(numpy.int64)
    v = numpy.concatenate([numpy.zeros(3, numpy.int64), decoded.astype(numpy.int64) // 2])
    count = -(-len(decoded) * 4096 // pitch)
    p = numpy.arange(count, dtype=numpy.int64) * pitch
    n, i = (p >> 12) + 3, (p >> 4) & 255
    s = ((g[255 - i] * v[n - 3]) >> 10) + ((g[511 - i] * v[n - 2]) >> 10) + ((g[256 + i] * v[n - 1]) >> 10)
    s = numpy.where(s > 32767, s - 65536, numpy.where(s < -32768, s + 65536, s))
    s = numpy.clip(s + ((g[i] * v[n]) >> 10), -32768, 32767)
    return ((s >> 1) * 2).astype(numpy.int16)


class PlayTest(unittest.TestCase):
    def test_tool_and_module_play_as_the_rules_say(self):
        data = FILES["header_and_flags"]
        for rules in ("hardware", "library"):
            for loops in (1, 3):
                for pitch in (1, 0x800, 0x1000, 0x1234, 0x2000, 0x3FFF):
                    with self.subTest(rules=rules, loops=loops, pitch=pitch):
                        options = {"rules": rules, "loops": loops, "play": pitch}
                        played = vornish_brr.decode(data, **options)
                        wav = run_tool(data, options)
                        self.assertNotIn(b"smpl", wav)
                        numpy.testing.assert_array_equal(
                            numpy.frombuffer(wav, "<i2", len(played.samples), 44), played.samples)
                        source = vornish_brr.decode(data, rules=rules, loops=loops).samples
                        numpy.testing.assert_array_equal(played.samples, play_plainly(source, pitch))
                        self.assertEqual(played.rate, 32000)


class DecodeTest(unittest.TestCase):
    def test_values_of_the_reports(self):
        sample = vornish_brr.decode(FILES["header_flags_loops_rate"], loops=3)
        self.assertEqual((sample.block_count, sample.loop_start, sample.trailing_blocks), (5, 2, 0))
        self.assertEqual(sample.smpl_loop, (128, 175))  # the last pass of blocks 2..4
        self.assertEqual(sample.stability, "stable")
        self.assertEqual(sample.note, ("E", 5, 19))
        stray = vornish_brr.decode(sample_file(PLAIN) + b"\x12\x34", no_header=True)
        self.assertEqual((stray.extra_bytes, stray.loop_start), (2, None))
        self.assertEqual(vornish_brr.decode(FILES["blocks_after_end"]).trailing_blocks, 2)

    def test_blocks_in_pieces_equal_the_whole(self):
        blocks = sample_file(bytes(random.Random(8).randrange(256) for _ in range(64)), seed=9)
        whole = vornish_brr.decode_blocks(blocks)
        decoder = vornish_brr.Decoder()
        pieces = [vornish_brr.decode_blocks(blocks[at:at + 63], decoder) for at in range(0, len(blocks), 63)]
        numpy.testing.assert_array_equal(numpy.concatenate(pieces), whole)
        numpy.testing.assert_array_equal(whole, vornish_brr.decode(blocks).samples)
        library = vornish_brr.decode_blocks(blocks, vornish_brr.Decoder("library"))
        numpy.testing.assert_array_equal(library, vornish_brr.decode(blocks, rules="library").samples)
        self.assertFalse(numpy.array_equal(library, whole))  # the corpus has filter 1 and ranges 13 to 15

    def test_encode_round_trips_and_refuses(self):
        t = numpy.arange(1008)
        pcm = (12000 * numpy.sin(t * 0.07) + 2000 * numpy.sin(t * 1.1)).astype(numpy.int16)
        blocks = vornish_brr.encode(pcm, loop_start=320, loop_header=False)
        self.assertEqual((len(blocks), blocks[-9] & 3), (9 * 63, 3))
        # As brrencode writes it: the loop header by default, where it fits.
        self.assertEqual(vornish_brr.encode(pcm, loop_start=320), (20 * 9).to_bytes(2, "little") + blocks)
        far = numpy.resize(pcm, 16 * 7300)
        with self.assertWarnsRegex(RuntimeWarning, "past what a 2-byte loop header holds"):
            self.assertEqual(len(vornish_brr.encode(far, loop_start=16 * 7282, effort="fast")), 9 * 7300)
        back = vornish_brr.decode_blocks(blocks).astype(float)
        self.assertGreater(10 * numpy.log10((pcm.astype(float) ** 2).sum() / ((back - pcm) ** 2).sum()), 25)
        looped = vornish_brr.decode(blocks, no_header=True, loop_start=20, loops=3)
        self.assertEqual(looped.stability, "stable")
        with self.assertWarnsRegex(RuntimeWarning, "does not loop"):
            vornish_brr.decode(vornish_brr.encode(pcm), loops=2)
        self.assertEqual(vornish_brr.convert(blocks, no_header=True, root_note="A#3"),
                         vornish_brr.convert(blocks, no_header=True, root_note=58))
        self.assertEqual(vornish_brr.encode(pcm.tolist(), effort="fast", rules="library")[-9] & 3, 1)
        square = numpy.where(numpy.sin(t * 0.05) > 0, 32767, -32768).astype(numpy.int16)
        for safe, inside in ((True, True), (False, False)):
            peak = numpy.abs(vornish_brr.decode_blocks(vornish_brr.encode(square, safe_range=safe))).max()
            self.assertEqual(peak <= 2 * 16378, inside, safe)
        for call, status in ((lambda: vornish_brr.encode(pcm, loop_start=8), 9),
                             (lambda: vornish_brr.encode(pcm[:1000], loop_start=320), 12),
                             (lambda: vornish_brr.convert(blocks, root_note=-1), 12),
                             (lambda: vornish_brr.encode(pcm[:0]), 2)):
            with self.assertRaises(vornish_brr.Error) as caught:
                call()
            self.assertEqual(caught.exception.status, status)
        for bad in ({"effort": "slow"}, {"rules": "other"}):
            self.assertRaises(ValueError, vornish_brr.encode, pcm, **bad)
        self.assertRaises(ValueError, vornish_brr.encode, pcm.reshape(16, 63))

    @unittest.skipUnless(os.environ.get("BRRENCODE"), "brrencode was not built (apt-get install libsndfile1-dev)")
    def test_encode_shapes_as_the_tool_does(self):
        """The tool's options and the same WAV read as soundfile reads it
        (float32, or float64) and as int16 give the tool's blocks."""
        with tempfile.TemporaryDirectory() as tmp:
            wav, brr = Path(tmp) / "st.wav", Path(tmp) / "st.brr"
            subprocess.run(["sox", "-n", "-r", "44100", "-b", "16", "-c", "2", wav, "synth", "1.2", "sawtooth", "330",
                            "synth", "1.2", "sine", "331", "vol", "0.6"], check=True)
            with wave.open(str(wav)) as w:
                frames = numpy.frombuffer(w.readframes(w.getnframes()), "<i2").reshape(-1, 2)
            cases = [  # brrencode's options, encode's
                ([], {}),
                (["--rate", "32000", "--channel", "1"], {"rate": 32000, "channel": 1}),
                (["--loop", "auto"], {"loop": "auto"}),
                (["--loop", "0.5s:0.9s", "--loop-fit", "resample"], {"loop": ("0.5s", "0.9s"), "loop_fit": "resample"}),
                (["--loop", "1000:20000", "--loop-fit", "repeat", "--treble-boost"],
                 {"loop": (1000, 20000), "loop_fit": "repeat", "treble_boost": True}),
            ]
            for options, keywords in cases:
                subprocess.run([os.environ["BRRENCODE"], "-q", "-f", *options, wav, "-o", brr], check=True)
                for audio in (frames, frames.astype(numpy.float32) / 32768, frames / 32768.0, frames.astype(">i2")):
                    with self.subTest(options=options, dtype=audio.dtype):
                        self.assertEqual(vornish_brr.encode(audio, input_rate=44100, **keywords), brr.read_bytes())
        shaped = vornish_brr.shape(frames[:, 0], input_rate=44100, loop="auto")
        self.assertEqual((shaped["found"], shaped["loop_start"] % 16), (True, 0))
        for bad in ({"loop": (5, 5)}, {"loop": ("1s", "x")}, {"loop_fit": "stretch"}, {"channel": 3},
                    {"rate": 0}, {"loop": "auto", "loop_start": 16}):
            with self.subTest(bad=bad):
                self.assertRaises(vornish_brr.OptionError, vornish_brr.encode, frames, input_rate=44100, **bad)
        self.assertRaises(vornish_brr.OptionError, vornish_brr.encode, frames, loop="auto")  # no input_rate

    def test_float_audio_and_other_dtypes(self):
        x = (12000 * numpy.sin(numpy.arange(1000) * 0.07)).astype(numpy.int16)
        x[:3] = (-32768, 32767, -1)
        expected = vornish_brr.encode(x)
        for audio in (x.astype(numpy.float32) / 32768, x / 32768.0, x.astype(">i2"), x.tolist()):
            self.assertEqual(vornish_brr.encode(audio), expected, getattr(audio, "dtype", "list"))
        with self.assertWarnsRegex(RuntimeWarning, "2 samples of pcm lie beyond"):
            vornish_brr.encode(numpy.array([1.5, -2.0, 0.5]))
        cases = [  # call, exception (beside Error), message
            (lambda: vornish_brr.encode(numpy.full(16, 40000, numpy.int32)), TypeError, r"not int32"),
            (lambda: vornish_brr.encode([0, 40000]), ValueError, r"^pcm\[1\]=40000: .* -32768 to 32767$"),
            (lambda: vornish_brr.encode(numpy.array([0.0, numpy.nan])), ValueError, r"pcm\[1\] is NaN"),
            (lambda: vornish_brr.convert(b"\x07" * 9, rate=0), ValueError, r"^rate=0: the rate must be 1 to 384000$"),
            (lambda: vornish_brr.convert(b"\x07" * 9, loops="2"), TypeError, r"^loops must be an int, not str$"),
            (lambda: vornish_brr.scan(b"\x07" * 9, min_score=2), ValueError, r"^min_score=2: .* 0.0 to 1.0$"),
            (lambda: vornish_brr.scan(b"\x07" * 9, directory=256), ValueError, r"needs a memory image"),
            (lambda: vornish_brr.decode(3), TypeError, r"^data must be .*, not int$"),
            (lambda: vornish_brr.encode("flute.wav"), TypeError, r"not a path .*soundfile\.read"),
            (lambda: vornish_brr.convert(b"\x07" * 9, root_note="H4"), ValueError, r"'C4', 'A#3'"),
        ]
        for call, kind, message in cases:
            with self.subTest(message):
                with self.assertRaisesRegex(vornish_brr.Error, message) as caught:
                    call()
                self.assertIsInstance(caught.exception, kind)
                self.assertNotIn("\\x07", str(caught.exception))

    def test_paths_reprs_and_the_read_only_table(self):
        path = EXAMPLES / "loop.brr"
        data = path.read_bytes()
        self.assertEqual(vornish_brr.convert(str(path), loops=2), vornish_brr.convert(data, loops=2))
        image = b"\xff" * 100 + data
        with tempfile.TemporaryDirectory() as folder:
            (Path(folder) / "image.bin").write_bytes(image)
            finds = vornish_brr.scan(Path(folder) / "image.bin")
            self.assertEqual([repr(f) for f in finds], [repr(f) for f in vornish_brr.scan(image)])
            self.assertEqual(bytes(finds[0].blocks_view(Path(folder) / "image.bin")),
                             bytes(finds[0].blocks_view(image)))
        self.assertRegex(repr(finds[0]), r"^Found\(offset=\d+, blocks=\d+")
        self.assertRegex(repr(vornish_brr.decode(data)), r"^Sample\(\d+ samples at 32000 Hz")
        with self.assertRaises(ValueError):
            vornish_brr.INTERPOLATION_TABLE[0] = 1
        self.assertNotIn("anonymous", pydoc.render_doc(vornish_brr._engine))

    def test_bad_inputs_raise_and_the_interpreter_goes_on(self):
        rng = random.Random(5)
        for _ in range(300):
            data = bytes(rng.randrange(256) for _ in range(rng.randrange(60)))
            options = {"loops": rng.choice([0, 1, 2, 3201]), "rate": rng.choice([0, 1, 32000]),
                       "loop_start": rng.choice([None, -1, 0, 3, 1 << 40]),
                       "no_header": rng.random() < 0.3, "stop_at_end": rng.random() < 0.3}
            try:
                vornish_brr.convert(data, **options)
            except vornish_brr.Error as error:
                self.assertIn(error.status, range(1, 13))
        with self.assertRaises(vornish_brr.Error) as caught:
            vornish_brr.decode_blocks(b"\0" * 10)
        self.assertEqual(caught.exception.status, 1)
        self.assertTrue(vornish_brr.__version__)
        memory, sample = bytes(65536), b"\x01" + bytes(8)
        for call, status in [(lambda: vornish_brr.insert(memory, sample), 12),
                             (lambda: vornish_brr.insert(memory, sample, entry=1, at=0), 12),
                             (lambda: vornish_brr.insert(memory, sample, entry=256), 12),
                             (lambda: vornish_brr.insert(memory, sample, entry=0, free=[(5, 5)]), 12),
                             (lambda: vornish_brr.insert(memory, sample, entry=0), 18),
                             (lambda: vornish_brr.insert(memory, sample, at=70000), 12),
                             (lambda: vornish_brr.insert(memory, bytes(9), at=0), 17),
                             (lambda: vornish_brr.read_dump(memory), 19)]:
            with self.assertRaises(vornish_brr.Error) as caught:
                call()
            self.assertEqual(caught.exception.status, status)
        ramp = numpy.tile(numpy.arange(-32, 32, dtype=numpy.int16) * 100, 8)  # whole periods: an exact join
        self.assertEqual(vornish_brr.loop_seam(ramp, 256), float("-inf"))
        self.assertGreater(vornish_brr.loop_seam(ramp, 252), -30)  # a sixteenth of a period off
        self.assertGreater(vornish_brr.loop_seam(ramp, 64), -30)  # joined to the silence before the start
        with self.assertRaises(vornish_brr.OptionError):
            vornish_brr.loop_seam(ramp, len(ramp))


if __name__ == "__main__":
    unittest.main()
