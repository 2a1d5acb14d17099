"""flatav for Python: decode, seek, encode, resample and filter audio through
FFmpeg, with libflatav doing the work. The records and functions of
flatav.h are in flatav._abi (generated) for what this layer leaves out."""
from ._lib import FlatavError, SAMPLE_FORMATS
from .convert import Filter, Resampler
from .encoder import Encoder
from .source import Chapter, Source, Stream, open

__all__ = ["open", "Source", "Stream", "Chapter", "Encoder", "Resampler", "Filter",
           "FlatavError", "SAMPLE_FORMATS"]
