// The flatav tool as a user runs it: one table of command lines, each a
// real run of the built tool on files made at test time, with its exit
// status, a text its standard error must hold and a shell check of what it
// wrote, against the ffmpeg tools where they do the same job. A failing run
// says one line (usage errors: and where to read more) and leaves its
// directory as it found it.
#include <algorithm>
#include <cstring>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "media.h"

namespace {

using flatav_test::run_capture;
using flatav_test::shell_quote;

struct ToolCase {
    const char *name;
    const char *run;    // the tool's run ($T), in the row's own directory
    int status;
    const char *says;   // standard error holds this
    const char *check = "";  // shell that must succeed afterwards ($O: the run's output)
    const char *setup = "";  // shell run before, in the same directory
};

void PrintTo(const ToolCase &c, std::ostream *os) { *os << c.name; }

// The shell's variables (T the tool, M the media, W and F two of them, C
// the corpus, S the source tree, O and E the run's output and error) and the
// checks' functions: the ffmpeg tools' view of a file.
const char kShell[] = R"sh(
W=$M/stereo_s16.wav F=$M/flac16.flac
pcm() { ffmpeg -nostdin -v error -i "$1" ${3:+-map 0:$3} -f "${2:-s16le}" -; }
same() { cmp <(pcm "$1" $3) <(pcm "$2" $3); }
ref() { cmp <(pcm "$1") <(ffmpeg -nostdin -v error -i "$2" -af "$3" -f s16le -); }
field() { ffprobe -v error -show_entries stream=$2 -select_streams a:0 -of default=nw=1:nk=1 "$1"; }
is() { [ "$(field "$1" "$2" | paste -sd,)" = "$3" ]; }
kept() { cmp "$1" $F; }
tags() { ffprobe -v error -select_streams a -show_entries format_tags:stream_tags -of default=nw=1 "$1" |
  sed 's/^TAG://' | tr 'A-Z' 'a-z' |
  grep -Ev '^(encoder|duration|handler_name|vendor_id|major_brand|minor_version|compatible_brands)=' |
  sort -u; }
chapters() { ffprobe -v error -show_entries chapter=id,time_base,start,end:chapter_tags -of csv "$1"; }
)sh";

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

const char kPlaylist[] = "printf '#EXTM3U\\n#EXT-X-TARGETDURATION:10\\n#EXTINF:10,\\nfile://%s\\n"
                         "#EXT-X-ENDLIST\\n' \"$M/sweep.ts\" > list.m3u8";

const ToolCase kCases[] = {
    // Never lose data.
    // The same file by another name is the input too.
    {"in_is_out_hard_link", "$T transcode a.flac b.flac -y", 1, "b.flac is the input",
     "kept b.flac", "cp $F a.flac && ln a.flac b.flac"},
    {"decode_in_is_out", "$T decode a.wav a.wav -y", 1, "is the input",
     "cmp a.wav $W", "cp $W a.wav"},
    {"existing_output_kept", "$T transcode $W o.flac", 1,
     "o.flac exists; add -y", "kept o.flac", "cp $F o.flac"},
    {"no_overwrite_said", "$T decode $W o.raw -n", 1, "exists", "kept o.raw", "cp $F o.raw"},
    {"overwrite_replaces", "$T transcode $W o.mp3 -y", 0, "",
     "is o.mp3 codec_name mp3", "cp $F o.mp3"},
    {"failed_encode_keeps_output", "$T transcode $W o.wma --bitrate 1k -y", 1,
     "bitrate too low: got 1000, need 24000", "kept o.wma", "cp $F o.wma"},
    {"failed_copy_keeps_output", "$T copy $M/vorbis.ogg o.mp3 --overwrite", 1,
     "cannot write o.mp3", "kept o.mp3", "cp $F o.mp3"},
    {"no_output_is_left", "$T copy $M/sweep.mp3 o.nosuchcontainer", 2, "cannot tell the container"},

    // Standard output carries data alone, the trace goes to standard error.
    {"decode_to_pipe", "$T --trace decode $W -", 0, "ff_decoder_open", "cmp $O <(pcm $W)"},
    {"decode_to_dev_stdout", "$T decode $F /dev/stdout", 0, "samples per channel",
     "cmp $O <(pcm $F)"},
    {"transcode_to_pipe", "$T --trace transcode $W - --codec flac", 0,
     "ff_open_encoder", "cmp $O <(ffmpeg -nostdin -v error -i $W -c:a flac -f flac -)"},
    {"filter_to_pipe", "$T transcode $W - --codec flac --filter volume=0.5", 0, "",
     "ref $O $W volume=0.5"},
    {"decode_from_stdin", "cat $F | $T decode - -", 0, "", "cmp $O <(pcm $F)"},
    {"transcode_from_stdin", "$T transcode - o.flac < $W", 0, "", "same o.flac $W"},
    {"info_from_stdin", "$T info - < $M/tags_chapters.mka", 0, "",
     "grep -q 'tag: title = Fixture Album' $O && grep -q 'flac, 44100 Hz, stereo' $O"},

    // decode: WAV or raw, formats, rate, channels, duration, streams.
    {"decode_wav_24bit", "$T decode $M/flac24.flac o.wav", 0, "",
     "is o.wav codec_name pcm_s24le && same o.wav $M/flac24.flac s32le"},
    {"decode_float_wav", "$T decode $W o.wav --sample-format flt", 0, "",
     "is o.wav codec_name pcm_f32le"},
    {"decode_rate_channels", "$T decode $W o.wav --rate=48000 --channels 1", 0, "",
     "is o.wav sample_rate,channels 48000,1"},
    {"decode_duration", "$T decode $W o.raw -t 1", 0, "", "[ $(stat -c %s o.raw) = 176400 ]"},
    {"decode_second_audio_stream", "$T decode $M/tool_two_audio.mka o.raw --stream 1", 0, "",
     "cmp o.raw <(pcm $M/tool_two_audio.mka s16le 1)"},
    {"decode_skips_damaged_packet", "$T decode $M/damaged.aac o.raw", 0, "skipped"},
    {"decode_delivered_format", "$T decode $M/sweep.mp3 o.raw", 0, "flt",
     "cmp o.raw <(pcm $M/sweep.mp3 f32le)"},

    // transcode: what the ffmpeg tool does with the same chain.
    // FLAC packets of 4608 samples: 1.5 s resumes at packet 14.
    {"start_at_packet", "$T transcode $M/sweep.flac o.flac --start 1.5", 0, "",
     "cmp <(pcm o.flac) <(pcm $M/sweep.flac | tail -c +$((14 * 4608 * 4 + 1)))"},
    // The filter stage gives back the input's format before the resampler.
    {"filter_rate_channels",
     "$T transcode $W o.flac --filter volume=0.5 --rate 48000 --channels 1", 0, "",
     "ref o.flac $W volume=0.5,aformat=sample_fmts=s16:sample_rates=44100:"
     "channel_layouts=0x3,aresample=osr=48000:ochl=mono:osf=s16"},
    {"remix_51_to_stereo", "$T transcode $M/filter_51.flac o.flac --channels 2", 0, "",
     "ref o.flac $M/filter_51.flac aresample=ochl=stereo:osf=s16"},
    // loudnorm works at 192 kHz whatever it is given: the stage brings it back.
    {"filter_with_latency", "$T transcode $W o.flac --filter loudnorm", 0,
     "loudnorm's output (192000 Hz, stereo) back to 44100 Hz", "ref o.flac $W "
     "loudnorm,aformat=sample_fmts=s16:sample_rates=44100:channel_layouts=stereo"},
    {"video_first_duration", "$T transcode $M/video_audio.mkv o.flac -t 0.5", 0, "",
     "is o.flac duration_ts 22050"},
    {"bitrate_k", "$T transcode $W o.mp3 --bitrate 64k", 0, "", "is o.mp3 bit_rate 64000"},
    {"codec_in_other_container", "$T transcode $M/stereo_s24.wav o.mka --codec flac", 0, "",
     "is o.mka codec_name flac && same o.mka $M/stereo_s24.wav s32le"},

    // Automatic conversion, said on standard error.
    {"opus_from_44k", "$T transcode $W o.opus", 0, "converting 44100 Hz to 48000 Hz",
     "is o.opus sample_rate 48000"},
    {"mp3_from_7_1", "$T transcode $M/tool_71.flac o.mp3", 0, "mixing 7.1 into stereo",
     "is o.mp3 channels 2"},
    {"mp3_from_176k", "$T transcode $M/tool_176k.wav o.mp3", 0, "176400 Hz to 48000 Hz",
     "is o.mp3 sample_rate 48000"},
    {"aac_from_8k_mono", "$T transcode $M/tool_8k_mono.wav o.m4a", 0, "",
     "is o.m4a codec_name,sample_rate,channels aac,8000,1"},
    {"wav_24bit", "$T transcode $W o.wav --codec pcm_s24le", 0, "",
     "is o.wav codec_name pcm_s24le"},
    {"wma_gets_a_bitrate", "$T transcode $W o.wma", 0, "needs a bit rate",
     "is o.wma bit_rate 128000"},
    {"mp3_from_truehd_8ch", "$T transcode $C/mlp/sample_dthd.mp4 o.mp3", 0, "into stereo",
     "is o.mp3 channels 2"},
    {"mp3_from_dsd", "$T transcode $C/dsd/dff64.dff o.mp3", 0, "352800 Hz to 48000 Hz",
     "is o.mp3 sample_rate 48000"},

    // Tags and chapters travel.
    {"tags_flac_to_mp3", "$T transcode $M/tool_tags.flac o.mp3", 0, "",
     "[ $(tags o.mp3 | wc -l) = 7 ] && diff <(tags $M/tool_tags.flac) <(tags o.mp3)"},
    {"tags_m4a_to_ogg", "$T transcode $M/tool_tags.m4a o.ogg", 0, "",
     "diff <(tags $M/tool_tags.m4a) <(tags o.ogg)"},
    {"tags_mp3_copy", "$T copy $M/tool_tags.mp3 o.mp3", 0, "",
     "[ $(tags o.mp3 | wc -l) = 7 ] && diff <(tags $M/tool_tags.mp3) <(tags o.mp3)"},
    {"tags_chapters_mka_copy", "$T copy $M/odd_chapters.mka o.mka", 0, "",
     "diff <(tags $M/odd_chapters.mka) <(tags o.mka) && "
     "diff <(chapters $M/odd_chapters.mka) <(chapters o.mka)"},
    // Chapters moved and cut to the output's time, to the nanosecond.
    {"chapters_within_start_duration", "$T transcode $M/odd_chapters.mka o.mka --start 0.5 -t 0.5",
     0, "",
     "ffmpeg -nostdin -v error -ss 0.5 -i $M/odd_chapters.mka -t 0.5 r.mka && "
     "[ $(chapters r.mka | wc -l) = 2 ] && diff <(chapters r.mka) <(chapters o.mka)"},
    // The source starts at 25.057 ms (the encoder's delay), the output at
    // 25.657 ms: 26 ticks of the chapters' milliseconds.
    {"chapters_after_start_time", "$T transcode $C/mp3/toc_many_children.mp3 o.mka --start 0.0006",
     0, "",
     "ffmpeg -nostdin -v error -ss 0.0006 -i $C/mp3/toc_many_children.mp3 r.mka && "
     "[ $(chapters r.mka | wc -l) = 129 ] && diff <(chapters r.mka) <(chapters o.mka)"},
    {"tags_corpus_id3_copy", "$T copy $C/mp3/bear-id3.mp3 o.mp3", 0, "",
     "diff <(tags $C/mp3/bear-id3.mp3) <(tags o.mp3)"},

    // copy; the packets of 4608 samples that start before 1 s.
    {"copy_packets", "$T copy $M/sweep.m4a o.m4a", 0, "", "same o.m4a $M/sweep.m4a f32le"},
    {"copy_duration_stream", "$T copy $M/tool_two_audio.mka o.mka --stream 1 -t 1", 0, "",
     "[ $(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "
     "o.mka) = 10 ]"},

    // Bad arguments: exit 2 (1 for a bad input), one message naming the problem.
    {"no_command", "$T", 2, "wants a command"},
    {"unknown_command", "$T transcod", 2, "did you mean transcode"},
    {"unknown_option", "$T decode $W o.raw --rat 8000", 2,
     "unknown option '--rat'; did you mean --rate"},
    {"unknown_codec", "$T transcode $W o.mp3 --codec nosuchcodec", 2,
     "unknown encoder 'nosuchcodec'"},
    {"unknown_container", "$T transcode $W o.mka --format matroshka", 2, "did you mean matroska"},
    {"unknown_extension", "$T transcode $W o.xyz", 2, "add --format"},
    {"stream_not_a_number", "$T decode $W o.raw --stream abc", 2,
     "--stream wants a whole number from 0, not 'abc'"},
    {"stream_negative", "$T copy $W o.wav --stream -1", 2, "not '-1'"},
    {"stream_missing", "$T transcode $M/video_audio.mkv o.flac --stream 0", 2,
     "no audio stream 0 that decodes; its audio streams: 1"},
    {"unknown_filter", "$T transcode $W o.flac --filter no_such_filter", 2,
     "unknown audio filter 'no_such_filter'"},
    {"filter_bad_args", "$T transcode $W o.flac --filter volume=loud", 2,
     "Undefined constant or missing '(' in 'loud'"},
    {"filter_changes_rate", "$T transcode $W o.flac --filter aresample=48000", 2,
     "use --rate 48000"},
    {"filter_changes_layout", "$T transcode $W o.flac --filter 'pan=mono|c0=c0'",
     2, "changes the channel layout to mono"},
    {"experimental_encoder", "$T transcode $W o.ogg --codec opus", 2, "add --strict"},
    {"bad_bitrate", "$T transcode $W o.mp3 --bitrate fast", 2, "--bitrate wants bits per second"},
    {"bad_sample_format", "$T decode $W o.raw --sample-format s8", 2,
     "--sample-format wants s16, s24, s32 or flt"},
    {"missing_output", "$T transcode $W", 2, "wants IN and OUT"},
    {"invalid_data", "$T transcode g.wav o.flac", 1,
     "cannot open g.wav: Invalid data found when processing input", "",
     "head -c 3000 /dev/zero | tr '\\0' Z > g.wav"},
    {"no_such_file", "$T info nothing.wav", 1, "cannot open nothing.wav: No such file"},
    {"no_audio", "$T decode $M/chapters.txt o.raw", 1, ""},

    // A local playlist's segments open only with --allow-nested.
    {"playlist_refused", "$T decode list.m3u8 a.raw", 1, "sweep.ts", "", kPlaylist},
    {"playlist_allowed", "$T --allow-nested decode list.m3u8 b.raw", 0, "",
     "ffmpeg -nostdin -v error -i list.m3u8 -f f32le - | cmp - b.raw", kPlaylist},

    // info, probe, encoders, filters, mlp, help.
    {"info_many_files", "$T info $M/tags_chapters.mka nothing.wav $M/flac24.flac $M/odd_chapters.mka",
     1, "",
     "grep -q 'chapter 1: 0.500000 s - 0.750000 s: title = First' $O && "
     "grep -qx '  chapter 2: 0.666667 s - 1.133787 s' $O && "
     "grep -q 'tag: title = Fixture Album' $O && grep -q 's32 (24 bit), 2.000 s' $O"},
    {"info_json", "$T info --json $M/odd_chapters.mka $M/stereo_s24.wav", 0, "",
     "jq -e --slurpfile r <(ffprobe -v error -of json -show_chapters $M/odd_chapters.mka) "
     "'(.files[0].chapters | map([.id, .start, .end, .time_base, .start_ticks, .end_ticks, "
     ".tags])) == ($r[0].chapters | map([.id, (.start_time | tonumber), (.end_time | tonumber), "
     ".time_base, .start, .end, .tags // {}])) and .files[0].tags.title == \"Odd Album\" and "
     ".files[1].streams[0].bits_per_sample == 24' $O"},
    {"info_json_agrees_with_ffprobe", kJsonAgrees, 0, ""},
    {"probe", "$T probe $M/sweep.ts", 0, "",
     "grep -q 'first 4096 bytes: mpegts' $O && grep -q 'whole source: mpegts' $O"},
    {"probe_empty", "$T probe empty.mp3", 1, "empty.mp3 is empty", "", ": > empty.mp3"},
    {"encoders", "$T encoders", 0, "",
     "grep -Eq '^03 +86028 +flac +flac +s16 +s32 +yes$' $O && "
     "grep -q 'truehd.*experimental' $O && grep -Eq '^14 .* no$' $O"},
    {"encoders_all", "$T encoders --all", 0, "", "grep -q '^libmp3lame .*s16p' $O"},
    {"filters", "$T filters", 0, "",
     "diff <(cut -d' ' -f1 $O | sort) <(ffmpeg -hide_banner -filters | "
     "sed -nE 's/^ *\\S+ +(\\S+) +A->A .*/\\1/p' | sort)"},
    {"mlp", "$T mlp $M/mlp_s32_51.mlp o.raw", 0, "", "cmp o.raw <(pcm $M/mlp_s32_51.mlp s32le)"},
    {"help_is_the_readme", "$T --help", 0, "",
     "diff <(sed -n '/^```text$/,/^```$/p' $S/README.md | sed '1d;$d') $O"},
    {"command_help", "$T info --help", 0, "",
     "grep -q '^flatav info' $O && ! grep -q 'flatav decode' $O"},
    {"version", "$T --version", 0, "", "grep -q '^flatav [0-9]' $O && grep -q FFmpeg $O"},
    {"progress_on_a_terminal", "script -qec \"$T transcode $F o.mp3\" /dev/null", 0, "",
     "grep -q '] 100.0%' $O"},
};

class Tool : public testing::TestWithParam<ToolCase> {};

// Runs script with bash in dir, the variables set; returns its exit status.
int run_in(const std::string &dir, const std::string &script)
{
    int status = 0;
    const std::string env = "export T=" + shell_quote(FLATAV_TOOL_PATH) +
                            " M=" + shell_quote(flatav_test::media_path("")) +
                            " C=" + shell_quote(flatav_test::corpus_dir()) +
                            " S=" + shell_quote(FLATAV_SOURCE_DIR) +
                            " O=" + shell_quote(dir + ".out") + " E=" + shell_quote(dir + ".err") +
                            "; cd " + shell_quote(dir) + " && ";
    run_capture("bash -c " + shell_quote(env + kShell + script) + " 2>&1", &status);
    return status;
}

std::string text_of(const std::string &command)
{
    const std::vector<uint8_t> bytes = run_capture(command, nullptr);
    return std::string(bytes.begin(), bytes.end());
}

TEST_P(Tool, Runs)
{
    const ToolCase &c = GetParam();
    if (std::strstr(c.run, "$C") && flatav_test::corpus_dir().empty())
        GTEST_SKIP() << "no corpus";
    // The process id keeps runs from other build trees out of the directory.
    const std::string dir = testing::TempDir() + "flatav_tool_" + std::to_string(getpid()) + "_" +
                            c.name, q = shell_quote(dir);
    ASSERT_EQ(run_in(testing::TempDir(), "rm -rf " + q + " && mkdir " + q + " && cd " + q + " && " +
                                             (*c.setup ? c.setup : "true")),
              0);
    const std::string listing = "ls -lA --time-style=+%s.%N " + q, before = text_of(listing);
    EXPECT_EQ(run_in(dir, std::string("{ ") + c.run + "\n} > \"$O\" 2> \"$E\""), c.status)
        << text_of("head -c 2000 " + q + ".out; cat " + q + ".err");
    const std::string err = text_of("cat " + q + ".err");
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    if (*c.check) {
        EXPECT_EQ(run_in(dir, c.check), 0) << c.check << "\n" << err;
    }
    if (c.status != 0) {
        EXPECT_EQ(text_of(listing), before) << "a failing run leaves no file behind";
        const std::string said = err.substr(0, err.find("(see flatav"));
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << err;
    }
    run_capture("rm -rf " + q + " " + q + ".out " + q + ".err", nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, Tool, testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
