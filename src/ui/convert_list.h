// TfrmConvertList: the scrolling list of conversion panels on the Convert page, a view of the
// conversion queue that converts them one after another.
#pragma once

#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/added_files.h"
#include "app/conversion_queue.h"
#include "app/remembered_batch.h"
#include "ui/batch_status.h"
#include "ui/convert_item.h"
#include "ui/panel_scroller.h"

class TQueuePump;

// APercent -1: no new value.
using TListProgressEvent = std::function<void(int AIndex, int APercent, TItemState AState)>;

class TfrmConvertList : public TPanelScroller {
  Q_OBJECT

public:
  explicit TfrmConvertList(QWidget *AParent = nullptr);
  // Stops what converts and waits for it; names claimed for waiting files are given back.
  ~TfrmConvertList() override;

  // The queue loads the file off the window's thread; its panel appears, in the order files
  // were added, once the load is done. A file refused says why: one message for the files
  // refused together. AProfile -1 is the default profile.
  void AddItem(const std::string &AFileName, int AProfile = -1,
               const TContentChoice &AChoice = TContentChoice());
  // Files added whose panels have not appeared yet, and them as added, in that order.
  int Loading() const { return FAdded.Count(); }
  std::vector<TRememberedJob> LoadingFiles() const;
  void RemoveSelected();
  void ClearItems();
  // AOnlyNotRun: the panels that have converted keep their files (a send to the stick).
  void StartBatch(bool AOnlyNotRun = false);
  // The output folder has changed: panels not yet started write into the new one.
  void ReloadWaiting();
  // Stops the panels that convert or are paused; waiting panels stay waiting, and the batch
  // starts no further panel until the next StartBatch.
  void StopAll();
  void PauseAll();
  void ResumeNext();
  // True when no batch runs: waiting panels never ran and have nothing to end.
  bool AllTerminated() const;

  int Count() const override { return static_cast<int>(FItems.size()); }
  TfrmConvertItem *Item(int AIndex) const { return FItems.at(static_cast<size_t>(AIndex)); }

  TListProgressEvent FOnListProgress;
  // What the batch is doing, for the status line: the file being converted and the time left.
  std::function<void(const QString &AText)> FOnStatus;
  // A panel's conversion has ended: a file came into (or went from) the output folder.
  std::function<void()> FOnItemFinished;
  // The batch has ended: the panels it converted, the names of those that failed, and whether
  // it was stopped (by Stop, or by removing the panels) rather than run to its end.
  std::function<void(int AConverted, const QStringList &AFailedNames, bool AStopped)> FOnBatchEnded;
  // From Start until the queue's end of the batch has reached the window.
  bool BatchRunning() const { return FBatchRunning; }
  // Files and folders dropped on the list, in their order; unset, the files are added as they are.
  std::function<void(const QStringList &APaths)> FOnDropped;
  // One of the queue's events, on the window's thread (a late one changes nothing the job's
  // state does not say).
  void QueueEvent(const TQueueEvent &AEvent);

protected:
  QWidget *PanelAt(int AIndex) const override { return Item(AIndex); }
  // Added in the order they come, as if chosen with Add (unless FOnDropped says otherwise).
  void Dropped(const QStringList &APaths) override;
  QString EmptyText() const override;

private:
  void JobChanged(int AId, bool AProgress);
  // Panels for the files loaded, in the order added; the refused told together.
  void ShowLoaded();
  void AddPanel(const TConversionJob &AJob);
  void PanelStarted(int AIndex);
  void PanelEnded(int AIndex, const TConversionJob &AJob);
  void PanelProgress(int AIndex, const TConversionJob &AJob);
  void BatchEnded();
  void TellIfAllEnded();
  // Takes away the panels APick picks, and their jobs; returns the busiest state among them.
  TItemState TakeAway(const std::function<bool(const TfrmConvertItem *)> &APick);
  int IndexOf(int AId) const;
  // Whether a panel is in state AState or AOther.
  bool AnyIn(TItemState AState, TItemState AOther) const;

  TQueuePump *FPump = nullptr;
  std::unique_ptr<TConversionQueue> FQueue;
  std::vector<TfrmConvertItem *> FItems;
  TAddedFiles FAdded;                   // added, not shown yet
  std::string FAVCFolder, FMPEG4Folder; // the output folders the queue was last told
  TBatchStatus FStatus;
  QPointer<TfrmConvertItem> FFollowed; // the panel the batch last started
  bool FBatchRunning = false;
};
