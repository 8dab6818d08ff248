#include "ui/convert_item.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QUrl>

#include "app/size_estimate.h"
#include "ui/content_menu.h"
#include "ui/folders_page.h"
#include "ui/log_view.h"
#include "ui/messages.h"
#include "ui/panel_input.h"
#include "ui/panel_names.h"
#include "ui/panel_output.h"
#include "ui/panel_picture.h"
#include "ui/preview_box.h"

namespace {

QString FromStd(const std::string &AText) { return QString::fromStdString(AText); }

} // namespace

TItemState ItemStateOf(TConversionState AState) {
  switch (AState) {
  case TConversionState::csConverting:
    return isConverting;
  case TConversionState::csPaused:
    return isPaused;
  case TConversionState::csWaiting:
  case TConversionState::csLoading:
    return isWaiting;
  default:
    return isTerminated;
  }
}

TfrmConvertItem::TfrmConvertItem(QWidget *AParent, TConversionQueue &AQueue, int AJobId)
    : TSelectableFrame(AParent), FQueue(AQueue) {
  FJob.Id = AJobId;
  setFixedHeight(DesignHeight);
  resize(DesignWidth, DesignHeight);
  auto *row = new QHBoxLayout(this);
  row->setContentsMargins(5, 5, 5, 5);
  row->setSpacing(5);
  CreatePreview(*row);
  CreateInputGroup(*row);
  CreateOutputGroup(*row);
  CreateMenu();
}

TfrmConvertItem::~TfrmConvertItem() = default;

// The preview box decodes its pictures off the window's thread; the thumbnail takes the one
// it shows.
void TfrmConvertItem::CreatePreview(QHBoxLayout &ARow) {
  boxPreview = new TPreviewBox(this);
  imgThumb = boxPreview->imgThumb;
  tbPreviewPos = boxPreview->tbPreviewPos;
  connect(boxPreview, &TPreviewBox::PictureTimeChanged, this, [this](int64_t ATimeUs) {
    FPreviewTimeUs = ATimeUs;
    FQueue.SetPictureTime(FJob.Id, ATimeUs);
  });
  lbReason = new TReasonLabel(imgThumb);
  ARow.addWidget(boxPreview, 0, Qt::AlignTop);
}

void TfrmConvertItem::CreateInputGroup(QHBoxLayout &ARow) {
  gbInput = new TPanelInput(this);
  lbInputFilename = gbInput->lbInputFilename;
  lbInfoString = gbInput->lbInfoString;
  lbDuration = gbInput->lbDuration;
  ARow.addWidget(gbInput, 3);
}

void TfrmConvertItem::CreateOutputGroup(QHBoxLayout &ARow) {
  gbOutput = new TPanelOutput(this);
  edOutputFilename = gbOutput->edOutputFilename;
  edTitle = gbOutput->edTitle;
  cboxFormat = gbOutput->cboxFormat;
  lbExpectedSize = gbOutput->lbExpectedSize;
  pbarPreview = gbOutput->pbarPreview;
  lbContent = gbOutput->lbContent;
  // The groups share the room as the design's panel does, about 3 to 7: the output has the more
  // to show (the path with its folder, title, bar, profile).
  ARow.addWidget(gbOutput, 7);
  // The output's name and folder follow the profile at once, not only at the next Start: the
  // queue loads the file again and tells the new name.
  connect(gbOutput, &TPanelOutput::ProfileChosen, this, [this](int AProfile) {
    FProfile = AProfile;
    FQueue.SetChoice(FJob.Id, FProfile, FContent);
  });
}

void TfrmConvertItem::CreateMenu() {
  mnuPanel = new QMenu(this);
  actShowLog = mnuPanel->addAction(tr("Show log\u2026"), this, [this] { ShowLog(); });
  actOpenFolder = mnuPanel->addAction(tr("Open containing folder"), this, [this] {
    const QString folder = QFileInfo(FromStd(OutputFileName())).absolutePath();
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

// A job's snapshot: what its load found, how far it converts, how it ended.
void TfrmConvertItem::ShowJob(const TConversionJob &AJob, bool AProgress) {
  const bool firstPicture = AJob.Preview && !FJob.Preview;
  const bool ended = AJob.Ended && !FJob.Ended;
  // The first snapshot, or one that refused a choice, says what is chosen.
  const bool chosen = !FJob.Ready || AJob.ChoiceRefusals > FShownRefusals;
  FJob = AJob;
  if (chosen) {
    FProfile = FJob.ProfileIndex;
    FContent = FJob.Content;
  }
  // The box shows the picture the load took until the slider moves.
  if (firstPicture)
    boxPreview->SetInput(FJob.Loaded.InputFileName.empty() ? FJob.InputFile
                                                           : FJob.Loaded.InputFileName,
                         FJob.Loaded.DurationUs, FJob.Preview);
  if (FJob.Ready && !AProgress)
    ShowLoad();
  FState = ItemStateOf(FJob.State);
  if (!FJob.Ended) {
    gbOutput->ShowProgress(FJob);
    ShowReason(FJob.State == TConversionState::csFailed ? FJob.Message : std::string());
  } else if (ended) {
    ShowEnd();
  }
  if (FJob.ChoiceRefusals > FShownRefusals) {
    FShownRefusals = FJob.ChoiceRefusals;
    PostMessage(window(), FromStd(FJob.ChoiceRefused));
  }
  if (FLogView)
    FLogView->Follow(FQueue, FJob);
}

void TfrmConvertItem::ShowLoad() {
  NamePanelForScreenReaders(*this);
  gbInput->ShowJob(FJob);
  // The estimate follows the part converted, at the rate a fit to the stick chose.
  FExpectedSize = EstimateOutputSize(FJob.ProfileIndex, FJob.Loaded.OutputDurationUs,
                                     FJob.Loaded.SrcW > 0, FJob.Content.VideoBitrate);
  gbOutput->ShowLoad(FJob, FProfile, FExpectedSize);
  ShowContent();
}

// The bar and the reason say how the conversion ended; a missing thumbnail is told once too.
void TfrmConvertItem::ShowEnd() {
  gbOutput->ShowOutcome(FJob);
  const TConversionOutcome &outcome = FJob.Outcome;
  ShowReason(outcome.Kind == TOutcomeKind::okFailed ? outcome.Reason : std::string());
  if (outcome.Finished() && !outcome.ThumbnailWritten)
    PostMessage(window(), tr("The thumbnail of %1 was not written: %2")
                              .arg(FromStd(OutputFileName()), FromStd(outcome.ThumbnailError)));
}

void TfrmConvertItem::keyPressEvent(QKeyEvent *AEvent) {
  // "[" and "]" set the start and the end of the part to convert at the preview's picture.
  if ((AEvent->key() == Qt::Key_BracketLeft || AEvent->key() == Qt::Key_BracketRight) &&
      !AEvent->isAutoRepeat()) {
    if (AEvent->key() == Qt::Key_BracketLeft)
      SetRangeStart();
    else
      SetRangeEnd();
    return;
  }
  TSelectableFrame::keyPressEvent(AEvent);
}

QString TfrmConvertItem::LogText() const { return TLogView::Text(FQueue.Log(FJob.Id)); }

QString TfrmConvertItem::FileToPlay() const {
  const QString output = FromStd(OutputFileName());
  if (FJob.State == TConversionState::csFinished && QFileInfo(output).size() > 0)
    return output;
  return FromStd(FJob.InputFile);
}

// The log is fetched from the queue as the view needs it: a snapshot carries only its length.
void TfrmConvertItem::ShowLog() {
  if (!FLogView) {
    FLogView = new TLogView(window(), OneLine(QFileInfo(FromStd(FJob.InputFile)).fileName()));
    FLogView->Follow(FQueue, FJob);
  }
  FLogView->show();
  FLogView->raise();
  FLogView->activateWindow();
}

void TfrmConvertItem::contextMenuEvent(QContextMenuEvent *AEvent) {
  actOpenFolder->setEnabled(!OutputFileName().empty() &&
                            QFileInfo(QFileInfo(FromStd(OutputFileName())).absolutePath()).isDir());
  actPlay->setEnabled(QFileInfo(FileToPlay()).isFile());
  RefreshContentActions();
  mnuPanel->exec(AEvent->globalPos());
}

// All of the message is on the tooltips and in the log. Empty: the panel has not failed.
void TfrmConvertItem::ShowReason(const std::string &AMessage) {
  lbReason->ShowReason(FromStd(AMessage.empty() ? AMessage : ShortReason(FJob, AMessage)),
                       FromStd(AMessage));
}

void TfrmConvertItem::SetContentChoice(const TContentChoice &AChoice) {
  FContent = AChoice;
  FQueue.SetChoice(FJob.Id, FProfile, FContent);
  ShowContent();
}

bool TfrmConvertItem::MayMark() const { return FState == isWaiting && Duration() > 0; }

void TfrmConvertItem::SetRangeStart() {
  if (MayMark())
    SetContentChoice(MarkedAt(FContent, FPreviewTimeUs, true));
}

void TfrmConvertItem::SetRangeEnd() {
  if (MayMark())
    SetContentChoice(MarkedAt(FContent, FPreviewTimeUs, false));
}

void TfrmConvertItem::AddContentActions(QMenu &AMenu) {
  const TContentFacts facts{FJob, FContent, FState == isWaiting && FJob.Ready, FPreviewTimeUs};
  ::AddContentActions(
      AMenu, facts, [this](const TContentChoice &AChoice) { SetContentChoice(AChoice); }, window());
}

// The content entries head the panel's context menu, made afresh from what the file offers
// each time it opens.
void TfrmConvertItem::RefreshContentActions() {
  if (FContentHolder) {
    for (QAction *action : FContentHolder->actions())
      mnuPanel->removeAction(action);
    delete FContentHolder;
  }
  FContentHolder = new QMenu(this);
  AddContentActions(*FContentHolder);
  FContentHolder->addSeparator();
  const QList<QAction *> existing = mnuPanel->actions();
  mnuPanel->insertActions(existing.isEmpty() ? nullptr : existing.first(),
                          FContentHolder->actions());
}

void TfrmConvertItem::ShowContent() {
  QString full;
  const QString text = ContentLine({FJob, FContent, false, 0}, full);
  gbOutput->ShowContent(text, full);
}
