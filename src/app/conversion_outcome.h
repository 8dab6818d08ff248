// The end of one conversion, decided once for the window's panel and for korvelo-convert: what
// the output holds is read back before anything is called finished, a failed output is removed,
// a finished one gets its thumbnail, and the reason is put in words. The front ends only show it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "app/conversion_load.h"

class TCustomAVConverter;

// The media libraries' error lines of one conversion, counted. Fed from the converter's log
// handler on any thread; read when the conversion has ended.
class TLibraryErrors {
public:
  // AOwnThread: the line came from the conversion's own thread. A decoder's own threads are
  // not known to the converter: their lines come without a task and are kept apart, used only
  // when the conversion's thread said nothing.
  void Add(const std::string &ALine, bool AOwnThread = true);
  void Clear();
  int Count() const;
  std::string Last() const; // the last line, "class: text" without the address
  // " (png: chunk too big, 4 more library errors)"; empty when there were none.
  std::string Words() const;

private:
  mutable std::mutex FLock;
  int FCount = 0, FOtherCount = 0;
  std::string FLast, FOtherLast;
};

// A library log line without its "[class @ address] " prefix, the class kept as "class: ".
std::string LibraryErrorText(const std::string &ALine);

// How the converter's task ended, as its termination event told it.
struct TTaskEnd {
  bool Ended = false; // the task's own termination arrived
  bool Finished = false;
  bool Exception = false;
  std::string Message;
};

enum class TOutcomeKind {
  okFinished, // the output is complete (see the notes for an input that ended early)
  okStopped,  // stopped on request: the partial output is kept, unless nothing was written
  okFailed,   // the output is removed
};

struct TConversionOutcome {
  TOutcomeKind Kind = TOutcomeKind::okFailed;
  std::string Reason;      // failed: why, naming the input; stopped: what was kept
  bool EndedEarly = false; // finished short of the length the input states
  int64_t ReachedMs = -1;  // media time converted
  int64_t StatedMs = -1;   // the input's stated length
  bool ThumbnailWritten = false;
  std::string ThumbnailError; // finished without a thumbnail: why
  bool OutputRemoved = false; // the output file was deleted (failed, or stopped before a frame)

  bool Finished() const { return Kind == TOutcomeKind::okFinished; }
  // A finished conversion's warnings in words, "; " between them ("the input ended at …",
  // "thumbnail not written: …"); empty when there are none.
  std::string Notes() const;
};

// Decides the end of the conversion of AInput loaded as ALoaded, once its converter has ended:
// a run the engine calls finished is checked (ConvertedOutputProblem) and becomes a failure
// when its output falls short; a failure removes the output this load created; a stop keeps
// the partial output unless it holds no picture; a finished one gets its ".THM" from the
// converter's probe: the picture it holds, or, when it has let its file go, the picture at
// APictureTimeUs of the input opened again for the moment. ALoaded.OutputCreated is cleared
// when the output is removed. AReachedMs/AStatedMs: the last progress report's media time and
// stated length.
TConversionOutcome ConcludeConversion(TCustomAVConverter &AConverter, const std::string &AInput,
                                      TLoadedConversion &ALoaded, const TTaskEnd &AEnd,
                                      int64_t AReachedMs, int64_t AStatedMs,
                                      const TLibraryErrors &AErrors, int64_t APictureTimeUs = 0);

// Reads a converted file back: empty when it holds a picture stream (and a sound stream when
// ANeedSound) with at least one frame each, each starting within a frame of zero; otherwise the
// problem in words ("no picture could be decoded", "the sound could not be decoded", ...).
std::string ConvertedOutputProblem(const std::string &AFileName, bool ANeedSound);

// Whether an output file holds at least one picture: a stop that came before keeps nothing.
bool OutputHasPicture(const std::string &AFileName);

// Whether APath in the output folder is a finished conversion, by the verdict recorded with it
// (app/output_verdict.h): a stopped one's partial file, or one cut off by the end of the
// program, is not. The rule of the Folders and Files page, korvelo-convert --list and the copy.
bool IsFinishedConversion(const std::string &APath);
