// A C# host: decodes a file to raw packed PCM, reading it through host
// read/seek functions on a FileStream, and encodes raw 16-bit PCM to FLAC
// written through host write/seek functions.
//   mono Example.exe decode IN OUT.raw
//   mono Example.exe encode IN.raw OUT.flac RATE CHANNELS
// Build: mcs -unsafe -out:Example.exe Example.cs Flatav.cs
using System;
using System.IO;
using System.Runtime.InteropServices;
using Flatav;

static unsafe class Example
{
    static FileStream file;
    static byte[] chunk = new byte[1 << 16];

    static int Read(IntPtr opaque, byte* buf, int size)
    {
        int n = file.Read(chunk, 0, Math.Min(size, chunk.Length));
        if (n == 0)
            return Api.FLATAV_ERROR_EOF;
        Marshal.Copy(chunk, 0, (IntPtr)buf, n);
        return n;
    }

    static int Write(IntPtr opaque, byte* buf, int size)
    {
        byte[] bytes = new byte[size];
        Marshal.Copy((IntPtr)buf, bytes, 0, size);
        file.Write(bytes, 0, size);
        return size;
    }

    static long Seek(IntPtr opaque, long offset, int whence)
    {
        if (whence == Api.FLATAV_SEEK_SIZE)
            return file.Length;
        return file.Seek(offset, (SeekOrigin)(whence & ~Api.FLATAV_SEEK_FORCE));
    }

    static void Grow(IntPtr alwaysNull, AudioBuffer* abuf, int need)
    {
        if (abuf->data != null)
            Marshal.FreeHGlobal((IntPtr)abuf->data);
        abuf->data = (byte*)Marshal.AllocHGlobal(need);
        abuf->capacity = need;
    }

    // Held here so that the collector keeps them while the library calls them.
    static readonly IoReadFn readFn = Read;
    static readonly IoWriteFn writeFn = Write;
    static readonly IoSeekFn seekFn = Seek;
    static readonly HostGrowBufferFn growFn = Grow;

    static int Decode(string inPath, string outPath)
    {
        using (file = File.OpenRead(inPath))
        using (var output = File.Create(outPath)) {
            var callbacks = new HostCallbacks();
            callbacks.grow_buffer_cb = Marshal.GetFunctionPointerForDelegate(growFn);
            var rec = new DecodeRec();
            rec.callbacks = &callbacks;
            rec.file_name = Marshal.StringToHGlobalAnsi(inPath);  // a name hint
            rec.read_packet = Marshal.GetFunctionPointerForDelegate(readFn);
            rec.seek = Marshal.GetFunctionPointerForDelegate(seekFn);
            rec.packed_output = 1;
            rec.request_sample_fmt = Api.FLATAV_SAMPLE_FMT_NONE;
            IntPtr error = Api.ff_decoder_open(&rec);
            int n = -1;
            if (error != IntPtr.Zero) {
                Console.Error.WriteLine(Marshal.PtrToStringAnsi(error));
            } else {
                rec.audio_stream_index = -1;
                for (int i = rec.nb_streams - 1; i >= 0; i--)
                    if (rec.audio_info[i].av_codec_context != IntPtr.Zero)
                        rec.audio_stream_index = i;
                var abuf = new AudioBuffer();
                var block = new byte[0];
                while ((n = Api.ff_decode_audio(&rec, null, null, &abuf, 0, null)) > 0) {
                    if (block.Length < n)
                        block = new byte[n];
                    Marshal.Copy((IntPtr)abuf.data, block, 0, n);
                    output.Write(block, 0, n);
                }
                Marshal.FreeHGlobal((IntPtr)abuf.data);
            }
            Api.ff_cleanup_decoder(&rec);
            Marshal.FreeHGlobal(rec.file_name);
            return n == 0 ? 0 : 1;
        }
    }

    static int Encode(string inPath, string outPath, int rate, int channels)
    {
        byte[] pcm = File.ReadAllBytes(inPath);
        using (file = File.Create(outPath)) {
            var rec = new EncodeRec();
            rec.output_file_name = Marshal.StringToHGlobalAnsi(outPath);  // picks the container
            rec.codec_name = Marshal.StringToHGlobalAnsi("flac");
            rec.encode = 1;
            rec.compression_level = -1;
            rec.sample_fmt = rec.requested_sample_fmt = Api.FLATAV_SAMPLE_FMT_S16;
            rec.sample_rate = rate;
            rec.channels = channels;
            rec.write_packet = Marshal.GetFunctionPointerForDelegate(writeFn);
            rec.seek = Marshal.GetFunctionPointerForDelegate(seekFn);
            IntPtr error = Api.ff_open_encoder(&rec);
            int result = -1;
            if (error != IntPtr.Zero) {
                Console.Error.WriteLine(Marshal.PtrToStringAnsi(error));
            } else {
                int block = rec.audio_input_buffer_size > 0 ? rec.audio_input_buffer_size : 1 << 16;
                result = 0;
                fixed (byte* p = pcm)
                    for (int at = 0; at < pcm.Length && result >= 0; at += block)
                        result = Api.ff_encode_audio2(&rec, p + at, null, Math.Min(block, pcm.Length - at));
                if (result >= 0)
                    result = Api.ff_encode_audio2(&rec, null, null, 0);
            }
            Api.ff_cleanup_encoder(&rec);
            Marshal.FreeHGlobal(rec.output_file_name);
            Marshal.FreeHGlobal(rec.codec_name);
            return result >= 0 ? 0 : 1;
        }
    }

    static int Main(string[] args)
    {
        var settings = new LogSettings { quiet = 1, ffmpeg_quiet = 1 };
        Api.ff_init(&settings);
        if (args.Length == 3 && args[0] == "decode")
            return Decode(args[1], args[2]);
        if (args.Length == 5 && args[0] == "encode")
            return Encode(args[1], args[2], int.Parse(args[3]), int.Parse(args[4]));
        Console.Error.WriteLine("usage: Example.exe decode IN OUT.raw | encode IN.raw OUT.flac RATE CHANNELS");
        return 2;
    }
}
