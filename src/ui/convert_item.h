// TfrmConvertItem: the panel that stands for one input file in the conversion list. It owns
// one converter; the core loads the file (probe, output name, options) and the panel shows
// what came back, drives the converter for the list and shows how each conversion ended.
#pragma once

#include <QFrame>
#include <QPointer>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/conversion_load.h"
#include "app/conversion_outcome.h"
#include "medialib/bgr_image.h"

class QAction;
class QComboBox;
class QMenu;
class QAction;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSlider;
class QTimer;
class TCustomAVConverter;
struct TFileLoad;

enum TItemState { isConverting = 0, isPaused = 1, isWaiting = 2, isTerminated = 3 };

using TItemProgressEvent = std::function<void(
    int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality, float ABitRate,
    int64_t ACurrentSize, int ATotalOutputDuration, TItemState AState)>;
using TItemTerminateEvent =
    std::function<void(int AIndex, bool AFinished, bool AException, const std::string &AMessage)>;

class TfrmConvertItem : public QFrame {
  Q_OBJECT

public:
  static constexpr int DesignWidth = 805;
  static constexpr int DesignHeight = 138;
  static constexpr int PreviewWidth = 138;
  static constexpr int PreviewHeight = 102;

  explicit TfrmConvertItem(QWidget *AParent = nullptr);
  // With a converter that has loaded the file already (on the loader's thread).
  TfrmConvertItem(QWidget *AParent, std::unique_ptr<TCustomAVConverter> AConverter);
  ~TfrmConvertItem() override;

  // Loads AFileName with the profile chosen in the panel. A failure shows its message and
  // leaves what the panel shows unchanged.
  // ATell: a failure is also told in a message box.
  bool LoadInputFile(const std::string &AFileName, bool ATell = true);
  // Shows a load done elsewhere by the panel's converter (parked) with its first picture,
  // already fitted into the preview box.
  void ShowLoaded(const std::string &AFileName, const TLoadedConversion &ALoaded,
                  const TBGRImage &APreview);
  // The profile and content a file was loaded with, when added with its own (a restore).
  void TakeChoices(int AProfile, const TContentChoice &AChoice);
  // AFromEnd: started from the end of the conversion before. A reload that fails then shows
  // its reason on the panel only: a message box would run the event loop inside that end.
  void StartItem(bool AFromEnd = false);
  void PauseItem();
  void ResumeItem();
  void StopItem();
  // Waits again; the file is loaded anew, with the profile then chosen, when its turn comes.
  void ResetItem();
  // A panel that has not started yet takes up the profile and output folder now chosen, so that
  // it shows the file it will write; one that converts or has converted keeps its own.
  void ReloadIfWaiting();
  // A reload elsewhere (the output folder changed): the waiting panel gives its name back, then
  // waits for load ASerial, which TakeReload shows. A Start meanwhile loads it at once instead.
  void GiveUpClaim();
  void AwaitReload(uint64_t ASerial);
  // False when the panel no longer wants this load: it started or loaded again since.
  bool TakeReload(TFileLoad &ALoad);
  // Stops and releases the converter; the panel deletes itself later.
  void ClosePanel();

  // Shows the input's picture at ATime microseconds in the preview.
  void ShowFrameAt(int64_t ATime);

  TItemState FState = isWaiting;
  bool FSelected = false;
  int FIndex = 0;
  TItemProgressEvent FOnItemProgress;
  TItemTerminateEvent FOnItemTerminate;

  const std::string &InputFileName() const { return FInputFileName; }
  const std::string &OutputFileName() const { return FOutputFileName; }
  int64_t Duration() const { return FDuration; }
  // How the last conversion ended (valid once the panel is terminated).
  const TConversionOutcome &Outcome() const { return FOutcome; }
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
  QLabel *imgThumb = nullptr;
  QSlider *tbPreviewPos = nullptr;
  // What goes into the file besides the profile, in a word: the part, the sound, the subtitles.
  QLabel *lbContent = nullptr;

  // The sound track, subtitles, range and still length chosen for this file (remembered
  // while the panel lives, used by every load and Start).
  const TContentChoice &ContentChoice() const { return FContent; }
  // Takes AChoice and loads the file again with it; a choice the file cannot meet shows its
  // message and the last good choice stays.
  bool SetContentChoice(const TContentChoice &AChoice);
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
  QString LogText() const { return FLog.join(QLatin1Char('\n')); }

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
  void SetState(TItemState AState);
  void ConverterProgress(int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                         float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration);
  void ConverterTerminate(int AIndex, bool AFinished, bool AException, const std::string &AMessage);
  void tbPreviewPosChange();
  // AFitted: FPreview holds the picture already.
  void ShowPreviewFrame(const TBGRImage &APicture, bool AFitted = false);
  void ShowOutcome();
  void FitTexts();
  void ShowTexts(const TLoadedConversion &ALoaded);
  void ConnectConverter();
  void AddToLog(const QString &ALine);
  void ShowReason(const QString &AMessage);
  void ShowLog();
  // The converted file when there is one, otherwise the input.
  QString FileToPlay() const;
  void ListenToLibraries(bool AListen);
  // The probe for a picture: opened again when a waiting panel let it go.
  bool OpenProbe();

  std::unique_ptr<TCustomAVConverter> FConverter;
  // Set on the converter's thread when its task has converted the whole file; read once the
  // converter has ended.
  std::shared_ptr<std::atomic<bool>> FConverted = std::make_shared<std::atomic<bool>>(false);
  QPointer<TfrmConvertItem> FSelf; // copied into the queued calls of the converter's threads
  // The libraries' error lines of the running conversion, counted on the converter's threads.
  std::shared_ptr<TLibraryErrors> FErrors = std::make_shared<TLibraryErrors>();
  TConversionOutcome FOutcome;
  int64_t FDuration = 0;
  int64_t FExpectedSize = 0;
  // The media time the running conversion last reported, and the total its input states.
  int64_t FReachedMs = -1;
  int64_t FStatedMs = 0;
  std::string FInputFileName;
  std::string FOutputFileName;
  std::string FTitle;
  TLoadedConversion FLoaded;
  TContentChoice FContent;
  QMenu *FContentHolder = nullptr; // owns the content entries shown in mnuPanel
  void RefreshContentActions();
  void ShowContent();
  void PlaceContentLine();
  std::string FLastLoadError;
  bool FPreviewReady = false;
  bool FPreviewPending = false;
  bool FLoadFailed = false;    // the last load failed: Start has no conversion to run
  bool FReloadPending = false; // reset for a new batch: loaded again when started
  bool FReloadAwaited = false; // a reload elsewhere is under way; FReloadSerial names it
  uint64_t FReloadSerial = 0;
  int64_t FPreviewTimeUs = 0; // where the picture shown was taken, for the thumbnail
  TBGRImage FPreview;         // the picture imgThumb shows
  QStringList FLog;
  QString FReason; // the failure's message in full
  // Closes the probe once the slider has rested: a waiting panel holds no file open.
  QTimer *FProbeRest = nullptr;
};
