// The window's texts in the desktop's language: Qt's own catalogue for its dialogs, then ours.
// English is the source; its built-in catalogue only gives the plural forms.
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/i18n.h"
#include "ui/messages.h"

// Built from translations/korvelo_en.ts into the library.
extern const unsigned char KorveloEnglishCatalogue[];
extern const int KorveloEnglishCatalogueSize;

namespace {

// KORVELO_PSEUDO: every text that goes through tr(), Qt's own too, comes back marked.
class TPseudoTranslator : public QTranslator {
public:
  using QTranslator::QTranslator;
  QString translate(const char *, const char *ASource, const char *, int) const override {
    return QString::fromStdString(PseudoMarked(ASource));
  }
  bool isEmpty() const override { return false; }
};

void Install(QTranslator *ATranslator, bool ALoaded) {
  if (ALoaded)
    QCoreApplication::installTranslator(ATranslator);
  else
    delete ATranslator;
}

} // namespace

void InstallTranslations() {
  // The core's messages shown in the window; after QApplication, which set the locale again.
  InitTranslations();
  if (PseudoTranslation()) {
    QCoreApplication::installTranslator(new TPseudoTranslator(qApp));
    return;
  }
  // The translator installed last is asked first: ours, then Qt's, then the English plurals.
  auto *english = new QTranslator(qApp);
  Install(english, english->load(KorveloEnglishCatalogue, KorveloEnglishCatalogueSize));
  if (EnglishAsked())
    return;
  const QLocale locale;
  auto *qt = new QTranslator(qApp);
  Install(qt, qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
  auto *own = new QTranslator(qApp);
  Install(own, own->load(locale, QStringLiteral("korvelo"), QStringLiteral("_"),
                         QString::fromStdString(CatalogueFolder(TCatalogueKind::ckWindow))));
}
