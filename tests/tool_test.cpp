// The flatav tool as a user runs it: one table of command lines, each a
// real run of the built tool on files made at test time, with its exit
// status, a text its standard error must hold and a shell check of what it
// wrote, against the ffmpeg tools where they do the same job. A failing run
// must leave its directory as it found it.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "encode_host.h"
#include "media.h"
#include "tool_run.h"

namespace {

using flatav_test::run_capture;
using flatav_test::shell_quote;

struct ToolCase {
    const char *name;
    const char *setup;  // shell run before, in the row's own directory
    const char *run;    // the tool's run ($T)
    int status;
    const char *says;   // standard error holds this
    const char *check;  // shell that must succeed afterwards ($O, $E: the run's output)
    bool corpus = false; // needs the real-world corpus
};

void PrintTo(const ToolCase &c, std::ostream *os) { *os << c.name; }

// Shell functions of the checks: the ffmpeg tools' view of a file.
const char kCheckFunctions[] = R"(
pcm() { ffmpeg -nostdin -v error -i "$1" ${3:+-map 0:$3} -f "${2:-s16le}" -; }
field() { ffprobe -v error -show_entries "stream=$2" -select_streams a:0 -of default=nw=1:nk=1 "$1"; }
tags() { ffprobe -v error -select_streams a -show_entries format_tags:stream_tags -of default=nw=1 "$1" |
  sed 's/^TAG://' | tr 'A-Z' 'a-z' |
  grep -Ev '^(encoder|duration|handler_name|vendor_id|major_brand|minor_version|compatible_brands)=' |
  sort -u; }
chapters() { ffprobe -v error -show_entries chapter=id,time_base,start,end:chapter_tags -of csv "$1"; }
)";

// Every corpus file: info --json against ffprobe's JSON on duration (1 ms),
// on codec, rate and channels of each audio stream that decodes, and on
// every chapter to the tick.
const char kJsonAgrees[] =
    "for f in $(find $C -type f ! -name '*.md' | sort); do "
    "ffprobe -v error -of json -show_format -show_streams -show_chapters $f > r.json 2>/dev/null "
    "|| continue; "
    "$T info --json $f > o.json 2>/dev/null; "
    "jq -n -e --slurpfile o o.json --slurpfile r r.json '$o[0].files[0] as $f | $r[0] as $r | "
    "($f.chapters | map([.id, .start, .end, .time_base, .start_ticks, .end_ticks, .tags])) == "
    "($r.chapters | map([.id, (.start_time | tonumber), (.end_time | tonumber), .time_base, "
    ".start, .end, .tags // {}])) and "
    "(if $r.format.duration == null then $f.duration == null "
    "else (($f.duration - ($r.format.duration | tonumber)) | fabs) < 0.001 end) and "
    "all($f.streams[] | select(.decodes); . as $s | $r.streams[$s.index] | "
    ".codec_name == $s.codec and (.sample_rate | tonumber) == $s.sample_rate and "
    ".channels == $s.channels)' >/dev/null || { echo \"differs: $f\"; bad=1; }; done; "
    "test -z \"$bad\"";

const ToolCase kCases[] = {
    // Never lose data.
    {"in_is_out", "cp $M/flac16.flac a.flac", "$T transcode a.flac a.flac -y", 1,
     "a.flac is the input", "cmp a.flac $M/flac16.flac"},
    {"in_is_out_by_another_path", "mkdir s && cp $M/flac16.flac a.flac",
     "$T transcode a.flac s/../a.flac -y", 1, "is the input", "cmp a.flac $M/flac16.flac"},
    {"in_is_out_hard_link", "cp $M/flac16.flac a.flac && ln a.flac b.flac",
     "$T transcode a.flac b.flac -y", 1, "is the input", "cmp b.flac $M/flac16.flac"},
    {"decode_in_is_out", "cp $M/stereo_s16.wav a.wav", "$T decode a.wav a.wav -y", 1,
     "is the input", "cmp a.wav $M/stereo_s16.wav"},
    {"existing_output_kept", "cp $M/flac16.flac out.flac",
     "$T transcode $M/stereo_s16.wav out.flac", 1, "out.flac exists; add -y",
     "cmp out.flac $M/flac16.flac"},
    {"no_overwrite_said", "cp $M/flac16.flac out.raw", "$T decode $M/stereo_s16.wav out.raw -n",
     1, "exists", "cmp out.raw $M/flac16.flac"},
    {"overwrite_replaces", "cp $M/flac16.flac out.mp3",
     "$T transcode $M/stereo_s16.wav out.mp3 -y", 0, "", "[ $(field out.mp3 codec_name) = mp3 ]"},
    {"failed_encode_keeps_output", "cp $M/flac16.flac keep.wma",
     "$T transcode $M/stereo_s16.wav keep.wma --bitrate 1k -y", 1,
     "bitrate too low: got 1000, need 24000", "cmp keep.wma $M/flac16.flac"},
    {"failed_copy_keeps_output", "cp $M/flac16.flac keep.mp3",
     "$T copy $M/vorbis.ogg keep.mp3 --overwrite", 1, "cannot write keep.mp3",
     "cmp keep.mp3 $M/flac16.flac"},
    {"no_output_is_left", "", "$T copy $M/sweep.mp3 out.nosuchcontainer", 2,
     "cannot tell the container", ""},

    // Standard output carries data alone, the trace goes to standard error.
    {"decode_to_pipe", "", "$T --trace decode $M/stereo_s16.wav -", 0, "ff_decoder_open",
     "cmp $O <(pcm $M/stereo_s16.wav)"},
    {"decode_to_dev_stdout", "", "$T decode $M/flac16.flac /dev/stdout", 0,
     "samples per channel", "cmp $O <(pcm $M/flac16.flac)"},
    {"transcode_to_pipe", "", "$T --trace transcode $M/stereo_s16.wav - --codec flac", 0,
     "ff_open_encoder",
     "cmp $O <(ffmpeg -nostdin -v error -i $M/stereo_s16.wav -c:a flac -f flac -)"},
    {"filter_to_pipe", "", "$T transcode $M/stereo_s16.wav - --codec flac --filter volume=0.5",
     0, "",
     "cmp <(pcm $O) <(ffmpeg -nostdin -v error -i $M/stereo_s16.wav -af volume=0.5 -f s16le -)"},
    {"decode_from_stdin", "", "cat $M/flac16.flac | $T decode - -", 0, "",
     "cmp $O <(pcm $M/flac16.flac)"},
    {"transcode_from_stdin", "", "$T transcode - o.flac < $M/stereo_s16.wav", 0, "",
     "cmp <(pcm o.flac) <(pcm $M/stereo_s16.wav)"},
    {"info_from_stdin", "", "$T info - < $M/tags_chapters.mka", 0, "",
     "grep -q 'tag: title = Fixture Album' $O && grep -q 'flac, 44100 Hz, stereo' $O"},

    // decode: WAV or raw, formats, rate, channels, duration, streams.
    {"decode_wav_24bit", "", "$T decode $M/flac24.flac o.wav", 0, "",
     "[ $(field o.wav codec_name) = pcm_s24le ] && "
     "cmp <(pcm o.wav s32le) <(pcm $M/flac24.flac s32le)"},
    {"decode_float_wav", "", "$T decode $M/stereo_s16.wav o.wav --sample-format flt", 0, "",
     "[ $(field o.wav codec_name) = pcm_f32le ]"},
    {"decode_rate_channels", "", "$T decode $M/stereo_s16.wav o.wav --rate=48000 --channels 1",
     0, "", "[ \"$(field o.wav sample_rate,channels | paste -sd,)\" = 48000,1 ]"},
    {"decode_duration", "", "$T decode $M/stereo_s16.wav o.raw -t 1", 0, "",
     "[ $(stat -c %s o.raw) = 176400 ]"},
    {"decode_second_audio_stream", "", "$T decode $M/tool_two_audio.mka o.raw --stream 1", 0,
     "", "cmp o.raw <(pcm $M/tool_two_audio.mka s16le 1)"},
    {"decode_skips_damaged_packet", "", "$T decode $M/damaged.aac o.raw", 0, "skipped", ""},
    {"decode_delivered_format", "", "$T decode $M/sweep.mp3 o.raw", 0, "flt",
     "cmp o.raw <(pcm $M/sweep.mp3 f32le)"},

    // transcode: what the ffmpeg tool does with the same chain.
    {"start_at_packet", "", "$T transcode $M/sweep.flac late.flac --start 1.5", 0, "",
     // FLAC packets of 4608 samples: 1.5 s resumes at packet 14.
     "cmp <(pcm late.flac) <(pcm $M/sweep.flac | tail -c +$((14 * 4608 * 4 + 1)))"},
    {"filter_rate_channels", "",
     "$T transcode $M/stereo_s16.wav o.flac --filter volume=0.5 --rate 48000 --channels 1", 0,
     "",
     // The filter stage gives back the input's format before the resampler.
     "cmp <(pcm o.flac) <(ffmpeg -nostdin -v error -i $M/stereo_s16.wav -af volume=0.5,"
     "aformat=sample_fmts=s16:sample_rates=44100:channel_layouts=0x3,"
     "aresample=osr=48000:ochl=mono:osf=s16 -f s16le -)"},
    {"remix_51_to_stereo", "", "$T transcode $M/filter_51.flac o.flac --channels 2", 0, "",
     "cmp <(pcm o.flac) <(ffmpeg -nostdin -v error -i $M/filter_51.flac -af "
     "aresample=ochl=stereo:osf=s16 -f s16le -)"},
    // loudnorm works at 192 kHz whatever it is given: the stage brings it back.
    {"filter_with_latency", "", "$T transcode $M/stereo_s16.wav o.flac --filter loudnorm", 0,
     "loudnorm's output (192000 Hz, stereo) back to 44100 Hz",
     "cmp <(pcm o.flac) <(ffmpeg -nostdin -v error -i $M/stereo_s16.wav -af "
     "loudnorm,aformat=sample_fmts=s16:sample_rates=44100:channel_layouts=stereo -f s16le -)"},
    {"video_first_duration", "", "$T transcode $M/video_audio.mkv o.flac -t 0.5", 0, "",
     "[ $(field o.flac duration_ts) = 22050 ]"},
    {"bitrate_k", "", "$T transcode $M/stereo_s16.wav o.mp3 --bitrate 64k", 0, "",
     "[ $(field o.mp3 bit_rate) = 64000 ]"},
    {"codec_in_other_container", "", "$T transcode $M/stereo_s24.wav o.mka --codec flac", 0, "",
     "[ $(field o.mka codec_name) = flac ] && "
     "cmp <(pcm o.mka s32le) <(pcm $M/stereo_s24.wav s32le)"},

    // Automatic conversion, said on standard error.
    {"opus_from_44k", "", "$T transcode $M/stereo_s16.wav o.opus", 0,
     "converting 44100 Hz to 48000 Hz", "[ $(field o.opus sample_rate) = 48000 ]"},
    {"mp3_from_7_1", "", "$T transcode $M/tool_71.flac o.mp3", 0, "mixing 7.1 into stereo",
     "[ $(field o.mp3 channels) = 2 ]"},
    {"mp3_from_176k", "", "$T transcode $M/tool_176k.wav o.mp3", 0, "176400 Hz to 48000 Hz",
     "[ $(field o.mp3 sample_rate) = 48000 ]"},
    {"aac_from_8k_mono", "", "$T transcode $M/tool_8k_mono.wav o.m4a", 0, "",
     "[ \"$(field o.m4a codec_name,sample_rate,channels | paste -sd,)\" = aac,8000,1 ]"},
    {"wav_24bit", "", "$T transcode $M/stereo_s16.wav o.wav --codec pcm_s24le", 0, "",
     "[ $(field o.wav codec_name) = pcm_s24le ]"},
    {"wma_gets_a_bitrate", "", "$T transcode $M/stereo_s16.wav o.wma", 0, "needs a bit rate",
     "[ $(field o.wma bit_rate) = 128000 ]"},
    {"mp3_from_truehd_8ch", "", "$T transcode $C/mlp/sample_dthd.mp4 o.mp3", 0, "into stereo",
     "[ $(field o.mp3 channels) = 2 ]", true},
    {"mp3_from_dsd", "", "$T transcode $C/dsd/dff64.dff o.mp3", 0, "352800 Hz to 48000 Hz",
     "[ $(field o.mp3 sample_rate) = 48000 ]", true},

    // Tags and chapters travel.
    {"tags_flac_to_mp3", "", "$T transcode $M/tool_tags.flac o.mp3", 0, "",
     "[ $(tags o.mp3 | wc -l) = 7 ] && diff <(tags $M/tool_tags.flac) <(tags o.mp3)"},
    {"tags_m4a_to_ogg", "", "$T transcode $M/tool_tags.m4a o.ogg", 0, "",
     "diff <(tags $M/tool_tags.m4a) <(tags o.ogg)"},
    {"tags_mp3_copy", "", "$T copy $M/tool_tags.mp3 o.mp3", 0, "",
     "[ $(tags o.mp3 | wc -l) = 7 ] && diff <(tags $M/tool_tags.mp3) <(tags o.mp3)"},
    {"tags_chapters_mka_copy", "", "$T copy $M/odd_chapters.mka o.mka", 0, "",
     "diff <(tags $M/odd_chapters.mka) <(tags o.mka) && "
     "diff <(chapters $M/odd_chapters.mka) <(chapters o.mka)"},
    // Chapters moved and cut to the output's time, to the nanosecond.
    {"chapters_within_start_duration", "",
     "$T transcode $M/odd_chapters.mka o.mka --start 0.5 -t 0.5", 0, "",
     "ffmpeg -nostdin -v error -ss 0.5 -i $M/odd_chapters.mka -t 0.5 r.mka && "
     "[ $(chapters r.mka | wc -l) = 2 ] && diff <(chapters r.mka) <(chapters o.mka)"},
    // The source starts at 25.057 ms (the encoder's delay), the output at
    // 25.657 ms: 26 ticks of the chapters' milliseconds.
    {"chapters_after_start_time", "",
     "$T transcode $C/mp3/toc_many_children.mp3 o.mka --start 0.0006", 0, "",
     "ffmpeg -nostdin -v error -ss 0.0006 -i $C/mp3/toc_many_children.mp3 r.mka && "
     "[ $(chapters r.mka | wc -l) = 129 ] && diff <(chapters r.mka) <(chapters o.mka)", true},
    {"tags_corpus_id3_copy", "", "$T copy $C/mp3/bear-id3.mp3 o.mp3", 0, "",
     "diff <(tags $C/mp3/bear-id3.mp3) <(tags o.mp3)", true},

    // copy.
    {"copy_packets", "", "$T copy $M/sweep.m4a o.m4a", 0, "",
     "cmp <(pcm o.m4a f32le) <(pcm $M/sweep.m4a f32le)"},
    // The packets of 4608 samples that start before 1 s.
    {"copy_duration_stream", "", "$T copy $M/tool_two_audio.mka o.mka --stream 1 -t 1", 0, "",
     "[ $(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "
     "o.mka) = 10 ]"},

    // Bad arguments: exit 2 (1 for a bad input), one message naming the problem.
    {"no_command", "", "$T", 2, "wants a command", ""},
    {"unknown_command", "", "$T transcod", 2, "did you mean transcode", ""},
    {"unknown_option", "", "$T decode $M/stereo_s16.wav o.raw --rat 8000", 2,
     "unknown option '--rat'; did you mean --rate", ""},
    {"unknown_codec", "", "$T transcode $M/stereo_s16.wav o.mp3 --codec nosuchcodec", 2,
     "unknown encoder 'nosuchcodec'", ""},
    {"unknown_container", "", "$T transcode $M/stereo_s16.wav o.mka --format matroshka", 2,
     "did you mean matroska", ""},
    {"unknown_extension", "", "$T transcode $M/stereo_s16.wav o.xyz", 2, "add --format", ""},
    {"stream_not_a_number", "", "$T decode $M/stereo_s16.wav o.raw --stream abc", 2,
     "--stream wants a whole number from 0, not 'abc'", ""},
    {"stream_negative", "", "$T copy $M/stereo_s16.wav o.wav --stream -1", 2, "not '-1'", ""},
    {"stream_missing", "", "$T transcode $M/video_audio.mkv o.flac --stream 0", 2,
     "no audio stream 0 that decodes; its audio streams: 1", ""},
    {"unknown_filter", "", "$T transcode $M/stereo_s16.wav o.flac --filter no_such_filter", 2,
     "unknown audio filter 'no_such_filter'", ""},
    {"filter_bad_args", "", "$T transcode $M/stereo_s16.wav o.flac --filter volume=loud", 2,
     "Undefined constant or missing '(' in 'loud'", ""},
    {"filter_changes_rate", "",
     "$T transcode $M/stereo_s16.wav o.flac --filter aresample=48000", 2, "use --rate 48000", ""},
    {"filter_changes_layout", "",
     "$T transcode $M/stereo_s16.wav o.flac --filter 'pan=mono|c0=c0'", 2,
     "changes the channel layout to mono", ""},
    {"experimental_encoder", "", "$T transcode $M/stereo_s16.wav o.ogg --codec opus", 2,
     "add --strict", ""},
    {"bad_bitrate", "", "$T transcode $M/stereo_s16.wav o.mp3 --bitrate fast", 2,
     "--bitrate wants bits per second", ""},
    {"bad_sample_format", "", "$T decode $M/stereo_s16.wav o.raw --sample-format s8", 2,
     "--sample-format wants s16, s24, s32 or flt", ""},
    {"missing_output", "", "$T transcode $M/stereo_s16.wav", 2, "wants IN and OUT", ""},
    {"invalid_data", "head -c 3000 /dev/zero | tr '\\0' Z > g.wav", "$T transcode g.wav o.flac", 1,
     "cannot open g.wav: Invalid data found when processing input", ""},
    {"no_such_file", "", "$T info nothing.wav", 1, "cannot open nothing.wav: No such file", ""},
    {"no_audio", "", "$T decode $M/chapters.txt o.raw", 1, "", ""},

    // info, probe, encoders, filters, mlp, help.
    {"info_many_files", "",
     "$T info $M/tags_chapters.mka nothing.wav $M/flac24.flac $M/odd_chapters.mka", 1, "",
     "grep -q 'chapter 1: 0.500000 s - 0.750000 s: title = First' $O && "
     "grep -qx '  chapter 2: 0.666667 s - 1.133787 s' $O && "
     "grep -q 'tag: title = Fixture Album' $O && grep -q 's32 (24 bit), 2.000 s' $O"},
    {"info_json", "", "$T info --json $M/odd_chapters.mka $M/stereo_s24.wav", 0, "",
     "jq -e --slurpfile r <(ffprobe -v error -of json -show_chapters $M/odd_chapters.mka) "
     "'(.files[0].chapters | map([.id, .start, .end, .time_base, .start_ticks, .end_ticks, "
     ".tags])) == ($r[0].chapters | map([.id, (.start_time | tonumber), (.end_time | tonumber), "
     ".time_base, .start, .end, .tags // {}])) and .files[0].tags.title == \"Odd Album\" and "
     ".files[1].streams[0].bits_per_sample == 24' $O"},
    {"info_json_agrees_with_ffprobe", "", kJsonAgrees, 0, "", "", true},
    {"probe", "", "$T probe $M/sweep.ts", 0, "",
     "grep -q 'first 4096 bytes: mpegts' $O && grep -q 'whole source: mpegts' $O"},
    {"probe_empty", ": > empty.mp3", "$T probe empty.mp3", 1, "empty.mp3 is empty", ""},
    {"encoders", "", "$T encoders", 0, "",
     "grep -Eq '^03 +86028 +flac +flac +s16 +s32 +yes$' $O && "
     "grep -q 'truehd.*experimental' $O && grep -Eq '^14 .* no$' $O"},
    {"encoders_all", "", "$T encoders --all", 0, "", "grep -q '^libmp3lame .*s16p' $O"},
    {"filters", "", "$T filters", 0, "",
     "diff <(cut -d' ' -f1 $O | sort) <(ffmpeg -hide_banner -filters | "
     "sed -nE 's/^ *\\S+ +(\\S+) +A->A .*/\\1/p' | sort)"},
    {"mlp", "", "$T mlp $M/mlp_s32_51.mlp o.raw", 0, "",
     "cmp o.raw <(pcm $M/mlp_s32_51.mlp s32le)"},
    {"help_is_the_readme", "", "$T --help", 0, "",
     "diff <(sed -n '/^```text$/,/^```$/p' $S/README.md | sed '1d;$d') $O"},
    {"command_help", "", "$T info --help", 0, "",
     "grep -q '^flatav info' $O && ! grep -q 'flatav decode' $O"},
    {"version", "", "$T --version", 0, "", "grep -q '^flatav [0-9]' $O && grep -q FFmpeg $O"},
    {"progress_on_a_terminal", "", "script -qec \"$T transcode $M/flac16.flac o.mp3\" /dev/null",
     0, "", "grep -q '] 100.0%' $O"},
};

class Tool : public testing::TestWithParam<ToolCase> {};

std::string listing(const std::string &dir)
{
    const std::vector<uint8_t> text =
        run_capture("ls -lA --time-style=+%s.%N " + shell_quote(dir), nullptr);
    return std::string(text.begin(), text.end());
}

TEST_P(Tool, Runs)
{
    const ToolCase &c = GetParam();
    if (c.corpus && flatav_test::corpus_dir().empty())
        GTEST_SKIP() << "no corpus";
    const std::string dir = testing::TempDir() + "flatav_tool_" + c.name;
    int status = 0;
    run_capture("rm -rf " + shell_quote(dir) + " && mkdir -p " + shell_quote(dir), &status);
    ASSERT_EQ(status, 0);
    if (*c.setup)
        flatav_test::run_tool(c.setup, dir);
    const std::string before = listing(dir);
    int check_status = 0;
    const flatav_test::ToolRun run = flatav_test::run_tool(
        c.run, dir, *c.check ? std::string(kCheckFunctions) + c.check : "", &check_status);
    EXPECT_EQ(run.status, c.status) << run.out.substr(0, 2000) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    if (*c.check) {
        EXPECT_EQ(check_status, 0) << c.check << "\n" << run.check_said << run.err;
    }
    if (c.status != 0) {
        EXPECT_EQ(listing(dir), before) << "a failing run leaves no file behind";
        // One line, and for usage errors where to read more.
        const std::string said = run.err.substr(0, run.err.find("(see flatav"));
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << run.err;
    }
    run_capture("rm -rf " + shell_quote(dir) + " " + shell_quote(dir + ".out") + " " +
                    shell_quote(dir + ".err"), &status);
}

INSTANTIATE_TEST_SUITE_P(Table, Tool, testing::ValuesIn(kCases), flatav_test::CaseName());

}  // namespace
