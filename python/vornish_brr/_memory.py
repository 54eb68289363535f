"""Memory images and music-state dumps: what a dump's registers say, and a
sample put back into an image."""
from __future__ import annotations

from dataclasses import dataclass
from typing import List, Optional, Sequence, Tuple

from . import _engine
from . import _bytes, _fail, _image, _memory_image, _whole, _BAD_OPTION, Data, OptionError


@dataclass(frozen=True)
class Voice:
    """One of the sound chip's voices, as a dump's registers hold it."""
    pitch: int        #: 0..0x3FFF; 0x1000 plays at 32000 Hz
    rate: int         #: the rate the pitch stands for (pitch * 32000 / 4096)
    source: int       #: the directory entry it plays
    sounding: bool    #: its envelope's current value is not 0
    adsr: Tuple[int, int]
    gain: int
    envelope: int


@dataclass(frozen=True)
class Dump:
    """What a music-state dump says of its memory image (at 0x100)."""
    directory: int                      #: the directory's address, from its register
    directory_names_samples: bool       #: False: the register is stale, the directory is searched for
    echo: Optional[Tuple[int, int]]     #: (start, bytes) of the echo buffer the chip writes, or None
    voices: List[Voice]
    song: Optional[str]                 #: None without a text tag
    game: Optional[str]


def read_dump(data: Data) -> Dump:
    """Reads a music-state dump's header and sound chip registers. Raises
    vornish_brr.Error (status 19) for data that is no dump."""
    d = _engine.read_dump(_image(data))
    d["voices"] = [Voice(**v) for v in d["voices"]]
    return Dump(**d)


def _range(name: str, value, low_start: int, high_end: int) -> Tuple[int, int]:
    if not isinstance(value, (tuple, list)) or len(value) != 2:
        _fail(OptionError, f"{name}={value!r}: a range is a pair (start, end)", _BAD_OPTION)
    return (_whole(name, value[0], low_start, high_end - 1, "its start"),
            _whole(name, value[1], 1, high_end, "its end"))


def insert(image: Data, sample: Data, *, entry: Optional[int] = None, at: Optional[int] = None,
           free: Sequence[Tuple[int, int]] = (), echo: Optional[Tuple[int, int]] = None,
           memory_offset: Optional[int] = None, directory: Optional[int] = None) -> bytes:
    """Puts a block file's sample (with or without its loop header; its last
    block must have the end flag) back into an image and returns the new
    image, as brrinsert does. Exactly one of entry (0..255: a memory image's
    or dump's directory entry, whose start and loop addresses are written;
    the sample takes the old place when it fits there and no other entry uses
    it, else the first of the free ranges (memory addresses, end exclusive)
    where it fits) or at (an offset: the chain there is replaced in place).
    echo is (start, bytes) of an echo buffer to keep clear of (a dump's own
    by default). Raises vornish_brr.Error: status 13 (no room), 14-16 (the
    place overlaps the directory, a sample or the echo buffer), 17 (no end
    block), 18 (no such entry)."""
    if (entry is None) == (at is None):
        _fail(OptionError, "give exactly one of entry and at", _BAD_OPTION)
    data = _image(image)
    size = len(memoryview(data).cast("B"))
    if entry is not None:
        _whole("entry", entry, 0, 255, "the directory entry")
    if at is not None:
        _whole("at", at, 0, max(0, size - 1), "the offset")
    ranges = [_range("free", r, 0, 0x10000) for r in free]
    if any(start >= end for start, end in ranges):
        _fail(OptionError, "free: each range's start must be below its end", _BAD_OPTION)
    if len(ranges) > 64:
        _fail(OptionError, "free: at most 64 ranges", _BAD_OPTION)
    if echo is not None:
        echo = (_whole("echo", echo[0], 0, 0xFFFF, "the echo buffer's start"),
                _whole("echo", echo[1], 1, 0x10000, "the echo buffer's size"))
    _memory_image(size, memory_offset, directory)
    new, _ = _engine.insert(data, _bytes(sample, "sample"), entry=-1 if entry is None else entry,
                            at=-1 if at is None else at, free=ranges, echo=echo,
                            memory_offset=-1 if memory_offset is None else memory_offset,
                            directory=-1 if directory is None else directory)
    return new
