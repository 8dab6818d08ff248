// TPanelInput: a panel's Input group: the file's name, its format line and its duration, each
// shortened to its room where it says least.
#pragma once

#include <QGroupBox>

#include "app/conversion_queue.h"

class QGridLayout;
class QLabel;

// The grid of a panel's group, with the margins the groups share.
QGridLayout *PanelGrid(QGroupBox &AGroup);
// The caption of row ARow (one of the panel's texts) in the grid's first column.
QLabel *AddCaption(QGridLayout &AGrid, int ARow, const char *AText);

class TPanelInput : public QGroupBox {
  Q_OBJECT

public:
  explicit TPanelInput(QWidget *AParent);

  // AJob as the queue has it; its format and duration once it has loaded.
  void ShowJob(const TConversionJob &AJob);

  QLabel *lbInputFilename = nullptr;
  QLabel *lbInfoString = nullptr;
  QLabel *lbDuration = nullptr;

protected:
  bool eventFilter(QObject *AWatched, QEvent *AEvent) override;

private:
  void FitTexts();

  QString FName, FFormat;
};
