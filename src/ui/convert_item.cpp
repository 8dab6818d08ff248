#include "ui/convert_item.h"

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
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QProgressBar>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

#include "app/format_line.h"
#include "app/profiles.h"
#include "app/size_estimate.h"
#include "app/thumbnail.h"
#include "app/window_rules.h"
#include "ui/folders_page.h"
#include "ui/messages.h"
#include "ui/panel_names.h"
#include "ui/preview_box.h"
#include "ui/text_fit.h"

namespace {

QLabel *Caption(const char *AText, QWidget *AParent) {
  auto *label = new QLabel(QCoreApplication::translate("TfrmConvertItem", AText), AParent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

QString FromStd(const std::string &AText) { return QString::fromStdString(AText); }

// A bar that may be narrower than its caption: the caption loses its middle, so the percentage
// at its end stays; text() and the screen reader keep all of it. Its preferred width is that
// of its longest caption, its narrowest that of a percentage.
class TFittedBar : public QProgressBar {
public:
  TFittedBar(QWidget *AParent, const QStringList &ALongest)
      : QProgressBar(AParent), FLongest(ALongest) {}

  QSize sizeHint() const override {
    int longest = fontMetrics().horizontalAdvance(QStringLiteral("100%"));
    for (const QString &caption : FLongest)
      longest = std::max(longest, fontMetrics().horizontalAdvance(caption));
    return {longest + Padding, QProgressBar::sizeHint().height()};
  }
  QSize minimumSizeHint() const override {
    return {fontMetrics().horizontalAdvance(QStringLiteral("100%")) + Padding,
            QProgressBar::minimumSizeHint().height()};
  }

protected:
  void paintEvent(QPaintEvent * /*AEvent*/) override {
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    option.text =
        fontMetrics().elidedText(option.text, Qt::ElideMiddle, std::max(width() - Padding, 0));
    QPainter painter(this);
    style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
  }

private:
  static constexpr int Padding = 16;
  QStringList FLongest;
};

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
    : QFrame(AParent), FQueue(AQueue) {
  FJob.Id = AJobId;
  setFixedHeight(DesignHeight);
  // Tab stops at the panel itself too: Space there selects it, as a click does.
  setFocusPolicy(Qt::TabFocus);
  resize(DesignWidth, DesignHeight);
  setAutoFillBackground(false);

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
  // Over the foot of the picture, on a failed panel: why, in short, whatever the panel's width.
  lbReason = new QLabel(imgThumb);
  lbReason->setWordWrap(true);
  lbReason->setAlignment(Qt::AlignCenter);
  lbReason->setStyleSheet(
      QStringLiteral("background: rgba(0, 0, 0, 190); color: white; padding: 2px;"));
  lbReason->hide();
  ARow.addWidget(boxPreview, 0, Qt::AlignTop);
}

void TfrmConvertItem::CreateInputGroup(QHBoxLayout &ARow) {
  gbInput = new QGroupBox(tr("Input"), this);
  auto *input = new QGridLayout(gbInput);
  input->setContentsMargins(3, 4, 3, 6);
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
  // The values' column is as narrow as a duration: the file's name keeps its extension anyway.
  input->setColumnMinimumWidth(1, valueWidth);
  input->setColumnStretch(1, 1);
  ARow.addWidget(gbInput, 3);
}

void TfrmConvertItem::CreateOutputGroup(QHBoxLayout &ARow) {
  gbOutput = new QGroupBox(tr("Output"), this);
  auto *output = new QGridLayout(gbOutput);
  output->setContentsMargins(3, 4, 3, 6);
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
  // As wide as its longest captions where there is room; on an 800-pixel screen it shortens.
  pbarPreview = new TFittedBar(gbOutput, {tr("Stopped at %1%").arg(100), tr("Done, no thumbnail")});
  pbarPreview->setRange(0, 100);
  pbarPreview->setValue(0);
  pbarPreview->setTextVisible(true);
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
  // The output's name and folder follow the profile at once, not only at the next Start: the
  // queue loads the file again and tells the new name.
  connect(cboxFormat, QOverload<int>::of(&QComboBox::activated), this, [this](int AProfile) {
    FProfile = AProfile;
    FQueue.SetChoice(FJob.Id, FProfile, FContent);
  });
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
  const bool firstPicture = AJob.Preview.Width > 0 && FJob.Preview.Width == 0;
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
                         FJob.Loaded.DurationUs, &FJob.Preview);
  if (FJob.Ready && !AProgress)
    ShowLoad();
  FState = ItemStateOf(FJob.State);
  // A conversion under way keeps the profile it started with, so the list offers no other.
  cboxFormat->setEnabled(FState != isConverting && FState != isPaused);
  if (!FJob.Ended)
    ShowProgress();
  else if (ended)
    ShowOutcome();
  if (FJob.ChoiceRefusals > FShownRefusals) {
    FShownRefusals = FJob.ChoiceRefusals;
    PostMessage(window(), FromStd(FJob.ChoiceRefused));
  }
}

void TfrmConvertItem::ShowLoad() {
  const TLoadedConversion &loaded = FJob.Loaded;
  if (cboxFormat->currentIndex() != FProfile)
    cboxFormat->setCurrentIndex(FProfile);
  NamePanelForScreenReaders(*this);
  lbInfoString->setText(FromStd(FormatLineOf(loaded)));
  lbDuration->setText(
      FromStd(FormatDuration(loaded.DurationUs >= 0 ? loaded.DurationUs / 1000 : -1)));
  // The estimate follows the part converted, at the rate a fit to the stick chose.
  FExpectedSize = EstimateOutputSize(FJob.ProfileIndex, loaded.OutputDurationUs, loaded.SrcW > 0,
                                     FJob.Content.VideoBitrate);
  lbExpectedSize->setText(
      FExpectedSize > 0 ? tr("about %1").arg(FromStd(FormatSizeKB(FExpectedSize))) : QString());
  edOutputFilename->setText(FromStd(loaded.OutputFileName));
  edOutputFilename->setToolTip(FromStd(loaded.OutputFileName));
  edTitle->setText(FromStd(loaded.Title));
  edTitle->setCursorPosition(0);
  FitTexts();
}

void TfrmConvertItem::ShowProgress() {
  // Loaded again for a new folder or choice, the file could not be: it says why.
  if (FJob.State == TConversionState::csFailed) {
    pbarPreview->setValue(0);
    pbarPreview->setFormat(tr("Failed"));
    pbarPreview->setToolTip(FromStd(FJob.Message));
    ShowReason(FromStd(FJob.Message));
    return;
  }
  ShowReason(QString());
  pbarPreview->setToolTip(QString());
  if (FState == isWaiting) {
    pbarPreview->setValue(0);
    pbarPreview->setFormat(QStringLiteral("%p%"));
    return;
  }
  if (FState == isPaused)
    pbarPreview->setFormat(tr("Paused at %p%"));
  else
    pbarPreview->setFormat(QStringLiteral("%p%"));
  const int percent = PanelPercent(FJob.CurrentMs, FJob.DurationMs);
  if (percent >= 0 && std::min(percent, 100) != pbarPreview->value())
    pbarPreview->setValue(std::min(percent, 100));
}

// Texts wider than their field are shortened where they say least: a path loses the middle of
// its folder (the file name stays), the format line loses the format's name (rate and size
// stay). The whole text is in the tooltip.
void TfrmConvertItem::FitTexts() {
  const QString name = OneLine(FromStd(FJob.InputFile));
  lbInputFilename->setToolTip(name);
  lbInputFilename->setText(
      ElidePath(lbInputFilename->fontMetrics(), name, lbInputFilename->width()));
  if (!FJob.Ready)
    return;
  lbInfoString->setToolTip(FromStd(FormatLineDetails(FJob.Loaded)));
  lbInfoString->setText(FitParts(lbInfoString->fontMetrics(), FromStd(FormatLineOf(FJob.Loaded)),
                                 lbInfoString->width()));
  // With the focus the output field shows its path from the end: the file itself.
  edOutputFilename->end(false);
  ShowContent();
}

// The bar and the reason say how the conversion ended; a missing thumbnail is told once too.
void TfrmConvertItem::ShowOutcome() {
  pbarPreview->setToolTip(QString());
  ShowReason(QString());
  if (FJob.Outcome.Finished() && !FJob.Outcome.ThumbnailWritten)
    PostMessage(window(),
                tr("The thumbnail of %1 was not written: %2")
                    .arg(FromStd(OutputFileName()), FromStd(FJob.Outcome.ThumbnailError)));
  switch (FJob.Outcome.Kind) {
  case TOutcomeKind::okFinished:
    pbarPreview->setValue(100);
    pbarPreview->setFormat(QStringLiteral("%p%"));
    if (FJob.Outcome.EndedEarly) {
      pbarPreview->setFormat(tr("Input ended at %1%")
                                 .arg(PanelPercent(FJob.Outcome.ReachedMs, FJob.Outcome.StatedMs)));
      pbarPreview->setToolTip(
          tr("The input ended at %1 of the %2 it states: it may be cut short or damaged. "
             "What it held is converted.")
              .arg(FromStd(FormatDuration(FJob.Outcome.ReachedMs)),
                   FromStd(FormatDuration(FJob.Outcome.StatedMs))));
    }
    // The video is complete and stays converted; its bar keeps the warning after the message.
    if (!FJob.Outcome.ThumbnailWritten) {
      pbarPreview->setFormat(tr("Done, no thumbnail"));
      pbarPreview->setToolTip(
          tr("The thumbnail of %1 was not written: %2")
              .arg(FromStd(OutputFileName()), FromStd(FJob.Outcome.ThumbnailError)));
    }
    break;
  case TOutcomeKind::okFailed:
    pbarPreview->setFormat(tr("Failed"));
    pbarPreview->setToolTip(FromStd(FJob.Outcome.Reason));
    ShowReason(FromStd(FJob.Outcome.Reason));
    break;
  case TOutcomeKind::okStopped:
    pbarPreview->setFormat(tr("Stopped at %p%"));
    pbarPreview->setToolTip(FromStd(FJob.Outcome.Reason));
    break;
  }
}
bool TfrmConvertItem::eventFilter(QObject *AWatched, QEvent *AEvent) {
  if ((AWatched == lbInputFilename || AWatched == lbInfoString || AWatched == lbContent) &&
      AEvent->type() == QEvent::Resize)
    FitTexts();
  if (AWatched == gbOutput &&
      (AEvent->type() == QEvent::Resize || AEvent->type() == QEvent::FontChange ||
       AEvent->type() == QEvent::StyleChange))
    PlaceContentLine();
  return QFrame::eventFilter(AWatched, AEvent);
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
QString TfrmConvertItem::LogText() const {
  QStringList lines;
  for (const std::string &line : FJob.Log)
    lines << FromStd(line).trimmed();
  return lines.join(QLatin1Char('\n'));
}

QString TfrmConvertItem::FileToPlay() const {
  const QString output = FromStd(OutputFileName());
  if (FJob.State == TConversionState::csFinished && QFileInfo(output).size() > 0)
    return output;
  return FromStd(FJob.InputFile);
}

void TfrmConvertItem::ShowLog() {
  auto *dialog = new QDialog(window());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(
      tr("Log of %1").arg(OneLine(QFileInfo(FromStd(FJob.InputFile)).fileName())));
  auto *layout = new QVBoxLayout(dialog);
  auto *text = new QPlainTextEdit(dialog);
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setPlainText(FJob.Log.empty() ? tr("Nothing has been said about this file yet.")
                                      : LogText());
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
  actOpenFolder->setEnabled(!OutputFileName().empty() &&
                            QFileInfo(QFileInfo(FromStd(OutputFileName())).absolutePath()).isDir());
  actPlay->setEnabled(QFileInfo(FileToPlay()).isFile());
  RefreshContentActions();
  mnuPanel->exec(AEvent->globalPos());
}

// The reason is what the message says after the file's name ("…clip.mov: no such file or
// directory"); all of it is on the tooltip and in the log. Empty: the panel has not failed.
void TfrmConvertItem::ShowReason(const QString &AMessage) {
  lbReason->setVisible(!AMessage.isEmpty());
  if (AMessage.isEmpty())
    return;
  QString reason = AMessage;
  for (const std::string &name : {FJob.InputFile, OutputFileName()}) {
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
