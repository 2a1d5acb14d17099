"""Converting PCM held in memory: flatav.Resampler and flatav.Filter."""
import ctypes

from . import _abi
from ._lib import SAMPLE_FORMATS, FlatavError, HostCalls, lib

_DRAIN_SAMPLES = 4096


class Resampler:
    """Converts interleaved PCM between rates, channel counts and packed
    sample formats. A layout of 0 is FFmpeg's default for the count."""

    def __init__(self, in_rate, in_channels, out_rate, out_channels,
                 in_format="s16", out_format="s16", in_layout=0, out_layout=0):
        self._calls = calls = HostCalls()
        self._callbacks = _abi.HostCallbacks(error_cb=calls.error_cb())
        self._rec = rec = _abi.ResampleRec(
            in_sample_fmt=SAMPLE_FORMATS[in_format], in_sample_rate=in_rate,
            in_channels=in_channels, in_channel_layout=in_layout,
            out_sample_fmt=SAMPLE_FORMATS[out_format], out_sample_rate=out_rate,
            out_channels=out_channels, out_channel_layout=out_layout, free_buffer=1)
        rec.callbacks = ctypes.pointer(self._callbacks)
        result = calls.call(lib.ff_init_resample, ctypes.byref(rec), None, 0)
        if result != 0:
            lib.ff_cleanup_resample(ctypes.byref(rec))
            calls.fail("ff_init_resample failed", result)

    def _run(self, data, room, flush):
        rec = self._rec
        if lib.ff_res_get_buffer(ctypes.byref(rec), room) != 0:
            raise MemoryError("ff_res_get_buffer")
        samples = ctypes.c_int32(0 if not flush else _DRAIN_SAMPLES)
        n = lib.ff_resample(ctypes.byref(rec), data, len(data), rec.buffer,
                            ctypes.byref(samples), 1 if flush else 0)
        return ctypes.string_at(rec.buffer, n)

    def process(self, data):
        """The converted PCM of data (what is ready of it)."""
        if not data:
            return b""
        return self._run(data, lib.ff_buffer_size(ctypes.byref(self._rec), len(data)), False)

    def flush(self):
        """What the converter still holds."""
        rec = self._rec
        room = _DRAIN_SAMPLES * rec.out_channels * 8
        out = []
        while True:
            block = self._run(b"", room, True)
            if not block:
                return b"".join(out)
            out.append(block)

    def close(self):
        lib.ff_cleanup_resample(ctypes.byref(self._rec))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Filter:
    """Runs PCM through one FFmpeg audio filter (name, arguments), in and out
    in the same packed format, rate and layout."""

    def __init__(self, name, args, rate, channels, layout, sample_format="s16"):
        self._calls = calls = HostCalls()
        self._out = []
        self._rec = rec = _abi.FilterRec(
            sample_fmt=SAMPLE_FORMATS[sample_format], channel_layout=layout,
            sample_rate=rate, channels=channels)

        def on_pcm(_, data, size):
            self._out.append(ctypes.string_at(data, size))
            return 0

        self._write = calls.wrap(_abi.PcmWriteFn, on_pcm, 0)
        result = calls.call(lib.setup_af, name.encode(), args.encode() if args else None,
                            ctypes.byref(rec))
        if result != 0:
            raise FlatavError("setup_af %s failed" % name, result)

    def _run(self, data):
        result = self._calls.call(lib.run_af, ctypes.byref(self._rec), data, len(data),
                                  None, self._write)
        if result not in (_abi.FLATAV_ERROR_EAGAIN, _abi.FLATAV_ERROR_EOF):
            raise FlatavError("run_af failed", result)
        out, self._out = b"".join(self._out), []
        return out

    def process(self, data):
        """The filtered PCM that data makes ready."""
        return self._run(data) if data else b""

    def flush(self):
        """Ends the stream: what the filter still holds."""
        return self._run(b"")

    def close(self):
        pointer = ctypes.pointer(self._rec)
        lib.clean_af(ctypes.byref(pointer))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
