#include "ui/convert_item.h"

#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QProgressBar>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

#include "app/conversion_queue.h"
#include "app/format_line.h"
#include "app/profiles.h"
#include "app/size_estimate.h"
#include "app/thumbnail.h"
#include "ui/file_loader.h"
#include "ui/folders_page.h"
#include "ui/messages.h"
#include "ui/panel_names.h"
#include "ui/text_fit.h"
#include "app/window_rules.h"
#include "converter/av_converter.h"

namespace {

QLabel *Caption(const char *AText, QWidget *AParent) {
  auto *label = new QLabel(QCoreApplication::translate("TfrmConvertItem", AText), AParent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

QString FromStd(const std::string &AText) { return QString::fromStdString(AText); }

// How long the slider rests before the probe lets its file go.
constexpr int ProbeRestMs = 1500;

} // namespace

TfrmConvertItem::TfrmConvertItem(QWidget *AParent) : TfrmConvertItem(AParent, nullptr) {}

TfrmConvertItem::TfrmConvertItem(QWidget *AParent, std::unique_ptr<TCustomAVConverter> AConverter)
    : QFrame(AParent),
      FConverter(AConverter ? std::move(AConverter) : std::make_unique<TCustomAVConverter>()),
      FSelf(this) {
  setFixedHeight(DesignHeight);
  // Tab stops at the panel itself too: Space there selects it, as a click does.
  setFocusPolicy(Qt::TabFocus);
  resize(DesignWidth, DesignHeight);
  setAutoFillBackground(false);

  auto *row = new QHBoxLayout(this);
  row->setContentsMargins(8, 5, 8, 5);
  row->setSpacing(8);

  CreatePreview(*row);
  CreateInputGroup(*row);
  CreateOutputGroup(*row);
  FProbeRest = new QTimer(this);
  FProbeRest->setSingleShot(true);
  FProbeRest->setInterval(ProbeRestMs);
  connect(FProbeRest, &QTimer::timeout, this, [this] {
    if (FConverter)
      FConverter->AVProbe().CloseFile();
  });

  CreateMenu();
  ConnectConverter();
}

void TfrmConvertItem::CreatePreview(QHBoxLayout &ARow) {
  // The preview picture with its position slider.
  auto *previewColumn = new QVBoxLayout;
  previewColumn->setSpacing(2);
  imgThumb = new QLabel(this);
  imgThumb->setFixedSize(PreviewWidth, PreviewHeight);
  FPreview.Resize(PreviewWidth, PreviewHeight, true);
  ShowPreviewFrame(TBGRImage());
  tbPreviewPos = new QSlider(Qt::Horizontal, this);
  tbPreviewPos->setRange(0, 100);
  tbPreviewPos->setPageStep(2);
  tbPreviewPos->setSingleStep(1);
  tbPreviewPos->setTickPosition(QSlider::NoTicks);
  tbPreviewPos->setFixedWidth(PreviewWidth);
  tbPreviewPos->setToolTip(tr("Preview position"));
  tbPreviewPos->installEventFilter(this);
  connect(tbPreviewPos, &QSlider::valueChanged, this, [this] { tbPreviewPosChange(); });
  // Over the foot of the picture, on a failed panel: why, in short, whatever the panel's width.
  lbReason = new QLabel(imgThumb);
  lbReason->setWordWrap(true);
  lbReason->setAlignment(Qt::AlignCenter);
  lbReason->setStyleSheet(
      QStringLiteral("background: rgba(0, 0, 0, 190); color: white; padding: 2px;"));
  lbReason->hide();
  previewColumn->addWidget(imgThumb);
  previewColumn->addWidget(tbPreviewPos);
  previewColumn->addStretch(1);
  ARow.addLayout(previewColumn);
}

void TfrmConvertItem::CreateInputGroup(QHBoxLayout &ARow) {
  gbInput = new QGroupBox(tr("Input"), this);
  auto *input = new QGridLayout(gbInput);
  input->setContentsMargins(8, 4, 8, 6);
  input->setVerticalSpacing(4);
  lbInputFilename = new QLabel(gbInput);
  lbInfoString = new QLabel(gbInput);
  lbDuration = new QLabel(QStringLiteral("00:00:00.00"), gbInput);
  // However narrow the panel, a duration shows in full; the name and format shorten to it.
  const int valueWidth = lbDuration->fontMetrics().horizontalAdvance(lbDuration->text()) + 2;
  for (QLabel *value : {lbInputFilename, lbInfoString, lbDuration}) {
    value->setMinimumWidth(valueWidth);
    value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  lbInputFilename->installEventFilter(this);
  lbInfoString->installEventFilter(this);
  input->addWidget(Caption(QT_TR_NOOP("Filename:"), gbInput), 0, 0);
  input->addWidget(lbInputFilename, 0, 1);
  input->addWidget(Caption(QT_TR_NOOP("Format:"), gbInput), 1, 0);
  input->addWidget(lbInfoString, 1, 1);
  input->addWidget(Caption(QT_TR_NOOP("Duration:"), gbInput), 2, 0);
  input->addWidget(lbDuration, 2, 1);
  // The values' column is a little wider than a duration, so that on a narrow panel the file's
  // name keeps its extension.
  input->setColumnMinimumWidth(1, valueWidth + 12);
  input->setColumnStretch(1, 1);
  ARow.addWidget(gbInput, 3);
}

void TfrmConvertItem::CreateOutputGroup(QHBoxLayout &ARow) {
  gbOutput = new QGroupBox(tr("Output"), this);
  auto *output = new QGridLayout(gbOutput);
  output->setContentsMargins(8, 4, 8, 6);
  output->setVerticalSpacing(4);
  edOutputFilename = new TPathField(gbOutput);
  edOutputFilename->setReadOnly(true);
  edTitle = new QLineEdit(gbOutput);
  edTitle->setReadOnly(true);
  // Fields that take no typing look like it: the window's colour instead of the white of an
  // editable field. Their text can still be selected and copied.
  for (QLineEdit *field : {edOutputFilename, edTitle}) {
    QPalette look = field->palette();
    look.setColor(QPalette::Base, look.color(QPalette::Window));
    field->setPalette(look);
  }
  CreateFormatBox();
  pbarPreview = new QProgressBar(gbOutput);
  pbarPreview->setRange(0, 100);
  pbarPreview->setValue(0);
  pbarPreview->setTextVisible(true);
  // Wide enough for its longest captions on one line.
  const QFontMetrics barFont = pbarPreview->fontMetrics();
  pbarPreview->setMinimumWidth(std::max(barFont.horizontalAdvance(tr("Stopped at %1%").arg(100)),
                                        barFont.horizontalAdvance(tr("Done, no thumbnail"))) +
                               16);
  // The bar shares the title's row: the profile list needs its whole width, the title does not.
  output->addWidget(Caption(QT_TR_NOOP("Filename:"), gbOutput), 0, 0);
  output->addWidget(edOutputFilename, 0, 1, 1, 2);
  output->addWidget(Caption(QT_TR_NOOP("Title:"), gbOutput), 1, 0);
  output->addWidget(edTitle, 1, 1);
  output->addWidget(pbarPreview, 1, 2);
  output->addWidget(Caption(QT_TR_NOOP("Format:"), gbOutput), 2, 0);
  lbExpectedSize = new QLabel(gbOutput);
  lbExpectedSize->setToolTip(tr("Expected size of the converted file"));
  lbExpectedSize->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // The list keeps its own width beside the title's column; the estimate sits under the bar.
  auto *formatRow = new QHBoxLayout;
  formatRow->addWidget(cboxFormat);
  formatRow->addStretch(1);
  output->addLayout(formatRow, 2, 1);
  output->addWidget(lbExpectedSize, 2, 2);
  output->setColumnStretch(1, 1);
  // The groups share the room as the design's panel does, about 3 to 7: the output has the more
  // to show (the path with its folder, title, bar, profile).
  ARow.addWidget(gbOutput, 7);
  // On the Output group's title line, in a word, what else goes into the file (chosen from the
  // panel's context menu): the part converted, the sound, the subtitles. That line is free the
  // whole group's width, so the panel keeps its size and rows; placed by PlaceContentLine.
  lbContent = new QLabel(gbOutput);
  lbContent->setObjectName(QStringLiteral("lbContent"));
  lbContent->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  lbContent->installEventFilter(this);
  gbOutput->installEventFilter(this);
  // The output's name and folder follow the profile at once, not only at the next Start.
  connect(cboxFormat, QOverload<int>::of(&QComboBox::activated), this,
          [this] { ReloadIfWaiting(); });
}

// The profiles, the default chosen.
void TfrmConvertItem::CreateFormatBox() {
  auto *format = new TElidedComboBox(gbOutput);
  cboxFormat = format;
  for (const TPSPProfile &profile : PSPProfiles)
    cboxFormat->addItem(FromStd(profile.Name));
  cboxFormat->setCurrentIndex(DefaultProfileIndex);
  cboxFormat->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  // On a narrow panel the list may shorten the profile's name to its kind and picture size
  // ("MPEG4 368x208…"); its popup stays as wide as the longest name.
  QString narrowest;
  for (const TPSPProfile &profile : PSPProfiles) {
    const QString kindAndSize = FromStd(profile.Name).section(QLatin1Char(' '), 0, 1);
    if (kindAndSize.size() > narrowest.size())
      narrowest = kindAndSize;
  }
  format->SetShortest(narrowest + QChar(0x2026));
}

void TfrmConvertItem::CreateMenu() {
  mnuPanel = new QMenu(this);
  actShowLog = mnuPanel->addAction(tr("Show log\u2026"), this, [this] { ShowLog(); });
  actOpenFolder = mnuPanel->addAction(tr("Open containing folder"), this, [this] {
    const QString folder = QFileInfo(FromStd(FOutputFileName)).absolutePath();
    if (!TFoldersPage::OpenFolder(folder.toStdString()))
      ShowMessage(window(), tr("%1 could not be opened: the desktop has no program to show "
                               "folders with.")
                                .arg(folder));
  });
  actPlay = mnuPanel->addAction(tr("Play"), this, [this] {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(FileToPlay())))
      ShowMessage(
          window(),
          tr("%1 could not be played: the desktop has no player for it.").arg(FileToPlay()));
  });
}

TfrmConvertItem::~TfrmConvertItem() {
  // The converter goes first: its workers may still post to this panel until it has ended.
  FConverter.reset();
  // A panel that never started gives its claimed output name back (the window closing).
  if (FState == isWaiting)
    ReleaseOutputClaim(FLoaded);
}

// The converter raises its events on the conversion's worker thread: each becomes one queued
// call with its values copied, run on the window's thread in the order raised; a call for a
// panel that has gone meanwhile is dropped.
// Error lines of the libraries feed the reason a conversion that decoded nothing fails with;
// the panel's log takes the lines of this converter's own tasks (library lines of other
// panels' threads reach every listening converter, without a task). Only a converting panel
// listens: every line reaches every listener, and a long list waits.
void TfrmConvertItem::ListenToLibraries(bool AListen) {
  if (!AListen) {
    FConverter->SetOnLog(nullptr);
    return;
  }
  const std::shared_ptr<TLibraryErrors> errors = FErrors;
  const QPointer<TfrmConvertItem> self = FSelf;
  FConverter->SetOnLog([errors, self](int AIndex, TLogLevel ALogLevel, const std::string &AMsg) {
    if (ALogLevel == llError)
      errors->Add(AMsg, AIndex >= 0);
    if (AIndex < 0)
      return;
    QMetaObject::invokeMethod(
        qApp,
        [=] {
          if (self)
            self->AddToLog(QString::fromStdString(AMsg).trimmed());
        },
        Qt::QueuedConnection);
  });
}

void TfrmConvertItem::ConnectConverter() {
  const QPointer<TfrmConvertItem> self = FSelf;
  const std::shared_ptr<std::atomic<bool>> converted = FConverted;
  FConverter->OnProgress = [self](int, int AFrameNumber, int AFPS, int ACurrentDuration,
                                  float AQuality, float ABitRate, int64_t ACurrentSize,
                                  int ATotalOutputDuration) {
    QMetaObject::invokeMethod(
        qApp,
        [=] {
          if (self)
            self->ConverterProgress(AFrameNumber, AFPS, ACurrentDuration, AQuality, ABitRate,
                                    ACurrentSize, ATotalOutputDuration);
        },
        Qt::QueuedConnection);
  };
  ListenToLibraries(false);
  FConverter->OnTerminate = [self, converted](int AIndex, bool AFinished, bool AException,
                                              const std::string &AMessage) {
    if (AFinished && AIndex != -1)
      converted->store(true);
    QMetaObject::invokeMethod(
        qApp,
        [=] {
          if (self)
            self->ConverterTerminate(AIndex, AFinished, AException, AMessage);
        },
        Qt::QueuedConnection);
  };
}

bool TfrmConvertItem::LoadInputFile(const std::string &AFileName, bool ATell) {
  FInputFileName = AFileName;
  FReloadPending = false;
  FReloadAwaited = false;
  FProbeRest->stop();
  // The name the last load claimed and never wrote is given back; the load claims it again.
  ReleaseOutputClaim(FLoaded);
  TLoadedConversion loaded;
  std::string error;
  if (!LoadConversion(*FConverter, QCoreApplication::applicationDirPath().toStdString(), AFileName,
                      cboxFormat->currentIndex(), loaded, error, FContent)) {
    FLastLoadError = error;
    FLoadFailed = true;
    AddToLog(FromStd(error));
    if (ATell)
      ShowMessage(window(), FromStd(error));
    return false;
  }
  FLoadFailed = false;
  const bool firstLoad = FOutputFileName.empty();
  ShowTexts(loaded);
  if (firstLoad)
    ShowFrameAt(0);
  // While it waits the panel keeps its picture and holds neither decoder nor file; Start sets
  // the conversion up again.
  ParkConversion(*FConverter);
  show();
  update();
  return true;
}

void TfrmConvertItem::ShowLoaded(const std::string &AFileName, const TLoadedConversion &ALoaded,
                                 const TBGRImage &APreview) {
  FInputFileName = AFileName;
  FLoadFailed = false;
  ShowTexts(ALoaded);
  FPreview = APreview;
  ShowPreviewFrame(TBGRImage(), true);
}

void TfrmConvertItem::ShowTexts(const TLoadedConversion &ALoaded) {
  FLoaded = ALoaded;
  FDuration = ALoaded.DurationUs;
  NamePanelForScreenReaders(*this);
  lbInfoString->setText(FromStd(FormatLineOf(ALoaded)));
  lbDuration->setText(FromStd(FormatDuration(FDuration >= 0 ? FDuration / 1000 : -1)));
  // The estimate follows the part converted.
  FExpectedSize =
      EstimateOutputSize(cboxFormat->currentIndex(), ALoaded.OutputDurationUs, ALoaded.SrcW > 0);
  lbExpectedSize->setText(
      FExpectedSize > 0 ? tr("about %1").arg(FromStd(FormatSizeKB(FExpectedSize))) : QString());
  edOutputFilename->setText(FromStd(ALoaded.OutputFileName));
  edOutputFilename->setToolTip(FromStd(ALoaded.OutputFileName));
  edTitle->setText(FromStd(ALoaded.Title));
  edTitle->setCursorPosition(0);
  FOutputFileName = ALoaded.OutputFileName;
  FTitle = ALoaded.Title;
  FitTexts();
  pbarPreview->setFormat(QStringLiteral("%p%"));
  pbarPreview->setToolTip(QString());
}

// Texts wider than their field are shortened where they say least: a path loses the middle of
// its folder (the file name stays), the format line loses the format's name (rate and size
// stay). The whole text is in the tooltip.
void TfrmConvertItem::FitTexts() {
  const QString name = OneLine(FromStd(FInputFileName));
  lbInputFilename->setToolTip(name);
  lbInputFilename->setText(
      ElidePath(lbInputFilename->fontMetrics(), name, lbInputFilename->width()));
  if (FOutputFileName.empty())
    return;
  lbInfoString->setToolTip(FromStd(FormatLineDetails(FLoaded)));
  lbInfoString->setText(
      FitParts(lbInfoString->fontMetrics(), FromStd(FormatLineOf(FLoaded)), lbInfoString->width()));
  // With the focus the output field shows its path from the end: the file itself.
  edOutputFilename->end(false);
  ShowContent();
}

// A conversion under way keeps the profile it started with, so the list offers no other; a
// paused one says so on its bar.
void TfrmConvertItem::SetState(TItemState AState) {
  FState = AState;
  cboxFormat->setEnabled(AState != isConverting && AState != isPaused);
  if (AState == isPaused)
    pbarPreview->setFormat(tr("Paused at %p%"));
  else if (AState == isConverting)
    pbarPreview->setFormat(QStringLiteral("%p%"));
}

void TfrmConvertItem::StartItem(bool AFromEnd) {
  // The panel then ends as a failed conversion, with the load's reason. A reload still under way
  // elsewhere gave the name up: the panel loads now rather than wait for it.
  if (FReloadAwaited)
    FReloadPending = true;
  if (FReloadPending)
    LoadInputFile(FInputFileName, !AFromEnd);
  SetState(isConverting);
  std::string reopenError;
  if (!FLoadFailed && FConverter->TaskCount() == 0 &&
      !ReopenConversion(*FConverter, QCoreApplication::applicationDirPath().toStdString(), FLoaded,
                        reopenError)) {
    FLoadFailed = true;
    FLastLoadError = reopenError;
  }
  if (FLoadFailed || FConverter->TaskCount() == 0) {
    // The last reload failed (the file went, say): a converter without a task would never
    // report an end, and the batch would wait for it for ever. It ends as a failed conversion;
    // the output name of the earlier load was given up with its task and is not this panel's.
    FLoaded.OutputCreated = false;
    const QPointer<TfrmConvertItem> self = FSelf;
    const std::string message = FLastLoadError;
    QMetaObject::invokeMethod(
        qApp,
        [self, message] {
          if (self)
            self->ConverterTerminate(0, false, true, message);
        },
        Qt::QueuedConnection);
    return;
  }
  FConverted->store(false);
  FErrors->Clear();
  ListenToLibraries(true);
  FReachedMs = -1;
  FStatedMs = 0;
  AddToLog(tr("Converting %1 into %2 (%3)")
               .arg(FromStd(FInputFileName), FromStd(FOutputFileName), cboxFormat->currentText()));
  FConverter->StartConvert(1);
}

void TfrmConvertItem::PauseItem() {
  FConverter->PauseConvert();
  SetState(isPaused);
}

void TfrmConvertItem::ResumeItem() {
  FConverter->ResumeConvert();
  SetState(isConverting);
}

void TfrmConvertItem::StopItem() {
  // The state follows the termination report that comes back.
  FConverter->StopConvert();
}

// The reload waits for the panel's turn: a long list starts at once, and the profile and folder
// chosen until then are the ones used.
void TfrmConvertItem::ResetItem() {
  // The log tells the conversion about to run, with its load.
  FLog.clear();
  ShowReason(QString());
  SetState(isWaiting);
  FReloadPending = true;
  pbarPreview->setValue(0);
}

void TfrmConvertItem::ReloadIfWaiting() {
  // The reload gives the name it claimed back first, and claims it again.
  if (FState == isWaiting && !FInputFileName.empty())
    LoadInputFile(FInputFileName);
}

void TfrmConvertItem::GiveUpClaim() {
  ReleaseOutputClaim(FLoaded);
  FReloadAwaited = true;
}

void TfrmConvertItem::AwaitReload(uint64_t ASerial) { FReloadSerial = ASerial; }

bool TfrmConvertItem::TakeReload(TFileLoad &ALoad) {
  if (!FReloadAwaited || ALoad.Serial != FReloadSerial || FState != isWaiting)
    return false;
  FReloadAwaited = false;
  if (!ALoad.OK) {
    FLastLoadError = ALoad.Error;
    FLoadFailed = true;
    AddToLog(FromStd(ALoad.Error));
    ShowMessage(window(), FromStd(ALoad.Error));
    return true;
  }
  FProbeRest->stop();
  FConverter = std::move(ALoad.Converter);
  ConnectConverter();
  FLoadFailed = false;
  ShowTexts(ALoad.Loaded);
  return true;
}

void TfrmConvertItem::ClosePanel() {
  // Reports still on their way concern a panel the list no longer has.
  FOnItemProgress = nullptr;
  FOnItemTerminate = nullptr;
  const bool ran = FState == isConverting || FState == isPaused;
  if (FConverter) {
    FConverter->AVProbe().CloseFile();
    FConverter->StopConvert();
    FConverter->ClearTasks();
    FConverter.reset();
  }
  // A conversion cut short by removing its panel leaves no half file behind: nothing shows
  // it any more, and the device page would list and copy it as a converted one.
  if (ran && FLoaded.OutputCreated && !FConverted->load())
    ::unlink(FOutputFileName.c_str());
  else if (FState == isWaiting)
    ReleaseOutputClaim(FLoaded);
  hide();
  deleteLater();
}

void TfrmConvertItem::ConverterProgress(int AFrameNumber, int AFPS, int ACurrentDuration,
                                        float AQuality, float ABitRate, int64_t ACurrentSize,
                                        int ATotalOutputDuration) {
  if (FOnItemProgress)
    FOnItemProgress(FIndex, AFrameNumber, AFPS, ACurrentDuration, AQuality, ABitRate, ACurrentSize,
                    ATotalOutputDuration, FState);
  // The same times as the command line's are taken; an absurd one keeps the last good one.
  if (ATotalOutputDuration > 0)
    FStatedMs = ATotalOutputDuration;
  if (ProgressTimeUsable(ACurrentDuration, FStatedMs))
    FReachedMs = ACurrentDuration;
  const int percent = PanelPercent(ACurrentDuration, ATotalOutputDuration);
  if (percent >= 0 && std::min(percent, 100) != pbarPreview->value())
    pbarPreview->setValue(std::min(percent, 100));
}

void TfrmConvertItem::ConverterTerminate(int AIndex, bool AFinished, bool AException,
                                         const std::string &AMessage) {
  if (!FOnItemTerminate || AIndex == -1)
    return;
  SetState(isTerminated);
  TTaskEnd end;
  end.Ended = true;
  end.Finished = AFinished;
  end.Exception = AException;
  end.Message = AMessage;
  // The thumbnail shows the picture the preview shows.
  FOutcome = ConcludeConversion(*FConverter, FInputFileName, FLoaded, end, FReachedMs, FStatedMs,
                                *FErrors, FPreviewTimeUs);
  ListenToLibraries(false);
  ShowOutcome();
  if (FOutcome.Kind == TOutcomeKind::okFinished)
    AddToLog(tr("Converted"));
  else if (FOutcome.Kind == TOutcomeKind::okFailed)
    AddToLog(tr("Failed: %1").arg(FromStd(FOutcome.Reason)));
  else
    AddToLog(tr("Stopped at %1%: %2").arg(pbarPreview->value()).arg(FromStd(FOutcome.Reason)));
  // The list hears the outcome, not the engine's word: an output that falls short has failed.
  const QPointer<TfrmConvertItem> self = FSelf;
  const bool finished = FOutcome.Finished();
  const bool failed = FOutcome.Kind == TOutcomeKind::okFailed;
  FOnItemTerminate(FIndex, finished, failed, failed ? FOutcome.Reason : AMessage);
  if (!self)
    return;
  if (finished && !FOutcome.ThumbnailWritten)
    PostMessage(window(), tr("The thumbnail of %1 was not written: %2")
                              .arg(FromStd(FOutputFileName), FromStd(FOutcome.ThumbnailError)));
  // The ended task lets its files go; the next Start sets a new one up.
  if (FConverter)
    FConverter->ClearTasks();
}

void TfrmConvertItem::ShowOutcome() {
  switch (FOutcome.Kind) {
  case TOutcomeKind::okFinished:
    pbarPreview->setValue(100);
    if (FOutcome.EndedEarly) {
      pbarPreview->setFormat(
          tr("Input ended at %1%").arg(PanelPercent(FOutcome.ReachedMs, FOutcome.StatedMs)));
      pbarPreview->setToolTip(
          tr("The input ended at %1 of the %2 it states: it may be cut short or damaged. "
             "What it held is converted.")
              .arg(FromStd(FormatDuration(FOutcome.ReachedMs)),
                   FromStd(FormatDuration(FOutcome.StatedMs))));
    }
    // The video is complete and stays converted; its bar keeps the warning after the message.
    if (!FOutcome.ThumbnailWritten) {
      pbarPreview->setFormat(tr("Done, no thumbnail"));
      pbarPreview->setToolTip(tr("The thumbnail of %1 was not written: %2")
                                  .arg(FromStd(FOutputFileName), FromStd(FOutcome.ThumbnailError)));
    }
    break;
  case TOutcomeKind::okFailed:
    pbarPreview->setFormat(tr("Failed"));
    pbarPreview->setToolTip(FromStd(FOutcome.Reason));
    ShowReason(FromStd(FOutcome.Reason));
    break;
  case TOutcomeKind::okStopped:
    pbarPreview->setFormat(tr("Stopped at %p%"));
    pbarPreview->setToolTip(FromStd(FOutcome.Reason));
    break;
  }
}

bool TfrmConvertItem::OpenProbe() {
  TAVProbe &probe = FConverter->AVProbe();
  if (probe.FileLoaded())
    return true;
  const std::string &name = FLoaded.InputFileName.empty() ? FInputFileName : FLoaded.InputFileName;
  return probe.LoadFile(name, FLoaded.InputFormat);
}

void TfrmConvertItem::ShowFrameAt(int64_t ATime) {
  if (!FConverter)
    return;
  TAVProbe &probe = FConverter->AVProbe();
  FPreviewTimeUs = ATime;
  try {
    if (!OpenProbe())
      throw std::runtime_error(probe.LastErrorMessage());
    probe.Seek(-1, ATime);
    ShowPreviewFrame(*probe.GetFrameBitmap(-1));
  } catch (const std::exception &) {
    // A stream without a decoder has no preview: the picture stays black.
    ShowPreviewFrame(TBGRImage());
  }
}

void TfrmConvertItem::ShowPreviewFrame(const TBGRImage &APicture, bool AFitted) {
  if (!AFitted)
    FitOnCanvas(APicture, FPreview, PreviewWidth, PreviewHeight, FLoaded.DisplayAspect);
  const QImage image(FPreview.Pixels.data(), FPreview.Width, FPreview.Height, FPreview.Stride,
                     QImage::Format_BGR888);
  imgThumb->setPixmap(QPixmap::fromImage(image));
}

bool TfrmConvertItem::eventFilter(QObject *AWatched, QEvent *AEvent) {
  // The slider moves the preview only once the user has been in it, so that moves of the
  // panel's own making never start a decode.
  if ((AWatched == lbInputFilename || AWatched == lbInfoString || AWatched == lbContent) &&
      AEvent->type() == QEvent::Resize)
    FitTexts();
  if (AWatched == gbOutput &&
      (AEvent->type() == QEvent::Resize || AEvent->type() == QEvent::FontChange ||
       AEvent->type() == QEvent::StyleChange))
    PlaceContentLine();
  if (AWatched == tbPreviewPos &&
      (AEvent->type() == QEvent::FocusIn || AEvent->type() == QEvent::MouseButtonPress ||
       AEvent->type() == QEvent::Wheel))
    FPreviewReady = true;
  return QFrame::eventFilter(AWatched, AEvent);
}

void TfrmConvertItem::tbPreviewPosChange() {
  if (!FPreviewReady || FPreviewPending)
    return;
  // Moves that arrive while a picture is decoded collapse into one for the latest position.
  FPreviewPending = true;
  QTimer::singleShot(0, this, [this] {
    FPreviewPending = false;
    ShowFrameAt(FDuration > 0 ? FDuration * tbPreviewPos->value() / 100 : 0);
    FProbeRest->start();
  });
}

void TfrmConvertItem::SetSelected(bool ASelected) {
  FSelected = ASelected;
  update();
}

void TfrmConvertItem::mousePressEvent(QMouseEvent *AEvent) {
  if (AEvent->button() == Qt::LeftButton)
    SetSelected(!FSelected);
  QFrame::mousePressEvent(AEvent);
}

void TfrmConvertItem::keyPressEvent(QKeyEvent *AEvent) {
  if (AEvent->key() == Qt::Key_Space && !AEvent->isAutoRepeat()) {
    SetSelected(!FSelected);
    return;
  }
  // "[" and "]" set the start and the end of the part to convert at the preview's picture.
  if ((AEvent->key() == Qt::Key_BracketLeft || AEvent->key() == Qt::Key_BracketRight) &&
      !AEvent->isAutoRepeat()) {
    if (AEvent->key() == Qt::Key_BracketLeft)
      SetRangeStart();
    else
      SetRangeEnd();
    return;
  }
  QFrame::keyPressEvent(AEvent);
}

void TfrmConvertItem::paintEvent(QPaintEvent *AEvent) {
  QFrame::paintEvent(AEvent);
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette &pal = palette();
  const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
  if (FSelected) {
    QColor fill = pal.color(QPalette::Highlight);
    fill.setAlpha(40);
    painter.setBrush(fill);
    painter.setPen(QPen(pal.color(QPalette::Highlight), 2.5));
  } else {
    painter.setBrush(pal.color(QPalette::Base).lighter(100));
    painter.setPen(QPen(pal.color(QPalette::Mid), 1));
  }
  painter.drawRoundedRect(box, 5, 5);
  if (hasFocus()) { // where Space would select
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(pal.color(QPalette::Highlight), 1, Qt::DashLine));
    painter.drawRoundedRect(box.adjusted(3, 3, -3, -3), 4, 4);
  }
}

void TfrmConvertItem::AddToLog(const QString &ALine) {
  // A damaged file can make the libraries complain about every packet: the start and the
  // latest lines are kept, which hold the setup and the end.
  constexpr int MaxLines = 2000;
  if (FLog.size() >= MaxLines)
    FLog.erase(FLog.begin() + MaxLines / 2, FLog.begin() + MaxLines / 2 + MaxLines / 10);
  FLog << ALine;
}

QString TfrmConvertItem::FileToPlay() const {
  const QString output = FromStd(FOutputFileName);
  if (FState == isTerminated && FConverted->load() && QFileInfo(output).size() > 0)
    return output;
  return FromStd(FInputFileName);
}

void TfrmConvertItem::ShowLog() {
  auto *dialog = new QDialog(window());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(
      tr("Log of %1").arg(OneLine(QFileInfo(FromStd(FInputFileName)).fileName())));
  auto *layout = new QVBoxLayout(dialog);
  auto *text = new QPlainTextEdit(dialog);
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setPlainText(FLog.isEmpty() ? tr("Nothing has been said about this file yet.") : LogText());
  layout->addWidget(text);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
  QPushButton *copy = buttons->addButton(tr("Copy"), QDialogButtonBox::ActionRole);
  connect(copy, &QPushButton::clicked, dialog,
          [text] { QGuiApplication::clipboard()->setText(text->toPlainText()); });
  connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
  layout->addWidget(buttons);
  dialog->resize(dialog->fontMetrics().averageCharWidth() * 90,
                 dialog->fontMetrics().height() * 24);
  dialog->show();
}

void TfrmConvertItem::contextMenuEvent(QContextMenuEvent *AEvent) {
  actOpenFolder->setEnabled(!FOutputFileName.empty() &&
                            QFileInfo(QFileInfo(FromStd(FOutputFileName)).absolutePath()).isDir());
  actPlay->setEnabled(QFileInfo(FileToPlay()).isFile());
  RefreshContentActions();
  mnuPanel->exec(AEvent->globalPos());
}

// The reason is what the message says after the file's name ("…clip.mov: no such file or
// directory"); all of it is on the tooltip and in the log. Empty: the panel has not failed.
void TfrmConvertItem::ShowReason(const QString &AMessage) {
  FReason = AMessage;
  lbReason->setVisible(!AMessage.isEmpty());
  if (AMessage.isEmpty())
    return;
  QString reason = AMessage;
  for (const std::string &name : {FInputFileName, FOutputFileName}) {
    const QString named = FromStd(name) + QStringLiteral(": ");
    const int at = name.empty() ? -1 : AMessage.indexOf(named);
    if (at >= 0 && at + named.size() < AMessage.size()) {
      reason = AMessage.mid(at + named.size());
      break;
    }
  }
  lbReason->setText(tr("Failed: %1").arg(reason));
  lbReason->setToolTip(AMessage);
  imgThumb->setToolTip(AMessage);
  const int height = std::min(lbReason->heightForWidth(PreviewWidth), PreviewHeight);
  lbReason->setGeometry(0, PreviewHeight - height, PreviewWidth, height);
}
