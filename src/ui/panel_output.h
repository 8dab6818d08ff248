// TPanelOutput: a panel's Output group: the output's name, the title, the profile list, the
// progress bar with how the conversion ended, the expected size, and on the group's title line
// what else goes into the file.
#pragma once

#include <QGroupBox>
#include <cstdint>

#include "app/conversion_queue.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;

class TPanelOutput : public QGroupBox {
  Q_OBJECT

public:
  explicit TPanelOutput(QWidget *AParent);

  // What the job's load found: its name, title and expected size (0: none yet), AProfile chosen.
  void ShowLoad(const TConversionJob &AJob, int AProfile, int64_t AExpectedSize);
  // The bar while the job waits or converts, or how its load failed.
  void ShowProgress(const TConversionJob &AJob);
  // The bar once the job's conversion has ended.
  void ShowOutcome(const TConversionJob &AJob);
  // The content line: AText shortened to its room, AFull on its tooltip.
  void ShowContent(const QString &AText, const QString &AFull);

  QLineEdit *edOutputFilename = nullptr;
  QLineEdit *edTitle = nullptr;
  QComboBox *cboxFormat = nullptr;
  QLabel *lbExpectedSize = nullptr; // "about 12,345 KB"
  QProgressBar *pbarPreview = nullptr;
  QLabel *lbContent = nullptr;

signals:
  void ProfileChosen(int AProfile);

protected:
  bool eventFilter(QObject *AWatched, QEvent *AEvent) override;

private:
  void CreateFormatBox();
  void PlaceContentLine();
  void FitContent();
  void FitSize();

  QString FContentText;
  QString FSize; // the expected size alone ("2,262 KB"), empty before a load
};
