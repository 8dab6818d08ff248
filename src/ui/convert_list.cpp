#include "ui/convert_list.h"

#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

#include "app/profiles.h"
#include "app/window_rules.h"
#include "ui/messages.h"

namespace {

constexpr int ItemGap = 2;
constexpr int ScrollMax = 1000;

bool Busy(const TfrmConvertItem *AItem) {
  return AItem->FState == isConverting || AItem->FState == isPaused;
}

QString NameOf(const std::string &AFile) {
  return OneLine(QFileInfo(QString::fromStdString(AFile)).fileName());
}

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
    : QWidget(AParent), FAVCFolder(AVCFolder), FMPEG4Folder(MPEG4Folder) {
  setAcceptDrops(true);
  scrollbarConvertList = new QScrollBar(Qt::Vertical, this);
  scrollbarConvertList->setRange(0, ScrollMax);
  scrollbarConvertList->setSingleStep(1);
  scrollbarConvertList->setPageStep(2);
  connect(scrollbarConvertList, &QScrollBar::valueChanged, this, [this] { LayoutItems(); });
  scrollbarSideways = new QScrollBar(Qt::Horizontal, this);
  scrollbarSideways->setVisible(false);
  connect(scrollbarSideways, &QScrollBar::valueChanged, this, [this] { LayoutItems(); });
  // The queue raises its events on its own threads; they are run here, in order, from a queued
  // call (the queue goes before the list, so the list is there for them).
  FQueue = std::make_unique<TConversionQueue>(WindowQueue(), [this](const TQueueEvent &AEvent) {
    std::lock_guard<std::mutex> lock(FEventsLock);
    FEvents.push_back(AEvent);
    if (FEventsPosted)
      return;
    FEventsPosted = true;
    PostRunEvents();
  });
  // Tabbing into a panel scrolled out of sight brings it into view; a click keeps the list still.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *ANow) {
    if (QGuiApplication::mouseButtons() == Qt::NoButton)
      ShowPanelOf(ANow);
  });
}

// The queue goes before the panels that show it; its events still on their way are dropped
// with the list.
TfrmConvertList::~TfrmConvertList() { FQueue.reset(); }

std::vector<TRememberedJob> TfrmConvertList::LoadingFiles() const {
  std::vector<TRememberedJob> files;
  for (const TPending &pending : FPending)
    files.push_back(pending.Asked);
  return files;
}

void TfrmConvertList::ShowPanelOf(QWidget *AWidget) {
  if (!AWidget)
    return;
  QWidget *panel = AWidget;
  while (panel && panel->parentWidget() != this)
    panel = panel->parentWidget();
  const auto at = std::find(FItems.begin(), FItems.end(), panel);
  if (at == FItems.end())
    return;
  // Sideways: the focused control itself, when the window is narrower than the panels (a
  // panel focused as a whole stays where it is).
  if (AWidget != panel) {
    const QRect control(AWidget->mapTo(this, QPoint(0, 0)), AWidget->size());
    if (control.right() >= ViewWidth())
      scrollbarSideways->setValue(scrollbarSideways->value() + control.right() + 1 - ViewWidth());
    else if (control.left() < 0)
      scrollbarSideways->setValue(scrollbarSideways->value() + control.left());
  }
  ScrollToPanel(static_cast<int>(at - FItems.begin()));
}

void TfrmConvertList::ScrollToPanel(int AIndex) {
  const int pitch = TfrmConvertItem::DesignHeight + ItemGap;
  const int clientHeight = ClientHeight();
  const int hidden = Count() * pitch - ItemGap - clientHeight;
  if (hidden <= 0)
    return;
  const int top = AIndex * pitch;
  const int offset = ListScrollOffset(Count(), TfrmConvertItem::DesignHeight, ItemGap, clientHeight,
                                      scrollbarConvertList->value());
  // The bar counts thousandths of what is hidden: round towards the panel's side.
  if (top < offset)
    scrollbarConvertList->setValue(static_cast<int>(int64_t{top} * ScrollMax / hidden));
  else if (top + TfrmConvertItem::DesignHeight > offset + clientHeight)
    scrollbarConvertList->setValue(std::min<int>(
        ScrollMax,
        (int64_t{top + TfrmConvertItem::DesignHeight - clientHeight} * ScrollMax + hidden - 1) /
            hidden));
}

int TfrmConvertList::ViewWidth() const { return std::max(width() - ScrollBarWidth - 1, 0); }

// A window narrower than a panel can be scrolls the panels sideways rather than cutting them.
int TfrmConvertList::ItemWidth() const { return std::max(ViewWidth(), FMinItemWidth); }

int TfrmConvertList::ClientHeight() const {
  const bool sideways = !FItems.empty() && ItemWidth() > ViewWidth();
  return std::max(height() - (sideways ? ScrollBarWidth : 0), 0);
}

void TfrmConvertList::AddItem(const std::string &AFileName, int AProfile,
                              const TContentChoice &AChoice) {
  ReloadWaiting(); // the queue loads into the folders chosen now
  const int profile = AProfile >= 0 && AProfile < PSPProfileCount ? AProfile : DefaultProfileIndex;
  const int id = FQueue->Add(AFileName, profile, AChoice);
  FPending.push_back({id, TRememberedJob{AFileName, profile, AChoice}});
}

int TfrmConvertList::IndexOf(int AId) const {
  for (int i = 0; i < Count(); ++i)
    if (FItems[static_cast<size_t>(i)]->JobId() == AId)
      return i;
  return -1;
}

// Callable from any thread: the call runs on the window's.
void TfrmConvertList::PostRunEvents() {
  const QPointer<TfrmConvertList> self(this);
  QMetaObject::invokeMethod(
      this,
      [self] {
        if (self)
          self->RunEvents();
      },
      Qt::QueuedConnection);
}

void TfrmConvertList::RunEvents() {
  constexpr int SliceMs = 30;
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    TQueueEvent event;
    {
      std::lock_guard<std::mutex> lock(FEventsLock);
      if (FEvents.empty()) {
        FEventsPosted = false;
        return;
      }
      event = FEvents.front();
      FEvents.pop_front();
    }
    QueueEvent(event);
    if (clock.elapsed() >= SliceMs) {
      PostRunEvents();
      return;
    }
  }
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
  while (!FPending.empty()) {
    if (clock.elapsed() >= SliceMs) {
      QTimer::singleShot(0, this, [this] { ShowLoaded(); });
      return;
    }
    TConversionJob job;
    const int id = FPending.front().Id;
    if (!FQueue->Job(id, job) || (!job.Ready && job.State != TConversionState::csFailed))
      break;
    if (job.Ready && job.State == TConversionState::csLoading)
      break; // its first picture is still being taken
    FPending.erase(FPending.begin());
    if (job.Ready) {
      AddPanel(job);
    } else {
      FRefused.push_back(job.Message);
      FQueue->Remove(id);
    }
  }
  // The files refused together are told together, once the others have loaded.
  if (FRefused.empty() || !FPending.empty())
    return;
  QString text;
  if (FRefused.size() == 1) {
    text = QString::fromStdString(FRefused.front());
  } else {
    text = tr("%1 files could not be added:").arg(FRefused.size());
    for (const std::string &refused : FRefused)
      text += QLatin1Char('\n') + OneLine(QString::fromStdString(refused));
  }
  FRefused.clear();
  PostMessage(window(), text);
}

void TfrmConvertList::AddPanel(const TConversionJob &AJob) {
  auto *item = new TfrmConvertItem(this, *FQueue, AJob.Id);
  FItems.push_back(item);
  const int index = Count() - 1;
  item->setGeometry(0, index * (TfrmConvertItem::DesignHeight + ItemGap), ItemWidth(),
                    TfrmConvertItem::DesignHeight);
  item->FIndex = index;
  item->ShowJob(AJob);
  FMinItemWidth = std::max(FMinItemWidth, item->minimumSizeHint().width());
  // The list shows the panel added last; moving the bar lays the panels out.
  if (scrollbarConvertList->value() == ScrollMax)
    LayoutItems();
  else
    scrollbarConvertList->setValue(ScrollMax);
  item->show();
  update();
  if (item->FState == isConverting)
    PanelStarted(index);
}

void TfrmConvertList::PanelStarted(int AIndex) {
  TfrmConvertItem *item = Item(AIndex);
  // The list follows the batch while the panel it showed converting is in sight.
  if (!FFollowed || (FFollowed->y() < ClientHeight() && FFollowed->geometry().bottom() >= 0))
    ScrollToPanel(AIndex);
  FFollowed = item;
  if (!FStopRequested)
    ShowStatus(tr("Converting %1").arg(NameOf(item->InputFileName())));
}

void TfrmConvertList::PanelProgress(int AIndex, const TConversionJob &AJob) {
  if (!FOnListProgress)
    return;
  const TItemState state = ItemStateOf(AJob.State);
  FOnListProgress(AIndex, OverallPercent(AIndex, Count(), AJob.CurrentMs, AJob.DurationMs), state);
  // A report still on its way when the batch was paused or stopped leaves the status saying so.
  if (state != isConverting || FStopRequested)
    return;
  const int64_t left = FQueue->BatchTimeLeftMs();
  QString text =
      tr("Converting %1 (%2 of %3)").arg(NameOf(AJob.InputFile)).arg(AIndex + 1).arg(Count());
  if (left >= 0)
    text += QStringLiteral("  \u2014  ") + QString::fromStdString(FormatTimeLeft(left));
  ShowStatus(text);
}

void TfrmConvertList::PanelEnded(int AIndex, const TConversionJob &AJob) {
  const bool finished = AJob.State == TConversionState::csFinished;
  if (FOnListProgress)
    FOnListProgress(AIndex, AIndex == Count() - 1 && finished ? 100 : -1, isTerminated);
  if (AJob.State == TConversionState::csFailed)
    ShowStatus(tr("Conversion failed: %1").arg(QString::fromStdString(AJob.Message)));
  else if (!finished)
    ShowStatus(tr("Conversion stopped"));
  else if (AIndex == Count() - 1)
    ShowStatus(tr("All conversions finished"));
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

void TfrmConvertList::LayoutItems() {
  const int clientHeight = ClientHeight();
  const int sideways = FItems.empty() ? 0 : ItemWidth() - ViewWidth();
  scrollbarSideways->setRange(0, sideways);
  scrollbarSideways->setPageStep(std::max(ViewWidth(), 1));
  scrollbarSideways->setSingleStep(20);
  scrollbarSideways->setGeometry(0, clientHeight, ViewWidth(), ScrollBarWidth);
  scrollbarSideways->setVisible(sideways > 0);
  scrollbarConvertList->setGeometry(width() - ScrollBarWidth, 0, ScrollBarWidth, clientHeight);
  // Over the panels: a panel wider than the list reaches under them.
  scrollbarConvertList->raise();
  scrollbarSideways->raise();
  const int pitch = TfrmConvertItem::DesignHeight + ItemGap;
  // The bar's steps follow what is shown: a wheel notch or arrow moves by a few lines, a page
  // by the visible height, in thousandths of what does not fit.
  const int hidden = Count() * pitch - ItemGap - clientHeight;
  if (hidden > 0) {
    scrollbarConvertList->setSingleStep(std::max(1, 20 * ScrollMax / hidden));
    scrollbarConvertList->setPageStep(
        std::max(2, std::min(ScrollMax, clientHeight * ScrollMax / hidden)));
  }
  // Shown only when there is something to scroll; the panels keep its place either way.
  scrollbarConvertList->setVisible(hidden > 0);
  if (FItems.empty())
    return;
  const int offset = ListScrollOffset(Count(), TfrmConvertItem::DesignHeight, ItemGap, clientHeight,
                                      scrollbarConvertList->value());
  // Only the panels in sight and two either side of them are shown (Tab reaches those next to
  // the view, which then scrolls): a hidden panel costs nothing to move, so a list of a
  // thousand lays out as quickly as one of ten.
  const int margin = 2 * pitch;
  for (int i = 0; i < Count(); ++i) {
    TfrmConvertItem *item = FItems[static_cast<size_t>(i)];
    const int top = i * pitch - offset;
    const bool near =
        top + TfrmConvertItem::DesignHeight + margin > 0 && top < clientHeight + margin;
    item->setGeometry(-scrollbarSideways->value(), top, ItemWidth(), TfrmConvertItem::DesignHeight);
    if (item->isHidden() == near)
      item->setVisible(near);
  }
}

void TfrmConvertList::resizeEvent(QResizeEvent *AEvent) {
  QWidget::resizeEvent(AEvent);
  LayoutItems();
}

void TfrmConvertList::wheelEvent(QWheelEvent *AEvent) {
  const QPoint delta = AEvent->angleDelta();
  const bool sideways = scrollbarSideways->isVisible() && std::abs(delta.x()) > std::abs(delta.y());
  QCoreApplication::sendEvent(sideways ? scrollbarSideways : scrollbarConvertList, AEvent);
}
void TfrmConvertList::RemoveSelected() {
  if (FItems.empty())
    return;
  if (std::none_of(FItems.begin(), FItems.end(),
                   [](const TfrmConvertItem *AItem) { return AItem->FSelected; })) {
    // Nothing happens without a selection: the status line says how to make one.
    ShowStatus(tr("Click the panels to remove (or press Space on one), then Remove."));
    FStatusIsHint = true;
    return;
  }
  if (FStatusIsHint)
    ShowStatus(QString()); // done as it said
  bool removedConverting = false, removedPaused = false;
  std::vector<TfrmConvertItem *> kept;
  for (TfrmConvertItem *item : FItems) {
    if (!item->FSelected) {
      kept.push_back(item);
      continue;
    }
    removedConverting = removedConverting || item->FState == isConverting;
    removedPaused = removedPaused || item->FState == isPaused;
    FQueue->Remove(item->JobId());
    item->hide();
    item->deleteLater();
  }
  FItems.swap(kept);
  // Panels are numbered by their place, so that the overall percentage and the last panel's
  // 100 % stay right after panels before them are removed.
  for (int i = 0; i < Count(); ++i)
    FItems[static_cast<size_t>(i)]->FIndex = i;
  LayoutItems();
  update();
  if (FItems.empty() && FOnListProgress)
    FOnListProgress(-1, 0, isWaiting);
  // A removed paused panel leaves the batch paused: Resume goes on with the next waiting one.
  const bool waiting = std::any_of(FItems.begin(), FItems.end(), [](const TfrmConvertItem *AItem) {
    return AItem->FState == isWaiting;
  });
  if (removedPaused && !removedConverting && !FStopRequested && waiting)
    ShowStatus(tr("Paused"));
  else if ((removedConverting || removedPaused) && !waiting)
    ShowStatus(QString()); // the file it named is gone from the list
}

// A window that waits for the conversions to end before it closes hears it from here.
void TfrmConvertList::TellIfAllEnded() {
  if (AllTerminated() && FOnListProgress)
    FOnListProgress(-1, -1, isTerminated);
}

void TfrmConvertList::ClearItems() {
  for (const TPending &pending : FPending)
    FQueue->Remove(pending.Id);
  FPending.clear();
  FRefused.clear();
  std::vector<TfrmConvertItem *> items;
  items.swap(FItems);
  for (TfrmConvertItem *item : items) {
    FQueue->Remove(item->JobId());
    item->hide();
    item->deleteLater();
  }
  ShowStatus(QString());
  // An empty list has done nothing yet.
  if (FOnListProgress)
    FOnListProgress(-1, 0, isWaiting);
  LayoutItems(); // no scroll bar left over an empty list
  update();
}

void TfrmConvertList::StopAll() {
  FStopRequested = true;
  const bool stopping = std::any_of(FItems.begin(), FItems.end(), Busy);
  // A batch held by a removed paused panel simply ends.
  if (!stopping && FBatchRunning)
    ShowStatus(tr("Conversion stopped"));
  FQueue->Stop();
  // The encoders finish what they hold before the end is reported: until then Start waits.
  if (stopping)
    ShowStatus(tr("Stopping\u2026"));
}

void TfrmConvertList::PauseAll() {
  if (std::none_of(FItems.begin(), FItems.end(),
                   [](const TfrmConvertItem *AItem) { return AItem->FState == isConverting; })) {
    if (std::none_of(FItems.begin(), FItems.end(), Busy))
      ShowStatus(tr("Nothing is converting"));
    return;
  }
  FQueue->Pause();
  ShowStatus(tr("Paused"));
}

void TfrmConvertList::ResumeNext() {
  const bool paused = std::any_of(FItems.begin(), FItems.end(), [](const TfrmConvertItem *AItem) {
    return AItem->FState == isPaused;
  });
  // Also a batch whose paused panel was removed: it goes on with the next waiting one.
  if (!paused && (std::any_of(FItems.begin(), FItems.end(), Busy) || !FBatchRunning)) {
    ShowStatus(tr("Nothing is paused"));
    return;
  }
  FQueue->Resume();
}

void TfrmConvertList::StartBatch(bool AOnlyNotRun) {
  // The presses that do nothing say so, and the buttons stay as they are.
  if (FItems.empty() && FPending.empty()) {
    ShowStatus(tr("Nothing to start: add files first"));
    return;
  }
  if (std::any_of(FItems.begin(), FItems.end(), Busy)) {
    if (std::any_of(FItems.begin(), FItems.end(),
                    [](const TfrmConvertItem *AItem) { return AItem->FState == isPaused; }))
      ShowStatus(tr("Paused: Resume goes on, Stop ends the batch"));
    return;
  }
  // The paused panel was removed: the batch waits for Resume.
  if (FQueue->BatchRunning()) {
    ShowStatus(tr("Paused: Resume goes on, Stop ends the batch"));
    return;
  }
  FStopRequested = false;
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
  return std::none_of(FItems.begin(), FItems.end(), Busy) && !FBatchRunning;
}

void TfrmConvertList::ShowStatus(const QString &AText) {
  FStatusIsHint = false;
  if (FOnStatus)
    FOnStatus(AText);
}

void TfrmConvertList::dragEnterEvent(QDragEnterEvent *AEvent) {
  const QList<QUrl> urls = AEvent->mimeData()->urls();
  if (std::any_of(urls.begin(), urls.end(), [](const QUrl &AUrl) { return AUrl.isLocalFile(); }))
    AEvent->acceptProposedAction();
}

// Files dropped from a file manager are added in the order they come, as if chosen with Add.
void TfrmConvertList::dropEvent(QDropEvent *AEvent) {
  const QList<QUrl> urls = AEvent->mimeData()->urls();
  AEvent->acceptProposedAction();
  QStringList paths;
  for (const QUrl &url : urls)
    if (url.isLocalFile())
      paths << url.toLocalFile();
  if (FOnDropped) {
    FOnDropped(paths);
    return;
  }
  for (const QString &path : paths)
    if (QFileInfo(path).isFile())
      AddItem(path.toStdString());
}

void TfrmConvertList::paintEvent(QPaintEvent *AEvent) {
  QWidget::paintEvent(AEvent);
  if (!FItems.empty())
    return;
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::PlaceholderText));
  QRect area = rect();
  area.setWidth(ViewWidth());
  painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap,
                   tr("Add video, audio or picture files with “Add”, or drop them here."));
}
