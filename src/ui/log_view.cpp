#include "ui/log_view.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/convert_item.h"

TLogView::TLogView(QWidget *AParent, const QString &AFileName) : QDialog(AParent) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(TfrmConvertItem::tr("Log of %1").arg(AFileName));
  auto *layout = new QVBoxLayout(this);
  FText = new QPlainTextEdit(this);
  FText->setReadOnly(true);
  FText->setLineWrapMode(QPlainTextEdit::NoWrap);
  layout->addWidget(FText);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  QPushButton *copy = buttons->addButton(TfrmConvertItem::tr("Copy"), QDialogButtonBox::ActionRole);
  connect(copy, &QPushButton::clicked, this,
          [this] { QGuiApplication::clipboard()->setText(FText->toPlainText()); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  layout->addWidget(buttons);
  resize(fontMetrics().averageCharWidth() * 90, fontMetrics().height() * 24);
}

void TLogView::Follow(const TConversionQueue &AQueue, const TConversionJob &AJob) {
  // The lines fetched may run ahead of the snapshot's count, never behind it within a run.
  const bool restart = AJob.LogRun != FRun;
  if (!restart && AJob.LogLines <= FShown)
    return;
  if (restart)
    FShown = 0;
  FRun = AJob.LogRun;
  const std::vector<std::string> lines = AQueue.Log(AJob.Id, FShown);
  if (FShown == 0)
    FText->setPlainText(lines.empty()
                            ? TfrmConvertItem::tr("Nothing has been said about this file yet.")
                            : Text(lines));
  else if (!lines.empty())
    FText->appendPlainText(Text(lines));
  FShown += lines.size();
}

QString TLogView::Text(const std::vector<std::string> &ALines) {
  QStringList lines;
  for (const std::string &line : ALines)
    lines << QString::fromStdString(line).trimmed();
  return lines.join(QLatin1Char('\n'));
}
