// TBatchStatus: what the status line says of the window's batch: the file converting, which of
// how many and the time left, how a conversion ended, and the hint of a press that did nothing.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "app/conversion_queue.h"
#include "ui/convert_item.h"

class TBatchStatus {
public:
  explicit TBatchStatus(std::function<void(const QString &AText)> ASay) : FSay(std::move(ASay)) {}

  void Say(const QString &AText);
  // A hint on how to do what was asked; HintDone clears it once done as it said.
  void Hint(const QString &AText);
  void HintDone();
  // Stop was pressed: reports still on their way leave the status saying so until Start.
  bool FStopRequested = false;

  void Started(const std::string &AInput);
  // Job AIndex of ACount; ALeftMs -1: too little to go on.
  void Progress(const TConversionJob &AJob, int AIndex, int ACount, int64_t ALeftMs);
  // AJob has ended; ALast: it is the list's last panel.
  void Ended(const TConversionJob &AJob, bool ALast);
  // Panels were removed, the busiest of them in state ABusiest; AWaiting: panels still wait.
  void Removed(TItemState ABusiest, bool AWaiting);

private:
  std::function<void(const QString &AText)> FSay;
  bool FIsHint = false;
};

// The file's name alone, on one line.
QString NameOf(const std::string &AFile);
