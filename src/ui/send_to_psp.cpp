#include "ui/send_to_psp.h"

#include <QComboBox>
#include <QFileInfo>
#include <QWidget>

#include "app/device_library.h"
#include "app/profiles.h"
#include "app/stick_errand.h"
#include "ui/convert_list.h"
#include "ui/desktop_notifier.h"
#include "ui/messages.h"

namespace {

QString Text(const std::string &AText) { return QString::fromStdString(AText); }

// What a panel gives the errand: its output when its conversion finished, else why not.
TFoldersPage::TSendItem SendItemOf(const TfrmConvertItem &AItem) {
  TFoldersPage::TSendItem item;
  item.Name = QFileInfo(Text(AItem.InputFileName())).fileName().toStdString();
  if (AItem.FState != isTerminated)
    item.Why = "not converted: the batch ended before it";
  else if (AItem.Outcome().Kind == TOutcomeKind::okFinished && !AItem.OutputFileName().empty())
    item.Output = AItem.OutputFileName();
  else if (AItem.Outcome().Kind == TOutcomeKind::okStopped)
    item.Why = "its conversion was stopped";
  else
    item.Why = "not converted" +
               (AItem.Outcome().Reason.empty() ? std::string() : ": " + AItem.Outcome().Reason);
  return item;
}

} // namespace

TSendToPSP::TSendToPSP(TfrmConvertList *AList, TFoldersPage *APage, TDesktopNotifier &ANotifier,
                       QWidget *AWindow)
    : QObject(AWindow), FList(AList), FPage(APage), FNotifier(ANotifier), FWindow(AWindow) {}

void TSendToPSP::Start() {
  if (Running())
    return;
  if (FList->Count() == 0 && FList->Loading() == 0) {
    ShowMessage(FWindow, tr("Nothing to send: add files on the Convert page first."));
    return;
  }
  if (!FPage->StickReady())
    return;
  FFitted = false;
  // A batch under way is waited for as it is.
  if (FList->BatchRunning()) {
    FWaitingForBatch = true;
    return;
  }
  bool waiting = FList->Loading() > 0;
  for (int i = 0; i < FList->Count(); ++i)
    waiting = waiting || FList->Item(i)->FState != isTerminated;
  if (!waiting) { // all converted already: taken as they are
    Send();
    return;
  }
  if (!FPage->OutputFolderReady()) {
    FPage->ShowOutputFolderError();
    return;
  }
  if (!OfferFit())
    return;
  FWaitingForBatch = true;
  FList->StartBatch(true);
  if (!FList->BatchRunning() && FWaitingForBatch) { // nothing could start
    FWaitingForBatch = false;
    Send();
  }
}

bool TSendToPSP::OfferFit() {
  const int64_t free = FPage->DeviceFree();
  if (free < 0)
    return true;
  // What has converted goes as it is; what has not run is the batch.
  std::vector<TFitInput> inputs;
  int64_t taken = 0;
  const int64_t cluster = StickClusterBytes(DeviceFolder);
  for (int i = 0; i < FList->Count(); ++i) {
    const TfrmConvertItem *item = FList->Item(i);
    if (item->FState != isTerminated)
      inputs.push_back(FitInputOf(item->cboxFormat->currentIndex(), item->Duration(),
                                  item->ContentChoice(), item->ExpectedSize()));
    else if (!SendItemOf(*item).Output.empty())
      taken += StickRoomFor(item->OutputFileName(), cluster);
  }
  FFit = FitToStick(DefaultProfileIndex, inputs, taken, free, cluster);
  int bitrate = 0; // the profiles' usual rate
  if (!FFit.FitsAsIs && !FFit.Possible) {
    if (!AskQuestion(
            FWindow,
            tr("The batch %1.\n\nSend those that fit at the usual quality?").arg(Text(FFit.Text())),
            tr("Send what fits"), tr("Cancel")))
      return false;
  } else if (!FFit.FitsAsIs) {
    FFitted = AskQuestion(
        FWindow,
        tr("The videos do not all fit on the memory stick at the usual quality. Convert them at "
           "%1?\n\nKeeping the quality sends those that fit, in the list's order.")
            .arg(Text(FFit.Text())),
        tr("Make them fit"), tr("Keep the quality"));
    if (FFitted)
      bitrate = FFit.VideoBitrate;
  }
  for (int i = 0; i < FList->Count(); ++i) {
    TfrmConvertItem *item = FList->Item(i);
    if (item->FState == isTerminated)
      continue; // converted already: sent as it is
    TContentChoice choice = item->ContentChoice();
    choice.VideoBitrate = bitrate; // also undoes an earlier fit
    item->SetContentChoice(choice);
  }
  return true;
}

bool TSendToPSP::BatchEnded(bool AStopped) {
  if (!FWaitingForBatch)
    return false;
  FWaitingForBatch = false;
  if (AStopped)
    ShowMessage(FWindow,
                tr("Send to PSP stopped with the conversion: nothing was copied to the "
                   "memory stick."),
                QMessageBox::Information);
  else
    Send();
  return true;
}

void TSendToPSP::Send() {
  if (FBeforeSend)
    FBeforeSend();
  std::vector<TFoldersPage::TSendItem> items;
  for (int i = 0; i < FList->Count(); ++i)
    items.push_back(SendItemOf(*FList->Item(i)));
  FPage->SendToStick(std::move(items),
                     [this](const TFoldersPage::TSendResult &AResult) { Tell(AResult); });
}

void TSendToPSP::Tell(const TFoldersPage::TSendResult &AResult) {
  const TErrandReport &report = AResult.Report;
  QStringList lines;
  for (const std::string &message : report.Messages)
    lines << Text(message);
  lines << Text(report.Text());
  // How the bit rate chosen to fit came out against what it was chosen for.
  if (FFitted) {
    int64_t real = 0;
    const int64_t cluster = StickClusterBytes(DeviceFolder);
    for (int i = 0; i < FList->Count(); ++i)
      if (!FList->Item(i)->OutputFileName().empty())
        real += StickRoomFor(FList->Item(i)->OutputFileName(), cluster);
    lines << Text(EstimateAfterText(FFit.Expected, real));
  }
  if (AResult.EjectAsked && !AResult.EjectMessage.empty())
    lines << Text(AResult.EjectMessage);
  const QString text = lines.join(QLatin1Char('\n'));
  const bool complete = report.Complete() && (!AResult.EjectAsked || AResult.Ejected);
  const QString summary =
      tr("%n video(s) on the memory stick", nullptr, static_cast<int>(report.OnStick.size())) +
      (report.NotFitting.empty()
           ? QString()
           : tr(", %n did not fit", nullptr, static_cast<int>(report.NotFitting.size())));
  FNotifier.Tell(summary, text, !complete);
  PostMessage(FWindow, text, complete ? QMessageBox::Information : QMessageBox::Warning);
}
