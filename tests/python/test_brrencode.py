"""brrencode end to end: quality against an independent per-block search on
real instrument recordings, loops that play back stable, the treble boost
heard through the playback interpolation, the input formats, and the shell
rules. Outputs are read back by brrdecode, sox and Python's wave module."""
import concurrent.futures
import os
import pty
import re
import struct
import subprocess
import tempfile
import unittest
import wave
from pathlib import Path

import numpy

import instrument_set

ENCODE = os.environ["BRRENCODE"]
DECODE = os.environ["BRRDECODE"]
EXAMPLES = Path(os.environ["VORNISH_EXAMPLES"])
SAFE_MIN, SAFE_MAX = -16378, 16376


def run(*args, ok=True):
    done = subprocess.run([str(a) for a in args], capture_output=True, text=True)
    if ok and done.returncode != 0:
        raise AssertionError(f"{args}: {done.returncode} {done.stderr}")
    return done


def read_wav(path):
    with wave.open(str(path)) as w:
        return numpy.frombuffer(w.readframes(w.getnframes()), "<i2").astype(numpy.int64), w.getframerate()


def decoded(brr, *options):
    """The samples brrdecode makes of brr (plain blocks unless options say otherwise)."""
    out = Path(brr).with_suffix(".decoded.wav")
    run(DECODE, "-f", "-q", "--rules", "hardware", *(options or ["--no-header"]), brr, "-o", out)
    return read_wav(out)[0]


def snr(reference, samples):
    ref = numpy.zeros(len(samples), numpy.int64)
    ref[:len(reference)] = reference[:len(samples)]
    return 10 * numpy.log10((ref ** 2).sum() / ((samples - ref) ** 2).sum())


def printed(output, line):
    return float(re.search(re.escape(line) + r" (-?inf|[-0-9.]+)", output).group(1))


def per_block_search(x):
    """The usual encoder, written afresh: per block, every filter and range
    0-12, each code the one whose decoded value is nearest, the least error."""
    codes = numpy.arange(-8, 8)
    configs = [(f, r) for f in range(4) for r in range(13)]
    filt = numpy.array([f for f, _ in configs])
    scaled = numpy.array([(codes << r) >> 1 for _, r in configs])
    t = numpy.zeros(-(-len(x) // 16) * 16, numpy.int64)
    t[:len(x)] = x
    p1 = p2 = 0
    out = []
    for b in range(len(t) // 16):
        h1 = numpy.full(len(configs), p1)
        h2 = numpy.full(len(configs), p2)
        err = numpy.where(filt == 0, 0.0, numpy.inf) if b == 0 else numpy.zeros(len(configs))
        values = []
        for k in range(16):
            pred = numpy.select([filt == 0, filt == 1, filt == 2],
                                [0, h1 + ((-h1) >> 4), 2 * h1 - h2 + ((-3 * h1) >> 5) + (h2 >> 4)],
                                2 * h1 - h2 + ((-13 * h1) >> 6) + ((3 * h2) >> 4))
            v = numpy.clip(pred[:, None] + scaled, -32768, 32767)
            v = ((v + 16384) & 0x7FFF) - 16384
            e = (2 * v - t[16 * b + k]) ** 2.0
            e[(v < SAFE_MIN) | (v > SAFE_MAX)] = numpy.inf
            pick = e.argmin(axis=1)
            chosen = v[numpy.arange(len(configs)), pick]
            err += e[numpy.arange(len(configs)), pick]
            values.append(chosen)
            h1, h2 = chosen, h1
        best = int(err.argmin())
        out.extend(2 * int(values[k][best]) for k in range(16))
        p1, p2 = int(h1[best]), int(h2[best])
    return snr(x, numpy.array(out))


@unittest.skipIf(os.environ.get("VORNISH_SANITIZED") or not instrument_set.FONT.exists(),
                 "native builds with timgm6mb-soundfont installed")
class Quality(unittest.TestCase):
    """Every recording of a General MIDI sound font, at its own rate, unlooped;
    24 of them also against an independent per-block search."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        checked = {s["name"] + str(len(s["pcm"])) for s in instrument_set.choose()}
        cls.files = []
        for i, s in enumerate(instrument_set.recordings()):
            path = Path(cls.folder.name) / f"{i:03d}.wav"
            instrument_set.write_wav(path, s["pcm"], s["rate"])
            cls.files.append((path, s["name"] + str(len(s["pcm"])) in checked))

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def encode(self, path, effort):
        brr = path.with_suffix(f".{effort}.brr")
        out = run(ENCODE, "-f", "--effort", effort, path, "-o", brr).stdout
        return brr, printed(out, "SNR :")

    def test_efforts_against_per_block_search(self):
        def measure(item):
            path, checked = item
            row = {}
            for effort in ("fast", "default", "best"):
                brr, shown = self.encode(path, effort)
                row[effort] = min(shown, 120.0)  # silence coded exactly counts as 120 dB
                if checked:
                    pcm = read_wav(path)[0]
                    samples = decoded(brr)
                    self.assertAlmostEqual(shown, snr(pcm, samples), delta=0.005, msg=f"{path} {effort}")
                    self.assertTrue(((samples // 2 >= SAFE_MIN) & (samples // 2 <= SAFE_MAX)).all())
            if checked:
                row["reference"] = per_block_search(read_wav(path)[0])
            self.assertGreaterEqual(row["default"], row["fast"] - 0.05, path)
            return row

        with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 1) as pool:
            rows = list(pool.map(measure, self.files))
        mean = {k: numpy.mean([r[k] for r in rows]) for k in ("fast", "default", "best")}
        some = [r for r in rows if "reference" in r]
        print(f"\nmean SNR over {len(rows)} recordings:", {k: round(v, 3) for k, v in mean.items()},
              "default - fast", round(mean["default"] - mean["fast"], 3), "best - fast",
              round(mean["best"] - mean["fast"], 3))
        self.assertEqual(len(some), 24)
        self.assertAlmostEqual(numpy.mean([r["fast"] for r in some]), numpy.mean([r["reference"] for r in some]),
                               delta=0.02)
        self.assertGreaterEqual(mean["default"], mean["fast"] + 0.6)
        self.assertGreaterEqual(mean["best"], mean["fast"] + 0.8)


def flute(folder, loop=True):
    """A looped recording whose loop (4030 samples at 22500 Hz) is no multiple of 16."""
    s = instrument_set.choose()[0]
    path = Path(folder) / "flute.wav"
    instrument_set.write_wav(path, s["pcm"], s["rate"], s["loop"] if loop else None)
    return path, s


class Loops(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.folder = Path(self.tmp.name)

    def test_fitted_loops_are_flagged_and_stable(self):
        path, s = flute(self.folder, loop=False)
        start, end = s["loop"]
        for fit in ("resample", "repeat"):
            brr = self.folder / f"{fit}.brr"
            # The loop header by default: brrdecode reads the loop back with no option of its own.
            fitting = ["--loop-fit", fit] if fit == "repeat" else []
            out = run(ENCODE, *fitting, "--loop", f"{start}:{end}", path, "-o", brr).stdout
            data = brr.read_bytes()
            block = int(printed(out, "Loop start : block"))
            self.assertEqual(struct.unpack_from("<H", data)[0], 9 * block)
            self.assertEqual(data[-9] & 3, 3)
            blocks = (len(data) - 2) // 9
            # The seam printed is the decoded first pass's (numpy, independently).
            first = decoded(brr, "--loops", "1")
            at, width = 16 * block, min(256, 16 * (blocks - block), 16 * block)
            diff = (first[-width:] - first[at - width:at]).astype(float)
            seam = 10 * numpy.log10((diff ** 2).mean() / (first[at:].astype(float) ** 2).mean())
            self.assertAlmostEqual(printed(out, "Loop seam :"), seam, delta=0.01)
            wav = self.folder / "l.wav"
            self.assertIn("Looping is stable.", run(DECODE, "-f", "--loops", "3", brr, "-o", wav).stdout)
            smpl = wav.read_bytes().rindex(b"smpl")
            first, last = struct.unpack_from("<II", wav.read_bytes(), smpl + 52)
            loop = 16 * (blocks - block)  # the smpl loop is the last pass's
            self.assertEqual((first, last), (16 * block + 2 * loop, 16 * block + 3 * loop - 1))
            # The pitch printed plays it at its own rate: brrdecode --pitch writes that rate back.
            rate = printed(out, "Rate :")
            pitch = int(re.search(r"Pitch : 0x([0-9A-F]{4})\.", out).group(1), 16)
            run(DECODE, "-f", "-q", "--pitch", f"0x{pitch:04X}", brr, "-o", wav)
            self.assertLessEqual(abs(read_wav(wav)[1] - rate), 4)
            if fit == "resample":
                loop_seconds = 16 * (blocks - block) / rate
                self.assertLessEqual(abs(loop_seconds - (end - start) / s["rate"]) * rate, 1.0)
                self.assertEqual(block, -(-round(start * rate / s["rate"]) // 16))
            else:
                self.assertEqual(rate, s["rate"])
                self.assertEqual(block, -(-start // 16))
                pcm = numpy.frombuffer(s["pcm"], "<i2").astype(numpy.int64)
                loop = pcm[start:end]
                times = 16 // numpy.gcd(end - start, 16)
                self.assertEqual(16 * (blocks - block), times * (end - start))
                played = decoded(brr, "--loops", "2")
                second_pass = played[16 * blocks:]
                self.assertGreater(snr(numpy.tile(loop, times), second_pass), printed(out, "SNR :") - 1.0)


    def test_auto_fit_keeps_the_rate_best(self):
        path = self.folder / "tone.wav"
        run("sox", "-n", "-r", "44100", "-b", "16", path, "synth", "0.3", "sine", "525")
        for length in (84, 100, 127, 200, 1000, 3001):
            with self.subTest(length=length):
                loop = f"4410:{4410 + length}"
                rates = {fit: printed(run(ENCODE, "-f", "--loop-fit", fit, "--loop", loop, path, "-o",
                                          self.folder / f"{fit}.brr").stdout, "Rate :") for fit in ("auto", "resample")}
                self.assertLessEqual(abs(rates["auto"] - 44100), abs(rates["resample"] - 44100))
                if length < 128:  # a repeat of up to 16 periods is always allowed
                    self.assertLess(abs(rates["auto"] / 44100 - 1), 0.005)
                self.assertIn("Looping is stable.", run(DECODE, "-f", "--loops", "3", self.folder / "auto.brr", "-o",
                                                        self.folder / "auto.wav").stdout)

    def test_max_bytes_fits_the_budget_and_no_more(self):
        path, s = flute(self.folder, loop=False)
        start, end = s["loop"]
        brr = self.folder / "fit.brr"
        for loop, budget in [([], 4000), ([], 30000), (["--loop", f"{start}:{end}"], 6000)]:
            with self.subTest(loop=loop, budget=budget):
                out = run(ENCODE, "-f", "--max-bytes", budget, *loop, path, "-o", brr).stdout
                self.assertLessEqual(brr.stat().st_size, budget)
                rate = printed(out, "Rate :")
                if rate < s["rate"]:  # 1 % faster would not fit
                    run(ENCODE, "-f", "--rate", int(rate * 1.01) + 1, *loop, path, "-o", brr)
                    self.assertGreater(brr.stat().st_size, budget)
        refused = run(ENCODE, "-f", "--max-bytes", 100, path, "-o", self.folder / "none.brr", ok=False)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("even at 1000 Hz", refused.stderr)
        self.assertFalse((self.folder / "none.brr").exists())


class LoopFinding(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.folder = Path(self.tmp.name)

    def encode(self, wav, *options):
        brr = self.folder / (wav.stem + ".brr")
        return run(ENCODE, "-f", *options, wav, "-o", brr).stdout, brr

    @unittest.skipIf(os.environ.get("VORNISH_SANITIZED") or not instrument_set.FONT.exists(),
                     "apt-get install timgm6mb-soundfont (the full set runs uninstrumented)")
    def test_found_loops_join_as_well_as_the_makers(self):
        """The font's looped recordings, their loops stripped: the loop found
        joins within 3 dB of the makers' (fitted alike), for 90 %; each found
        loop plays back stable."""
        def judge(k, x):
            wav = self.folder / f"{k}.wav"
            instrument_set.write_wav(wav, x["pcm"], x["rate"])
            found = run(ENCODE, "-f", "--loop", "auto", wav, "-o", self.folder / f"{k}.brr").stdout
            makers = run(ENCODE, "-f", "--loop", "%d:%d" % x["loop"], wav, "-o", self.folder / f"{k}.m.brr").stdout
            if "Loop seam :" not in found:
                return False
            self.assertIn("Looping is stable.", run(DECODE, "-f", "--loops", "3", self.folder / f"{k}.brr", "-o",
                                                    self.folder / f"{k}.wav").stdout)
            return printed(found, "Loop seam :") <= printed(makers, "Loop seam :") + 3
        recordings = instrument_set.looped()
        with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
            good = sum(pool.map(judge, range(len(recordings)), recordings))
        self.assertGreaterEqual(good / len(recordings), 0.9)

    def test_one_shots_stay_one_shot(self):
        drum = self.folder / "drum.wav"
        run("sox", "-n", "-r", "32000", "-b", "16", drum, "synth", "0.02", "whitenoise", ":", "synth", "0.8", "sine",
            "55", "fade", "0", "0.8", "0.75")
        sounds = [drum]
        if subprocess.run(["sh", "-c", "command -v espeak-ng"], capture_output=True).returncode == 0:
            sounds.append(self.folder / "speech.wav")
            run("espeak-ng", "-w", sounds[-1], "Put the sample back where it came from, and keep it one shot.")
        else:
            print("speech left out: apt-get install espeak-ng")
        for wav in sounds:
            out, brr = self.encode(wav, "--loop", "auto")
            self.assertIn("does not sustain, so it stays one-shot", out)
            self.assertEqual(brr.stat().st_size % 9, 0)  # no loop header
            self.assertEqual(brr.read_bytes()[-9] & 3, 1)  # end flag, no loop flag

    def test_sustained_loop_printed_in_samples_and_seconds(self):
        wav = self.folder / "held.wav"
        run("sox", "-n", "-r", "44100", "-b", "16", wav, "synth", "1.5", "sawtooth", "220", "vol", "0.5", "fade",
            "0.05", "1.5", "0.5")
        out, brr = self.encode(wav, "--loop", "auto")
        start, end, seconds_start, seconds_end = re.search(
            r"Loop found : (\d+):(\d+) \(([0-9.]+)s:([0-9.]+)s\)\.", out).groups()
        self.assertAlmostEqual(int(start) / 44100, float(seconds_start), delta=0.001)
        self.assertLessEqual(int(end), 44100)  # before the release
        # The same loop typed in seconds or in samples gives the same blocks.
        seconds, _ = self.encode(wav, "--loop", "0.1s:0.2s")
        same = brr.read_bytes()
        self.encode(wav, "--loop", "4410:8820")
        self.assertEqual(brr.read_bytes(), same)


def white_noise(folder, seconds, volume):
    path = Path(folder) / "noise.wav"
    run("sox", "-n", "-r", "32000", "-b", "16", path, "synth", str(seconds), "whitenoise", "vol", str(volume))
    return path


def spectrum(x, bands):
    x = x.astype(float)
    frames = x[: len(x) // 512 * 512].reshape(-1, 512) * numpy.hanning(512)
    power = (numpy.abs(numpy.fft.rfft(frames, axis=1)) ** 2).mean(axis=0)
    freqs = numpy.fft.rfftfreq(512, 1 / 32000)
    return numpy.array([10 * numpy.log10(power[(freqs >= lo) & (freqs < hi)].mean()) for lo, hi in bands])


class TrebleBoost(unittest.TestCase):
    def test_played_back_flat_to_0_7_nyquist(self):
        with tempfile.TemporaryDirectory() as folder:
            folder = Path(folder)
            noise = white_noise(folder, 4, 0.25)
            source = spectrum(read_wav(noise)[0], [(f, f + 800) for f in range(400, 11200, 800)])
            heard = {}
            for boost in ([], ["--treble-boost"]):
                brr = folder / "n.brr"
                out = run(ENCODE, "-f", *boost, noise, "-o", brr)
                self.assertNotIn("scaled down", out.stderr)
                run(DECODE, "-f", "-q", "--play", "4096", brr, "-o", folder / "p.wav")
                heard[bool(boost)] = spectrum(read_wav(folder / "p.wav")[0],
                                              [(f, f + 800) for f in range(400, 11200, 800)]) - source
            self.assertLessEqual(numpy.abs(heard[True]).max(), 1.5, heard[True])
            self.assertLessEqual(heard[False][-1], -6.0, heard[False])


def aiff_24bit_with_markers(path, pcm16, rate, start, end):
    """AIFF by hand: COMM, MARK (loop start and end), INST (a sustain loop), SSND."""
    frames = len(pcm16)
    exponent = 16383 + int(numpy.floor(numpy.log2(rate)))
    mantissa = int(rate * 2 ** (63 - (exponent - 16383)))
    comm = struct.pack(">hIh", 1, frames, 24) + struct.pack(">HQ", exponent, mantissa)
    mark = struct.pack(">H", 2) + struct.pack(">HI", 1, start) + b"\x01a" + struct.pack(">HI", 2, end) + b"\x01b"
    inst = bytes([60, 0, 0, 127, 1, 127]) + struct.pack(">h", 0) + struct.pack(">hhh", 1, 1, 2) + bytes(6)
    data = b"".join(struct.pack(">i", int(v) << 8)[1:] for v in pcm16)
    ssnd = struct.pack(">II", 0, 0) + data
    body = b"AIFF"
    for tag, chunk in ((b"COMM", comm), (b"MARK", mark), (b"INST", inst), (b"SSND", ssnd)):
        body += tag + struct.pack(">I", len(chunk)) + chunk + (b"\0" if len(chunk) % 2 else b"")
    Path(path).write_bytes(b"FORM" + struct.pack(">I", len(body)) + body)


def float_wav(path, values, rate=32000):
    """A 32-bit float WAV by hand: values beyond -1..1 survive in it."""
    data = numpy.asarray(values, "<f4").tobytes()
    fmt = struct.pack("<HHIIHH", 3, 1, rate, 4 * rate, 4, 32)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    Path(path).write_bytes(b"RIFF" + struct.pack("<I", len(body)) + body)


class Inputs(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.folder = Path(self.tmp.name)

    def test_formats(self):
        f = self.folder
        run("sox", "-n", "-r", "44100", "-c", "2", f / "stereo.flac", "synth", "0.5", "sine", "440", "sine", "660")
        run("sox", "-n", "-r", "32000", "-e", "floating-point", "-b", "32", f / "float.wav", "synth", "0.5",
            "sine", "300", "vol", "0.5")
        _, s = flute(f)
        aiff_24bit_with_markers(f / "flute.aiff", numpy.frombuffer(s["pcm"], "<i2"), s["rate"], 1000, 3000)
        cases = [  # input, options, blocks, loop start block
            ("stereo.flac", [], 1379, None),
            ("stereo.flac", ["--channel", "2", "--rate", "32000"], 1000, None),
            ("float.wav", [], 1000, None),
            ("flute.aiff", ["--loop-fit", "repeat"], 63 + 125, 63),
            ("float.wav", ["--loop", "1600:3200"], 200, 100),  # on a block already: no padding
        ]
        for name, options, blocks, loop in cases:
            with self.subTest(name=name, options=options):
                out = run(ENCODE, "-f", *options, f / name).stdout
                brr = (f / name).with_suffix(".brr")
                self.assertEqual(brr.stat().st_size, 9 * blocks + (0 if loop is None else 2))
                self.assertEqual(printed(out, "Number of BRR blocks written :"), blocks)
                if loop is not None:
                    self.assertEqual(printed(out, "Loop start : block"), loop)
                self.assertGreater(printed(out, "SNR :"), 20)
        # The pitch that plays C4: the AIFF's INST names root note 60, --root-note names A4.
        for name, options, c4 in (("flute.aiff", [], round(s["rate"] * 4096 / 32000)),
                                  ("float.wav", ["--root-note", "A4"], round(4096 * 2 ** (-9 / 12)))):
            out = run(ENCODE, "-f", *options, f / name).stdout
            self.assertIn(f"Pitch for C4 : 0x{c4:04X}.\n", out)

    def test_shell(self):
        f = self.folder
        (f / "bad.wav").write_bytes(b"not audio at all")
        path, _ = flute(f, loop=False)
        (f / "kept.brr").write_bytes(b"old")
        run("sox", "-n", "-r", "32000", f / "long.wav", "synth", "4", "sine", "440")
        float_wav(f / "loud.wav", [1.5] * 10 + [-1.5] * 7 + [0.25] * 47)
        float_wav(f / "nan.wav", [0.25] * 40 + [float("nan")] * 3 + [float("inf")] * 21)
        float_wav(f / "inf.wav", [float("inf")] * 5 + [float("-inf")] * 2 + [0.25] * 57)
        float_wav(f / "slow.wav", [0.25, -0.25] * 32, rate=1)
        (f / "cut.wav").write_bytes(path.read_bytes()[:4000])
        run("sox", "-n", "-r", "44100", "-b", "16", f / "square.wav", "synth", "0.2", "square", "3000", "vol", "0.999")
        cases = [  # arguments, exit status, stderr pattern
            ([f / "bad.wav"], 1, r"^brrencode: .*bad\.wav: .+\n$"),
            ([f / "kept.brr"], 1, r"^brrencode: .*kept\.brr: is a BRR block file, not audio; brrdecode decodes it\n$"),
            ([f / "kept.brr", "-o", f / "other.brr"], 1, r"kept\.brr: is a BRR block file, not audio"),
            ([f / "missing.wav"], 1, r"^brrencode: .*missing\.wav: No such file or directory\n$"),
            ([path, "-o", f / "kept.brr"], 1, r"kept\.brr: file exists \(use -f to overwrite\)"),
            (["--loop", "9:3", path], 2, r"invalid loop '9:3'"),
            (["--loop", "5:5", path], 2, r"invalid loop '5:5'"),
            (["--loop", "116512:118112", "--loop-header", "--effort", "fast", f / "long.wav"], 1,
             r"Loop start of .*long\.wav \(byte 65538\) does not fit a 2-byte loop header"),
            (["-o", f / "loud.brr", f / "loud.wav"], 0, r"loud\.wav has 17 samples beyond full scale; clipped"),
            (["-o", f / "inf.brr", f / "inf.wav"], 0, r"inf\.wav has 7 samples beyond full scale; clipped"),
            ([f / "nan.wav"], 1, r"^brrencode: .*nan\.wav: has 3 samples that are not numbers \(NaN\)\n$"),
            (["--rate", "100000", f / "slow.wav"], 1, r"slow\.wav is at 1 Hz; --rate 100000 is more than 65536 times"),
            (["--loop", "0:99999", path], 1, r"Loop 0:99999 is outside"),
            (["--loop", "2s:1.5s", path], 2, r"invalid loop '2s:1\.5s'"),
            (["--loop", "1s:1x", path], 2, r"invalid loop '1s:1x'"),
            # A full-scale square resampled overshoots: the resampler's doing, not the file's.
            (["-f", "--rate", "32000", "-o", f / "square.brr", f / "square.wav"], 0,
             r"^Warning : resampling .*square\.wav overshoots full scale at \d+ samples; clipped\.\n$"),
            (["-o", f / "cut.brr", f / "cut.wav"], 0,
             r"^Warning : .*cut\.wav ends early: its header promises \d+ bytes of samples, the file holds \d+\.\n$"),
        ]
        for args, status, pattern in cases:
            with self.subTest(args=args):
                done = run(ENCODE, *args, ok=False)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertRegex(done.stderr, pattern)
        self.assertFalse((f / "bad.brr").exists())
        self.assertFalse((f / "nan.brr").exists())
        float_wav(f / "silent.wav", [0.0] * 64)  # exact silence: no error at all
        self.assertIn("SNR : inf dB.\n", run(ENCODE, "-o", f / "silent.brr", f / "silent.wav").stdout)
        self.assertEqual((f / "kept.brr").read_bytes(), b"old")
        # A loop in seconds is the same loop in samples of the input.
        seconds = run(ENCODE, "-f", "--loop", "1.5s:2s", f / "long.wav", "-o", f / "s.brr")
        samples = run(ENCODE, "-f", "--loop", "48000:64000", f / "long.wav", "-o", f / "n.brr")
        self.assertEqual(((f / "s.brr").read_bytes(), seconds.stdout), ((f / "n.brr").read_bytes(), samples.stdout))
        # To a pipe: the blocks alone on standard output, the lines on standard error.
        with open(path, "rb") as stdin:
            piped = subprocess.run([ENCODE, "-", "-o", "-"], stdin=stdin, capture_output=True)
        self.assertEqual(piped.returncode, 0)
        run(ENCODE, "-q", path, "-o", f / "named.brr")
        self.assertEqual(piped.stdout, (f / "named.brr").read_bytes())
        self.assertIn(b"Done !", piped.stderr)

    def test_standard_input_from_a_pipe_a_fifo_and_a_file(self):
        f = self.folder
        os.mkfifo(f / "fifo")
        for kind in ("wav", "flac", "aiff"):
            source = f / f"in.{kind}"
            run("sox", "-n", "-r", "22050", "-b", "16", source, "synth", "0.5", "sine", "300", "sine", "2000")
            run(ENCODE, "-q", "-f", source, "-o", f / "named.brr")
            named = (f / "named.brr").read_bytes()
            shells = {"pipe": f"sox {source} -t {kind} - | {ENCODE} - > out.brr",
                      # sox refuses a FIFO without a reader yet: cat waits for one.
                      "fifo": f"sox {source} -t {kind} - > data; cat data > fifo & {ENCODE} - < fifo > out.brr; wait",
                      "file": f"{ENCODE} - < {source} > out.brr"}
            for how, line in shells.items():
                with self.subTest(kind=kind, how=how):
                    done = subprocess.run(line, shell=True, cwd=f, capture_output=True, text=True)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertEqual((f / "out.brr").read_bytes(), named)

    def test_example_round_trip(self):
        """The README's example: a bundled sample decoded, encoded again, decoded again."""
        f = self.folder
        run(DECODE, "--rules", "hardware", EXAMPLES / "loop.brr", "-o", f / "loop.wav")
        out = run(ENCODE, "--loop-fit", "repeat", "--loop-header", f / "loop.wav", "-o", f / "again.brr").stdout
        self.assertGreater(printed(out, "SNR :"), 30)
        self.assertIn("Looping is stable.", run(DECODE, "--loops", "3", f / "again.brr", "-o", f / "a.wav").stdout)


def standard_error(args, terminal):
    """What the tool writes to its standard error: a pseudo-terminal, or a pipe."""
    if not terminal:
        return run(*args).stderr
    master, slave = pty.openpty()
    with subprocess.Popen([str(a) for a in args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=slave) as tool:
        os.close(slave)
        seen = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the tool has ended: EIO
                break
            if not chunk:
                break
            seen += chunk
    os.close(master)
    return seen.decode()


class Progress(unittest.TestCase):
    def test_on_a_terminal_only(self):
        with tempfile.TemporaryDirectory() as folder:
            folder = Path(folder)
            noise = white_noise(folder, 2, 0.3)
            encode = [ENCODE, "-f", "--effort", "best", noise, "-o", folder / "n.brr"]
            decode = [DECODE, "-f", "--loops", "3200", "--play", "1024", "--loop-start", "0", folder / "n.brr",
                      "-o", "/dev/null"]
            for args in (encode, decode):
                for terminal, quiet in ((True, False), (True, True), (False, False)):
                    with self.subTest(tool=Path(args[0]).name, terminal=terminal, quiet=quiet):
                        seen = standard_error(args + (["-q"] if quiet else []), terminal)
                        shown = re.search(r"\r\S+: \S+: \d+% \(about \d+ s left\)", seen)
                        self.assertEqual(bool(shown), terminal and not quiet, seen)
                        self.assertNotIn("%", seen.rsplit("\r", 1)[-1])  # erased at the end


if __name__ == "__main__":
    unittest.main()
