// Transcode set-up: the per-run records, the choice of the input stream that feeds each output
// stream, the encoder and stream-copy parameters, scaling and two-pass files, the opening of the
// codecs and the output headers. The main loop and the end of the run are in loop.cpp.
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/custom_ffmpeg.h"
#include "engine/transcode_types.h"
#include "engine/unfinished_outputs.h"
#include "medialib/medialib.h"
#include "medialib/words.h"

namespace {

AVMediaType InputType(const TInputStream &AIst) { return AIst.Stream->codecpar->codec_type; }

// The media type of an output stream: the encoder context when the output file made one.
AVMediaType OutputType(const TOutputStream &AOst) {
  if (AOst.Codec && AOst.Codec->codec_type != AVMEDIA_TYPE_UNKNOWN)
    return AOst.Codec->codec_type;
  return AOst.Stream->codecpar->codec_type;
}

// Metadata keys copied by a metadata map (the old fixed fields and their current names).
const char *const MetaDataKeys[] = {"title", "author", "artist", "copyright", "comment",
                                    "album", "year",   "date",   "track",     "genre"};

bool SampleFormatSupported(const AVCodec *ACodec, AVSampleFormat AFormat) {
  if (!ACodec->sample_fmts)
    return AFormat != AV_SAMPLE_FMT_NONE;
  for (const AVSampleFormat *f = ACodec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
    if (*f == AFormat)
      return true;
  return false;
}

// Copies the display matrix of a stream, unless the target has one of its own.
void CopyDisplayMatrix(AVStream *AFrom, AVStream *ATo) {
  if (avlib.av_stream_get_side_data(ATo, AV_PKT_DATA_DISPLAYMATRIX, nullptr))
    return;
  size_t size = 0;
  const uint8_t *matrix = avlib.av_stream_get_side_data(AFrom, AV_PKT_DATA_DISPLAYMATRIX, &size);
  uint8_t *copy =
      matrix ? avlib.av_stream_new_side_data(ATo, AV_PKT_DATA_DISPLAYMATRIX, size) : nullptr;
  if (copy)
    std::memcpy(copy, matrix, size);
}

// A picture of its own buffer, in the encoder's format, made once for the run.
void AllocRunPicture(AVFrame *&APicture, AVPixelFormat AFormat, int AWidth, int AHeight,
                     const char *AFailText) {
  if (!AllocPicture(APicture, AFormat, AWidth, AHeight))
    throw FFMpegException(LayerText(AFailText));
}

} // namespace

TTranscodeRun::~TTranscodeRun() {
  for (TInputStream &ist : InputStreams) {
    avlib.swr_free(&ist.SampleConverter);
    avlib.av_channel_layout_uninit(&ist.ConverterLayout);
    avlib.av_frame_free(&ist.LastPicture);
    avlib.av_frame_free(&ist.HookedPicture);
  }
  for (TOutputStream &ost : OutputStreams) {
    ost.Pipe.reset(); // its thread writes to the statistics file
    if (ost.LogFile)
      std::fclose(ost.LogFile);
    ost.LogFile = nullptr;
    avlib.av_fifo_freep2(&ost.Fifo);
    avlib.av_frame_free(&ost.PictTmp);
    avlib.av_frame_free(&ost.TurnTmp);
    if (ost.ImgResampleCtx)
      avlib.sws_freeContext(ost.ImgResampleCtx);
    ost.ImgResampleCtx = nullptr;
    avlib.swr_free(&ost.Resampler);
    avlib.swr_free(&ost.EncoderConverter);
    avlib.av_frame_free(&ost.EncoderFrame);
    avlib.av_bsf_free(&ost.BitstreamFilter);
  }
  avlib.av_packet_free(&ReadPacket);
  avlib.av_packet_free(&OutPacket);
  avlib.av_packet_free(&FilterPacket);
  avlib.av_frame_free(&DecodedFrame);
}

void TCustomFFmpeg::FreeTranscodeRun() {
  delete TranscodeRun;
  TranscodeRun = nullptr;
}

void TCustomFFmpeg::CloseEncoder(TOutputStream &AOst) {
  AOst.Pipe.reset(); // its thread uses the encoder
  std::lock_guard<std::recursive_mutex> lock(CodecLock);
  AVCodecContext *&slot = OutputCodecs[AOst.FileIndex][AOst.Index];
  if (slot) {
    // The two-pass statistics input is ours: the context does not free it.
    avlib.av_freep(&slot->stats_in);
    avlib.avcodec_free_context(&slot);
  }
  AOst.Codec = nullptr;
  OpenedEncoders.erase(std::remove(OpenedEncoders.begin(), OpenedEncoders.end(), &AOst),
                       OpenedEncoders.end());
}

void TCustomFFmpeg::CloseDecoder(TInputStream &AIst) {
  std::lock_guard<std::recursive_mutex> lock(CodecLock);
  std::vector<AVCodecContext *> &codecs = InputCodecs[AIst.FileIndex];
  if (AIst.Index < static_cast<int>(codecs.size()) && codecs[AIst.Index])
    avlib.avcodec_free_context(&codecs[AIst.Index]);
  AIst.Codec = nullptr;
  OpenedDecoders.erase(std::remove(OpenedDecoders.begin(), OpenedDecoders.end(), &AIst),
                       OpenedDecoders.end());
}

bool TCustomFFmpeg::IsOpenedDecoder(const TInputStream &AIst) const {
  return std::find(OpenedDecoders.begin(), OpenedDecoders.end(), &AIst) != OpenedDecoders.end();
}

void TCustomFFmpeg::CloseOpenedCodecs() {
  while (!OpenedEncoders.empty())
    CloseEncoder(*OpenedEncoders.back());
  while (!OpenedDecoders.empty())
    CloseDecoder(*OpenedDecoders.back());
}

void TCustomFFmpeg::Transcode() {
  FreeTranscodeRun();
  TranscodeRun = new TTranscodeRun();
  try {
    SetupTranscode();
    TranscodeLoop();
  } catch (...) {
    // The opened lists point into the run's records: close the codecs before the records go.
    CloseOpenedCodecs();
    for (TOutputStream &ost : TranscodeRun->OutputStreams)
      if (ost.Codec)
        avlib.av_freep(&ost.Codec->stats_in); // read for an encoder that never opened
    FreeTranscodeRun();
    throw;
  }
  CloseOpenedCodecs();
  FreeTranscodeRun();
}

int TCustomFFmpeg::FindStreamByProgram(AVMediaType AType) {
  TTranscodeRun &run = *TranscodeRun;
  for (int i = 0; i < InputFileCount; ++i) {
    AVFormatContext *ic = InputFiles[i];
    for (unsigned j = 0; j < ic->nb_programs; ++j) {
      const AVProgram *program = ic->programs[j];
      if (program->id != ProgramId)
        continue;
      for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
        const int sidx =
            run.InputFileTable[i].IstIndex + static_cast<int>(program->stream_index[k]);
        if (program->stream_index[k] >= static_cast<unsigned>(run.InputFileTable[i].NbStreams))
          continue;
        const TInputStream &ist = run.InputStreams[sidx];
        if (ist.Discard && InputType(ist) == AType)
          return sidx;
      }
    }
  }
  return -1;
}

// Builds the run's records from the opened files, opens its codecs and writes the headers.
void TCustomFFmpeg::SetupTranscode() {
  TTranscodeRun &run = *TranscodeRun;
  SetupInputStreams();
  SetupOutputStreams(CheckStreamMaps());
  ChooseSourceStreams();
  for (TOutputStream &ost : run.OutputStreams)
    SetupStreamParameters(ost);
  for (int n = 0; n < static_cast<int>(run.OutputStreams.size()); ++n)
    PrepareStreamBuffers(run.OutputStreams[n], n);

  // What is known of the encoders before they open goes into the files' descriptions.
  for (TOutputStream &ost : run.OutputStreams)
    if (ost.EncodingNeeded)
      avlib.avcodec_parameters_from_context(ost.Stream->codecpar, ost.Codec);
  for (int k = 0; k < OutputFileCount; ++k)
    avlib.av_dump_format(OutputFiles[k], k, OutputFiles[k]->url, 1);
  LogStreamMapping();

  OpenRunCodecs();
  OpenSubtitleBurn();
  for (TInputStream &ist : run.InputStreams) {
    ist.Pts = 0;
    ist.NextPts = AV_NOPTS_VALUE;
    ist.IsStart = true;
  }
  CopyMappedMetadata();
  WriteOutputHeaders();
  LogSessionDescription();

  // The clocks of the run and of the progress report.
  TimerStart = avlib.av_gettime();
  run.LastReportTime = TimerStart;
}

// One record per stream of every input file; each stays discarded until an output takes it.
void TCustomFFmpeg::SetupInputStreams() {
  TTranscodeRun &run = *TranscodeRun;
  run.InputFileTable.resize(InputFileCount);
  int total = 0;
  for (int i = 0; i < InputFileCount; ++i) {
    run.InputFileTable[i].IstIndex = total;
    run.InputFileTable[i].NbStreams = static_cast<int>(InputFiles[i]->nb_streams);
    total += run.InputFileTable[i].NbStreams;
  }
  run.InputStreams.resize(total);
  const int64_t now = avlib.av_gettime();
  for (int i = 0; i < InputFileCount; ++i) {
    for (int k = 0; k < run.InputFileTable[i].NbStreams; ++k) {
      TInputStream &ist = run.InputStreams[run.InputFileTable[i].IstIndex + k];
      ist.FileIndex = i;
      ist.Index = k;
      ist.Stream = InputFiles[i]->streams[k];
      ist.Codec = k < static_cast<int>(InputCodecs[i].size()) ? InputCodecs[i][k] : nullptr;
      ist.Discard = true;
      if (InputRateEmu[i]) {
        ist.RateEmu = true;
        ist.RateEmuStart = now;
        ist.FrameCount = 0;
      }
    }
  }
}

// Refuses an output without streams and maps that name no stream; maps name the sources of the
// streams that have one. Returns the number of output streams.
int TCustomFFmpeg::CheckStreamMaps() {
  const TTranscodeRun &run = *TranscodeRun;
  int nbOutput = 0, nbMapped = 0;
  for (int k = 0; k < OutputFileCount; ++k) {
    if (OutputFiles[k]->nb_streams == 0)
      throw FFMpegException(M_("Output file does not contain any stream"));
    nbOutput += static_cast<int>(OutputFiles[k]->nb_streams);
    for (unsigned i = 0; i < OutputFiles[k]->nb_streams; ++i)
      if (i >= MAX_STREAMS || !OutputStreamGenerated[k][i])
        ++nbMapped;
  }
  if (StreamMapCount > 0 && StreamMapCount != nbMapped)
    throw FFMpegException(M_("Number of stream maps must match number of output streams"));
  for (int i = 0; i < StreamMapCount; ++i) {
    const TStreamMap &map = StreamMaps[i];
    if (map.FileIndex < 0 || map.FileIndex >= InputFileCount || map.StreamIndex < 0 ||
        map.StreamIndex >= run.InputFileTable[map.FileIndex].NbStreams)
      throw FFMpegException(
          FormatText(M_("Could not find input stream #%d.%d"), map.FileIndex, map.StreamIndex));
    if (map.SyncFileIndex < 0 || map.SyncFileIndex >= InputFileCount || map.SyncStreamIndex < 0 ||
        map.SyncStreamIndex >= run.InputFileTable[map.SyncFileIndex].NbStreams)
      throw FFMpegException(FormatText(M_("Could not find sync stream #%d.%d"), map.SyncFileIndex,
                                       map.SyncStreamIndex));
  }
  return nbOutput;
}

// One record per stream of every output file, with the encoder context the file made for it.
void TCustomFFmpeg::SetupOutputStreams(int ACount) {
  TTranscodeRun &run = *TranscodeRun;
  run.OutputStreams.resize(ACount);
  for (int k = 0, n = 0; k < OutputFileCount; ++k) {
    for (unsigned i = 0; i < OutputFiles[k]->nb_streams; ++i, ++n) {
      TOutputStream &ost = run.OutputStreams[n];
      ost.FileIndex = k;
      ost.Index = static_cast<int>(i);
      ost.Stream = OutputFiles[k]->streams[i];
      ost.Codec = i < MAX_STREAMS ? OutputCodecs[k][i] : nullptr;
      if (!ost.Codec)
        throw FFMpegException(FormatText(M_("Output stream #%d.%u has no codec context"), k, i));
      ost.Generated = i < MAX_STREAMS && OutputStreamGenerated[k][i];
      if (ost.Generated)
        run.HasGeneratedStreams = true;
    }
  }
}

// The input stream that feeds each output stream, by map or by type; a generated stream has none.
void TCustomFFmpeg::ChooseSourceStreams() {
  TTranscodeRun &run = *TranscodeRun;
  int mapIndex = 0;
  for (TOutputStream &ost : run.OutputStreams) {
    if (ost.Generated) {
      ost.SourceIndex = -1;
      ost.SyncIst = nullptr;
      continue;
    }
    const AVMediaType type = OutputType(ost);
    const int thisMap = mapIndex++;
    if (StreamMapCount > 0) {
      const TStreamMap &map = StreamMaps[thisMap];
      ost.SourceIndex = run.InputFileTable[map.FileIndex].IstIndex + map.StreamIndex;
      if (InputType(run.InputStreams[ost.SourceIndex]) != type) {
        avlib.av_dump_format(OutputFiles[ost.FileIndex], ost.FileIndex,
                             OutputFiles[ost.FileIndex]->url, 1);
        throw FFMpegException(FormatText(M_("Codec type mismatch for mapping #%d.%d -> #%d.%d"),
                                         map.FileIndex, map.StreamIndex, ost.FileIndex, ost.Index));
      }
      ost.SyncIst =
          &run.InputStreams[run.InputFileTable[map.SyncFileIndex].IstIndex + map.SyncStreamIndex];
    } else {
      ost.SourceIndex = FindSourceStream(ost, type);
      ost.SyncIst = &run.InputStreams[ost.SourceIndex];
    }
    run.InputStreams[ost.SourceIndex].Discard = false;
  }
}

// Without maps: the first input stream of the type nobody takes yet (of the chosen program).
int TCustomFFmpeg::FindSourceStream(const TOutputStream &AOst, AVMediaType AType) {
  const TTranscodeRun &run = *TranscodeRun;
  const int total = static_cast<int>(run.InputStreams.size());
  int found = -1;
  if (ProgramId != 0) {
    found = FindStreamByProgram(AType);
  } else {
    for (int j = 0; j < total; ++j)
      if (run.InputStreams[j].Discard && InputType(run.InputStreams[j]) == AType) {
        found = j;
        break;
      }
    // Second pass: an input stream may feed several outputs; the last match wins.
    if (found < 0)
      for (int j = 0; j < total; ++j)
        if (InputType(run.InputStreams[j]) == AType)
          found = j;
  }
  if (found < 0) {
    avlib.av_dump_format(OutputFiles[AOst.FileIndex], AOst.FileIndex,
                         OutputFiles[AOst.FileIndex]->url, 1);
    throw FFMpegException(
        FormatText(M_("Could not find input stream matching output stream #%d.%d"), AOst.FileIndex,
                   AOst.Index));
  }
  return found;
}

// The stream's language and disposition from its source, then its copy or encoding parameters.
void TCustomFFmpeg::SetupStreamParameters(TOutputStream &AOst) {
  if (AOst.Generated) {
    AOst.EncodingNeeded = true; // made by the encoder from nothing: its options stand as given
    return;
  }
  TInputStream &ist = TranscodeRun->InputStreams[AOst.SourceIndex];
  if (!avlib.av_dict_get(AOst.Stream->metadata, "language", nullptr, 0)) {
    const AVDictionaryEntry *lang = avlib.av_dict_get(ist.Stream->metadata, "language", nullptr, 0);
    if (lang) {
      char language[4] = {};
      avlib.av_strlcpy(language, lang->value, sizeof language);
      avlib.av_dict_set(&AOst.Stream->metadata, "language", language, 0);
    }
  }
  AOst.Stream->disposition = ist.Stream->disposition;

  if (OutputStreamCopy[AOst.FileIndex][AOst.Index]) {
    SetupStreamCopy(AOst, ist);
    return;
  }
  if (!ist.Codec)
    throw FFMpegException(
        FormatText(M_("Input stream #%d.%d has no codec context"), ist.FileIndex, ist.Index));
  switch (AOst.Codec->codec_type) {
  case AVMEDIA_TYPE_AUDIO:
    AOst.Fifo = avlib.av_fifo_alloc2(1024, 1, 0);
    if (!AOst.Fifo)
      throw FFMpegException(M_("av_fifo_init fail"));
    AOst.AudioResample = AOst.Codec->sample_rate != ist.Codec->sample_rate || AudioSyncMethod > 1;
    break;
  case AVMEDIA_TYPE_VIDEO:
    SetupVideoGeometry(AOst, ist);
    SetupVideoScaling(AOst, ist);
    break;
  case AVMEDIA_TYPE_SUBTITLE:
    break;
  default:
    throw FFMpegException(M_("invalid codec_type of output stream"));
  }
  AOst.EncodingNeeded = true;
  ist.DecodingNeeded = true;
}

// A copied stream takes the input's parameters as they are; only its tag follows the muxer.
void TCustomFFmpeg::SetupStreamCopy(TOutputStream &AOst, const TInputStream &AIst) {
  AVCodecContext *enc = AOst.Codec;
  AVStream *ist_st = AIst.Stream;
  AVCodecParameters *par = AOst.Stream->codecpar;
  const uint32_t wantedTag = enc->codec_tag;
  if (avlib.avcodec_parameters_copy(par, ist_st->codecpar) < 0)
    throw FFMpegException(M_("Not enough memory"));
  if (wantedTag != 0) {
    par->codec_tag = wantedTag;
  } else {
    const AVCodecTag *const *tags = OutputFiles[AOst.FileIndex]->oformat->codec_tag;
    unsigned int tag = 0;
    if (!tags || avlib.av_codec_get_id(tags, ist_st->codecpar->codec_tag) != AV_CODEC_ID_NONE ||
        !avlib.av_codec_get_tag2(tags, ist_st->codecpar->codec_id, &tag))
      par->codec_tag = ist_st->codecpar->codec_tag;
    else
      par->codec_tag = 0;
  }
  AOst.Stream->time_base = ist_st->time_base;
  // The copy holder's time base counts frames, as the output position of a copied video
  // is measured in frames.
  AVRational frameRate = ist_st->r_frame_rate;
  if (frameRate.num <= 0 || frameRate.den <= 0)
    frameRate = ist_st->avg_frame_rate;
  enc->time_base = (par->codec_type == AVMEDIA_TYPE_VIDEO && frameRate.num > 0 && frameRate.den > 0)
                       ? av_inv_q(frameRate)
                       : ist_st->time_base;
  CheckStreamCopy(AOst, AIst);
  enc->codec_type = par->codec_type;
  enc->codec_id = par->codec_id;
  enc->width = par->width;
  enc->height = par->height;
  enc->sample_rate = par->sample_rate;
  enc->bit_rate = par->bit_rate;
}

// What a copy cannot do: frames that are never decoded cannot be changed.
void TCustomFFmpeg::CheckStreamCopy(TOutputStream &AOst, const TInputStream &AIst) {
  AVCodecParameters *par = AOst.Stream->codecpar;
  switch (par->codec_type) {
  case AVMEDIA_TYPE_AUDIO:
    if (AudioVolume != 256)
      throw FFMpegException(M_("-acodec copy and -vol are incompatible (frames are not decoded)"));
    if ((par->block_align == 1 && par->codec_id == AV_CODEC_ID_MP3) ||
        par->codec_id == AV_CODEC_ID_AC3)
      par->block_align = 0;
    break;
  case AVMEDIA_TYPE_VIDEO:
    if (OnCustomHook)
      throw FFMpegException(
          M_("-vcodec copy and CustomHook are incompatible (frames are not decoded)"));
    if (UsingVHook)
      throw FFMpegException(
          M_("-vcodec copy and -vhook are incompatible (frames are not decoded)"));
    AOst.Stream->sample_aspect_ratio = AIst.Stream->sample_aspect_ratio;
    // Copied pictures are not turned: the copy keeps the turn for its viewer.
    CopyDisplayMatrix(AIst.Stream, AOst.Stream);
    break;
  case AVMEDIA_TYPE_SUBTITLE:
    break;
  default:
    throw FFMpegException(M_("invalid codec_type of output stream"));
  }
}

// Turn, crop and pad of an encoded video stream, and whether its pictures need the scaler.
void TCustomFFmpeg::SetupVideoGeometry(TOutputStream &AOst, const TInputStream &AIst) {
  const AVCodecContext *enc = AOst.Codec;
  const AVCodecContext *dec = AIst.Codec;
  // A picture stored sideways is turned as its viewer sees it; crop, pads and size are
  // meant as seen. A format the turn cannot handle goes on as stored.
  AOst.Turn = PictureTurnOf(AIst.Stream);
  if (!AOst.Turn.None() && !CanTurn(enc->pix_fmt, AOst.Turn)) {
    LogF(0, M_("Pictures of %s cannot be turned as the input's display matrix asks"),
         avlib.av_get_pix_fmt_name(enc->pix_fmt));
    AOst.Turn = TPictureTurn();
  }
  int top = CropTop, bottom = CropBottom, left = CropLeft, right = CropRight;
  StoredBands(AOst.Turn, top, bottom, left, right);
  AOst.VideoCrop = top + bottom + left + right != 0;
  AOst.VideoPad = PadTop + PadBottom + PadLeft + PadRight != 0;
  int seenWidth = dec->width - left - right, seenHeight = dec->height - top - bottom;
  TurnedSize(AOst.Turn, seenWidth, seenHeight);
  // A change of range (full-range pictures into a TV-range encoder) needs the scaler
  // as much as a change of size or format.
  AOst.VideoResample =
      enc->width != seenWidth + PadLeft + PadRight ||
      enc->height != seenHeight + PadTop + PadBottom || enc->pix_fmt != dec->pix_fmt ||
      IsFullRange(dec->pix_fmt, dec->color_range) != IsFullRange(enc->pix_fmt, enc->color_range);
  if (AOst.VideoCrop) {
    AOst.TopBand = top;
    AOst.LeftBand = left;
    AOst.BottomBand = bottom;
    AOst.RightBand = right;
  }
  if (AOst.VideoPad) {
    AOst.PadTop = PadTop;
    AOst.PadBottom = PadBottom;
    AOst.PadLeft = PadLeft;
    AOst.PadRight = PadRight;
  }
}

// The pictures drawn into and the scaler, made once for the run.
void TCustomFFmpeg::SetupVideoScaling(TOutputStream &AOst, const TInputStream &AIst) {
  AVCodecContext *enc = AOst.Codec;
  const AVCodecContext *dec = AIst.Codec;
  const int croppedWidth = dec->width - AOst.LeftBand - AOst.RightBand;
  const int croppedHeight = dec->height - AOst.TopBand - AOst.BottomBand;
  // A TV-range output names the matrix its pictures keep (the range flag of H.264 goes
  // with it): a YUV source's own, which the scaler keeps.
  const AVPixFmtDescriptor *source = avlib.av_pix_fmt_desc_get(dec->pix_fmt);
  if (enc->color_range == AVCOL_RANGE_MPEG && source && !(source->flags & AV_PIX_FMT_FLAG_RGB) &&
      dec->colorspace != AVCOL_SPC_UNSPECIFIED && dec->colorspace != AVCOL_SPC_RGB)
    enc->colorspace = dec->colorspace;
  // The scaler's set-up ends the process on a picture it cannot describe.
  if (dec->pix_fmt == AV_PIX_FMT_NONE || croppedWidth <= 0 || croppedHeight <= 0)
    throw FFMpegException(
        FormatText(M_("Cannot determine the picture format of input stream #%d.%d"), AIst.FileIndex,
                   AIst.Index));
  if ((AOst.VideoPad || !AOst.Turn.None()) && !AOst.VideoResample)
    AllocRunPicture(AOst.PictTmp, enc->pix_fmt, enc->width, enc->height,
                    MN_("avpicture_alloc fail"));
  if (!AOst.VideoResample)
    return;
  AllocRunPicture(AOst.PictTmp, enc->pix_fmt, enc->width, enc->height,
                  MN_("Cannot allocate temp picture, check pix fmt"));
  if (ScalerDefaults) {
    int64_t flags = 0;
    if (avlib.av_opt_get_int(ScalerDefaults, "sws_flags", 0, &flags) >= 0)
      SwsFlags = static_cast<int>(flags);
  }
  // Scaled as stored, then turned: the same picture as turning first, with every
  // input format and the smaller picture to turn.
  int scaledWidth = enc->width - PadLeft - PadRight;
  int scaledHeight = enc->height - PadTop - PadBottom;
  TurnedSize(AOst.Turn, scaledWidth, scaledHeight);
  if (!AOst.Turn.None())
    AllocRunPicture(AOst.TurnTmp, enc->pix_fmt, scaledWidth, scaledHeight,
                    MN_("Cannot allocate temp picture, check pix fmt"));
  TScalerSetup scaler;
  scaler.SrcWidth = croppedWidth;
  scaler.SrcHeight = croppedHeight;
  scaler.SetSource(dec->pix_fmt, dec->color_range, dec->colorspace);
  scaler.DstWidth = scaledWidth;
  scaler.DstHeight = scaledHeight;
  scaler.SetDestination(enc->pix_fmt, enc->color_range);
  scaler.Flags = SwsFlags;
  if (!FitScaler(AOst.ImgResampleCtx, AOst.ImgResampleSetup, scaler))
    throw FFMpegException(M_("Cannot get resampling context"));
  AOst.ResampleHeight = croppedHeight;
}

// The two-pass statistics files of stream AIndex, and room for the largest picture.
void TCustomFFmpeg::PrepareStreamBuffers(TOutputStream &AOst, int AIndex) {
  AVCodecContext *enc = AOst.Codec;
  if (AOst.EncodingNeeded && (enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) {
    std::string logName = (PassLogFileName.empty() ? std::string("ffmpeg2pass") : PassLogFileName) +
                          "-" + std::to_string(AIndex) + ".log";
    if (logName.size() > 1023)
      logName.resize(1023);
    // libx264 keeps its own statistics file: point it at ours so that it never lands in the
    // working folder nor collides with another engine's.
    AVDictionary *&privateOptions = OutputCodecOptions[AOst.FileIndex][AOst.Index];
    if (!avlib.av_dict_get(privateOptions, "stats", nullptr, 0)) {
      const AVCodec *codec = avlib.avcodec_find_encoder(enc->codec_id);
      if (codec && std::strcmp(codec->name, "libx264") == 0)
        avlib.av_dict_set(&privateOptions, "stats", (logName + ".x264").c_str(), 0);
    }
    if (enc->flags & AV_CODEC_FLAG_PASS1) {
      AOst.LogFile = std::fopen(logName.c_str(), "w");
      if (!AOst.LogFile)
        throw FFMpegException(M_("creat file fail: ") + logName);
    } else {
      ReadPassStatistics(enc, logName);
    }
  }

  if (OutputType(AOst) == AVMEDIA_TYPE_VIDEO)
    BitBufferSize = static_cast<int>(std::min<int64_t>(
        INT_MAX, std::max<int64_t>(BitBufferSize, int64_t{4} * enc->width * enc->height)));
}

// The second pass reads what the first one wrote, as the encoder's statistics input.
void TCustomFFmpeg::ReadPassStatistics(AVCodecContext *AEncoder, const std::string &ALogName) {
  FILE *f = std::fopen(ALogName.c_str(), "r");
  if (!f)
    throw FFMpegException(M_("creat open fail: ") + ALogName);
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  char *buffer = size >= 0 ? static_cast<char *>(avlib.av_malloc(size + 1)) : nullptr;
  if (!buffer) {
    std::fclose(f);
    throw FFMpegException(M_("Could not allocate log buffer"));
  }
  const size_t got = std::fread(buffer, 1, static_cast<size_t>(size), f);
  std::fclose(f);
  buffer[got] = 0;
  avlib.av_freep(&AEncoder->stats_in);
  AEncoder->stats_in = buffer; // freed by CloseEncoder
}

// Which input stream feeds which output stream, for the log.
void TCustomFFmpeg::LogStreamMapping() {
  if (Verbose < 0 || !OnLog)
    return;
  Log(1, "Stream mapping:");
  for (const TOutputStream &ost : TranscodeRun->OutputStreams) {
    if (ost.Generated) {
      LogF(1, "  %s -> #%d.%d",
           OutputType(ost) == AVMEDIA_TYPE_VIDEO ? "Black pictures" : "Silence", ost.FileIndex,
           ost.Index);
      continue;
    }
    const TInputStream &ist = TranscodeRun->InputStreams[ost.SourceIndex];
    LogF(1, "  Stream #%d.%d -> #%d.%d", ist.FileIndex, ist.Index, ost.FileIndex, ost.Index);
    if (ost.SyncIst != &ist)
      LogF(1, " [sync #%d.%d]", ost.SyncIst->FileIndex, ost.SyncIst->Index);
  }
}

// Encoders first (a subtitle encoder opens its decoder for the style header), then decoders.
void TCustomFFmpeg::OpenRunCodecs() {
  TTranscodeRun &run = *TranscodeRun;
  for (TOutputStream &ost : run.OutputStreams) {
    if (!ost.EncodingNeeded)
      continue;
    if (ost.Generated) {
      TInputStream none; // no decoder: the encoder's own options decide
      OpenEncoder(ost, none);
      OpenGeneratedStream(ost);
      continue;
    }
    TInputStream &ist = run.InputStreams[ost.SourceIndex];
    OpenEncoder(ost, ist);
    StartEncodePipe(ost);
  }
  for (TInputStream &ist : run.InputStreams)
    if (ist.DecodingNeeded && !IsOpenedDecoder(ist))
      OpenDecoder(ist);
}

// The metadata maps copy the known keys of an input file into an output file.
void TCustomFFmpeg::CopyMappedMetadata() {
  for (int i = 0; i < MetaDataMapCount; ++i) {
    const TMetaDataMap &map = MetaDataMaps[i];
    if (map.OutFile < 0 || map.OutFile >= OutputFileCount)
      throw FFMpegException(FormatText(M_("Invalid output file index %d map_meta_data(%d,%d)"),
                                       map.OutFile, map.OutFile, map.InFile));
    if (map.InFile < 0 || map.InFile >= InputFileCount)
      throw FFMpegException(FormatText(M_("Invalid input file index %d map_meta_data(%d,%d)"),
                                       map.InFile, map.OutFile, map.InFile));
    for (const char *key : MetaDataKeys) {
      const AVDictionaryEntry *e =
          avlib.av_dict_get(InputFiles[map.InFile]->metadata, key, nullptr, 0);
      if (e)
        avlib.av_dict_set(&OutputFiles[map.OutFile]->metadata, key, e->value, 0);
    }
  }
}

// The muxers check their parameters here; a full disk is told as such.
void TCustomFFmpeg::WriteOutputHeaders() {
  for (int k = 0; k < OutputFileCount; ++k) {
    AVDictionary *options = nullptr;
    avlib.av_dict_copy(&options, OutputFormatOptions[k], 0);
    // From its first byte to its index the file does not play.
    if (OutputFileIds[k][1] != 0 && UnfinishedNotes[k] < 0)
      UnfinishedNotes[k] =
          NoteUnfinishedOutput(OutputFiles[k]->url, OutputFileIds[k][0], OutputFileIds[k][1]);
    const int ret = avlib.avformat_write_header(OutputFiles[k], &options);
    avlib.av_dict_free(&options);
    if (ret == AVERROR(ENOSPC) || ret == AVERROR(EDQUOT))
      throw FFMpegException(
          ErrorText(FormatText(M_("Could not write header for output file #%d"), k), ret));
    if (ret < 0)
      throw FFMpegException(FormatText(
          M_("Could not write header for output file #%d (incorrect codec parameters ?)"), k));
  }
}

// A session description when every output is an RTP stream, for the receiver to use.
void TCustomFFmpeg::LogSessionDescription() {
  bool allRtp = OutputFileCount > 0;
  for (int k = 0; k < OutputFileCount; ++k)
    if (std::strcmp(OutputFiles[k]->oformat->name, "rtp") != 0)
      allRtp = false;
  if (!allRtp || !OnLog)
    return;
  char sdp[2048] = {};
  avlib.av_sdp_create(OutputFiles, OutputFileCount, sdp, sizeof sdp);
  std::string text = sdp;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  Log(1, "SDP: " + text);
}

// The threads of one codec for the run's share of the cores (ThreadCount, set before the run).
// Frame threads wait for the rows of the pictures they refer to part of the time, so half as
// many again keep the cores busy, as the libraries' own automatic counts do; one core stays one.
int TCustomFFmpeg::CodecThreadCount() const {
  const int cores = std::max(ThreadCount, 1);
  return cores + cores / 2;
}

void TCustomFFmpeg::OpenEncoder(TOutputStream &AOst, TInputStream &AIst) {
  AVCodecContext *enc = AOst.Codec;
  AVCodecContext *dec = AIst.Codec;
  const AVCodec *codec = avlib.avcodec_find_encoder(enc->codec_id);
  if (!codec)
    throw FFMpegException(
        FormatText(M_("Unsupported codec for output stream #%d.%d"), AOst.FileIndex, AOst.Index));

  switch (enc->codec_type) {
  case AVMEDIA_TYPE_AUDIO:
    // The encoder takes its samples in a format it supports; the S16 samples of the sync and
    // fifo stage are converted to it frame by frame.
    if (!SampleFormatSupported(codec, enc->sample_fmt))
      enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    if (enc->ch_layout.nb_channels <= 0)
      avlib.av_channel_layout_default(
          &enc->ch_layout, dec && dec->ch_layout.nb_channels > 0 ? dec->ch_layout.nb_channels : 2);
    else if (enc->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
      avlib.av_channel_layout_default(&enc->ch_layout, enc->ch_layout.nb_channels);
    if (enc->sample_rate <= 0)
      enc->sample_rate = dec && dec->sample_rate > 0 ? dec->sample_rate : 44100;
    if (enc->time_base.num <= 0 || enc->time_base.den <= 0)
      enc->time_base = AVRational{1, enc->sample_rate};
    break;
  case AVMEDIA_TYPE_VIDEO:
    if (enc->framerate.num <= 0 && enc->time_base.num > 0)
      enc->framerate = av_inv_q(enc->time_base);
    break;
  case AVMEDIA_TYPE_SUBTITLE:
    // Text subtitle encoders need the style header the decoder produces.
    if (dec && !IsOpenedDecoder(AIst))
      OpenDecoder(AIst);
    if (dec && dec->subtitle_header && !enc->subtitle_header) {
      enc->subtitle_header =
          static_cast<uint8_t *>(avlib.av_mallocz(dec->subtitle_header_size + 1));
      if (enc->subtitle_header) {
        std::memcpy(enc->subtitle_header, dec->subtitle_header, dec->subtitle_header_size);
        enc->subtitle_header_size = dec->subtitle_header_size;
      }
    }
    if (AIst.Stream && (enc->time_base.num <= 0 || enc->time_base.den <= 0))
      enc->time_base = AIst.Stream->time_base;
    break;
  default:
    break;
  }

  // Frame threads only: sliced threads would cut every picture into several slices, which the
  // player of the device does not take. An encoder without frame threads stays on one.
  enc->thread_count = CodecThreadCount();
  enc->thread_type = FF_THREAD_FRAME;
  AVDictionary *options = nullptr;
  avlib.av_dict_copy(&options, OutputCodecOptions[AOst.FileIndex][AOst.Index], 0);
  {
    std::lock_guard<std::recursive_mutex> lock(CodecLock);
    const int ret = avlib.avcodec_open2(enc, codec, &options);
    avlib.av_dict_free(&options);
    if (ret < 0)
      throw FFMpegException(
          FormatText(M_("Error while opening codec for output stream #%d.%d - maybe "
                        "incorrect parameters such as bit_rate, rate, width or height"),
                     AOst.FileIndex, AOst.Index));
    OpenedEncoders.push_back(&AOst);
  }
  ExtraSize += enc->extradata_size;
  if (avlib.avcodec_parameters_from_context(AOst.Stream->codecpar, enc) < 0)
    throw FFMpegException(M_("Not enough memory"));
  AOst.Stream->time_base = enc->time_base;
  if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
    AOst.Stream->sample_aspect_ratio = enc->sample_aspect_ratio;
    AOst.Stream->avg_frame_rate = enc->framerate;
  }
  if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
    AOst.EncoderFrame = avlib.av_frame_alloc();
    if (!AOst.EncoderFrame)
      throw FFMpegException(M_("Not enough memory"));
  }
}

void TCustomFFmpeg::StartEncodePipe(TOutputStream &AOst) {
  // One core: the engine thread encodes, exactly as an engine used alone always has. Sound
  // goes through a thread only for encoders of fixed frames, which its frames are made for.
  const AVCodecContext *enc = AOst.Codec;
  const bool video = enc->codec_type == AVMEDIA_TYPE_VIDEO;
  if (ThreadCount <= 1 || AOst.Generated ||
      !(video || (enc->codec_type == AVMEDIA_TYPE_AUDIO && enc->frame_size > 1)))
    return;
  TOutputStream *ost = &AOst; // the run's records stay where they are until it ends
  TEncodePipe::TPacketSink sink;
  if (video)
    sink = [this, ost](AVPacket *APacket, const TEncodePipe::TSentSoFar &ASent) {
      AVFormatContext *output = OutputFiles[ost->FileIndex];
      const int64_t size = WriteEncodedPacket(output, *ost, APacket);
      VideoSize += size;
      // Each packet's line says what the encoder had been given then, as on one thread.
      if (VStatsFileName && size > 0)
        DoVideoStats(output, *ost, static_cast<int>(size), ASent.Frames, ASent.NextPts);
    };
  else
    sink = [this, ost](AVPacket *APacket, const TEncodePipe::TSentSoFar &) {
      AudioSize += WriteEncodedPacket(OutputFiles[ost->FileIndex], *ost, APacket);
    };
  AOst.Pipe = std::make_unique<TEncodePipe>(
      AOst.Codec, AOst.LogFile, video ? M_("Video encoding failed") : M_("Audio encoding failed"),
      std::move(sink));
  if (!AOst.Pipe->Start())
    AOst.Pipe.reset();
}

namespace {

// A sound header that lies about its rate makes of each second of sound minutes or hours of
// output: refused before a packet is read.
void CheckDeclaredSampleRate(const TInputStream &AIst) {
  const AVCodecContext *dec = AIst.Codec;
  if (dec->codec_type != AVMEDIA_TYPE_AUDIO || dec->sample_rate <= 0)
    return;
  // No recording anyone listens to has a rate under a kilohertz (telephones use 8 kHz).
  constexpr int LowestRecordedRate = 1000;
  if (dec->sample_rate < LowestRecordedRate)
    throw FFMpegException(
        FormatText(M_("Input stream #%d.%d declares a sample rate of %d Hz, which "
                      "no recording has: the file is damaged"),
                   AIst.FileIndex, AIst.Index, dec->sample_rate));
  // Plain PCM states its rate twice, as samples and as bytes a second; a header whose two rates
  // differ several times over has been written wrong (or damaged), and which is true is unknown.
  const bool pcm =
      dec->codec_id >= AV_CODEC_ID_PCM_S16LE && dec->codec_id < AV_CODEC_ID_ADPCM_IMA_QT;
  const int64_t sampleBits =
      static_cast<int64_t>(dec->ch_layout.nb_channels) * dec->bits_per_coded_sample;
  if (!pcm || sampleBits <= 0 || dec->bit_rate <= 0)
    return;
  const int64_t byteRateHz = dec->bit_rate / sampleBits;
  constexpr int64_t Contradiction = 4;
  if (byteRateHz > dec->sample_rate * Contradiction ||
      byteRateHz * Contradiction < dec->sample_rate)
    throw FFMpegException(FormatText(M_("Input stream #%d.%d declares a sample rate of %d Hz, but "
                                        "bytes for %lld Hz: the file is damaged"),
                                     AIst.FileIndex, AIst.Index, dec->sample_rate,
                                     static_cast<long long>(byteRateHz)));
}

} // namespace

void TCustomFFmpeg::OpenDecoder(TInputStream &AIst) {
  AVCodecContext *dec = AIst.Codec;
  CheckDeclaredSampleRate(AIst);
  const AVCodec *codec = avlib.avcodec_find_decoder(dec->codec_id);
  if (!codec)
    throw FFMpegException(FormatText(M_("Unsupported codec (id=%d) for input stream #%d.%d"),
                                     static_cast<int>(dec->codec_id), AIst.FileIndex, AIst.Index));
  dec->pkt_timebase = AIst.Stream->time_base;
  // Large inputs are decode-bound at the device's picture sizes.
  dec->thread_count = CodecThreadCount();
  std::lock_guard<std::recursive_mutex> lock(CodecLock);
  if (avlib.avcodec_open2(dec, codec, nullptr) < 0)
    throw FFMpegException(FormatText(M_("Error while opening codec for input stream #%d.%d"),
                                     AIst.FileIndex, AIst.Index));
  OpenedDecoders.push_back(&AIst);
}
