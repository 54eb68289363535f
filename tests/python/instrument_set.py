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


def lists(font):
    """The font's sub-chunks of its LISTs (smpl, phdr, pbag, ..., shdr) by tag."""
    data = font.read_bytes()
    found = {}
    for tag, start, size in chunks(data, 12, len(data)):
        if tag == b"LIST":
            for inner, istart, isize in chunks(data, start + 4, start + size):
                found[inner.decode("latin-1")] = data[istart:istart + isize]
    return found


def samples(font=FONT):
    found = lists(font)
    smpl, shdr = found["smpl"], found["shdr"]
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


FAMILIES = ("piano", "chromatic percussion", "organ", "guitar", "bass", "strings", "ensemble", "brass",
            "reed", "pipe", "synth lead", "synth pad", "synth effects", "ethnic", "percussive", "sound effects")


def _zones(headers, size, bags, gens):
    """Each record's zones, as {generator: amount} (a record's bags end where the next one's begin)."""
    def index(table, width, k, at):
        return struct.unpack_from("<H", table, width * k + at)[0]
    out = []
    for r in range(len(headers) // size - 1):
        zones = []
        for b in range(index(headers, size, r, size - 2 if size == 22 else 24), index(headers, size, r + 1, size - 2 if size == 22 else 24)):
            g0, g1 = index(bags, 4, b, 0), index(bags, 4, b + 1, 0)
            zones.append({struct.unpack_from("<H", gens, 4 * g)[0]: struct.unpack_from("<H", gens, 4 * g + 2)[0]
                          for g in range(g0, g1)})
        out.append(zones)
    return out


def looped(font=FONT):
    """The recordings that a melodic preset plays looped, with the family of the first such preset."""
    found = lists(font)
    presets = _zones(found["phdr"], 38, found["pbag"], found["pgen"])
    instruments = _zones(found["inst"], 22, found["ibag"], found["igen"])
    everything = list(samples(font))
    family = {}
    for p, zones in enumerate(presets):
        program, bank = struct.unpack_from("<HH", found["phdr"], 38 * p + 20)
        for instrument in (z[41] for z in zones if 41 in z and bank != 128):
            default = next((z.get(54, 0) for z in instruments[instrument] if 53 not in z), 0)
            for z in instruments[instrument]:
                if 53 in z and z.get(54, default) in (1, 3):
                    family.setdefault(z[53], FAMILIES[program // 8])
    out = []
    for k, x in sorted(family.items()):
        x = dict(everything[k], family=x)
        start, end = x["loop"]
        if not x["rom"] and 16 <= end - start and 0 <= start and end <= len(x["pcm"]) // 2 and any(x["pcm"]):
            out.append(x)
    return out


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
