"""Real instrument recordings for the encoder's quality checks.

Reads the sample headers of a General MIDI sound font (RIFF 'sfbk': 16-bit
samples in LIST sdta/smpl, 46-byte records in LIST pdta/shdr) and writes
chosen samples as mono 16-bit WAV files with a 'smpl' loop, end inclusive.
"""
import struct
import sys
import wave
from pathlib import Path

FONT = Path("/usr/share/sounds/sf2/TimGM6mb.sf2")


def chunks(data, offset, end):
    while offset + 8 <= end:
        tag, size = struct.unpack_from("<4sI", data, offset)
        yield tag, offset + 8, size
        offset += 8 + size + (size & 1)


def samples(font=FONT):
    data = font.read_bytes()
    smpl = shdr = None
    for tag, start, size in chunks(data, 12, len(data)):
        if tag != b"LIST":
            continue
        for inner, istart, isize in chunks(data, start + 4, start + size):
            if inner == b"smpl":
                smpl = data[istart:istart + isize]
            elif inner == b"shdr":
                shdr = data[istart:istart + isize]
    for k in range(len(shdr) // 46 - 1):  # the last record is the terminal one
        name, s, e, ls, le, rate, _pitch, _corr, _link, kind = struct.unpack_from(
            "<20sIIIIIBbHH", shdr, 46 * k)
        yield {"name": name.split(b"\0")[0].decode("latin-1").strip(), "pcm": smpl[2 * s:2 * e],
               "loop": (ls - s, le - s), "rate": rate, "rom": kind & 0x8000}


def recordings(font=FONT):
    """Every recording of the font (not its ROM references) that is not silence."""
    return [x for x in samples(font) if not x["rom"] and any(x["pcm"])]


def choose(count=24, font=FONT):
    """Every n-th recording of at least 0.1 s, spread over the whole font."""
    usable = [x for x in samples(font) if not x["rom"] and len(x["pcm"]) >= 0.2 * x["rate"]]
    step = max(1, len(usable) // count)
    return usable[::step][:count]


def write_wav(path, pcm, rate, loop=None):
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(pcm)
    if loop is not None:
        body = struct.pack("<9I", 0, 0, 1_000_000_000 // rate, 60, 0, 0, 0, 1, 0)
        body += struct.pack("<6I", 0, 0, loop[0], loop[1] - 1, 0, 0)
        with open(path, "r+b") as f:
            f.seek(0, 2)
            f.write(b"smpl" + struct.pack("<I", len(body)) + body)
            size = f.tell() - 8
            f.seek(4)
            f.write(struct.pack("<I", size))


def main(folder):
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    for i, x in enumerate(choose()):
        loop = x["loop"] if 0 <= x["loop"][0] < x["loop"][1] <= len(x["pcm"]) // 2 else None
        write_wav(folder / f"{i:02d}.wav", x["pcm"], x["rate"], loop)
        print(f"{i:02d}.wav {x['name']} {x['rate']} Hz {len(x['pcm']) // 2} samples loop {loop}")


if __name__ == "__main__":
    main(sys.argv[1])
