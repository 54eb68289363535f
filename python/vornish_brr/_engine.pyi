# The engine under vornish_brr; call the package's functions, which check
# their arguments first.
from typing import List, Optional, Tuple

import numpy

__version__: str
INTERPOLATION_TABLE: numpy.ndarray

class Error(Exception):
    status: Optional[int]
    text: str

class OptionError(Error, ValueError): ...

class Found:
    offset: int
    blocks: int
    loop: Optional[int]
    score: float
    found_by: str
    directory: Optional[int]
    entry: Optional[int]
    def blocks_view(self, data: object) -> object: ...
    def _blocks_view(self, data: object) -> memoryview: ...

class Decoder:
    last: int
    older: int
    rules: str
    def __init__(self, rules: str = ...) -> None: ...

class Sample:
    samples: numpy.ndarray
    rate: int
    block_count: int
    loop_start: Optional[int]
    trailing_blocks: int
    extra_bytes: int
    smpl_loop: Optional[Tuple[int, int]]
    stability: Optional[str]
    repeat: Optional[Tuple[int, int]]
    note: Optional[Tuple[str, int, int]]

def convert(data: object, *, loops: int = ..., rate: int = ..., loop_start: Optional[int] = ...,
            no_header: bool = ..., stop_at_end: bool = ..., smpl: bool = ..., rules: str = ..., play: int = ...,
            root_note: Optional[int] = ...) -> bytes: ...
def decode(data: object, *, loops: int = ..., rate: int = ..., loop_start: Optional[int] = ...,
           no_header: bool = ..., stop_at_end: bool = ..., smpl: bool = ..., rules: str = ..., play: int = ...,
           root_note: Optional[int] = ...) -> Sample: ...
def decode_blocks(blocks: object, decoder: Optional[Decoder] = ...) -> numpy.ndarray: ...
def encode(pcm: numpy.ndarray, *, loop_start: Optional[int] = ..., effort: str = ..., rules: str = ...,
           reset_filter: bool = ..., safe_range: bool = ..., loop_header: bool = ...) -> bytes: ...
def scan(data: object, *, min_blocks: int = ..., min_score: float = ..., memory_offset: Optional[int] = ...,
         directory: Optional[int] = ...) -> List[Found]: ...
def shape(frames: numpy.ndarray, *, input_rate: float, rate: float = ..., loop_start: int = ..., loop_end: int = ...,
          find_loop: bool = ..., loop_fit: int = ..., treble_boost: bool = ..., loop_header: bool = ...,
          channel: int = ...) -> dict: ...
def is_dump(data: object) -> bool: ...
def loop_seam(pcm: numpy.ndarray, loop_start: int) -> float: ...
def read_dump(data: object) -> dict: ...
def insert(image: object, sample: object, *, entry: int, at: int, free: List[Tuple[int, int]],
           echo: Optional[Tuple[int, int]], memory_offset: int, directory: int) -> Tuple[bytes, dict]: ...
