// TfrmConvertItem: the panel that stands for one job of the conversion queue. It shows the job as
// the queue last told it (the file, its format, the output's name and expected size, progress,
// how it ended and why, its log) and hands the person's choices to the queue; loading,
// converting and concluding all happen there, off the window's thread.
#pragma once

#include <QPointer>
#include <string>

#include "app/conversion_queue.h"
#include "ui/selectable_frame.h"

class QAction;
class QComboBox;
class QMenu;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSlider;
class TLogView;
class TPanelInput;
class TPanelOutput;
class TPreviewBox;
class TReasonLabel;

enum TItemState { isConverting = 0, isPaused = 1, isWaiting = 2, isTerminated = 3 };

// How a job's state reads on its panel.
TItemState ItemStateOf(TConversionState AState);

class TfrmConvertItem : public TSelectableFrame {
  Q_OBJECT

public:
  static constexpr int DesignWidth = 805;
  static constexpr int DesignHeight = 138;
  static constexpr int PreviewWidth = 138;
  static constexpr int PreviewHeight = 102;

  TfrmConvertItem(QWidget *AParent, TConversionQueue &AQueue, int AJobId);
  ~TfrmConvertItem() override;

  int JobId() const { return FJob.Id; }
  // Shows the job as the queue has it now; AProgress: only its progress has changed.
  void ShowJob(const TConversionJob &AJob, bool AProgress = false);

  TItemState FState = isWaiting;
  int FIndex = 0;

  const std::string &InputFileName() const { return FJob.InputFile; }
  const std::string &OutputFileName() const { return FJob.Loaded.OutputFileName; }
  int64_t Duration() const { return FJob.Loaded.DurationUs; }
  const TConversionJob &Job() const { return FJob; }
  // How the last conversion ended (valid once the panel is terminated).
  const TConversionOutcome &Outcome() const { return FJob.Outcome; }
  // The output's expected size in bytes (0 before a load), as the panel shows it.
  int64_t ExpectedSize() const { return FExpectedSize; }

  // The controls, named as the design names them (the tests look at them too).
  TPanelInput *gbInput = nullptr;
  QLabel *lbInputFilename = nullptr; // the input group's, as the next two
  QLabel *lbInfoString = nullptr;
  QLabel *lbDuration = nullptr;
  TPanelOutput *gbOutput = nullptr;
  QLineEdit *edOutputFilename = nullptr; // the output group's, as the next five
  QLineEdit *edTitle = nullptr;
  QComboBox *cboxFormat = nullptr;
  QLabel *lbExpectedSize = nullptr;
  QProgressBar *pbarPreview = nullptr;
  // What goes into the file besides the profile, in a word: the part, the sound, the subtitles.
  QLabel *lbContent = nullptr;
  TPreviewBox *boxPreview = nullptr;
  QLabel *imgThumb = nullptr;      // the box's
  QSlider *tbPreviewPos = nullptr; // the box's

  // The sound track, subtitles, range and still length chosen for this file.
  const TContentChoice &ContentChoice() const { return FContent; }
  int ProfileIndex() const { return FProfile; }
  // Hands AChoice to the queue, which loads the file again with it; a choice the file cannot
  // meet is told and the last good choice stays.
  void SetContentChoice(const TContentChoice &AChoice);
  // The menu entries for the content: Sound, Subtitles, Set start, Set end, Whole file.
  void AddContentActions(QMenu &AMenu);
  // Start or end of the part to convert at the preview's picture.
  void SetRangeStart();
  void SetRangeEnd();
  TReasonLabel *lbReason = nullptr; // why the conversion failed, in short
  // The context menu: the conversion's messages, the output's folder, the file in a player.
  QMenu *mnuPanel = nullptr;
  QAction *actShowLog = nullptr, *actOpenFolder = nullptr, *actPlay = nullptr;

  // What the engine, the converter and the load said about this file's last conversion.
  QString LogText() const;

protected:
  void keyPressEvent(QKeyEvent *AEvent) override;
  void contextMenuEvent(QContextMenuEvent *AEvent) override;

private:
  // The constructor's stages: the preview, the groups and the context menu.
  void CreatePreview(QHBoxLayout &ARow);
  void CreateInputGroup(QHBoxLayout &ARow);
  void CreateOutputGroup(QHBoxLayout &ARow);
  void CreateMenu();
  void ShowLoad();
  void ShowEnd();
  void ShowReason(const std::string &AMessage);
  void ShowLog();
  // The converted file when there is one, otherwise the input.
  QString FileToPlay() const;
  void RefreshContentActions();
  void ShowContent();
  bool MayMark() const;

  TConversionQueue &FQueue;
  TConversionJob FJob;
  // The person's last choices, sent to the queue: what the panel offers and remembers, ahead of
  // the job's snapshot while the queue loads them.
  int FProfile = 0;
  TContentChoice FContent;
  int FShownRefusals = 0; // refused choices told so far
  int64_t FExpectedSize = 0;
  QMenu *FContentHolder = nullptr; // owns the content entries shown in mnuPanel
  int64_t FPreviewTimeUs = 0;      // where the picture shown was taken, for the thumbnail
  QPointer<TLogView> FLogView;     // while open, it fetches the lines said since
};
