#include "ui/batch_status.h"

#include <QFileInfo>

#include "app/window_rules.h"
#include "ui/convert_list.h"
#include "ui/messages.h"

QString NameOf(const std::string &AFile) {
  return OneLine(QFileInfo(QString::fromStdString(AFile)).fileName());
}

void TBatchStatus::Say(const QString &AText) {
  FIsHint = false;
  FSay(AText);
}

void TBatchStatus::Hint(const QString &AText) {
  Say(AText);
  FIsHint = true;
}

void TBatchStatus::HintDone() {
  if (FIsHint)
    Say(QString());
}

void TBatchStatus::Started(const std::string &AInput) {
  if (!FStopRequested)
    Say(TfrmConvertList::tr("Converting %1").arg(NameOf(AInput)));
}

void TBatchStatus::Progress(const TConversionJob &AJob, int AIndex, int ACount, int64_t ALeftMs) {
  // A report still on its way when the batch was paused or stopped leaves the status saying so.
  if (AJob.State != TConversionState::csConverting || FStopRequested)
    return;
  QString text = TfrmConvertList::tr("Converting %1 (%2 of %3)")
                     .arg(NameOf(AJob.InputFile))
                     .arg(AIndex + 1)
                     .arg(ACount);
  if (ALeftMs >= 0)
    text += QStringLiteral("  \u2014  ") + QString::fromStdString(FormatTimeLeft(ALeftMs));
  Say(text);
}

void TBatchStatus::Ended(const TConversionJob &AJob, bool ALast) {
  if (AJob.State == TConversionState::csFailed)
    Say(TfrmConvertList::tr("Conversion failed: %1").arg(QString::fromStdString(AJob.Message)));
  else if (AJob.State != TConversionState::csFinished)
    Say(TfrmConvertList::tr("Conversion stopped"));
  else if (ALast)
    Say(TfrmConvertList::tr("All conversions finished"));
}

void TBatchStatus::Removed(TItemState ABusiest, bool AWaiting) {
  // A removed paused panel leaves the batch paused: Resume goes on with the next waiting one.
  if (ABusiest == isPaused && !FStopRequested && AWaiting)
    Say(TfrmConvertList::tr("Paused"));
  else if ((ABusiest == isConverting || ABusiest == isPaused) && !AWaiting)
    Say(QString()); // the file it named is gone from the list
}
