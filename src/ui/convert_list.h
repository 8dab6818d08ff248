// TfrmConvertList: the scrolling list of conversion panels on the Convert page, and the batch
// that converts them one after another.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/remembered_batch.h"
#include "ui/convert_item.h"

class QScrollBar;
class TFileLoader;
struct TFileLoad;

// APercent -1: no new value.
using TListProgressEvent = std::function<void(int AIndex, int APercent, TItemState AState)>;

class TfrmConvertList : public QWidget {
  Q_OBJECT

public:
  static constexpr int ScrollBarWidth = 17;

  explicit TfrmConvertList(QWidget *AParent = nullptr);
  ~TfrmConvertList() override;

  // Loads the file off the window's thread; its panel appears, in the order files were added,
  // once its probe and first picture are done. A file refused says why: one message for the
  // files refused together.
  // AProfile -1 is the default profile.
  void AddItem(const std::string &AFileName, int AProfile = -1,
               const TContentChoice &AChoice = TContentChoice());
  // Files added whose panels have not appeared yet, and them as added, in that order.
  int Loading() const;
  std::vector<TRememberedJob> LoadingFiles() const;
  void RemoveSelected();
  void ClearItems();
  void StartBatch();
  // The output folder has changed: panels not yet started write into the new one.
  void ReloadWaiting();
  // Stops the panels that convert or are paused; waiting panels stay waiting, and the batch
  // starts no further panel until the next StartBatch.
  void StopAll();
  void PauseAll();
  void ResumeNext();
  // True when no panel converts or is paused: waiting panels never ran and have nothing to end.
  bool AllTerminated() const;

  int Count() const { return static_cast<int>(FItems.size()); }
  TfrmConvertItem *Item(int AIndex) const { return FItems.at(static_cast<size_t>(AIndex)); }

  TListProgressEvent FOnListProgress;
  // What the batch is doing, for the status line: the file being converted and the time left.
  std::function<void(const QString &AText)> FOnStatus;
  // A panel's conversion has ended: a file came into (or went from) the output folder.
  std::function<void()> FOnItemFinished;
  // The batch has ended: the panels it converted, the names of those that failed, and whether
  // it was stopped (by Stop, or by removing the panels) rather than run to its end.
  std::function<void(int AConverted, const QStringList &AFailedNames, bool AStopped)> FOnBatchEnded;
  bool BatchRunning() const { return FBatchRunning; }
  // Files and folders dropped on the list, in their order; unset, the files are added as they are.
  std::function<void(const QStringList &APaths)> FOnDropped;

  QScrollBar *scrollbarConvertList = nullptr;
  QScrollBar *scrollbarSideways = nullptr; // shown while the panels are wider than the list

protected:
  void resizeEvent(QResizeEvent *AEvent) override;
  void wheelEvent(QWheelEvent *AEvent) override;
  void dragEnterEvent(QDragEnterEvent *AEvent) override;
  void dropEvent(QDropEvent *AEvent) override;
  void paintEvent(QPaintEvent *AEvent) override;

private:
  void ItemLoaded(TFileLoad &ALoad);
  void LayoutItems();
  // Scrolls the panel that holds AWidget fully into view.
  void ShowPanelOf(QWidget *AWidget);
  // Scrolls panel AIndex fully into view, up or down.
  void ScrollToPanel(int AIndex);
  // AFromEnd: started from the end of the conversion before, which must not wait for a person.
  void StartNextWaiting(bool AFromEnd = false);
  void TellIfAllEnded();
  void ItemProgress(int AIndex, int ACurrentDuration, int ATotalOutputDuration, TItemState AState);
  void ItemTerminate(int AIndex, bool AFinished, bool AException, const std::string &AMessage);
  void Renumber();
  int ItemWidth() const;
  int ViewWidth() const;    // what the list shows of a panel's width
  int ClientHeight() const; // what the list shows of its panels' height
  void ShowStatus(const QString &AText);
  // Time bookkeeping for the status line's estimate of the whole batch.
  void BatchStarted();
  // Panels removed mid-batch took their time and their share with them: the estimate starts
  // again from what is left.
  void BatchChanged();
  int64_t BatchDoneMs(int ACurrentIndex, int64_t ACurrentMs) const;

  void EndBatchIfIdle(bool AStopped);

  std::vector<TfrmConvertItem *> FItems;
  bool FBatchRunning = false;
  int FBatchConverted = 0;
  QStringList FBatchFailed;
  TFileLoader *FLoader = nullptr;
  // Loads the waiting panels again when the output folder changes; the panel each load is for.
  TFileLoader *FReloader = nullptr;
  std::map<uint64_t, QPointer<TfrmConvertItem>> FReloads;
  void ReloadDelivered(TFileLoad &ALoad);
  std::vector<std::string> FRefused; // messages of files refused since the last were shown
  // Start was pressed and the batch has not been stopped or ended by a failure: panels still
  // loading are converted when they appear.
  bool FBatchWanted = false;
  int FMinItemWidth = 0;               // the narrowest a panel shows all of itself
  bool FStatusIsHint = false;          // the status line says how to use Remove
  QPointer<TfrmConvertItem> FFollowed; // the panel the batch last started
  bool FStopRequested = false;
  // The paused panel was removed: the batch waits for Resume before it goes on.
  bool FHeldByPause = false;
  QElapsedTimer FBatchClock;
  int64_t FPausedMs = 0;
  QElapsedTimer FPauseClock;
  int64_t FBatchTotalMs = 0;
  int64_t FBatchBaseMs = 0; // media time done when the clock was last started
  QPointer<TfrmConvertItem> FLastReporter;
  int64_t FLastReportedMs = 0;
};
