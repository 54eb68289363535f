"""Test images for the sample scanner, made from real files.

Samples: the instrument recordings of Debian's General MIDI sound font and
speech from espeak-ng, resampled with sox to 8-32 kHz and encoded with the
library's encoder. Everything else: machine code of several architectures,
text, compressed and media files from /usr/share, tables of small integers,
fill and random bytes. A seed picks which of them go where, so that images
for tuning and images for measuring share no recording and no file.

Each image comes with its truth: where every sample is, and for a memory
image every directory entry with its loop.
"""
import hashlib
import random
import re
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
import instrument_set  # noqa: E402

PHRASES = [
    "The quick brown fox jumps over the lazy dog.",
    "Press start to continue.",
    "Welcome back, the gate to the northern tower is open.",
    "Stage clear. Your time was one minute and twelve seconds.",
    "Game over. Insert coin to try again.",
    "Warning. Enemy ships approaching from the west.",
    "Take this key and find the lost temple.",
    "Ready? Fight!",
    "Pick up the crystal before the bridge falls.",
    "Excellent shot, pilot.",
    "The music of the spheres is playing in the hall.",
    "Seven hundred forty two points.",
]
VOICES = ["en", "en-us", "de", "fr", "es", "it"]

CODE_DIRS = {
    "x86-64": ["/usr/bin", "/usr/lib/x86_64-linux-gnu"],
    "armhf": ["/usr/arm-linux-gnueabihf/lib", "/usr/lib/gcc-cross/arm-linux-gnueabihf"],
    "s390x": ["/usr/s390x-linux-gnu/lib", "/usr/lib/gcc-cross/s390x-linux-gnu"],
    "x86-64 windows": ["/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/x86_64-w64-mingw32/lib"],
}
OTHER_GLOBS = {
    "text": ["/usr/share/common-licenses/*", "/usr/share/doc/*/copyright", "/usr/share/perl/*/pod/*.pod"],
    "compressed": ["/usr/share/doc/*/changelog*.gz", "/usr/share/man/man1/*.gz"],
    "media": ["/usr/share/**/*.png", "/usr/share/**/*.ttf", "/usr/share/**/*.svgz"],
}


def _ci_packages():
    """The packages the default set-up installs (setup/debian-packages, its
    [default] group) and everything they depend on: the files images are
    made of come from these alone, so that the images are the same on every
    machine set up so, whatever else a machine has installed."""
    listing = (Path(__file__).resolve().parents[2] / "setup" / "debian-packages").read_text()
    group = listing[listing.index("[default]\n"):].split("\n[", 1)[0]
    listed = "\n".join(line for line in group.splitlines()[1:] if not line.startswith("#"))
    todo = re.findall(r"[a-z0-9][a-z0-9+.-]+", listed)
    status = subprocess.run(["dpkg-query", "-W", "-f=${Package}\t${Status}\t${Depends}, ${Pre-Depends}\t${Provides}\n"],
                            capture_output=True, text=True, check=True).stdout
    depends, providers = {}, {}
    for line in status.splitlines():
        name, state, needs, provides = line.split("\t")
        if state.endswith(" installed"):
            depends[name] = needs
            for virtual in re.findall(r"[a-z0-9][a-z0-9+.-]+", re.sub(r"\([^)]*\)", "", provides)):
                providers.setdefault(virtual, []).append(name)
    seen = set()
    while todo:
        wanted = todo.pop()
        for name in [wanted] if wanted in depends else providers.get(wanted, []):
            if name not in seen:
                seen.add(name)
                for alternatives in depends[name].split(","):
                    first = re.sub(r"\([^)]*\)|\[[^]]*\]|:\w+", "", alternatives.split("|")[0]).strip()
                    if first:
                        todo.append(first)
    return seen


def _ci_files():
    files = set()
    for package in _ci_packages():
        for listing in Path("/var/lib/dpkg/info").glob(f"{package}*.list"):
            if listing.name in (f"{package}.list",) or listing.name.startswith(f"{package}:"):
                files.update(listing.read_text().split("\n"))
    return files


def _split(path, seed):
    """Half the files for one seed's parity, half for the other's."""
    return hashlib.sha256(str(path).encode()).digest()[0] % 2 == seed % 2


def _files(globs_or_dirs, seed, allowed, elf=False):
    found = []
    for pattern in globs_or_dirs:
        base = Path(pattern)
        matches = base.iterdir() if base.is_dir() else Path("/").glob(pattern.lstrip("/"))
        for p in matches:
            try:
                if (str(p) in allowed and p.is_file() and not p.is_symlink() and p.stat().st_size >= 4096 and
                        _split(p, seed)):
                    if not elf or p.read_bytes()[:4] in (b"\x7fELF", b"MZ\x90\x00"):
                        found.append(p)
            except OSError:
                pass
    return sorted(found)


class Sources:
    """The recordings and files one seed may use."""

    def __init__(self, seed, rng):
        self.rng = rng
        self.seed = seed
        allowed = _ci_files()
        self.code = {arch: _files(dirs, seed, allowed, elf=True) for arch, dirs in CODE_DIRS.items()}
        self.other = {kind: _files(globs, seed, allowed) for kind, globs in OTHER_GLOBS.items()}
        font = [x for x in instrument_set.samples() if not x["rom"] and len(x["pcm"]) >= 512]
        self.instruments = [x for k, x in enumerate(font) if k % 2 == seed % 2]

    def chunk(self, files, size):
        """size bytes from a random place of a random file."""
        while True:
            data = self.rng.choice(files).read_bytes()
            if len(data) >= size:
                at = self.rng.randrange(0, len(data) - size + 1)
                return data[at:at + size]

    def junk(self, kind, size):
        if kind == "random":
            return self.rng.randbytes(size)
        if kind == "zero":
            return bytes(size)
        if kind == "ff":
            return b"\xff" * size
        if kind == "table":
            return small_integer_table(self.rng, size)
        if kind in self.code:
            return self.chunk(self.code[kind], size)
        return self.chunk(self.other[kind], size)


def small_integer_table(rng, size):
    style = rng.randrange(4)
    n = size
    if style == 0:  # bytes counting up or bounded small values
        values = np.arange(n) % rng.randrange(8, 128)
    elif style == 1:
        values = np.array([rng.randrange(0, 16) for _ in range(n)])
    elif style == 2:  # 16-bit little-endian small words
        words = np.array([rng.randrange(0, 1024) for _ in range(n // 2 + 1)], dtype="<u2")
        return words.tobytes()[:size]
    else:  # a sine or ramp table of bytes
        values = 128 + 127 * np.sin(np.arange(n) * 2 * np.pi / rng.randrange(16, 256))
    return np.asarray(values, dtype=np.int64).astype(np.uint8).tobytes()


def resample(pcm, rate, to):
    out = subprocess.run(["sox", "-D", "-t", "raw", "-r", str(rate), "-e", "signed", "-b", "16", "-c", "1", "-",
                          "-t", "raw", "-r", str(to), "-e", "signed", "-b", "16", "-c", "1", "-"],
                         input=pcm, capture_output=True, check=True).stdout
    return np.frombuffer(out, dtype="<i2")


def speech(rng, folder):
    path = Path(folder) / "speech.wav"
    subprocess.run(["espeak-ng", "-v", rng.choice(VOICES), "-s", str(rng.randrange(120, 200)), "-w", str(path),
                    rng.choice(PHRASES)], check=True, capture_output=True)
    data = path.read_bytes()
    at = data.find(b"data")
    rate = struct.unpack_from("<I", data, 24)[0]
    return data[at + 8:], rate


def encode(vornish_brr, rng, pcm, looped):
    """Blocks of one sample; with looped, the loop flag on the end block or on every block."""
    pcm = pcm[: len(pcm) // 16 * 16]
    loop = None
    if looped and len(pcm) >= 64:
        loop = len(pcm) // 16 // 2 * 16
    effort = "fast" if rng.random() < 0.7 else "default"
    blocks = bytearray(vornish_brr.encode(pcm, loop_start=loop, effort=effort, loop_header=False))
    if loop is not None and rng.random() < 0.5:
        for k in range(0, len(blocks), 9):
            blocks[k] |= 0x02
    return bytes(blocks), None if loop is None else loop // 16


class Builder:
    """An image under construction, with the truth of what it holds."""

    def __init__(self):
        self.data = bytearray()
        self.samples = []  # (offset, blocks, loop block or None)

    def add(self, data):
        self.data += data

    def add_sample(self, blocks, loop):
        self.samples.append((len(self.data), len(blocks) // 9, loop))
        self.data += blocks


class Generator:
    def __init__(self, vornish_brr, seed):
        self.brr = vornish_brr
        self.rng = random.Random(seed)
        self.src = Sources(seed, self.rng)
        self.folder = tempfile.mkdtemp(prefix="brrscan-images-")

    def sample(self, most_blocks=None):
        """One encoded recording: an instrument or, one time in four, speech."""
        rng = self.rng
        if rng.random() < 0.25:
            pcm, rate = speech(rng, self.folder)
        else:
            x = rng.choice(self.src.instruments)
            pcm, rate = x["pcm"], x["rate"]
        to = rng.choice([8000, 11025, 16000, 22050, 32000])
        pcm = resample(pcm, rate, to)
        if most_blocks is not None:
            pcm = pcm[: most_blocks * 16]
        if rng.random() < 0.5:
            pcm = (pcm * rng.uniform(0.1, 1.0)).astype(np.int16)
        return encode(self.brr, rng, pcm, rng.random() < 0.5)

    def bank(self, image, count, most_blocks=None):
        """Samples back to back, or padded to 16 or 256 bytes with zeros."""
        pad = self.rng.choice([1, 1, 16, 256])
        for _ in range(count):
            blocks, loop = self.sample(most_blocks)
            image.add_sample(blocks, loop)
            image.add(bytes(-len(image.data) % pad))

    def junk_image(self, kinds, size):
        image = Builder()
        while len(image.data) < size:
            image.add(self.src.junk(self.rng.choice(kinds), self.rng.randrange(512, 65536)))
        return image

    def mixed_image(self, size):
        """Banks and lone samples among code, text, tables, compressed data and fill."""
        kinds = ["random", "zero", "ff", "table", "text", "compressed", "media"] + list(self.src.code)
        image = Builder()
        while len(image.data) < size:
            if self.rng.random() < 0.3:
                self.bank(image, self.rng.randrange(1, 12))
            else:
                image.add(self.src.junk(self.rng.choice(kinds), self.rng.randrange(64, 32768)))
        return image

    def memory_image(self, every_kind=False):
        """64 KiB of memory: code, a directory, samples it names (some sharing one), free space.
        With every_kind, more entries share a sample (some with another loop), and
        entries of samples that do not loop hold loop addresses of every kind."""
        rng = self.rng
        mem = bytearray(self.src.junk(rng.choice(["x86-64", "armhf", "random", "table"]), 0x1000))
        mem += bytes(0x10000 - len(mem))
        directory = rng.randrange(0x10, 0x40) * 0x100
        at = directory + 0x400
        entries = []  # (entry address, start, loop address, loop block or None)
        for k in range(rng.randrange(4, 40)):
            if entries and rng.random() < (0.25 if every_kind else 0.1):
                _, start, loop_address, loop = rng.choice(entries)
                if every_kind and loop is not None and rng.random() < 0.5:
                    loop = rng.randrange(_chain_blocks(mem, start))
                    loop_address = start + 9 * loop
            else:
                blocks, loop = self.sample(most_blocks=rng.randrange(8, 300))
                if at + len(blocks) > 0x10000:
                    break
                mem[at:at + len(blocks)] = blocks
                start = at
                loop_address = start + 9 * (loop if loop is not None else 0)
                if every_kind and loop is None:
                    loop_address = rng.choice([start, 0, 0xFFFF, rng.randrange(0x10000), start + len(blocks) + 9])
                at += len(blocks) + rng.choice([0, 0, -len(blocks) % 16])
            mem[directory + 4 * k:directory + 4 * k + 4] = struct.pack("<HH", start, loop_address & 0xFFFF)
            entries.append((directory + 4 * k, start, loop_address & 0xFFFF, loop))
        if at < 0x10000:
            mem[at:] = self.src.junk(rng.choice(["zero", "random", "x86-64"]), 0x10000 - at)
        image = Builder()
        image.add(bytes(mem))
        image.entries = entries
        image.directory = directory
        image.end = at
        seen = {}
        for _, start, _, loop in entries:
            seen[start] = (start, _chain_blocks(mem, start), loop)
        image.samples = sorted(seen.values())
        return image

    def dump_image(self):
        """A music-state dump of a memory image (every_kind): its directory register
        (stale one time in four), an echo buffer over a sample no entry names (or
        echo writes off), voices playing entries at several pitches, titles or none."""
        rng = self.rng
        image = self.memory_image(every_kind=True)
        mem = bytearray(image.data)
        regs = bytearray(128)
        delay = rng.randrange(1, 4)
        page = -(-image.end // 256) + rng.randrange(0, 4)
        image.echo = None
        if rng.random() < 0.8 and page * 256 + delay * 2048 <= 0x10000:
            image.echo = (page * 256, delay * 2048)
            blocks, _ = self.sample(most_blocks=delay * 2048 // 9 - 8)
            mem[page * 256 + 16:page * 256 + 16 + len(blocks)] = blocks
            regs[0x6D], regs[0x7D] = page, delay
        else:
            regs[0x6C], regs[0x6D], regs[0x7D] = 0x20, rng.randrange(256), rng.randrange(16)
        image.stale = stale = rng.random() < 0.25
        regs[0x5D] = rng.choice([0, rng.randrange(0x50, 0x100)]) if stale else image.directory // 256
        numbers = [(address - image.directory) // 4 for address, _, _, _ in image.entries]
        image.voices = {}
        for v in range(8):
            if rng.random() < 0.6:
                number, pitch = rng.choice(numbers), rng.randrange(0x400, 0x2000)
                regs[16 * v + 2:16 * v + 9] = struct.pack("<HBBBBB", pitch, number, 0x8F, 0xE0, 0x7F,
                                                          rng.randrange(1, 128))
                image.voices[v] = (number, pitch)
        header = bytearray(b"dump of a sound program's state\0\0" + bytes(0x100 - 33))[:0x100]
        header[0x21:0x25] = bytes([26, 26, 26 if rng.random() < 0.7 else 27, 30])
        image.titles = None
        if header[0x23] == 26:
            image.titles = (rng.choice(PHRASES)[:32], rng.choice(PHRASES)[:24])
            header[0x2E:0x2E + len(image.titles[0])] = image.titles[0].encode()
            header[0x4E:0x4E + len(image.titles[1])] = image.titles[1].encode()
        image.data = bytes(header) + bytes(mem) + bytes(regs) + bytes(128)
        image.samples = [(s + 0x100, b, lp) for s, b, lp in image.samples]
        return image


def _chain_blocks(mem, start):
    """Blocks of the chain at start, through its end block."""
    blocks = 1
    while mem[start + 9 * (blocks - 1)] & 1 == 0:
        blocks += 1
    return blocks


def main():
    """Writes images for looking at by hand: scan_images.py SEED FOLDER."""
    sys.path.insert(0, str(Path(sys.argv[3]) if len(sys.argv) > 3 else Path("build/default/python")))
    import vornish_brr
    gen = Generator(vornish_brr, int(sys.argv[1]))
    out = Path(sys.argv[2])
    out.mkdir(parents=True, exist_ok=True)
    for name, image in [("mixed", gen.mixed_image(4 << 20)), ("random", gen.junk_image(["random"], 2 << 20)),
                        ("code", gen.junk_image(list(gen.src.code), 4 << 20)), ("memory", gen.memory_image())]:
        (out / f"{name}.bin").write_bytes(image.data)
        (out / f"{name}.truth").write_text("".join(f"{o} {b} {-1 if lp is None else lp}\n"
                                                   for o, b, lp in image.samples))


if __name__ == "__main__":
    main()
