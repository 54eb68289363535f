"""Loop finding and fitting measured on a sound font's looped recordings.

For every recording a melodic preset plays looped, the makers' loop is
stripped and `brrencode --loop auto` finds one; the makers' loop is encoded
the same way (`--loop S:E`, the default fit). Both seams are read from
brrencode's `Loop seam :` line, so they are measured on the decoded blocks.
Every found loop is decoded with `brrdecode --loops 3`, which must say
`Looping is stable.`. The rate changes of `--loop-fit auto` and `resample`
are compared on the makers' loops.

    python3 bench/loop_finding.py BUILD_BIN_DIR [FONT.sf2] [--tail=N] [-v]

--tail=N plays each recording on past its loop's end for N samples (the
loop repeated), so that the makers' loop no longer ends at the file's end.
"""
import math
import re
import statistics
import subprocess
import sys
import tempfile
from collections import defaultdict
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))
import instrument_set  # noqa: E402


def encode(bin_dir, wav, out, *options):
    run = subprocess.run([str(bin_dir / "brrencode"), "-f", *options, str(wav), "-o", str(out)],
                         capture_output=True, text=True, check=True)
    seam = re.search(r"Loop seam : (\S+) dB", run.stdout)
    rate = float(re.search(r"Rate : ([0-9.]+) Hz", run.stdout).group(1))
    return (float(seam.group(1)) if seam else None), rate, run.stdout


def continued(x, tail):
    """The recording played on for `tail` samples past its loop's end, as a
    sound font plays it (its own samples after the loop dropped)."""
    start, end = x["loop"]
    pcm = x["pcm"][:2 * end]
    loop = x["pcm"][2 * start:2 * end]
    pcm += (loop * (tail // (end - start) + 1))[:2 * tail]
    return dict(x, pcm=pcm)


def measure(bin_dir, folder, k, x):
    wav = folder / f"{k}.wav"
    instrument_set.write_wav(wav, x["pcm"], x["rate"])
    start, end = x["loop"]
    found, _, said = encode(bin_dir, wav, folder / f"{k}.found.brr", "--loop", "auto")
    makers, auto_rate, _ = encode(bin_dir, wav, folder / f"{k}.makers.brr", "--loop", f"{start}:{end}")
    _, resample_rate, _ = encode(bin_dir, wav, folder / f"{k}.resample.brr", "--loop", f"{start}:{end}",
                                 "--loop-fit", "resample")
    stable = found is None or "Looping is stable." in subprocess.run(
        [str(bin_dir / "brrdecode"), "-f", "--loops", "3", str(folder / f"{k}.found.brr"), str(folder / f"{k}.wav")],
        capture_output=True, text=True).stdout
    return {"family": x["family"], "name": x["name"], "found": found, "makers": makers, "stable": stable,
            "auto": abs(auto_rate / x["rate"] - 1), "resample": abs(resample_rate / x["rate"] - 1),
            "short": end - start < 128, "said": said}


def good(r):
    return r["found"] is not None and (r["found"] <= r["makers"] + 3 or math.isinf(r["makers"]) and r["makers"] > 0)


def report(rows):
    families = defaultdict(list)
    for r in rows:
        families[r["family"]].append(r)
    print(f"{'family':22} {'n':>4} {'within 3 dB':>12} {'median diff':>12}")
    for name, group in sorted(families.items()) + [("all", rows)]:
        diffs = [r["found"] - r["makers"] for r in group if r["found"] is not None and math.isfinite(r["makers"])
                 and math.isfinite(r["found"])]
        share = sum(map(good, group)) / len(group)
        median = statistics.median(diffs) if diffs else float("nan")
        print(f"{name:22} {len(group):4} {100 * share:11.1f}% {median:+11.1f}")
    print("one-shot (no loop found):", sum(r["found"] is None for r in rows))
    print("found loops not stable under --loops 3:", sum(not r["stable"] for r in rows))
    for fit in ("auto", "resample"):
        changes = [100 * r[fit] for r in rows]
        short = [100 * r[fit] for r in rows if r["short"]]
        print(f"--loop-fit {fit:8}: rate change median {statistics.median(changes):.3f} %, max {max(changes):.2f} %; "
              f"loops under 128 samples: median {statistics.median(short):.3f} %, max {max(short):.2f} %")
    print("auto changed the rate more than resample:", sum(r["auto"] > r["resample"] + 1e-9 for r in rows))


def main():
    bin_dir = Path(sys.argv[1])
    tail = next((int(a[7:]) for a in sys.argv[2:] if a.startswith("--tail=")), 0)
    given = [a for a in sys.argv[2:] if a != "-v" and not a.startswith("--tail=")]
    font = Path(given[0]) if given else instrument_set.FONT
    recordings = [continued(x, tail) if tail else x for x in instrument_set.looped(font)]
    with tempfile.TemporaryDirectory() as tmp, ThreadPoolExecutor(2) as pool:
        rows = list(pool.map(lambda kx: measure(bin_dir, Path(tmp), *kx), enumerate(recordings)))
    report(rows)
    if "-v" in sys.argv:
        for r in rows:
            if not good(r):
                print(f"  {r['family']:20} {r['name']:22} found {r['found']} makers {r['makers']}")


if __name__ == "__main__":
    main()
