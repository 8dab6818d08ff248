#include "ui/panel_output.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <algorithm>

#include "app/format_line.h"
#include "app/profiles.h"
#include "app/window_rules.h"
#include "ui/convert_item.h"
#include "ui/fitted_bar.h"
#include "ui/panel_input.h"
#include "ui/text_fit.h"

namespace {

QString FromStd(const std::string &AText) { return QString::fromStdString(AText); }

} // namespace

TPanelOutput::TPanelOutput(QWidget *AParent) : QGroupBox(TfrmConvertItem::tr("Output"), AParent) {
  QGridLayout *output = PanelGrid(*this);
  edOutputFilename = new TPathField(this);
  edOutputFilename->setReadOnly(true);
  edTitle = new QLineEdit(this);
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
  pbarPreview = new TFittedBar(this, {TfrmConvertItem::tr("Stopped at %1%").arg(100),
                                      TfrmConvertItem::tr("Done, no thumbnail")});
  pbarPreview->setRange(0, 100);
  pbarPreview->setValue(0);
  pbarPreview->setTextVisible(true);
  // The bar shares the title's row: the profile list needs its whole width, the title does not.
  // Screen readers name a field by its caption; a combo box on Linux only so, as its name
  // there is the item chosen.
  AddCaption(*output, 0, QT_TRANSLATE_NOOP("TfrmConvertItem", "Filename:"))
      ->setBuddy(edOutputFilename);
  output->addWidget(edOutputFilename, 0, 1, 1, 2);
  AddCaption(*output, 1, QT_TRANSLATE_NOOP("TfrmConvertItem", "Title:"))->setBuddy(edTitle);
  output->addWidget(edTitle, 1, 1);
  output->addWidget(pbarPreview, 1, 2);
  AddCaption(*output, 2, QT_TRANSLATE_NOOP("TfrmConvertItem", "Format:"))->setBuddy(cboxFormat);
  lbExpectedSize = new QLabel(this);
  lbExpectedSize->setToolTip(TfrmConvertItem::tr("Expected size of the converted file"));
  lbExpectedSize->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // It takes the bar's column, and gives up its "about" rather than widen a narrow panel.
  lbExpectedSize->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lbExpectedSize->installEventFilter(this);
  // The list keeps its own width beside the title's column; the estimate sits under the bar.
  auto *formatRow = new QHBoxLayout;
  formatRow->addWidget(cboxFormat);
  formatRow->addStretch(1);
  output->addLayout(formatRow, 2, 1);
  output->addWidget(lbExpectedSize, 2, 2);
  output->setColumnStretch(1, 1);
  // On the group's title line, in a word, what else goes into the file (chosen from the panel's
  // context menu): the part converted, the sound, the subtitles. That line is free the whole
  // group's width, so the panel keeps its size and rows.
  lbContent = new QLabel(this);
  lbContent->setObjectName(QStringLiteral("lbContent"));
  lbContent->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  lbContent->installEventFilter(this);
  installEventFilter(this);
  connect(cboxFormat, QOverload<int>::of(&QComboBox::activated), this,
          &TPanelOutput::ProfileChosen);
}

// The profiles, the default chosen.
void TPanelOutput::CreateFormatBox() {
  auto *format = new TElidedComboBox(this);
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

void TPanelOutput::ShowLoad(const TConversionJob &AJob, int AProfile, int64_t AExpectedSize) {
  if (cboxFormat->currentIndex() != AProfile)
    cboxFormat->setCurrentIndex(AProfile);
  FSize = AExpectedSize > 0 ? FromStd(FormatSizeKB(AExpectedSize)) : QString();
  FitSize();
  const QString name = FromStd(AJob.Loaded.OutputFileName);
  edOutputFilename->setText(name);
  edOutputFilename->setToolTip(name);
  // With the focus the field shows its path from the end: the file itself.
  edOutputFilename->end(false);
  edTitle->setText(FromStd(AJob.Loaded.Title));
  edTitle->setCursorPosition(0);
}

void TPanelOutput::ShowProgress(const TConversionJob &AJob) {
  // A conversion under way keeps the profile it started with, so the list offers no other.
  const TItemState state = ItemStateOf(AJob.State);
  cboxFormat->setEnabled(state != isConverting && state != isPaused);
  // Loaded again for a new folder or choice, the file could not be: it says why.
  if (AJob.State == TConversionState::csFailed) {
    pbarPreview->setValue(0);
    pbarPreview->setFormat(TfrmConvertItem::tr("Failed"));
    pbarPreview->setToolTip(FromStd(AJob.Message));
    return;
  }
  pbarPreview->setToolTip(QString());
  if (state == isWaiting) {
    pbarPreview->setValue(0);
    pbarPreview->setFormat(QStringLiteral("%p%"));
    return;
  }
  pbarPreview->setFormat(state == isPaused ? TfrmConvertItem::tr("Paused at %p%")
                                           : QStringLiteral("%p%"));
  const int percent = PanelPercent(AJob.CurrentMs, AJob.DurationMs);
  if (percent >= 0 && std::min(percent, 100) != pbarPreview->value())
    pbarPreview->setValue(std::min(percent, 100));
}

void TPanelOutput::ShowOutcome(const TConversionJob &AJob) {
  cboxFormat->setEnabled(true);
  const TConversionOutcome &outcome = AJob.Outcome;
  pbarPreview->setToolTip(QString());
  switch (outcome.Kind) {
  case TOutcomeKind::okFinished:
    pbarPreview->setValue(100);
    pbarPreview->setFormat(QStringLiteral("%p%"));
    if (outcome.EndedEarly) {
      pbarPreview->setFormat(TfrmConvertItem::tr("Input ended at %1%")
                                 .arg(PanelPercent(outcome.ReachedMs, outcome.StatedMs)));
      pbarPreview->setToolTip(
          TfrmConvertItem::tr("The input ended at %1 of the %2 it states: it may be cut short or "
                              "damaged. What it held is converted.")
              .arg(FromStd(FormatDuration(outcome.ReachedMs)),
                   FromStd(FormatDuration(outcome.StatedMs))));
    }
    // The video is complete and stays converted; its bar keeps the warning after the message.
    if (!outcome.ThumbnailWritten) {
      pbarPreview->setFormat(TfrmConvertItem::tr("Done, no thumbnail"));
      pbarPreview->setToolTip(
          TfrmConvertItem::tr("The thumbnail of %1 was not written: %2")
              .arg(FromStd(AJob.Loaded.OutputFileName), FromStd(outcome.ThumbnailError)));
    }
    break;
  case TOutcomeKind::okFailed:
    pbarPreview->setFormat(TfrmConvertItem::tr("Failed"));
    pbarPreview->setToolTip(FromStd(outcome.Reason));
    break;
  case TOutcomeKind::okStopped:
    pbarPreview->setFormat(TfrmConvertItem::tr("Stopped at %p%"));
    pbarPreview->setToolTip(FromStd(outcome.Reason));
    break;
  }
}

void TPanelOutput::ShowContent(const QString &AText, const QString &AFull) {
  FContentText = AText;
  lbContent->setToolTip(AFull);
  FitContent();
}

void TPanelOutput::FitSize() {
  const QFontMetrics metrics = lbExpectedSize->fontMetrics();
  lbExpectedSize->setMinimumWidth(metrics.horizontalAdvance(FSize) + 2);
  const QString about = FSize.isEmpty() ? QString() : TfrmConvertItem::tr("about %1").arg(FSize);
  lbExpectedSize->setText(metrics.horizontalAdvance(about) < lbExpectedSize->width() ? about
                                                                                     : FSize);
}

void TPanelOutput::FitContent() {
  lbContent->setText(lbContent->fontMetrics().elidedText(FContentText, Qt::ElideRight,
                                                         std::max(lbContent->width(), 40)));
}

bool TPanelOutput::eventFilter(QObject *AWatched, QEvent *AEvent) {
  if (AWatched == lbContent && AEvent->type() == QEvent::Resize)
    FitContent();
  if (AWatched == lbExpectedSize &&
      (AEvent->type() == QEvent::Resize || AEvent->type() == QEvent::FontChange))
    FitSize();
  if (AWatched == this &&
      (AEvent->type() == QEvent::Resize || AEvent->type() == QEvent::FontChange ||
       AEvent->type() == QEvent::StyleChange))
    PlaceContentLine();
  return QGroupBox::eventFilter(AWatched, AEvent);
}

// After the group's title and a gap of two letters, to the group's right margin.
void TPanelOutput::PlaceContentLine() {
  QStyleOptionGroupBox option;
  option.initFrom(this);
  option.text = title();
  option.textAlignment = alignment();
  option.lineWidth = 1;
  option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  const QRect label =
      style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
  const int left = label.right() + 1 + 2 * fontMetrics().averageCharWidth();
  const int right = width() - layout()->contentsMargins().right();
  lbContent->setGeometry(left, label.top(), std::max(0, right - left), label.height());
}
