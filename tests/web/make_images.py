"""Writes a memory image and a music-state dump as the Python tests make
them (tests/python/scan_images.py, seed 33), for the page's tests.

    python3 make_images.py FOLDER   (PYTHONPATH: the build's python folder)
"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "python"))
import scan_images  # noqa: E402
import vornish_brr  # noqa: E402

folder = Path(sys.argv[1])
folder.mkdir(parents=True, exist_ok=True)
generator = scan_images.Generator(vornish_brr, 33)
(folder / "memory.bin").write_bytes(generator.memory_image().data)
(folder / "state-dump.bin").write_bytes(generator.dump_image().data)
