// TfrmConvertItem: the panel that stands for one job of the conversion queue. It shows the job as
// the queue last told it (the file, its format, the output's name and expected size, progress,
// how it ended and why, its log) and hands the person's choices to the queue; loading,
// converting and concluding all happen there, off the window's thread.
#pragma once

#include <QFrame>
#include <QStringList>
#include <string>

#include "app/conversion_queue.h"

class QAction;
class QComboBox;
class QMenu;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSlider;
class TPreviewBox;

enum TItemState { isConverting = 0, isPaused = 1, isWaiting = 2, isTerminated = 3 };

// How a job's state reads on its panel.
TItemState ItemStateOf(TConversionState AState);

class TfrmConvertItem : public QFrame {
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
  bool FSelected = false;
  int FIndex = 0;

  const std::string &InputFileName() const { return FJob.InputFile; }
  const std::string &OutputFileName() const { return FJob.Loaded.OutputFileName; }
  int64_t Duration() const { return FJob.Loaded.DurationUs; }
  const TConversionJob &Job() const { return FJob; }
  // How the last conversion ended (valid once the panel is terminated).
  const TConversionOutcome &Outcome() const { return FJob.Outcome; }
  // The output's expected size in bytes (0 before a load), as the panel shows it.
  int64_t ExpectedSize() const { return FExpectedSize; }
  void SetSelected(bool ASelected);

  // The controls, named as the design names them (the tests look at them too).
  QGroupBox *gbInput = nullptr;
  QGroupBox *gbOutput = nullptr;
  QLabel *lbInputFilename = nullptr;
  QLabel *lbInfoString = nullptr;
  QLabel *lbDuration = nullptr;
  QLineEdit *edOutputFilename = nullptr;
  QLineEdit *edTitle = nullptr;
  QComboBox *cboxFormat = nullptr;
  QLabel *lbExpectedSize = nullptr; // "about 12,345 KB"
  QProgressBar *pbarPreview = nullptr;
  TPreviewBox *boxPreview = nullptr;
  QLabel *imgThumb = nullptr;      // the box's
  QSlider *tbPreviewPos = nullptr; // the box's
  // What goes into the file besides the profile, in a word: the part, the sound, the subtitles.
  QLabel *lbContent = nullptr;

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
  QLabel *lbReason = nullptr; // why the conversion failed, in short
  // The context menu: the conversion's messages, the output's folder, the file in a player.
  QMenu *mnuPanel = nullptr;
  QAction *actShowLog = nullptr, *actOpenFolder = nullptr, *actPlay = nullptr;

  // What the engine, the converter and the load said about this file's last conversion.
  QString LogText() const;

protected:
  void mousePressEvent(QMouseEvent *AEvent) override;
  void keyPressEvent(QKeyEvent *AEvent) override;
  void paintEvent(QPaintEvent *AEvent) override;
  void contextMenuEvent(QContextMenuEvent *AEvent) override;
  bool eventFilter(QObject *AWatched, QEvent *AEvent) override;

private:
  // The constructor's stages: the preview, the groups, the profile list and the context menu.
  void CreatePreview(QHBoxLayout &ARow);
  void CreateInputGroup(QHBoxLayout &ARow);
  void CreateOutputGroup(QHBoxLayout &ARow);
  void CreateFormatBox();
  void CreateMenu();
  void ShowLoad();
  void ShowProgress();
  void ShowOutcome();
  void FitTexts();
  void ShowReason(const QString &AMessage);
  void ShowLog();
  // The converted file when there is one, otherwise the input.
  QString FileToPlay() const;
  void RefreshContentActions();
  void ShowContent();
  void PlaceContentLine();

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
};
