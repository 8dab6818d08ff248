#include "ui/convert_list.h"

#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

#include "app/profiles.h"
#include "ui/file_loader.h"
#include "ui/messages.h"
#include "app/window_rules.h"

namespace {

constexpr int ItemGap = 2;
constexpr int ScrollMax = 1000;

bool Busy(const TfrmConvertItem *AItem) {
  return AItem->FState == isConverting || AItem->FState == isPaused;
}

} // namespace

TfrmConvertList::TfrmConvertList(QWidget *AParent) : QWidget(AParent) {
  setAcceptDrops(true);
  scrollbarConvertList = new QScrollBar(Qt::Vertical, this);
  scrollbarConvertList->setRange(0, ScrollMax);
  scrollbarConvertList->setSingleStep(1);
  scrollbarConvertList->setPageStep(2);
  connect(scrollbarConvertList, &QScrollBar::valueChanged, this, [this] { LayoutItems(); });
  scrollbarSideways = new QScrollBar(Qt::Horizontal, this);
  scrollbarSideways->setVisible(false);
  connect(scrollbarSideways, &QScrollBar::valueChanged, this, [this] { LayoutItems(); });
  FLoader = new TFileLoader([this](TFileLoad &ALoad) { ItemLoaded(ALoad); }, this);
  FReloader = new TFileLoader([this](TFileLoad &ALoad) { ReloadDelivered(ALoad); }, this);
  // Tabbing into a panel scrolled out of sight brings it into view; a click keeps the list still.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *ANow) {
    if (QGuiApplication::mouseButtons() == Qt::NoButton)
      ShowPanelOf(ANow);
  });
}

// The loader goes first: its workers finish the files they hold and give up the names claimed
// for panels that will never show.
TfrmConvertList::~TfrmConvertList() {
  delete FLoader;
  delete FReloader;
}

int TfrmConvertList::Loading() const { return FLoader->Pending(); }

std::vector<TRememberedJob> TfrmConvertList::LoadingFiles() const {
  return FLoader->PendingFiles();
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
  // Libraries not loaded yet are loaded by the workers, one at a time (the loader is locked).
  const std::string libraryPath = QCoreApplication::applicationDirPath().toStdString();
  const int profile = AProfile >= 0 && AProfile < PSPProfileCount ? AProfile : DefaultProfileIndex;
  FLoader->Add(AFileName, profile, libraryPath, AVCFolder, MPEG4Folder,
               TfrmConvertItem::PreviewWidth, TfrmConvertItem::PreviewHeight, AChoice);
}

void TfrmConvertList::ItemLoaded(TFileLoad &ALoad) {
  if (!ALoad.OK) {
    FRefused.push_back(ALoad.Error);
  } else {
    auto *item = new TfrmConvertItem(this, std::move(ALoad.Converter));
    FItems.push_back(item);
    const int index = Count() - 1;
    item->setGeometry(0, index * (TfrmConvertItem::DesignHeight + ItemGap), ItemWidth(),
                      TfrmConvertItem::DesignHeight);
    item->FSelected = false;
    item->FIndex = index;
    item->FOnItemProgress = [this](int AIndex, int, int, int ACurrentDuration, float, float,
                                   int64_t, int ATotalOutputDuration, TItemState AState) {
      ItemProgress(AIndex, ACurrentDuration, ATotalOutputDuration, AState);
    };
    item->FOnItemTerminate = [this](int AIndex, bool AFinished, bool AException,
                                    const std::string &AMessage) {
      ItemTerminate(AIndex, AFinished, AException, AMessage);
    };
    item->TakeChoices(ALoad.Asked.Profile, ALoad.Asked.Choice);
    item->ShowLoaded(ALoad.FileName, ALoad.Loaded, ALoad.Preview);
    // The output folder changed while the file was loading: it writes into the new one.
    if (ALoad.AVCFolder != AVCFolder || ALoad.MPEG4Folder != MPEG4Folder)
      item->ReloadIfWaiting();
    // A file that joins a running batch adds its time to the estimate of the time left.
    if (FBatchWanted && FBatchClock.isValid())
      FBatchTotalMs += std::max<int64_t>(item->Duration() / 1000, 0);
    FMinItemWidth = std::max(FMinItemWidth, item->minimumSizeHint().width());
    // The list shows the panel added last; moving the bar lays the panels out.
    if (scrollbarConvertList->value() == ScrollMax)
      LayoutItems();
    else
      scrollbarConvertList->setValue(ScrollMax);
    update();
    // Start was pressed before this panel was ready, and nothing converts now.
    if (FBatchWanted && !FStopRequested && AllTerminated())
      StartNextWaiting();
  }
  if (Loading() == 0)
    EndBatchIfIdle(false); // the last files were refused
  // The files refused together are told together, once the others have loaded.
  if (!FRefused.empty() && Loading() == 0) {
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

// Panels are numbered by their place, so that the overall percentage and the last panel's
// 100 % stay right after panels before them are removed.
void TfrmConvertList::Renumber() {
  for (int i = 0; i < Count(); ++i)
    FItems[static_cast<size_t>(i)]->FIndex = i;
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
    if (item->FSelected) {
      removedConverting = removedConverting || item->FState == isConverting;
      removedPaused = removedPaused || item->FState == isPaused;
      item->ClosePanel();
    } else {
      kept.push_back(item);
    }
  }
  FItems.swap(kept);
  Renumber();
  LayoutItems();
  update();
  if (FItems.empty() && FOnListProgress)
    FOnListProgress(-1, 0, isWaiting);
  // A removed paused panel leaves the batch paused: Resume goes on with the next waiting one.
  if (removedPaused && !removedConverting && !FStopRequested &&
      std::any_of(FItems.begin(), FItems.end(),
                  [](const TfrmConvertItem *AItem) { return AItem->FState == isWaiting; })) {
    FHeldByPause = true;
    ShowStatus(tr("Paused"));
  } else if (removedPaused && !removedConverting) {
    if (AllTerminated())
      ShowStatus(QString());
    EndBatchIfIdle(true);
  }
  // A removed converting panel does not end the batch: the next waiting panel goes on.
  if (removedConverting) {
    StartNextWaiting();
    if (AllTerminated())
      ShowStatus(QString()); // the file it named is gone from the list
    EndBatchIfIdle(true);
  }
  if (removedConverting || removedPaused)
    TellIfAllEnded();
  BatchChanged();
}

// A removed panel reports no end of its own: a window that waits for the conversions to end
// before it closes hears it from here.
void TfrmConvertList::TellIfAllEnded() {
  if (AllTerminated() && FOnListProgress)
    FOnListProgress(-1, -1, isTerminated);
}

void TfrmConvertList::ClearItems() {
  FLoader->Cancel();
  FRefused.clear();
  FBatchWanted = false;
  std::vector<TfrmConvertItem *> items;
  items.swap(FItems);
  const bool busy = std::any_of(items.begin(), items.end(), Busy);
  for (TfrmConvertItem *item : items)
    item->ClosePanel();
  EndBatchIfIdle(true);
  ShowStatus(QString());
  // An empty list has done nothing yet.
  if (FOnListProgress)
    FOnListProgress(-1, 0, isWaiting);
  if (busy)
    TellIfAllEnded();
  LayoutItems(); // no scroll bar left over an empty list
  update();
}

void TfrmConvertList::StopAll() {
  FStopRequested = true;
  FBatchWanted = false;
  if (FHeldByPause) { // nothing runs: the held batch simply ends
    FHeldByPause = false;
    ShowStatus(tr("Conversion stopped"));
    EndBatchIfIdle(true);
  }
  bool stopping = false;
  for (TfrmConvertItem *item : FItems)
    if (Busy(item)) {
      item->StopItem();
      stopping = true;
    }
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
  for (TfrmConvertItem *item : FItems)
    if (item->FState == isConverting) {
      item->PauseItem();
      if (!FPauseClock.isValid())
        FPauseClock.start();
      ShowStatus(tr("Paused"));
    }
}

void TfrmConvertList::ResumeNext() {
  // The paused panel was removed: the batch goes on with the next waiting one.
  if (FHeldByPause && AllTerminated()) {
    FHeldByPause = false;
    FBatchClock.start();
    StartNextWaiting();
    BatchChanged();
    EndBatchIfIdle(false);
    return;
  }
  for (TfrmConvertItem *item : FItems)
    if (item->FState == isPaused) {
      item->ResumeItem();
      if (FPauseClock.isValid()) {
        FPausedMs += FPauseClock.elapsed();
        FPauseClock.invalidate();
      }
      return;
    }
  ShowStatus(tr("Nothing is paused"));
}

void TfrmConvertList::StartNextWaiting(bool AFromEnd) {
  if (FStopRequested || FHeldByPause)
    return;
  for (TfrmConvertItem *item : FItems)
    if (item->FState == isWaiting) {
      // The list follows the batch while the panel it showed converting is in sight.
      if (!FFollowed || (FFollowed->y() < ClientHeight() && FFollowed->geometry().bottom() >= 0))
        ScrollToPanel(
            static_cast<int>(std::find(FItems.begin(), FItems.end(), item) - FItems.begin()));
      FFollowed = item;
      item->StartItem(AFromEnd);
      ShowStatus(
          tr("Converting %1")
              .arg(OneLine(QFileInfo(QString::fromStdString(item->InputFileName())).fileName())));
      return;
    }
}

void TfrmConvertList::StartBatch() {
  // The presses that do nothing say so, and the buttons stay as they are.
  if (FItems.empty() && Loading() == 0) {
    ShowStatus(tr("Nothing to start: add files first"));
    return;
  }
  if (std::any_of(FItems.begin(), FItems.end(), Busy)) {
    if (std::any_of(FItems.begin(), FItems.end(),
                    [](const TfrmConvertItem *AItem) { return AItem->FState == isPaused; }))
      ShowStatus(tr("Paused: Resume goes on, Stop ends the batch"));
    return;
  }
  for (TfrmConvertItem *item : FItems)
    item->ResetItem();
  FStopRequested = false;
  FBatchWanted = true;
  FHeldByPause = false;
  FFollowed = nullptr; // Start shows the first panel it converts
  FBatchRunning = true;
  FBatchConverted = 0;
  FBatchFailed.clear();
  BatchStarted();
  StartNextWaiting();
}

void TfrmConvertList::EndBatchIfIdle(bool AStopped) {
  if (!FBatchRunning || !AllTerminated() || FHeldByPause)
    return;
  if (FBatchWanted && !FStopRequested && Loading() > 0)
    return; // files still loading are part of it

  FBatchRunning = false;
  // Only Start begins the next batch: a file added from now on waits for it.
  FBatchWanted = false;
  if (FOnBatchEnded)
    FOnBatchEnded(FBatchConverted, FBatchFailed, AStopped);
}

// Off the window's thread: a long list of waiting panels would hold it for each one's probe.
void TfrmConvertList::ReloadWaiting() {
  const std::string libraryPath = QCoreApplication::applicationDirPath().toStdString();
  for (TfrmConvertItem *item : FItems) {
    if (item->FState != isWaiting || item->InputFileName().empty())
      continue;
    item->GiveUpClaim();
    const uint64_t serial =
        FReloader->Add(item->InputFileName(), item->cboxFormat->currentIndex(), libraryPath,
                       AVCFolder, MPEG4Folder, 0, 0, item->ContentChoice());
    item->AwaitReload(serial);
    FReloads[serial] = item;
  }
}

// A load no panel takes any more gives its claim back.
void TfrmConvertList::ReloadDelivered(TFileLoad &ALoad) {
  const auto at = FReloads.find(ALoad.Serial);
  QPointer<TfrmConvertItem> item;
  if (at != FReloads.end()) {
    item = at->second;
    FReloads.erase(at);
  }
  if (!item || !item->TakeReload(ALoad))
    ReleaseOutputClaim(ALoad.Loaded);
}

bool TfrmConvertList::AllTerminated() const {
  return std::none_of(FItems.begin(), FItems.end(), Busy);
}

void TfrmConvertList::BatchStarted() {
  FBatchClock.start();
  FPauseClock.invalidate();
  FPausedMs = 0;
  FBatchBaseMs = 0;
  FLastReporter = nullptr;
  FBatchTotalMs = 0;
  for (TfrmConvertItem *item : FItems)
    FBatchTotalMs += std::max<int64_t>(item->Duration() / 1000, 0);
}

void TfrmConvertList::BatchChanged() {
  if (!FBatchClock.isValid())
    return;
  const auto busy = std::find_if(FItems.begin(), FItems.end(), Busy);
  if (busy == FItems.end()) {
    FBatchClock.invalidate();
    return;
  }
  FBatchClock.start();
  FPausedMs = 0;
  FPauseClock.invalidate();
  if (std::any_of(FItems.begin(), FItems.end(),
                  [](const TfrmConvertItem *AItem) { return AItem->FState == isPaused; }))
    FPauseClock.start();
  FBatchTotalMs = 0;
  for (TfrmConvertItem *item : FItems)
    FBatchTotalMs += std::max<int64_t>(item->Duration() / 1000, 0);
  FBatchBaseMs = BatchDoneMs(static_cast<int>(busy - FItems.begin()),
                             *busy == FLastReporter ? FLastReportedMs : 0);
}

// Media time converted so far: the panels before the converting one are done.
int64_t TfrmConvertList::BatchDoneMs(int ACurrentIndex, int64_t ACurrentMs) const {
  int64_t done = std::max<int64_t>(ACurrentMs, 0);
  for (int i = 0; i < ACurrentIndex && i < Count(); ++i)
    done += std::max<int64_t>(FItems[static_cast<size_t>(i)]->Duration() / 1000, 0);
  return done;
}

void TfrmConvertList::ItemProgress(int AIndex, int ACurrentDuration, int ATotalOutputDuration,
                                   TItemState AState) {
  if (!FOnListProgress)
    return;
  FOnListProgress(AIndex, OverallPercent(AIndex, Count(), ACurrentDuration, ATotalOutputDuration),
                  AState);
  if (AIndex < 0 || AIndex >= Count() || !FBatchClock.isValid())
    return;
  FLastReporter = Item(AIndex);
  FLastReportedMs = ACurrentDuration;
  // A report still on its way when the batch was paused or stopped leaves the status saying so.
  if (AState != isConverting || FStopRequested)
    return;
  const int64_t paused = FPausedMs + (FPauseClock.isValid() ? FPauseClock.elapsed() : 0);
  const int64_t left =
      EstimateTimeLeftMs(BatchDoneMs(AIndex, ACurrentDuration) - FBatchBaseMs,
                         FBatchTotalMs - FBatchBaseMs, FBatchClock.elapsed() - paused);
  QString text =
      tr("Converting %1 (%2 of %3)")
          .arg(OneLine(QFileInfo(QString::fromStdString(Item(AIndex)->InputFileName())).fileName()))
          .arg(AIndex + 1)
          .arg(Count());
  if (left >= 0)
    text += QStringLiteral("  \u2014  ") + QString::fromStdString(FormatTimeLeft(left));
  ShowStatus(text);
}

void TfrmConvertList::ItemTerminate(int AIndex, bool AFinished, bool AException,
                                    const std::string &AMessage) {
  if (FOnListProgress)
    FOnListProgress(AIndex, AIndex == Count() - 1 && AFinished ? 100 : -1, isTerminated);
  if (AException)
    ShowStatus(tr("Conversion failed: %1").arg(QString::fromStdString(AMessage)));
  else if (!AFinished)
    ShowStatus(tr("Conversion stopped"));
  else if (AIndex == Count() - 1)
    ShowStatus(tr("All conversions finished"));
  if (!AFinished)
    FBatchWanted = false; // a failed or stopped conversion ends the batch
  // A stopped conversion leaves its part in the output folder too: the file list must show it.
  if (FOnItemFinished)
    FOnItemFinished();
  if (AFinished)
    ++FBatchConverted;
  else if (AException && AIndex >= 0 && AIndex < Count())
    FBatchFailed << OneLine(
        QFileInfo(QString::fromStdString(Item(AIndex)->InputFileName())).fileName());
  if (AFinished)
    StartNextWaiting(true);
  EndBatchIfIdle(!AFinished && !AException);
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
