"""Decode BRR samples (9-byte blocks of 4-bit codes) bit-exactly into 16-bit
PCM and WAV bytes, encode PCM into BRR blocks, and find the samples stored
inside larger images.

Data is taken as bytes, bytearray, memoryview, a numpy uint8 array (read in
place, never copied) or a path (str or os.PathLike). Every failure of the
module's own raises vornish_brr.Error: OptionError (also a ValueError) for an
argument outside its range, DataTypeError (also a TypeError) for an argument
of the wrong type.
"""
from __future__ import annotations

import numbers
import os
import warnings
from typing import List, Optional, Tuple, Union

import numpy

from . import _engine
from ._engine import Decoder, Error, Found, OptionError, Sample

__all__ = ["convert", "decode", "decode_blocks", "encode", "shape", "loop_seam", "scan", "insert", "read_dump", "Dump", "Voice",
           "Decoder", "Sample", "Found", "Error",
           "OptionError", "DataTypeError", "INTERPOLATION_TABLE", "__version__"]

__version__: str = _engine.__version__
INTERPOLATION_TABLE: numpy.ndarray = _engine.INTERPOLATION_TABLE
"""The playback hardware's 512 interpolation weights (read-only)."""


class DataTypeError(Error, TypeError):
    """An argument of a type the call does not take (also a TypeError)."""


Data = Union[bytes, bytearray, memoryview, numpy.ndarray, str, "os.PathLike[str]"]

_RULES = ("hardware", "library")
_EFFORTS = ("fast", "default", "best")


# The library's statuses for what the package checks before calling it.
_BAD_LOOP_COUNT, _BAD_LOOP_START, _BAD_OPTION = 8, 9, 12


def _fail(kind, message: str, status: Optional[int] = None):
    error = kind(message)
    error.status = status
    error.text = message
    raise error


def _type(name: str, value, wanted: str):
    _fail(DataTypeError, f"{name} must be {wanted}, not {type(value).__name__}")


def _whole(name: str, value, low: int, high: int, what: str, status: int = _BAD_OPTION) -> int:
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        _type(name, value, "an int")
    if not low <= value <= high:
        _fail(OptionError, f"{name}={value}: {what} must be {low} to {high}", status)
    return int(value)


def _choice(name: str, value, choices: Tuple[str, ...]) -> str:
    if not isinstance(value, str):
        _type(name, value, "a str")
    if value not in choices:
        _fail(OptionError, f"{name}={value!r}: {name} must be " + " or ".join(repr(c) for c in choices),
              _BAD_OPTION)
    return value


def _flag(name: str, value) -> bool:
    if not isinstance(value, (bool, numpy.bool_)):
        _type(name, value, "a bool")
    return bool(value)


def _is_path(data) -> bool:
    return isinstance(data, (str, os.PathLike))


def _bytes(data, name: str = "data"):
    """data as a buffer of bytes the engine reads in place (a path: its content)."""
    if _is_path(data):
        with open(data, "rb") as f:
            return f.read()
    if isinstance(data, numpy.ndarray):
        if data.dtype != numpy.uint8:
            _fail(DataTypeError, f"{name} must be a uint8 array, not {data.dtype}")
        return data
    try:
        view = memoryview(data)
    except TypeError:
        view = None
    if view is None:
        _type(name, data, "bytes, bytearray, memoryview, a uint8 array or a path")
    if view.itemsize != 1:
        _fail(DataTypeError, f"{name} must hold bytes, not items of {view.itemsize} bytes ({view.format!r})")
    return data


_NOTE_STEPS = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def _note(name: str, value) -> int:
    """A MIDI note: a whole number 0..127, or a name as the tools take it
    ('C4', 'A#3', 'Eb5', 'C-1'; C4 is 60)."""
    if not isinstance(value, str):
        return _whole(name, value, 0, 127, "the MIDI note")
    text = value.strip()
    step = _NOTE_STEPS.get(text[:1].upper())
    rest = text[1:]
    if step is not None and rest[:1] in ("#", "b"):
        step += 1 if rest[0] == "#" else -1
        rest = rest[1:]
    octave = int(rest) if rest.lstrip("-").isdigit() and rest.count("-") <= 1 and -1 <= int(rest) <= 9 else None
    if step is None or octave is None or not 0 <= 12 * (octave + 1) + step <= 127:
        _fail(OptionError, f"{name}={value!r}: a note is a name such as 'C4', 'A#3' or 'Eb5', or a MIDI number "
              "from 0 to 127", _BAD_OPTION)
    return 12 * (octave + 1) + step


def _keywords(loops, rate, loop_start, no_header, stop_at_end, smpl, rules, play, root_note) -> dict:
    return dict(
        loops=_whole("loops", loops, 1, 3200, "the loop count", _BAD_LOOP_COUNT),
        rate=_whole("rate", rate, 1, 384000, "the rate"),
        loop_start=None if loop_start is None else _whole("loop_start", loop_start, 0, 2**32 - 1,
                                                          "the loop start (a block)", _BAD_LOOP_START),
        no_header=_flag("no_header", no_header), stop_at_end=_flag("stop_at_end", stop_at_end),
        smpl=_flag("smpl", smpl), rules=_choice("rules", rules, _RULES),
        play=0 if play == 0 else _whole("play", play, 1, 16383, "the pitch (0: no playback)"),
        root_note=None if root_note is None else _note("root_note", root_note))


def convert(data: Data, *, loops: int = 1, rate: int = 32000, loop_start: Optional[int] = None,
            no_header: bool = False, stop_at_end: bool = False, smpl: bool = True, rules: str = "hardware",
            play: int = 0, root_note: Union[int, str, None] = None) -> bytes:
    """The WAV file brrdecode writes for this sample and these options, as bytes.

    data is the file's content or its path: 9-byte blocks, or a 2-byte loop
    header and then the blocks. loops plays the loop that many times in all
    (1 to 3200); rate is the WAV's (1 to 384000 Hz); loop_start is a block
    number; rules is 'hardware' or 'library'; play is a pitch (1 to 16383,
    4096 for one sample per output) at which the hardware's voice plays the
    sample at 32000 Hz, or 0; root_note is the smpl chunk's unity note, a
    MIDI number (0 to 127) or a name ('C4', 'A#3', 'Eb5'). Several loops of
    a sample that does not loop, or that holds no loop start, give the
    RuntimeWarning brrdecode gives. Raises vornish_brr.Error."""
    options = _keywords(loops, rate, loop_start, no_header, stop_at_end, smpl, rules, play, root_note)
    return _engine.convert(_bytes(data), **options)


def decode(data: Data, *, loops: int = 1, rate: int = 32000, loop_start: Optional[int] = None,
           no_header: bool = False, stop_at_end: bool = False, smpl: bool = True, rules: str = "hardware",
           play: int = 0, root_note: Union[int, str, None] = None) -> Sample:
    """The samples convert would write, as a numpy int16 array in a Sample,
    with what was found in the file. The options are convert's."""
    options = _keywords(loops, rate, loop_start, no_header, stop_at_end, smpl, rules, play, root_note)
    return _engine.decode(_bytes(data), **options)


def decode_blocks(blocks: Data, decoder: Optional[Decoder] = None) -> numpy.ndarray:
    """Decodes whole 9-byte blocks, 16 samples each (numpy int16), with the
    hardware's rules or the Decoder's. A Decoder carries the history from
    one call to the next, so a sample decoded in pieces equals the sample
    decoded whole."""
    if decoder is not None and not isinstance(decoder, Decoder):
        _type("decoder", decoder, "a Decoder or None")
    return _engine.decode_blocks(_bytes(blocks, "blocks"), decoder)


def _pcm(pcm) -> numpy.ndarray:
    """pcm as native int16: int16 as it is, float32 and float64 as audio in
    -1.0..1.0 (scaled by 32768, rounded, saturated with a warning); a list
    or tuple of whole numbers as the samples they are."""
    given = isinstance(pcm, numpy.ndarray)
    a = pcm if given else numpy.asarray(pcm)
    if a.ndim != 1:
        _fail(OptionError, f"pcm has shape {a.shape}: it must be one-dimensional, mono samples", _BAD_OPTION)
    if a.dtype.kind == "i" and a.dtype.itemsize == 2:
        return numpy.ascontiguousarray(a, dtype=numpy.int16)
    if a.dtype.kind == "f" and a.dtype.itemsize in (4, 8):
        scaled = numpy.rint(a.astype(numpy.float64) * 32768.0)
        if numpy.isnan(scaled).any():
            _fail(OptionError, f"pcm[{int(numpy.flatnonzero(numpy.isnan(scaled))[0])}] is NaN: "
                  "audio must be -1.0 to 1.0", _BAD_OPTION)
        beyond = int(numpy.count_nonzero((scaled < -32768) | (scaled > 32767)))
        if beyond:
            warnings.warn(f"{beyond} samples of pcm lie beyond -1.0..1.0 and were saturated", RuntimeWarning,
                          stacklevel=3)
        return numpy.clip(scaled, -32768, 32767).astype(numpy.int16)
    if not given and a.dtype.kind in "iu":
        if a.size and (a.min() < -32768 or a.max() > 32767):
            i = int(numpy.flatnonzero((a < -32768) | (a > 32767))[0])
            _fail(OptionError, f"pcm[{i}]={int(a[i])}: a 16-bit sample must be -32768 to 32767", _BAD_OPTION)
        return a.astype(numpy.int16)
    _fail(DataTypeError, f"pcm must be int16, or float32 or float64 audio in -1.0..1.0, not {a.dtype}")


_LOOP_FITS = ("auto", "resample", "repeat")


def _loop_point(name, value, rate):
    """A loop point in samples (a whole number) or seconds ('1.5s'), as samples of the input."""
    if isinstance(value, str):
        try:
            seconds = float(value[:-1]) if value.endswith("s") else -1.0
        except ValueError:
            seconds = -1.0
        if not 0 <= seconds <= 86400:
            _fail(OptionError, f"{name}={value!r}: seconds are written as '1.5s', 0 to 86400", _BAD_LOOP_START)
        return int(round(seconds * rate))
    return _whole(name, value, 0, 2**31 - 1, "a loop point in samples", _BAD_LOOP_START)


def shape(audio, *, input_rate: float, rate: Optional[float] = None, loop=None, loop_fit: str = "auto",
          treble_boost: bool = False, channel: Optional[int] = None, loop_header: bool = True) -> dict:
    """Shapes audio for the encoder as brrencode does: mono (the channels of
    a (frames, channels) array mixed, or channel alone, 1-based), resampled
    from input_rate to rate, the loop fitted to whole blocks by loop_fit
    ('auto', 'resample', 'repeat'), the treble boost. loop is None,
    (start, end) in input samples or seconds ('1.5s'), end exclusive, or
    'auto' to find one. Returns a dict: pcm (int16), rate, loop_start (in
    pcm, or None), input_loop, found (with loop='auto'), loop_header,
    input_beyond, shaping_beyond, boost_scale."""
    a = numpy.asarray(audio)
    if a.dtype.kind not in "iuf" or a.dtype.kind == "i" and a.dtype.itemsize not in (2, 4) or \
            a.dtype.kind == "u" and a.dtype.itemsize != 1:
        _fail(DataTypeError, f"audio must be int16, int32, uint8, float32 or float64, not {a.dtype}")
    # The engine reads the host's own int16, int32, uint8, float32 and float64.
    a = a.astype(numpy.float64 if a.dtype.kind == "f" and a.dtype.itemsize > 8 else
                 numpy.float32 if a.dtype.kind == "f" and a.dtype.itemsize < 4 else a.dtype.newbyteorder("="),
                 copy=False)
    if not isinstance(input_rate, (int, float)) or not 1 <= input_rate <= 1e7:
        _fail(OptionError, f"input_rate={input_rate!r}: the input's rate must be 1 to 10000000 Hz", _BAD_OPTION)
    if rate is not None and (not isinstance(rate, (int, float)) or not 1 <= rate <= 1e7):
        _fail(OptionError, f"rate={rate!r}: the rate must be 1 to 10000000 Hz", _BAD_OPTION)
    channels = a.shape[1] if a.ndim == 2 else 1
    if channel is not None:
        _whole("channel", channel, 1, channels, "a channel of the audio (1-based)")
    start = end = -1
    if loop is not None and not (isinstance(loop, str) and loop == "auto"):
        if not isinstance(loop, (tuple, list)) or len(loop) != 2:
            _fail(OptionError, f"loop={loop!r}: a loop is (start, end) or 'auto'", _BAD_LOOP_START)
        start, end = (_loop_point("loop", p, input_rate) for p in loop)
        frames = a.shape[0] if a.ndim else 0
        if not start < end <= frames:
            _fail(OptionError, f"loop={loop!r}: the loop {start}:{end} is not inside the audio's {frames} frames",
                  _BAD_LOOP_START)
    fit = _LOOP_FITS.index(_choice("loop_fit", loop_fit, _LOOP_FITS))
    return _engine.shape(a, input_rate=float(input_rate), rate=float(rate or 0), loop_start=start, loop_end=end,
                         find_loop=loop == "auto", loop_fit=fit, treble_boost=_flag("treble_boost", treble_boost),
                         loop_header=_flag("loop_header", loop_header), channel=channel or 0)


def encode(pcm, *, loop_start: Optional[int] = None, effort: str = "default", rules: str = "hardware",
           reset_filter: bool = True, safe_range: bool = True, loop_header: Optional[bool] = None,
           input_rate: Optional[float] = None, rate: Optional[float] = None, loop=None, loop_fit: str = "auto",
           treble_boost: bool = False, channel: Optional[int] = None) -> bytes:
    """Encodes mono samples into BRR blocks, as bytes: the end flag on the
    last block, the loop flag when loop_start (a sample index, a multiple of
    16) is given, and the 2-byte loop header in front when the sample loops,
    as brrencode writes it. loop_header=False leaves the header out; True
    asks for it (an OptionError when the loop starts 65536 bytes or more into
    the blocks); None, the default, writes it where it fits and otherwise
    leaves it out with a RuntimeWarning, as brrencode does.

    pcm is numpy int16 as it is, or float32 / float64 audio in -1.0..1.0
    (as soundfile and librosa give it: scaled by 32768, rounded, saturated
    with a RuntimeWarning), or a list of whole numbers; any other dtype is a
    DataTypeError. effort is 'fast' (the usual per-block search), 'default'
    or 'best'; every choice is judged by the decoder of rules. reset_filter
    puts filter 0 on the first block and the loop's first; safe_range keeps
    decoded values in -16378..16376, where playback cannot overflow.

    Shaped as brrencode shapes audio, giving its blocks for the same audio
    and options: with input_rate (the audio's rate, needed for the others),
    rate, loop ((start, end) in input samples or seconds such as '1.5s', end
    exclusive, or 'auto'), loop_fit, treble_boost, and pcm of (frames,
    channels) mixed as brrencode mixes them or channel (1-based) alone; see
    shape(). loop_start is then the shaped loop's, so it is not given.
    Raises vornish_brr.Error."""
    if _is_path(pcm):
        _fail(DataTypeError, f"pcm must be samples, not a path ({os.fspath(pcm)!r}): read the file first, "
              "for example with soundfile.read(path) or scipy.io.wavfile.read(path), or use brrencode")
    shaping = input_rate is not None or rate is not None or loop is not None or treble_boost or \
        channel is not None or loop_fit != "auto" or numpy.ndim(pcm) == 2
    if shaping:
        if input_rate is None:
            _fail(OptionError, "input_rate: shaping (rate, loop, loop_fit, treble_boost, channels) needs the "
                  "audio's rate", _BAD_OPTION)
        if loop_start is not None:
            _fail(OptionError, "loop_start: with shaping the loop is given as loop=(start, end)", _BAD_OPTION)
        shaped = shape(pcm, input_rate=input_rate, rate=rate, loop=loop, loop_fit=loop_fit,
                       treble_boost=treble_boost, channel=channel, loop_header=loop_header is not False)
        pcm, loop_start = shaped["pcm"], shaped["loop_start"]
    samples = _pcm(pcm)
    if loop_start is not None:
        _whole("loop_start", loop_start, 0, max(0, len(samples) - 1), "the loop start (a sample index)",
               _BAD_LOOP_START)
    header = loop_start is not None if loop_header is None else _flag("loop_header", loop_header)
    if loop_header is None and header and loop_start // 16 * 9 > 0xFFFF:
        warnings.warn(f"the loop starts at byte {loop_start // 16 * 9} of the blocks, past what a 2-byte loop "
                      "header holds: plain blocks", RuntimeWarning, stacklevel=2)
        header = False
    return _engine.encode(samples, loop_start=loop_start, effort=_choice("effort", effort, _EFFORTS),
                          rules=_choice("rules", rules, _RULES), reset_filter=_flag("reset_filter", reset_filter),
                          safe_range=_flag("safe_range", safe_range), loop_header=header)


def loop_seam(pcm, loop_start: int) -> float:
    """How smoothly mono samples loop back from their end to loop_start, as
    brrencode prints it (``Loop seam``): over the W = min(256, loop length)
    samples before the loop's end and before its start (silence before the
    first sample), the mean
    square of their difference relative to the loop's, in dB; -inf where they
    are equal. pcm is taken as encode takes it."""
    samples = _pcm(pcm)
    _whole("loop_start", loop_start, 0, max(0, len(samples) - 1), "the loop start")
    return _engine.loop_seam(samples, int(loop_start))


def _image(data):
    """data to scan: a path is read whole (a mapped file that shrinks under
    the scan would end the interpreter with SIGBUS)."""
    if not _is_path(data):
        return _bytes(data)
    with open(data, "rb") as f:
        return f.read()


def _memory_image(size: int, memory_offset, directory) -> None:
    """Checks where a memory image starts in size bytes, and its directory's address."""
    if memory_offset is not None:
        _whole("memory_offset", memory_offset, 0, max(-1, size - 65536), "the memory image's offset")
    if directory is not None:
        _whole("directory", directory, 0, 0xFF00, "the directory's address")
        if directory % 256:
            _fail(OptionError, f"directory={directory}: the directory's address must be a multiple of 256",
                  _BAD_OPTION)


def scan(data: Data, *, min_blocks: int = 4, min_score: float = 0.5, memory_offset: Optional[int] = None,
         directory: Optional[int] = None) -> List[Found]:
    """Finds the samples stored inside an image (bytes-like or a uint8 array,
    read in place, or a path, read whole), as a list of Found in order of offset,
    exactly as brrscan lists them. A chain of blocks from the scan needs
    min_blocks blocks (1 to 2**32) and a score of min_score (0..1: how sure
    the scanner is that the blocks are audio an encoder made). memory_offset
    is where a 64 KiB memory image starts (by default, data of exactly 65536
    bytes is one, and a music-state dump holds one at 0x100); directory is its sample directory's address (a multiple
    of 256 up to 0xFF00; by default found by itself). Raises
    vornish_brr.Error."""
    _whole("min_blocks", min_blocks, 1, 2**32, "the fewest blocks")
    if isinstance(min_score, bool) or not isinstance(min_score, numbers.Real):
        _type("min_score", min_score, "a float")
    if not 0.0 <= min_score <= 1.0:
        _fail(OptionError, f"min_score={min_score}: the score must be 0.0 to 1.0", _BAD_OPTION)
    image = _image(data)
    size = len(memoryview(image).cast("B"))
    _memory_image(size, memory_offset, directory)
    if directory is not None:
        if memory_offset is None and size != 65536 and not _engine.is_dump(image):
            _fail(OptionError, f"directory={directory}: a directory needs a memory image (65536 bytes, "
                  "a music-state dump, or memory_offset)", _BAD_OPTION)
    return _engine.scan(image, min_blocks=int(min_blocks), min_score=float(min_score),
                        memory_offset=memory_offset, directory=directory)


def _blocks_view(self: Found, data: Data):
    """The sample's blocks in data (the image scanned, or its path), ready
    for decode or convert: a memoryview of data, or the bytes read from the path."""
    if _is_path(data):
        with open(data, "rb") as f:
            f.seek(self.offset)
            blocks = f.read(9 * self.blocks)
        if len(blocks) < 9 * self.blocks:
            _fail(OptionError, "data is not the image this sample was found in: it is too short")
        return blocks
    try:
        return self._blocks_view(_bytes(data))
    except ValueError as error:
        message = str(error)
    _fail(OptionError, message)


Found.blocks_view = _blocks_view

from ._memory import Dump, Voice, insert, read_dump  # noqa: E402  (they use the helpers above)
