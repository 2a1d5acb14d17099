"""Opening and decoding a source: flatav.open()."""
import ctypes
import os
from fractions import Fraction
from typing import NamedTuple, Optional

from . import _abi
from ._lib import SAMPLE_FORMAT_NAMES, FlatavError, HostCalls, lib, sample_code

_BYTES = ctypes.POINTER(ctypes.c_uint8)


class Stream(NamedTuple):
    index: int
    media_type: int                # FLATAV_MEDIA_*
    codec: Optional[str]           # decoder name, None without a decoder
    codec_id: int
    rate: int
    channels: int
    layout: int                    # channel mask, 0 when unknown
    sample_format: Optional[str]   # of the blocks ("s16", "fltp"...), None until decoded
    duration: Optional[float]      # seconds
    tags: dict
    status: str                    # "OK" when its decoder opened


class Chapter(NamedTuple):
    """A chapter: start and end in seconds; a source's also has its exact
    bounds, start_tick and end_tick ticks of time_base seconds, which an
    Encoder writes as they are (a chapter without them goes in
    milliseconds)."""
    id: int
    start: float
    end: float
    tags: dict
    time_base: Optional[Fraction] = None
    start_tick: Optional[int] = None
    end_tick: Optional[int] = None


def _tags(entries, count):
    return {_text(entries[i].key): _text(entries[i].value) for i in range(count)}


def _chapters(record):
    """The chapters of DecodeRec.tags, exact."""
    chapters = []
    for i in range(record.nb_chapters):
        c = record.chapters[i]
        base = Fraction(c.time_base.num, c.time_base.den) if c.time_base.den else Fraction(0)
        chapters.append(Chapter(c.id, float(c.start * base), float(c.end * base),
                                _tags(c.tags, c.nb_tags), base, c.start, c.end))
    return chapters


def _text(value):
    return value.decode(errors="replace") if value is not None else None


def _is_path(source):
    return isinstance(source, (str, bytes, os.PathLike))


class Source:
    """An opened source. Iterating yields the selected stream's PCM block by
    block: bytes, interleaved; with planar=True a tuple of memoryviews, one
    per plane (one for packed output), valid until the next block."""

    def __init__(self, source, stream=None, planar=False, allow_nested_opens=False,
                 protocol_whitelist=None):
        self._calls = calls = HostCalls()
        self._rec = rec = _abi.DecodeRec()
        self._abuf = _abi.AudioBuffer()
        self._buffers = []
        self.tags, self._stream_tags = {}, {}

        def on_tag(_, index, key, value):
            target = self.tags if index < 0 else self._stream_tags.setdefault(index, {})
            target[_text(key)] = _text(value)

        self._callbacks = _abi.HostCallbacks(
            error_cb=calls.error_cb(),
            metadata_cb=calls.wrap(_abi.HostMetadataFn, on_tag),
            grow_buffer_cb=calls.wrap(_abi.HostGrowBufferFn, self._grow))
        rec.callbacks = ctypes.pointer(self._callbacks)
        rec.request_sample_fmt = _abi.FLATAV_SAMPLE_FMT_NONE
        rec.packed_output = 0 if planar else 1
        rec.seek_backward = 1  # the first block after seek(t) holds t
        if _is_path(source):
            self._name = os.fsencode(source)
            rec.is_url = 1
            # What a named source may open besides itself: see the header's
            # "Untrusted input". Kept on the object while the record points to it.
            rec.allow_nested_opens = 1 if allow_nested_opens else 0
            self._whitelist = None if protocol_whitelist is None else protocol_whitelist.encode()
            rec.protocol_whitelist = self._whitelist
        else:
            self._name = os.fsencode(getattr(source, "name", "") or "")
            self._use_file(source)
        rec.file_name = self._name
        failure = calls.call(lib.ff_decoder_open, ctypes.byref(rec))
        if failure is not None:
            lib.ff_cleanup_decoder(ctypes.byref(rec))
            raise FlatavError(_text(failure))
        self.streams = [self._describe(rec.audio_info[i]) for i in range(rec.nb_streams)]
        self.chapters = _chapters(rec.tags.contents)
        usable = [s.index for s in self.streams if s.status == "OK"]
        self.select(stream if stream is not None else usable[0] if usable else -1)

    def _use_file(self, f):
        rec, calls = self._rec, self._calls

        def read(_, buf, size):
            n = f.readinto((ctypes.c_char * size).from_address(buf))
            return n if n else _abi.FLATAV_ERROR_EOF

        def seek(_, offset, whence):
            if whence == _abi.FLATAV_SEEK_SIZE:
                here = f.tell()
                size = f.seek(0, os.SEEK_END)
                f.seek(here)
                return size
            return f.seek(offset, whence & ~_abi.FLATAV_SEEK_FORCE)

        rec.read_packet = calls.wrap(_abi.IoReadFn, read, _abi.FLATAV_ERROR_EOF)
        if f.seekable():
            rec.seek = calls.wrap(_abi.IoSeekFn, seek, -1)

    def _describe(self, info):
        return Stream(
            index=info.stream_index, media_type=info.codec_type,
            codec=_text(info.codec_name), codec_id=info.codec_id,
            rate=info.sample_rate, channels=info.channels, layout=info.channel_layout,
            sample_format=self._delivered_format(info),
            duration=info.duration / info.duration_scale if info.duration > 0 else None,
            tags=self._stream_tags.get(info.stream_index, {}), status=_text(info.status))

    def _delivered_format(self, info):
        """The decoder's format as the blocks have it: packed when asked."""
        if not info.av_codec_context:
            return None
        name = SAMPLE_FORMAT_NAMES.get(info.output_sample_fmt)
        return name.rstrip("p") if name and self._rec.packed_output else name

    def _grow(self, _, abuf_ptr, need):
        abuf = abuf_ptr.contents
        count = max(abuf.channels, 1) if not self._rec.packed_output else 0
        self._buffers = [ctypes.create_string_buffer(need) for _ in range(count + 1)]
        abuf.data = ctypes.cast(self._buffers[0], _BYTES)
        if count:
            self._planes = (_BYTES * count)(*(ctypes.cast(b, _BYTES) for b in self._buffers[1:]))
            abuf.planes = self._planes
        abuf.capacity = need

    def select(self, index):
        """Chooses the stream that iteration and seek() work on."""
        self._rec.audio_stream_index = index
        self.stream = self.streams[index] if 0 <= index < len(self.streams) else None

    @property
    def position(self):
        """Seconds at the end of the last decoded block."""
        return self._rec.position

    def __iter__(self):
        rec, abuf = self._rec, self._abuf
        while True:
            n = self._calls.call(lib.ff_decode_audio, ctypes.byref(rec), None, None,
                                 ctypes.byref(abuf), 0, None)
            if n < 0:
                self._calls.fail("ff_decode_audio failed", n)
            if n == 0:
                return
            if rec.packed_output or not abuf.planar:
                block = ctypes.string_at(abuf.data, n)
                yield block if rec.packed_output else (memoryview(block),)
            else:
                size = n // abuf.channels
                yield tuple(memoryview(self._buffers[1 + i])[:size] for i in range(abuf.channels))

    def read(self):
        """The rest of the selected stream's PCM."""
        return b"".join(self)

    def as_array(self):
        """The rest of the PCM as a numpy array of frames x channels."""
        import numpy
        pcm = self.read()
        # Some decoders learn their format from the data: ask after decoding.
        info = self._rec.audio_info[self.stream.index]
        data = numpy.frombuffer(pcm, sample_code(self._delivered_format(info)))
        return data.reshape(-1, info.channels)

    def seek(self, seconds):
        """Goes to seconds from the start: the next block is the one that
        holds that time (it starts at or before it)."""
        self._rec.position = seconds
        result = self._calls.call(lib.ff_seek4, ctypes.byref(self._rec))
        if result < 0:
            self._calls.fail("cannot seek to %g s" % seconds, result)

    def close(self):
        lib.ff_cleanup_decoder(ctypes.byref(self._rec))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def open(source, stream=None, planar=False, allow_nested_opens=False,  # noqa: A001
         protocol_whitelist=None):
    """Opens a path, URL or binary file object (read through its readinto,
    seek and tell) and describes its streams, tags and chapters. A path or
    URL opens nothing else it names (a playlist's entries, say) unless
    allow_nested_opens is set or protocol_whitelist ("file", "http,https,tcp")
    names the protocols it may use; a file object never does."""
    return Source(source, stream, planar, allow_nested_opens, protocol_whitelist)
