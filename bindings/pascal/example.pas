{ A Pascal host (Free Pascal, or Delphi): decodes a file to raw packed PCM,
  reading it through host read/seek functions on a TFileStream, and encodes
  raw 16-bit PCM to FLAC written through host write/seek functions.
    example decode IN OUT.raw
    example encode IN.raw OUT.flac RATE CHANNELS
  Build: fpc -Mdelphi -Fu<bindings/pascal> -Fl<dir of libflatav.so> example.pas }
program example;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}
{$POINTERMATH ON}

uses
  SysUtils, Classes, flatav;

var
  Stream: TFileStream;  { the file the host functions read or write }

{ No exception may leave a host function: FFmpeg's frames are below it. }
function HostRead(opaque: Pointer; buf: PUInt8; buf_size: Int32): Int32; cdecl;
begin
  try
    Result := Stream.Read(buf^, buf_size);
    if Result = 0 then
      Result := FLATAV_ERROR_EOF;
  except
    Result := FLATAV_ERROR_EOF;
  end;
end;

function HostWrite(opaque: Pointer; buf: PUInt8; buf_size: Int32): Int32; cdecl;
begin
  try
    Result := Stream.Write(buf^, buf_size);
  except
    Result := -1;
  end;
end;

function HostSeek(opaque: Pointer; offset: Int64; whence: Int32): Int64; cdecl;
begin
  try
    if whence = FLATAV_SEEK_SIZE then
      Result := Stream.Size
    else
      Result := Stream.Seek(offset, TSeekOrigin(whence and not FLATAV_SEEK_FORCE));
  except
    Result := -1;
  end;
end;

procedure Grow(always_null: Pointer; abuf: PAudioBuffer; need: Int32); cdecl;
var
  P: Pointer;
begin
  P := abuf^.data;
  ReallocMem(P, need);
  abuf^.data := P;
  abuf^.capacity := need;
end;

function Decode(const InPath, OutPath: string): Integer;
var
  Callbacks: HostCallbacks;
  Rec: DecodeRec;
  Buf: AudioBuffer;
  Output: TFileStream;
  Name: AnsiString;
  Error: PAnsiChar;
  I, N: Int32;
begin
  FillChar(Callbacks, SizeOf(Callbacks), 0);
  FillChar(Rec, SizeOf(Rec), 0);
  FillChar(Buf, SizeOf(Buf), 0);
  Callbacks.grow_buffer_cb := Grow;
  Name := AnsiString(InPath);
  Rec.callbacks := @Callbacks;
  Rec.file_name := PAnsiChar(Name);  { a name hint }
  Rec.read_packet := HostRead;
  Rec.seek := HostSeek;
  Rec.packed_output := 1;
  Rec.request_sample_fmt := FLATAV_SAMPLE_FMT_NONE;
  N := -1;
  Stream := TFileStream.Create(InPath, fmOpenRead or fmShareDenyWrite);
  Output := TFileStream.Create(OutPath, fmCreate);
  try
    Error := ff_decoder_open(@Rec);
    if Error <> nil then
      WriteLn(ErrOutput, Error)
    else
    begin
      Rec.audio_stream_index := -1;
      for I := Rec.nb_streams - 1 downto 0 do
        if Rec.audio_info[I].av_codec_context <> nil then
          Rec.audio_stream_index := I;
      repeat
        N := ff_decode_audio(@Rec, nil, nil, @Buf, 0, nil);
        if N > 0 then
          Output.WriteBuffer(Buf.data^, N);
      until N <= 0;
    end;
  finally
    ff_cleanup_decoder(@Rec);
    FreeMem(Buf.data);
    Output.Free;
    Stream.Free;
  end;
  if N = 0 then Result := 0 else Result := 1;
end;

function Encode(const InPath, OutPath: string; Rate, Channels: Int32): Integer;
var
  Rec: EncodeRec;
  Pcm: TMemoryStream;
  Name: AnsiString;
  Error: PAnsiChar;
  At, Block, Status: Int32;
begin
  FillChar(Rec, SizeOf(Rec), 0);
  Name := AnsiString(OutPath);
  Rec.output_file_name := PAnsiChar(Name);  { picks the container }
  Rec.codec_name := 'flac';
  Rec.encode := 1;
  Rec.compression_level := -1;
  Rec.sample_fmt := FLATAV_SAMPLE_FMT_S16;
  Rec.requested_sample_fmt := FLATAV_SAMPLE_FMT_S16;
  Rec.sample_rate := Rate;
  Rec.channels := Channels;
  Rec.write_packet := HostWrite;
  Rec.seek := HostSeek;
  Status := -1;
  Pcm := TMemoryStream.Create;
  Stream := TFileStream.Create(OutPath, fmCreate);
  try
    Pcm.LoadFromFile(InPath);
    Error := ff_open_encoder(@Rec);
    if Error <> nil then
      WriteLn(ErrOutput, Error)
    else
    begin
      Block := Rec.audio_input_buffer_size;
      if Block <= 0 then
        Block := 65536;
      Status := 0;
      At := 0;
      while (At < Pcm.Size) and (Status >= 0) do
      begin
        if Block > Pcm.Size - At then
          Block := Pcm.Size - At;
        Status := ff_encode_audio2(@Rec, PUInt8(Pcm.Memory) + At, nil, Block);
        Inc(At, Block);
      end;
      if Status >= 0 then
        Status := ff_encode_audio2(@Rec, nil, nil, 0);
    end;
  finally
    ff_cleanup_encoder(@Rec);
    Stream.Free;
    Pcm.Free;
  end;
  if Status >= 0 then Result := 0 else Result := 1;
end;

var
  Settings: LogSettings;
begin
  Settings.quiet := 1;
  Settings.ffmpeg_quiet := 1;
  ff_init(@Settings);
  if (ParamCount = 3) and (ParamStr(1) = 'decode') then
    Halt(Decode(ParamStr(2), ParamStr(3)));
  if (ParamCount = 5) and (ParamStr(1) = 'encode') then
    Halt(Encode(ParamStr(2), ParamStr(3), StrToInt(ParamStr(4)), StrToInt(ParamStr(5))));
  WriteLn(ErrOutput, 'usage: example decode IN OUT.raw | encode IN.raw OUT.flac RATE CHANNELS');
  Halt(2);
end.
