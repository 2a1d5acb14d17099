"""Loads libflatav, and turns its failures and the host's into exceptions."""
import ctypes
import ctypes.util
import os

from . import _abi


class FlatavError(Exception):
    """A failure the library reported: its text and, where the call returned
    one, its code (an FFmpeg error code or one of the library's results)."""

    def __init__(self, text, code=None):
        super().__init__(text if code is None else "%s (code %d)" % (text, code))
        self.text = text
        self.code = code


def _candidates():
    yield os.environ.get("FLATAV_LIBRARY")
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), "libflatav.so")
    yield beside if os.path.exists(beside) else None
    yield ctypes.util.find_library("flatav")
    yield "libflatav.so"


def _load():
    errors = []
    for path in filter(None, _candidates()):
        try:
            lib = _abi.bind(ctypes.CDLL(path))
        except OSError as e:
            errors.append(str(e))
            continue
        # The library stays silent: failures come back as exceptions.
        lib.ff_init(ctypes.byref(_abi.LogSettings(quiet=1, ffmpeg_quiet=1)))
        return lib
    raise ImportError("libflatav not found (set FLATAV_LIBRARY): " + "; ".join(errors))


lib = _load()

# Sample formats by FFmpeg's short name ("s16", "fltp"...).
SAMPLE_FORMATS = {name[len("FLATAV_SAMPLE_FMT_"):].lower(): value
                  for name, value in vars(_abi).items()
                  if name.startswith("FLATAV_SAMPLE_FMT_") and value >= 0}
SAMPLE_FORMAT_NAMES = {value: name for name, value in SAMPLE_FORMATS.items()}
# The struct module's letter of each packed format (planar: the same per plane).
SAMPLE_CODES = {"u8": "B", "s16": "h", "s32": "i", "flt": "f", "dbl": "d", "s64": "q"}


def sample_code(name):
    return SAMPLE_CODES[name.rstrip("p")]


class HostCalls:
    """The host functions of one record, kept alive as long as it is. An
    exception raised inside one goes no further than the library call: the
    function returns its failure value, and raise_pending() raises the
    exception once the call has returned."""

    def __init__(self):
        self._functions = []
        self._pending = None
        self.texts = []   # error texts the library reported during the last call

    def wrap(self, fn_type, fn, failure=None):
        def guarded(*args):
            if self._pending is not None:
                return failure
            try:
                return fn(*args)
            except BaseException as e:  # noqa: B902 - re-raised after the call
                self._pending = e
                return failure
        function = fn_type(guarded)
        self._functions.append(function)
        return function

    def error_cb(self):
        return self.wrap(_abi.HostTextFn,
                         lambda _, text: self.texts.append(text.decode(errors="replace")))

    def call(self, function, *args):
        """Calls the library; raises what a host function raised meanwhile."""
        self.texts.clear()
        result = function(*args)
        if self._pending is not None:
            pending, self._pending = self._pending, None
            raise pending
        return result

    def fail(self, text, code=None):
        raise FlatavError("; ".join(self.texts) or text, code)
