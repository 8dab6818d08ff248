// TLogView: the window that shows what the engine, the converter and the load said about one
// file's last conversion. It grows with the log while it is open.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "app/conversion_queue.h"

class QPlainTextEdit;

class TLogView : public QDialog {
  Q_OBJECT

public:
  TLogView(QWidget *AParent, const QString &AFileName);

  // Fetches from AQueue only the lines of AJob's log not shown yet; all of it again when a new
  // run has begun it afresh.
  void Follow(const TConversionQueue &AQueue, const TConversionJob &AJob);
  // The log as one text, each line trimmed.
  static QString Text(const std::vector<std::string> &ALines);

private:
  QPlainTextEdit *FText = nullptr;
  size_t FShown = 0;
  int FRun = -1;
};
