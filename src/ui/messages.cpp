#include "ui/messages.h"

#include <QApplication>
#include <QPointer>
#include <QTranslator>

namespace {

TMessageSink &Sink() {
  static TMessageSink sink;
  return sink;
}

} // namespace

void ShowMessage(QWidget *AParent, const QString &AText, QMessageBox::Icon AIcon) {
  if (Sink()) {
    Sink()(AText, AIcon);
    return;
  }
  QMessageBox box(AIcon, QString::fromUtf8(ApplicationTitle), AText, QMessageBox::Ok, AParent);
  box.exec();
}

void PostMessage(QWidget *AParent, const QString &AText, QMessageBox::Icon AIcon) {
  QPointer<QWidget> parent(AParent);
  const bool hadParent = AParent != nullptr;
  QMetaObject::invokeMethod(
      qApp,
      [parent, hadParent, AText, AIcon] {
        if (hadParent && !parent)
          return; // the window it concerned has gone
        ShowMessage(parent, AText, AIcon);
      },
      Qt::QueuedConnection);
}

QString OneLine(const QString &AName) {
  QString line = AName;
  for (QChar &c : line)
    if (c.category() == QChar::Other_Control)
      c = QLatin1Char(' ');
  return line;
}

// Built from translations/korvelo_en.ts into the library.
extern const unsigned char KorveloEnglishCatalogue[];
extern const int KorveloEnglishCatalogueSize;

void InstallTranslations() {
  auto *english = new QTranslator(qApp);
  if (english->load(KorveloEnglishCatalogue, KorveloEnglishCatalogueSize))
    QCoreApplication::installTranslator(english);
  else
    delete english;
}

void SetMessageSink(TMessageSink ASink) { Sink() = std::move(ASink); }
