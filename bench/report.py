#!/usr/bin/env python3
"""Runs every benchmark against its direct-FFmpeg twin and writes the table
of ratios to bench/RESULTS.md, with the machine and the FFmpeg version.

    report.py BUILD_DIR [--repetitions N] [--skip-hour]
    report.py BUILD_DIR --instructions-only

BUILD_DIR is a Release build with the bench-media target made. Time ratios
are medians of Google Benchmark repetitions (wall and CPU time); instruction
ratios come from callgrind, which counts the same for the same binary and
input whatever else the machine does. Peak memory is the resident peak of a
whole process decoding, resampling or filtering a one-hour stream, against a
one-minute one: flat memory means the two peaks are alike.

--instructions-only counts decoding FLAC and MP3 and encoding FLAC alone and
writes them to a section of their own, headed by the FFmpeg version, leaving
the rest of RESULTS.md as it is: the way to add the counts under another
FFmpeg (`make bench-ffmpeg7`). A full report keeps such sections of other
FFmpeg versions.
"""
import argparse
import datetime
import json
import os
import platform
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def run(args, **kw):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kw).stdout


def google_benchmark(program, repetitions, name_filter=None):
    """Median wall and CPU time per benchmark name of a Google Benchmark
    program, in milliseconds."""
    # The JSON goes to a file: the filter's trace lines share standard output.
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        args = [program, f"--benchmark_out={out.name}", "--benchmark_out_format=json",
                f"--benchmark_repetitions={repetitions}",
                "--benchmark_report_aggregates_only=true",
                # Repetitions of flatav and of its twin alternate in random
                # order: a machine that slows down for a while then slows
                # both, instead of whichever ran during it.
                "--benchmark_enable_random_interleaving=true"]
        if name_filter:
            args.append(f"--benchmark_filter={name_filter}")
        run(args)
        data = json.load(open(out.name))
    # With one repetition there are no aggregates: the run itself is the median.
    wanted = "median" if repetitions > 1 else None
    medians = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == wanted:
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
            medians[b["run_name"]] = (b["real_time"] * scale, b["cpu_time"] * scale)
    return medians


def pairs(medians):
    """(case, flatav, direct) for every NAME_flatav / NAME_direct pair."""
    for name, flatav in sorted(medians.items()):
        if name.endswith("_flatav"):
            direct = medians.get(name[: -len("_flatav")] + "_direct")
            if direct:
                yield name[: -len("_flatav")], flatav, direct


def table_rows(script_args):
    """The rows of a comparison script's table: its last field is the ratio,
    the two before it the flatav and direct figures."""
    rows = []
    for line in run(["bash"] + script_args).splitlines():
        fields = line.split()
        try:
            ratio = float(fields[-1])
            a, b = float(fields[-3]), float(fields[-2])
        except (ValueError, IndexError):
            continue
        rows.append((" ".join(fields[:-3]), a, b, ratio))
    return rows


def peak_rss_kib(args):
    """Resident peak of a whole process, in KiB."""
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    if status != 0:
        raise RuntimeError(f"{args} failed")
    return usage.ru_maxrss


def machine():
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_kib = int(f.readline().split()[1])
    ffmpeg = run(["ffmpeg", "-version"]).splitlines()[0]
    libs = " ".join(
        f"{lib} {run(['pkg-config', '--modversion', lib]).strip()}"
        for lib in ("libavformat", "libavcodec", "libavutil", "libswresample", "libavfilter"))
    # FLATAV_COMMIT names it where the tree has no git (a root the tree is mounted in).
    commit = os.environ.get("FLATAV_COMMIT", "")
    try:
        commit = commit or run(["git", "-C", HERE, "rev-parse", "--short", "HEAD"]).strip()
    except (subprocess.CalledProcessError, FileNotFoundError):
        commit = "unknown"
    return [
        f"- Date: {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC; flatav commit {commit}",
        f"- Machine: {cpu}, {os.cpu_count()} cores, {mem_kib // 1024} MiB; {platform.platform()}",
        f"- {ffmpeg}",
        f"- {libs}",
        f"- Load average when the report started: {os.getloadavg()[0]:.2f}",
    ]


def same_work(time_job, time_case, count_job, count_case):
    """Whether a counted case is the work of a timed one ("mp3" and
    "minute.mp3", "up_44k_48k" and "resample up_44k_48k", "mlp16" and
    "short16.mlp")."""
    if count_job != time_job and not (time_job in ("resample", "filter") and
                                      count_job == "resample / filter"):
        return False
    if time_job == "MLP":
        return time_case[-2:] in count_case
    return count_case.endswith(time_case)


def missed_time_note(missed, counts):
    """Says, for each time ratio over its target, what the instruction count
    of the same work shows."""
    if not missed:
        return []
    lines = ["", "Time ratios over their target, against the counted instructions of the",
             "same work:", ""]
    for job, case, cpu, target in missed:
        found = [c for c in counts if same_work(job, case, c[0], c[1])]
        if not found:
            lines.append(f"- {job} {case}: CPU time {cpu:.3f} (target {target}); no count.")
            continue
        _, count_case, ratio, count_target = found[0]
        why = ("within target: flatav adds no work here, and identical runs on this "
               "machine move a time ratio by several percent (run `make bench` again to "
               "see it move)" if ratio <= count_target else
               "the instructions are over target too: flatav does more work here")
        lines.append(f"- {job} {case}: CPU time {cpu:.3f} (target {target}); "
                     f"instructions ({count_case}) {ratio:.4f}: {why}.")
    return lines


def verdict(ratio, target):
    return "yes" if ratio <= target else f"**no** (target {target})"


def instruction_rows(counted):
    """Table rows of the callgrind counts, and (job, case, ratio, target) of each."""
    rows, counts = [], []
    for job, args, target in counted:
        print(f"counting {job}...", file=sys.stderr)
        for case, a, b, ratio in table_rows(args):
            counts.append((job, case, ratio, target))
            rows.append(f"| {job} | {case} | {a:,.0f} | {b:,.0f} | {ratio:.4f} "
                        f"| {verdict(ratio, target)} |")
    return rows, counts


def version_heading():
    """The heading of the counts-only section of this FFmpeg ("FFmpeg 7.1.5")."""
    version = run(["ffmpeg", "-version"]).split()[2].split("-")[0]
    return f"## Instructions under FFmpeg {version}"


def other_sections(path, keep):
    """The "## " sections of the report at path whose heading keep() accepts."""
    if not os.path.exists(path):
        return []
    parts = ["## " + part.rstrip("\n") for part in open(path).read().split("\n## ")[1:]]
    return [part for part in parts if keep(part.splitlines()[0])]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--repetitions", type=int, default=7)
    parser.add_argument("--skip-hour", action="store_true",
                        help="leave out the one-hour memory runs")
    parser.add_argument("--instructions-only", action="store_true",
                        help="count decoding FLAC and MP3 and encoding FLAC into a "
                        "section of this FFmpeg version, and nothing else")
    opts = parser.parse_args()
    build = os.path.abspath(opts.build)
    bench = os.path.join(build, "bench")
    media = os.path.join(build, "bench-media")
    path = os.path.join(HERE, "RESULTS.md")
    heading = version_heading()
    table_head = ["| job | case | flatav | direct | ratio | within target |",
                  "|---|---|---|---|---|---|"]
    decode_counts = ("decode", [os.path.join(HERE, "callgrind_ratio.sh"), build,
                                os.path.join(media, "minute.flac"),
                                os.path.join(media, "minute.mp3")], 1.02)
    encode_args = [os.path.join(HERE, "callgrind_encode.sh"), build,
                   os.path.join(media, "minute.s16")]

    if opts.instructions_only:
        rows, _ = instruction_rows([decode_counts, ("encode", encode_args + ["flac"], 1.02)])
        section = [heading, "", "Written by `report.py --instructions-only`: the Instructions",
                   "table's counts of decoding and of FLAC encoding under this FFmpeg, against",
                   "the same targets.", ""] + machine() + [""] + table_head + rows
        # Every section but this version's own stays where it was.
        text = open(path).read() if os.path.exists(path) else "# Benchmark results"
        head = text.split("\n## ")[0]
        kept = other_sections(path, lambda h: h != heading)
        with open(path, "w") as f:
            f.write("\n\n".join([head.rstrip("\n")] + kept + ["\n".join(section)]) + "\n")
        print(f"wrote {path}", file=sys.stderr)
        return

    out = ["# Benchmark results", "",
           "Written by `make bench` (`bench/report.py`). Every line compares flatav with a",
           "direct FFmpeg loop doing the same work in the same kind of process; a ratio",
           "is flatav / direct, so below 1 means flatav is faster.", ""]
    out += machine() + [""]

    out += ["## Time", "",
            f"Medians of {opts.repetitions} Google Benchmark repetitions, flatav's and the",
            "direct loop's interleaved in random order. Time on a shared virtual machine",
            "drifts: the same pair has given ratios from 1.00 to 1.3 in consecutive runs",
            "without interleaving. The instruction counts below are the stable measure.", "",
            "| job | case | flatav ms | direct ms | wall ratio | CPU ratio | within target |",
            "|---|---|---|---|---|---|---|"]
    timed = [("decode", "flatav_bench", 1.02), ("encode", "flatav_encode_bench", 1.02),
             ("resample", "flatav_resample_bench", 1.03),
             ("filter", "flatav_filter_bench", 1.03), ("MLP", "flatav_mlp_bench", 1.03)]
    missed = []  # time rows over their target: (job, case, CPU ratio, target)
    for job, program, target in timed:
        print(f"timing {job}...", file=sys.stderr)
        for case, flatav, direct in pairs(google_benchmark(os.path.join(bench, program),
                                                           opts.repetitions)):
            wall, cpu = flatav[0] / direct[0], flatav[1] / direct[1]
            if cpu > target:
                missed.append((job, case.split('/')[-1], cpu, target))
            out.append(f"| {job} | {case.split('/')[-1]} | {flatav[0]:.1f} | {direct[0]:.1f} "
                       f"| {wall:.3f} | {cpu:.3f} | {verdict(cpu, target)} |")

    out += ["", "## Instructions", "",
            "callgrind counts of one pass (a minute of audio; MLP 20 s), whole process.", ""]
    counted = [
        decode_counts,
        ("encode", encode_args, 1.02),
        ("MLP", [os.path.join(HERE, "mlp_callgrind.sh"), build,
                 os.path.join(media, "short16.mlp"), os.path.join(media, "short24.mlp")], 1.03),
        ("resample / filter", [os.path.join(HERE, "callgrind_convert.sh"), build], 1.03),
    ]
    rows, counts = instruction_rows(counted)  # counts: (job, case, ratio, target)
    out += table_head + rows
    out += missed_time_note(missed, counts)

    print("timing stream copy...", file=sys.stderr)
    out += ["", "## Stream copy", "",
            "`flatav copy` against `ffmpeg -c copy` into the same container, whole-process",
            "wall time, median of 7 runs of 10-minute files.", "",
            "| file | flatav s | ffmpeg s | ratio | flatav no slower |", "|---|---|---|---|---|"]
    for case, a, b, ratio in table_rows([os.path.join(HERE, "copy_bench.sh"), build, media]):
        out.append(f"| {case} | {a:.3f} | {b:.3f} | {ratio:.3f} | {verdict(ratio, 1.0)} |")

    if not opts.skip_hour:
        print("measuring memory over an hour of audio...", file=sys.stderr)
        out += ["", "## Memory over a one-hour stream", "",
                "Resident peak of the whole process (KiB) for a minute and for an hour of",
                "audio. Equal peaks mean nothing grows with the stream.", "",
                "| job | case | flatav, 1 min | flatav, 1 h | direct, 1 min | direct, 1 h |",
                "|---|---|---|---|---|---|"]
        decode_once = os.path.join(bench, "flatav_decode_once")
        row = ["decode", "MP3"]
        for way in ("flatav", "direct"):
            for name in ("minute.mp3", "hour.mp3"):
                row.append(peak_rss_kib([decode_once, way, os.path.join(media, name)]))
        out.append("| " + " | ".join(str(x) for x in row) + " |")
        convert_once = os.path.join(bench, "flatav_convert_once")
        for job, case in (("resample", "up_44k_48k"), ("filter", "volume"),
                          ("filter", "loudnorm")):
            row = [job, case]
            for way in ("flatav", "direct"):
                for seconds in ("60", "3600"):
                    row.append(peak_rss_kib([convert_once, job, case, way, seconds]))
            out.append("| " + " | ".join(str(x) for x in row) + " |")

    # The counts under other FFmpeg versions stay.
    kept = other_sections(path, lambda h: h.startswith("## Instructions under FFmpeg ") and
                          h != heading)
    with open(path, "w") as f:
        f.write("\n\n".join(["\n".join(out)] + kept) + "\n")
    print(f"wrote {path}", file=sys.stderr)


if __name__ == "__main__":
    main()
