"""Encoding interleaved PCM into a container: flatav.Encoder."""
import ctypes
import os
from fractions import Fraction

from . import _abi
from ._lib import SAMPLE_FORMATS, FlatavError, HostCalls, lib, sample_code


def _tag_array(tags, keep):
    """A dict as FlatavTag entries; keep holds what they point to."""
    items = [(str(k).encode(), str(v).encode()) for k, v in (tags or {}).items()]
    array = (_abi.FlatavTag * max(len(items), 1))(*(_abi.FlatavTag(k, v) for k, v in items))
    keep += [items, array]
    return array, len(items)


def _output_tags(tags, stream_tags, chapters, keep):
    """OutputTags for EncodeRec.tags; keep holds every object it points to,
    which must live until the open returns. A chapter with ticks goes over
    as it is, one with seconds only in milliseconds."""
    record = _abi.OutputTags()
    record.container_tags, record.nb_container_tags = _tag_array(tags, keep)
    record.stream_tags, record.nb_stream_tags = _tag_array(stream_tags, keep)
    chapters = list(chapters or ())
    array = (_abi.FlatavChapter * max(len(chapters), 1))()
    for out, c in zip(array, chapters):
        if c.start_tick is not None:
            base, out.start, out.end = c.time_base, c.start_tick, c.end_tick
        else:
            base, out.start, out.end = Fraction(1, 1000), round(c.start * 1000), round(c.end * 1000)
        out.id = c.id
        out.time_base = _abi.FlatavRational(base.numerator, base.denominator)
        out.tags, out.nb_tags = _tag_array(c.tags, keep)
    record.chapters, record.nb_chapters = array, len(chapters)
    keep += [record, array]
    return record


class Encoder:
    """Encodes PCM into a file, written through the host's functions. write()
    takes interleaved bytes in sample_format (for a planar format, such as
    AAC's "fltp", the samples are still given interleaved); close() drains
    the encoder and writes the trailer. The container follows the path's
    extension, or container= ("flac", "mp4"...) for a file object. tags
    (the file's) and stream_tags are dicts, chapters flatav.Chapter objects:
    a source's (Source.tags, .stream.tags, .chapters) go over exactly."""

    def __init__(self, target, codec, rate, channels, sample_format="s16",
                 bit_rate=0, container=None, layout=0, tags=None, stream_tags=None,
                 chapters=None):
        self._calls = calls = HostCalls()
        self._rec = rec = _abi.EncodeRec()
        self._own_file = isinstance(target, (str, bytes, os.PathLike))
        self._file = f = open(target, "wb") if self._own_file else target
        name = os.fsdecode(target) if self._own_file else getattr(f, "name", "")
        self._name = ("output." + container if container else str(name)).encode()
        self._codec = codec.encode()
        self._channels = channels
        self._planar = sample_format.endswith("p")
        self._code = sample_code(sample_format)
        self._pending = bytearray()
        self._callbacks = _abi.HostCallbacks(error_cb=calls.error_cb())

        def write(_, buf, size):
            return f.write(ctypes.string_at(buf, size))

        def seek(_, offset, whence):
            if whence == _abi.FLATAV_SEEK_SIZE:
                return -1
            return f.seek(offset, whence & ~_abi.FLATAV_SEEK_FORCE)

        rec.output_file_name, rec.codec_name = self._name, self._codec
        rec.encode = 1
        rec.compression_level = -1    # the encoder's default
        rec.bit_rate = bit_rate
        rec.sample_fmt = rec.requested_sample_fmt = SAMPLE_FORMATS[sample_format]
        rec.sample_rate, rec.channels, rec.channel_layout = rate, channels, layout
        rec.callbacks = ctypes.pointer(self._callbacks)
        rec.write_packet = calls.wrap(_abi.IoWriteFn, write, -1)
        if f.seekable():
            rec.seek = calls.wrap(_abi.IoSeekFn, seek, -1)
        # The library copies the tags during the open: they live as long.
        keep = []
        rec.tags = ctypes.pointer(_output_tags(tags, stream_tags, chapters, keep))
        try:
            failure = calls.call(lib.ff_open_encoder, ctypes.byref(rec))
        except BaseException:
            self._release()
            raise
        if failure is not None:
            self._release()
            raise FlatavError(failure.decode(errors="replace"))
        self._block = rec.audio_input_buffer_size or 1 << 16

    def _encode(self, data):
        rec = self._rec
        if self._planar and data:
            samples = memoryview(data).cast(self._code)
            planes = [samples[c::self._channels].tobytes() for c in range(self._channels)]
            pointers = (ctypes.c_char_p * self._channels)(*planes)
            planes_arg = ctypes.cast(pointers, ctypes.POINTER(ctypes.POINTER(ctypes.c_uint8)))
            result = self._calls.call(lib.ff_encode_audio2, ctypes.byref(rec), planes[0],
                                      planes_arg, len(data))
        else:
            result = self._calls.call(lib.ff_encode_audio2, ctypes.byref(rec),
                                      bytes(data) if data else None, None, len(data))
        if result < 0:
            self._calls.fail("ff_encode_audio2 failed", result)

    def write(self, data):
        """Encodes whole encoder frames of data now, keeps the rest."""
        self._pending += data
        block = self._block
        while len(self._pending) >= block:
            self._encode(self._pending[:block])
            del self._pending[:block]

    def close(self):
        """Encodes what is left, drains the encoder, writes the trailer."""
        if self._file is None:
            return
        try:
            if self._pending:
                self._encode(self._pending)
            self._encode(b"")
        finally:
            self._release()

    def _release(self):
        lib.ff_cleanup_encoder(ctypes.byref(self._rec))
        if self._own_file:
            self._file.close()
        self._file = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if exc[0] is None:
            self.close()
        else:
            self._release()
