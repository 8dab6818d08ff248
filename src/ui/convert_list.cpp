#include "ui/convert_list.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>

#include "app/profiles.h"
#include "app/window_rules.h"
#include "ui/messages.h"
#include "ui/queue_pump.h"

namespace {

// The window's batch: files load as they are added, and a failed or stopped conversion ends it.
TQueueSettings WindowQueue() {
  TQueueSettings settings;
  settings.Policy.LoadOnAdd = true;
  settings.Policy.GoOnAfterFailure = false;
  settings.Policy.Jobs = 1;
  settings.LibraryPath = QCoreApplication::applicationDirPath().toStdString();
  settings.AVCFolder = AVCFolder;
  settings.MPEG4Folder = MPEG4Folder;
  settings.PreviewWidth = TfrmConvertItem::PreviewWidth;
  settings.PreviewHeight = TfrmConvertItem::PreviewHeight;
  return settings;
}

} // namespace

TfrmConvertList::TfrmConvertList(QWidget *AParent)
    : TPanelScroller(AParent, TfrmConvertItem::DesignHeight), FAVCFolder(AVCFolder),
      FMPEG4Folder(MPEG4Folder), FStatus([this](const QString &AText) {
        if (FOnStatus)
          FOnStatus(AText);
      }) {
  // The queue raises its events on its own threads; the pump runs them here, in order (the
  // queue goes before the list, so the list is there for them).
  FPump = new TQueuePump(this, [this](const TQueueEvent &AEvent) { QueueEvent(AEvent); });
  FQueue = std::make_unique<TConversionQueue>(
      WindowQueue(), [pump = FPump](const TQueueEvent &AEvent) { pump->Raise(AEvent); });
}

// The queue goes before the panels that show it; its events still on their way are dropped
// with the list. Focus leaving the panels as they go scrolls nothing.
TfrmConvertList::~TfrmConvertList() {
  FQueue.reset();
  disconnect(qApp, nullptr, this, nullptr);
}

std::vector<TRememberedJob> TfrmConvertList::LoadingFiles() const { return FAdded.Files(); }

void TfrmConvertList::AddItem(const std::string &AFileName, int AProfile,
                              const TContentChoice &AChoice) {
  ReloadWaiting(); // the queue loads into the folders chosen now
  const int profile = AProfile >= 0 && AProfile < PSPProfileCount ? AProfile : DefaultProfileIndex;
  const int id = FQueue->Add(AFileName, profile, AChoice);
  FAdded.Add(id, TRememberedJob{AFileName, profile, AChoice});
}

int TfrmConvertList::IndexOf(int AId) const {
  for (int i = 0; i < Count(); ++i)
    if (FItems[static_cast<size_t>(i)]->JobId() == AId)
      return i;
  return -1;
}

void TfrmConvertList::QueueEvent(const TQueueEvent &AEvent) {
  switch (AEvent.Kind) {
  case TQueueEventKind::qeChanged:
  case TQueueEventKind::qeProgress:
    JobChanged(AEvent.JobId, AEvent.Kind == TQueueEventKind::qeProgress);
    break;
  case TQueueEventKind::qeRemoved:
    break; // the list took the panel away itself
  case TQueueEventKind::qeBatchEnded:
    BatchEnded();
    break;
  }
}

void TfrmConvertList::JobChanged(int AId, bool AProgress) {
  const int index = IndexOf(AId);
  if (index < 0) {
    ShowLoaded();
    return;
  }
  TConversionJob job;
  if (!FQueue->Job(AId, job))
    return;
  TfrmConvertItem *item = Item(index);
  const TItemState before = item->FState;
  const bool endedBefore = item->Job().Ended;
  item->ShowJob(job, AProgress);
  if (item->FState == isConverting && before == isWaiting)
    PanelStarted(index);
  if (job.Ended && !endedBefore)
    PanelEnded(index, job);
  else if (AProgress)
    PanelProgress(index, job);
}

// The loads come back in the order the files were added; each file waits for those before it.
void TfrmConvertList::ShowLoaded() {
  // A file slow to load holds back those loaded after it: their panels then come in slices.
  constexpr int SliceMs = 30;
  QElapsedTimer clock;
  clock.start();
  TConversionJob job;
  while (FAdded.Next(*FQueue, job)) {
    AddPanel(job);
    if (clock.elapsed() >= SliceMs) {
      QTimer::singleShot(0, this, [this] { ShowLoaded(); });
      return;
    }
  }
  // The files refused together are told together, once the others have loaded.
  const std::vector<std::string> refused = FAdded.TakeRefused();
  if (refused.empty())
    return;
  QString text = QString::fromStdString(refused.front());
  if (refused.size() > 1) {
    text = tr("%1 files could not be added:").arg(refused.size());
    for (const std::string &message : refused)
      text += QLatin1Char('\n') + OneLine(QString::fromStdString(message));
  }
  PostMessage(window(), text);
}

void TfrmConvertList::AddPanel(const TConversionJob &AJob) {
  auto *item = new TfrmConvertItem(this, *FQueue, AJob.Id);
  FItems.push_back(item);
  const int index = Count() - 1;
  item->FIndex = index;
  item->ShowJob(AJob);
  PlacePanel(item, index);
  item->show();
  update();
  if (item->FState == isConverting)
    PanelStarted(index);
}

void TfrmConvertList::PanelStarted(int AIndex) {
  TfrmConvertItem *item = Item(AIndex);
  // The list follows the batch while the panel it showed converting is in sight.
  if (!FFollowed || InSight(FFollowed))
    ScrollToPanel(AIndex);
  FFollowed = item;
  FStatus.Started(item->InputFileName());
}

void TfrmConvertList::PanelProgress(int AIndex, const TConversionJob &AJob) {
  if (!FOnListProgress)
    return;
  const int percent = OverallPercent(AIndex, Count(), AJob.CurrentMs, AJob.DurationMs);
  FOnListProgress(AIndex, percent, ItemStateOf(AJob.State));
  FStatus.Progress(AJob, AIndex, Count(), FQueue->BatchTimeLeftMs());
}

void TfrmConvertList::PanelEnded(int AIndex, const TConversionJob &AJob) {
  const bool last = AIndex == Count() - 1;
  if (FOnListProgress)
    FOnListProgress(AIndex, last && AJob.State == TConversionState::csFinished ? 100 : -1,
                    isTerminated);
  FStatus.Ended(AJob, last);
  // A stopped conversion leaves its part in the output folder too: the file list must show it.
  if (FOnItemFinished)
    FOnItemFinished();
}

void TfrmConvertList::BatchEnded() {
  // A Start pressed meanwhile has begun the next one.
  FBatchRunning = FQueue->BatchRunning();
  const TBatchEnd batch = FQueue->LastBatch();
  if (FOnBatchEnded) {
    QStringList failed;
    for (const std::string &input : batch.Failed)
      failed << NameOf(input);
    FOnBatchEnded(batch.Converted, failed, batch.Stopped);
  }
  TellIfAllEnded();
}

void TfrmConvertList::RemoveSelected() {
  if (FItems.empty())
    return;
  if (std::none_of(FItems.begin(), FItems.end(),
                   [](const TfrmConvertItem *AItem) { return AItem->FSelected; })) {
    // Nothing happens without a selection: the status line says how to make one.
    FStatus.Hint(tr("Click the panels to remove (or press Space on one), then Remove."));
    return;
  }
  FStatus.HintDone();
  const TItemState removed =
      TakeAway([](const TfrmConvertItem *AItem) { return AItem->FSelected; });
  if (FItems.empty() && FOnListProgress)
    FOnListProgress(-1, 0, isWaiting);
  FStatus.Removed(removed, AnyIn(isWaiting, isWaiting));
}

TItemState TfrmConvertList::TakeAway(const std::function<bool(const TfrmConvertItem *)> &APick) {
  TItemState busiest = isWaiting;
  std::vector<TfrmConvertItem *> kept;
  for (TfrmConvertItem *item : FItems) {
    if (!APick(item)) {
      kept.push_back(item);
      continue;
    }
    busiest = std::min(busiest, item->FState);
    FQueue->Remove(item->JobId());
    item->hide();
    item->deleteLater();
  }
  FItems.swap(kept);
  // Panels are numbered by their place, so that the overall percentage and the last panel's
  // 100 % stay right after panels before them are removed.
  for (int i = 0; i < Count(); ++i)
    FItems[static_cast<size_t>(i)]->FIndex = i;
  LayoutItems(); // no scroll bar left over an empty list
  update();
  return busiest;
}

// A window that waits for the conversions to end before it closes hears it from here.
void TfrmConvertList::TellIfAllEnded() {
  if (AllTerminated() && FOnListProgress)
    FOnListProgress(-1, -1, isTerminated);
}

void TfrmConvertList::ClearItems() {
  FAdded.Clear(*FQueue);
  TakeAway([](const TfrmConvertItem *) { return true; });
  FStatus.Say(QString());
  // An empty list has done nothing yet.
  if (FOnListProgress)
    FOnListProgress(-1, 0, isWaiting);
}

void TfrmConvertList::StopAll() {
  FStatus.FStopRequested = true;
  const bool stopping = AnyIn(isConverting, isPaused);
  // A batch held by a removed paused panel simply ends.
  if (!stopping && FBatchRunning)
    FStatus.Say(tr("Conversion stopped"));
  FQueue->Stop();
  // The encoders finish what they hold before the end is reported: until then Start waits.
  if (stopping)
    FStatus.Say(tr("Stopping\u2026"));
}

void TfrmConvertList::PauseAll() {
  if (!AnyIn(isConverting, isConverting)) {
    if (!AnyIn(isPaused, isPaused))
      FStatus.Say(tr("Nothing is converting"));
    return;
  }
  FQueue->Pause();
  FStatus.Say(tr("Paused"));
}

void TfrmConvertList::ResumeNext() {
  // Also a batch whose paused panel was removed: it goes on with the next waiting one.
  if (!AnyIn(isPaused, isPaused) && (AnyIn(isConverting, isConverting) || !FBatchRunning)) {
    FStatus.Say(tr("Nothing is paused"));
    return;
  }
  FQueue->Resume();
}

void TfrmConvertList::StartBatch(bool AOnlyNotRun) {
  // The presses that do nothing say so, and the buttons stay as they are.
  if (FItems.empty() && FAdded.Count() == 0) {
    FStatus.Say(tr("Nothing to start: add files first"));
    return;
  }
  if (AnyIn(isConverting, isPaused)) {
    if (AnyIn(isPaused, isPaused))
      FStatus.Say(tr("Paused: Resume goes on, Stop ends the batch"));
    return;
  }
  // The paused panel was removed: the batch waits for Resume.
  if (FQueue->BatchRunning()) {
    FStatus.Say(tr("Paused: Resume goes on, Stop ends the batch"));
    return;
  }
  FStatus.FStopRequested = false;
  FFollowed = nullptr; // Start shows the first panel it converts
  FBatchRunning = true;
  FQueue->Start(AOnlyNotRun);
}

// The queue loads the waiting panels again, off the window's thread.
void TfrmConvertList::ReloadWaiting() {
  if (FAVCFolder == AVCFolder && FMPEG4Folder == MPEG4Folder)
    return;
  FAVCFolder = AVCFolder;
  FMPEG4Folder = MPEG4Folder;
  FQueue->SetFolders(AVCFolder, MPEG4Folder);
}

bool TfrmConvertList::AllTerminated() const {
  return !AnyIn(isConverting, isPaused) && !FBatchRunning;
}

bool TfrmConvertList::AnyIn(TItemState AState, TItemState AOther) const {
  return std::any_of(FItems.begin(), FItems.end(), [=](const TfrmConvertItem *AItem) {
    return AItem->FState == AState || AItem->FState == AOther;
  });
}

void TfrmConvertList::Dropped(const QStringList &APaths) {
  if (FOnDropped) {
    FOnDropped(APaths);
    return;
  }
  for (const QString &path : APaths)
    if (QFileInfo(path).isFile())
      AddItem(path.toStdString());
}

QString TfrmConvertList::EmptyText() const {
  return tr("Add video, audio or picture files with “Add”, or drop them here.");
}
