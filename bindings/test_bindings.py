"""The bindings against the C compiler and the ffmpeg tool. ctest runs each
class (bindings/CMakeLists.txt sets the environment)."""
import array
import ctypes
import importlib.util
import io
import json
import os
import subprocess
import tempfile
import unittest

import flatav
from flatav import _abi

MEDIA = os.environ["FLATAV_MEDIA_DIR"]
BUILD = os.environ["FLATAV_BINDINGS_BUILD"]
MONO = os.environ.get("FLATAV_MONO")
HERE = os.path.dirname(os.path.abspath(__file__))
TMP = tempfile.TemporaryDirectory()


def media(name):
    return os.path.join(MEDIA, name)


def temp(name):
    return os.path.join(TMP.name, name)


def run(*command, **options):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, **options).stdout


def ffmpeg(*args):
    """The ffmpeg tool's raw output for args (input and output options)."""
    return run("ffmpeg", "-nostdin", "-v", "error", *args, "-")


def built(name):
    path = os.path.join(BUILD, name)
    if not os.path.exists(path):
        raise unittest.SkipTest(name + " was not built (no compiler for it)")
    return path


def read(path):
    with open(path, "rb") as f:
        return f.read()


class PcmCase(unittest.TestCase):
    def assertPcmEqual(self, ours, reference):
        self.assertGreater(len(reference), 0)
        self.assertEqual(len(ours), len(reference))
        self.assertTrue(ours == reference, "same length, other samples")


class Hosts(PcmCase):
    """Each language's example host decodes and encodes as the ffmpeg tool
    (Python's: the PythonLayer tests)."""
    def test_decode_and_encode_as_the_ffmpeg_tool(self):
        hosts = {"csharp": lambda *a: run(MONO, built("Example.exe"), *a),
                 "pascal": lambda *a: run(built("example"), *a)}
        pcm = ffmpeg("-i", media("stereo_s16.wav"), "-f", "s16le")
        with open(temp("input.raw"), "wb") as f:
            f.write(pcm)
        for host, call in hosts.items():
            for fixture, fmt in (("flac24.flac", "s32le"), ("mp3.mp3", "f32le"),
                                 ("aac51.mp4", "f32le")):
                with self.subTest(host=host, fixture=fixture):
                    call("decode", media(fixture), temp("decoded.raw"))
                    self.assertPcmEqual(read(temp("decoded.raw")),
                                        ffmpeg("-i", media(fixture), "-f", fmt))
            with self.subTest(host=host, encode="flac"):
                call("encode", temp("input.raw"), temp(host + ".flac"), "44100", "2")
                self.assertPcmEqual(ffmpeg("-i", temp(host + ".flac"), "-f", "s16le"), pcm)


def python_layout():
    """The generated ctypes records, loaded without loading the library."""
    spec = importlib.util.spec_from_file_location("abi", _abi.__file__)
    abi = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(abi)
    lines = []
    for name, record in vars(abi).items():
        if isinstance(record, type) and issubclass(record, ctypes.Structure):
            lines.append("%s sizeof %d" % (name, ctypes.sizeof(record)))
            lines += ["%s %s %d" % (name, f, getattr(record, f).offset)
                      for f, _ in record._fields_ if not f.startswith("_pad_")]
    return lines


class Layout(unittest.TestCase):
    def test_every_language_lays_records_out_as_c(self):
        c = sorted(run(built("layout_c")).decode().splitlines())
        self.assertIn("DecodeRec audio_info 224", c)
        for language, layout in (
                ("python", python_layout),
                ("csharp", lambda: run(MONO, built("test_layout.exe")).decode().splitlines()),
                ("pascal", lambda: run(built("layout_test")).decode().splitlines())):
            with self.subTest(language=language):
                self.assertEqual(sorted(layout()), c)

    def test_generator_refuses_comments_that_disagree_with_clang(self):
        header = read(os.path.join(HERE, "..", "include", "flatav.h"))
        for wrong in ((b"/* 224: nb_streams elements", b"/* 232: nb_streams elements"),
                      (b"/* 56: AudioBuffer growth", b"/* 64: AudioBuffer growth"),
                      (b"The decoder record (288 bytes)", b"The decoder record (280 bytes)")):
            with self.subTest(wrong=wrong[1]):
                self.assertIn(wrong[0], header)
                with open(temp("flatav.h"), "wb") as f:
                    f.write(header.replace(*wrong))
                generator = subprocess.run(
                    ["/usr/bin/python3", os.path.join(HERE, "generate.py"), "--header",
                     temp("flatav.h"), "--layout-c", temp("layout.c")], stderr=subprocess.PIPE)
                self.assertNotEqual(generator.returncode, 0)
                self.assertIn(b"clang", generator.stderr)


class RaisingReader(io.BytesIO):
    def __init__(self, data, good_reads):
        super().__init__(data)
        self.good_reads = good_reads

    def readinto(self, buffer):
        self.good_reads -= 1
        if self.good_reads < 0:
            raise RuntimeError("the host's read failed")
        return super().readinto(buffer)


class PythonLayer(PcmCase):
    def test_stream_and_tags(self):
        with flatav.open(media("tags_chapters.mka")) as source:
            s = source.stream
            self.assertEqual((s.codec, s.rate, s.channels, s.layout, s.sample_format, s.duration),
                             ("flac", 44100, 2, 0x3, "s16", 3.0))
            self.assertEqual((s.tags["language"], source.tags["title"]), ("eng", "Fixture Album"))

    def test_chapters_to_the_tick_and_into_an_encoder(self):
        def exact(chapters):
            return [(c.id, str(c.time_base), c.start_tick, c.end_tick, c.tags) for c in chapters]

        probe = json.loads(run("ffprobe", "-v", "error", "-of", "json", "-show_chapters",
                               media("odd_chapters.mka")))["chapters"]
        made = flatav.Chapter(9, 2.5, 2.75, {"title": "Made"})
        with flatav.open(media("odd_chapters.mka")) as source:
            self.assertEqual(exact(source.chapters), [
                (c["id"], c["time_base"], c["start"], c["end"], c.get("tags", {})) for c in probe])
            with flatav.Encoder(temp("tagged.mka"), "pcm_s16le", 44100, 2, tags={"title": "T"},
                                stream_tags=source.stream.tags,
                                chapters=source.chapters + [made]) as encoder:
                encoder.write(source.read())
            with flatav.open(temp("tagged.mka")) as copy:
                self.assertEqual(exact(copy.chapters), exact(source.chapters) + [
                    (9, "1/1000000000", 2500000000, 2750000000, {"title": "Made"})])
                self.assertEqual((copy.tags["title"], copy.stream.tags["language"]), ("T", "ger"))

    def test_seek_lands_on_the_frame_of_the_target(self):
        for fixture in ("sweep.wav", "sweep.flac"):
            with self.subTest(fixture=fixture), flatav.open(media(fixture)) as source:
                source.seek(1.0)
                # The frame that holds 1 s (FLAC: 4608 samples long), found in
                # the decode from the start (a sweep: no part repeats).
                start = ffmpeg("-i", media(fixture), "-f", "s16le").find(next(iter(source)))
                self.assertEqual(start % 4, 0)
                self.assertTrue(44100 - 4608 < start // 4 <= 44100, start // 4)

    def test_planes_hold_the_packed_samples(self):
        ours = b""
        with flatav.open(media("flac24.flac"), planar=True) as source:
            for planes in source:
                frames = array.array("i", bytes(sum(map(len, planes))))
                for c, plane in enumerate(planes):
                    frames[c::len(planes)] = array.array("i", bytes(plane))
                ours += frames.tobytes()
        self.assertPcmEqual(ours, ffmpeg("-i", media("flac24.flac"), "-f", "s32le"))

    def test_encoders_and_converters_match_the_ffmpeg_tool(self):
        pcm = ffmpeg("-i", media("stereo_s16.wav"), "-f", "s16le")
        for codec, sample_format, container in (("flac", "s16", "flac"), ("alac", "s16p", "m4a")):
            with self.subTest(codec=codec):
                out = io.BytesIO()
                with flatav.Encoder(out, codec, 44100, 2, sample_format, container=container) as e:
                    for at in range(0, len(pcm), 10000):
                        e.write(pcm[at:at + 10000])
                with open(temp("encoded." + container), "wb") as f:
                    f.write(out.getvalue())
                self.assertPcmEqual(ffmpeg("-i", temp("encoded." + container), "-f", "s16le"), pcm)
        for fixture, af, make in (
                ("res_44k_s16.raw", "aresample=48000",
                 lambda: flatav.Resampler(44100, 2, 48000, 2)),
                # aecho gives its tail at the end of the stream.
                ("filter_s16le.raw", "aecho=0.8:0.9:100:0.3,aformat=sample_fmts=s16:"
                 "sample_rates=44100:channel_layouts=0x3",
                 lambda: flatav.Filter("aecho", "0.8:0.9:100:0.3", 44100, 2, 0x3))):
            with self.subTest(af=af), make() as converter:
                pcm = read(media(fixture))
                ours = b"".join(converter.process(pcm[at:at + 4096])
                                for at in range(0, len(pcm), 4096)) + converter.flush()
                self.assertPcmEqual(ours, ffmpeg("-f", "s16le", "-sample_rate", "44100",
                                                 "-ch_layout", "0x3", "-i", media(fixture),
                                                 "-af", af, "-f", "s16le"))

    def test_failures_raise_the_librarys_text_and_code(self):
        for make, code in (
                (lambda: flatav.open(media("no_such_file.flac")), None),
                (lambda: flatav.Encoder(io.BytesIO(), "no_such_codec", 44100, 2, container="flac"),
                 None),
                (lambda: flatav.Filter("no_such_filter", None, 44100, 2, 0x3), "negative"),
                (lambda: flatav.Resampler(44100, 2, 48000, 2, out_format="s16p"), "negative"),
                (lambda: flatav.open(media("damaged.aac")).read(), _abi.FLATAV_DECODE_FAILED)):
            with self.subTest(code=code), self.assertRaises(flatav.FlatavError) as caught:
                make()
            self.assertTrue(caught.exception.text)
            if code == "negative":
                self.assertLess(caught.exception.code, 0)
            else:
                self.assertEqual(caught.exception.code, code)

    def test_a_playlist_opens_its_entries_only_when_allowed(self):
        with open(temp("list.m3u8"), "w") as f:
            f.write("#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nfile://%s\n"
                    "#EXT-X-ENDLIST\n" % media("sweep.ts"))
        with self.assertRaisesRegex(flatav.FlatavError, "refused to open"):
            flatav.open(temp("list.m3u8"))
        for options in ({"allow_nested_opens": True}, {"protocol_whitelist": "file"}):
            with self.subTest(**options), flatav.open(temp("list.m3u8"), **options) as source:
                self.assertPcmEqual(source.read(), ffmpeg("-i", temp("list.m3u8"), "-f", "f32le"))

    def test_raising_host_function_raises_after_the_call(self):
        data = read(media("flac16.flac"))
        for good_reads in (0, 12):  # fails in the open, in the decoding
            with self.subTest(good_reads=good_reads), \
                    self.assertRaisesRegex(RuntimeError, "the host's read failed"):
                with flatav.open(RaisingReader(data, good_reads)) as source:
                    source.read()
        with flatav.open(io.BytesIO(data)) as source:
            self.assertPcmEqual(source.read(), ffmpeg("-i", media("flac16.flac"), "-f", "s16le"))

    def test_open_close_cycles_keep_memory_flat(self):
        def rss():
            return int(read("/proc/self/statm").split()[1]) * os.sysconf("SC_PAGE_SIZE")
        data = read(media("flac16.flac"))
        for cycle in range(1000):
            if cycle == 200:
                before = rss()
            with flatav.open(io.BytesIO(data)) as source:
                next(iter(source))
        self.assertLess(rss() - before, 1 << 20)

    def test_pip_installs_a_working_package(self):
        run("/usr/bin/python3", "-m", "pip", "install", "-q", "--root-user-action=ignore",
            "--disable-pip-version-check", "--target", temp("site"), os.path.join(HERE, "python"))
        pcm = run("/usr/bin/python3", "-c", "import flatav, sys; "
                  "sys.stdout.buffer.write(flatav.open(sys.argv[1]).read())", media("flac16.flac"),
                  env=dict(os.environ, PYTHONPATH=temp("site")))
        self.assertPcmEqual(pcm, ffmpeg("-i", media("flac16.flac"), "-f", "s16le"))

    @unittest.skipUnless(importlib.util.find_spec("numpy"), "numpy is optional")
    def test_as_array(self):
        with flatav.open(media("flac16.flac")) as source:
            samples = source.as_array()
        self.assertEqual(samples.shape, (3 * 44100, 2))
        self.assertPcmEqual(samples.tobytes(), ffmpeg("-i", media("flac16.flac"), "-f", "s16le"))


if __name__ == "__main__":
    unittest.main()
