#include "ui/panel_names.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>

#include "ui/convert_item.h"
#include "ui/messages.h"

void NamePanelForScreenReaders(TfrmConvertItem &APanel) {
  const QString file =
      OneLine(QFileInfo(QString::fromStdString(APanel.InputFileName())).fileName());
  APanel.setAccessibleName(file);
  APanel.setAccessibleDescription(
      TfrmConvertItem::tr("Space selects the panel; the Menu key opens its menu; [ and ] set "
                          "the start and end of the part to convert at the preview's picture."));
  APanel.tbPreviewPos->setAccessibleName(TfrmConvertItem::tr("Preview position"));
  APanel.edOutputFilename->setAccessibleName(TfrmConvertItem::tr("Output file name"));
  APanel.edTitle->setAccessibleName(TfrmConvertItem::tr("Title"));
  APanel.cboxFormat->setAccessibleName(TfrmConvertItem::tr("Profile"));
  APanel.pbarPreview->setAccessibleName(TfrmConvertItem::tr("Progress of %1").arg(file));
}
