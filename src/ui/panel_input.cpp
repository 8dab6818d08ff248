#include "ui/panel_input.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>

#include "app/format_line.h"
#include "ui/convert_item.h"
#include "ui/messages.h"
#include "ui/text_fit.h"

namespace {

QString FromStd(const std::string &AText) { return QString::fromStdString(AText); }

} // namespace

QGridLayout *PanelGrid(QGroupBox &AGroup) {
  auto *grid = new QGridLayout(&AGroup);
  grid->setContentsMargins(3, 4, 3, 6);
  grid->setVerticalSpacing(4);
  return grid;
}

QLabel *AddCaption(QGridLayout &AGrid, int ARow, const char *AText) {
  auto *caption =
      new QLabel(QCoreApplication::translate("TfrmConvertItem", AText), AGrid.parentWidget());
  caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  AGrid.addWidget(caption, ARow, 0);
  return caption;
}

TPanelInput::TPanelInput(QWidget *AParent) : QGroupBox(TfrmConvertItem::tr("Input"), AParent) {
  QGridLayout *input = PanelGrid(*this);
  lbInputFilename = new QLabel(this);
  lbInfoString = new QLabel(this);
  lbDuration = new QLabel(QStringLiteral("00:00:00.00"), this);
  // However narrow the panel, a duration shows in full; the name and format shorten to it.
  const int valueWidth = lbDuration->fontMetrics().horizontalAdvance(lbDuration->text()) + 2;
  for (QLabel *value : {lbInputFilename, lbInfoString, lbDuration}) {
    value->setMinimumWidth(valueWidth);
    value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  lbInputFilename->installEventFilter(this);
  lbInfoString->installEventFilter(this);
  const char *captions[] = {QT_TRANSLATE_NOOP("TfrmConvertItem", "Filename:"),
                            QT_TRANSLATE_NOOP("TfrmConvertItem", "Format:"),
                            QT_TRANSLATE_NOOP("TfrmConvertItem", "Duration:")};
  QLabel *values[] = {lbInputFilename, lbInfoString, lbDuration};
  for (int row = 0; row < 3; ++row) {
    AddCaption(*input, row, captions[row]);
    input->addWidget(values[row], row, 1);
  }
  // The values' column is as narrow as a duration: the file's name keeps its extension anyway.
  input->setColumnMinimumWidth(1, valueWidth);
  input->setColumnStretch(1, 1);
}

void TPanelInput::ShowJob(const TConversionJob &AJob) {
  FName = OneLine(FromStd(AJob.InputFile));
  lbInputFilename->setToolTip(FName);
  if (AJob.Ready) {
    const int64_t durationUs = AJob.Loaded.DurationUs;
    lbDuration->setText(FromStd(FormatDuration(durationUs >= 0 ? durationUs / 1000 : -1)));
    FFormat = FromStd(FormatLineOf(AJob.Loaded));
    lbInfoString->setToolTip(FromStd(FormatLineDetails(AJob.Loaded)));
  }
  FitTexts();
}

// A path loses the middle of its folder (the file name stays), the format line loses the
// format's name (rate and size stay). The whole text is in the tooltip.
void TPanelInput::FitTexts() {
  lbInputFilename->setText(
      ElidePath(lbInputFilename->fontMetrics(), FName, lbInputFilename->width()));
  lbInfoString->setText(FitParts(lbInfoString->fontMetrics(), FFormat, lbInfoString->width()));
}

bool TPanelInput::eventFilter(QObject *AWatched, QEvent *AEvent) {
  if ((AWatched == lbInputFilename || AWatched == lbInfoString) && AEvent->type() == QEvent::Resize)
    FitTexts();
  return QGroupBox::eventFilter(AWatched, AEvent);
}
