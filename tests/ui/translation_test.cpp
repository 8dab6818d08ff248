// Every text a person reads goes through a catalogue: under the pseudo-locale each translated
// text comes back marked ⟦…⟧, so a text shown without the marks was never translated. The
// window is read page by page with a file added and a memory stick chosen whose videos the PSP
// plays and does not; the command line's help and an error too.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "ui/application.h"
#include "ui/convert_list.h"
#include "ui/folders_page.h"
#include "ui/main_window.h"
#include "ui/messages.h"
#include "ui/text_fit.h"
#include "support/test_support.h"
#include "wait_until.h"

namespace {

using testing_support::MediaFile;

const QString MediaName = QStringLiteral("mov_h264_aac");

// What is left of AText that should have been translated: the marked parts, the product's
// name, paths and file names, numbers and the media's own words (codecs, units) taken out.
QString Unmarked(QString AText) {
  AText.remove(QRegularExpression(QStringLiteral("\u27e6[^\u27e7]*\u27e7")));
  AText.remove(QRegularExpression(QStringLiteral("<[^>]*>"))); // rich text's tags
  AText.remove(QStringLiteral("Korvelo Converter"));
  AText.remove(QLatin1Char('&'));
  static const std::set<QString> data = {QStringLiteral("AVC"),  QStringLiteral("MPEG4"),
                                         QStringLiteral("kbps"), QStringLiteral("Stereo"),
                                         QStringLiteral("KB"),   QStringLiteral("MB"),
                                         QStringLiteral("GB"),   QStringLiteral("AAC"),
                                         QStringLiteral("PSP"),  QStringLiteral("QuickTime")};
  QString left;
  for (const QString &word :
       AText.split(QRegularExpression(QStringLiteral("[\\s,;()\\[\\]]+")), Qt::SkipEmptyParts)) {
    // A path, a file name or a number with its unit ("H.264", "480x272", "768kbps").
    if (word.contains(QLatin1Char('/')) || word.contains(QLatin1Char('.')) ||
        word.contains(MediaName) || word.contains(QRegularExpression(QStringLiteral("\\d"))))
      continue;
    const QString letters = QString(word).remove(QRegularExpression(QStringLiteral("\\W")));
    if (letters.size() >= 2 && data.count(letters) == 0)
      left += word + QLatin1Char(' ');
  }
  return left.trimmed();
}

// Every text of AWindow's visible widgets, with where it was found.
std::vector<std::pair<QString, QString>> VisibleTexts(QWidget *AWindow) {
  std::vector<std::pair<QString, QString>> texts;
  auto add = [&](QObject *AWhere, const QString &AText) {
    texts.emplace_back(AWhere->metaObject()->className() + QLatin1Char(' ') + AWhere->objectName(),
                       AText);
  };
  add(AWindow, AWindow->windowTitle());
  for (QWidget *widget : AWindow->findChildren<QWidget *>()) {
    if (!widget->isVisible())
      continue;
    add(widget, widget->toolTip());
    if (auto *label = qobject_cast<QLabel *>(widget))
      add(widget, label->text());
    if (auto *label = qobject_cast<TElidedLabel *>(widget))
      add(widget, label->text());
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
      add(widget, button->text());
    if (auto *box = qobject_cast<QGroupBox *>(widget))
      add(widget, box->title());
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
      add(widget, edit->placeholderText());
    if (auto *bar = qobject_cast<QProgressBar *>(widget))
      add(widget, bar->text());
    if (auto *tabs = qobject_cast<QTabBar *>(widget))
      for (int i = 0; i < tabs->count(); ++i)
        add(widget, tabs->tabText(i));
    if (auto *table = qobject_cast<QTableWidget *>(widget))
      for (int c = 0; c < table->columnCount(); ++c) {
        if (table->horizontalHeaderItem(c))
          add(widget, table->horizontalHeaderItem(c)->text());
        // The cells' words of our own (a verdict, "(Incomplete)"); a title is the file's.
        for (int row = 0; row < table->rowCount(); ++row)
          if (table->item(row, c) &&
              !table->horizontalHeaderItem(c)->text().contains(QStringLiteral("Title")))
            add(widget, table->item(row, c)->text());
      }
    if (auto *menus = qobject_cast<QMenuBar *>(widget))
      for (QAction *menu : menus->actions()) {
        add(widget, menu->text());
        if (menu->menu())
          for (QAction *action : menu->menu()->actions())
            add(menu->menu(), action->text());
      }
  }
  return texts;
}

TEST(PseudoLocale, EveryTextOfTheWindowsPagesIsTranslated) {
  testing_support::RequireMediaLibraries();
  SetMessageSink([](const QString &, QMessageBox::Icon) {});
  testing_support::TempDir appDir;
  TfrmMain window(QString::fromStdString(appDir.path().string()));
  window.resize(1000, 700);
  window.show();
  window.AddFiles({QString::fromStdString(MediaFile("mov_h264_aac.mov"))});
  ASSERT_TRUE(WaitUntil([&] { return window.ConvertList()->Loading() == 0; }, 60000));
  // A stick with a video the PSP plays and one it does not, chosen as the device folder.
  const std::string folder = appDir.file("stick/MP_ROOT/100ANV01/");
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(MediaFile("aac_51.mp4"), folder + "MAQ00000.MP4");
  std::filesystem::copy_file(MediaFile("h264_10bit.mp4"), folder + "MAQ00001.MP4");
  TFoldersPage *files = window.FoldersPage();
  files->FListVolumes = [] { return std::vector<std::string>{}; };
  files->FBrowseFolder = [&](const QString &) {
    return QString::fromStdString(appDir.file("stick"));
  };
  files->btnDeviceFolder->click();
  ASSERT_TRUE(WaitUntil([&] { return files->lvStick->rowCount() == 2; }, 10000));
  QCoreApplication::processEvents();
  auto *pages = window.findChild<QTabWidget *>();
  ASSERT_NE(pages, nullptr);
  for (int page = 0; page < pages->count(); ++page) {
    pages->setCurrentIndex(page);
    QCoreApplication::processEvents();
    for (const auto &[where, text] : VisibleTexts(&window))
      EXPECT_TRUE(Unmarked(text).isEmpty())
          << "page " << page << ", " << where.toStdString() << ": \"" << text.toStdString() << "\"";
  }
  SetMessageSink({});
}

// The command line's lines: each one marked, but for the profiles' names in its help.
void ExpectMarkedLines(const QStringList &AArguments, int AStatus) {
  QProcess program;
  program.setProgram(QStringLiteral(KORVELO_CLI_PROGRAM));
  program.setArguments(AArguments);
  program.start();
  ASSERT_TRUE(program.waitForFinished(30000));
  EXPECT_EQ(program.exitCode(), AStatus);
  const QString output = QString::fromUtf8(program.readAllStandardOutput()) +
                         QString::fromUtf8(program.readAllStandardError());
  EXPECT_FALSE(output.trimmed().isEmpty());
  static const QRegularExpression profile(QStringLiteral("^  \\d  (AVC|MPEG4) "));
  for (const QString &line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    if (!profile.match(line).hasMatch()) {
      EXPECT_TRUE(line.contains(QChar(0x27e6)))
          << AArguments.join(' ').toStdString() << ": \"" << line.toStdString() << "\"";
    }
  }
}

TEST(PseudoLocale, TheCommandLinesHelpAndErrorsAreTranslated) {
  ExpectMarkedLines({QStringLiteral("--help")}, 0);
  ExpectMarkedLines({QStringLiteral("--no-such-option")}, 2);
  ExpectMarkedLines({QStringLiteral("--list"), QStringLiteral("/nonexistent-folder")}, 1);
}

// The first line of the command line's help in the language AEnvironment asks for.
QString HelpLine(const QStringList &AEnvironment) {
  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove(QStringLiteral("KORVELO_PSEUDO"));
  for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
    environment.remove(QString::fromLatin1(name));
  for (const QString &variable : AEnvironment)
    environment.insert(variable.section(QLatin1Char('='), 0, 0),
                       variable.section(QLatin1Char('='), 1));
  program.setProcessEnvironment(environment);
  program.start(QStringLiteral(KORVELO_CLI_PROGRAM), {QStringLiteral("--help")});
  EXPECT_TRUE(program.waitForFinished(30000));
  return QString::fromUtf8(program.readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0);
}

// The desktop's language, even one whose locale is not generated here; a script's LC_ALL=C
// keeps the English texts.
TEST(Languages, TheCommandLineSpeaksTheDesktopsLanguageAndEnglishUnderC) {
  EXPECT_TRUE(HelpLine({QStringLiteral("LANGUAGE=de")}).startsWith(QStringLiteral("Aufruf:")));
  EXPECT_TRUE(HelpLine({QStringLiteral("LANG=fr_FR.UTF-8")}).startsWith(QStringLiteral("Usage :")));
  EXPECT_TRUE(HelpLine({QStringLiteral("LANGUAGE=ja"), QStringLiteral("LANG=C.UTF-8")})
                  .startsWith(QStringLiteral("使い方:")));
  EXPECT_TRUE(HelpLine({QStringLiteral("LANGUAGE=es"), QStringLiteral("LC_ALL=C")})
                  .startsWith(QStringLiteral("Usage: korvelo-convert")));
}

// A Japanese hint ends with its own full stop: on a narrow status line it takes a further line
// rather than losing its middle.
TEST(Languages, AJapaneseSentenceWrapsInsteadOfLosingItsMiddle) {
  TElidedLabel label;
  label.resize(120, 20);
  const QString hint = QStringLiteral("削除するパネルをクリックしてから「削除」を押してください。");
  label.setText(hint);
  EXPECT_EQ(label.ShownText(), hint);
}

} // namespace

int main(int argc, char **argv) {
  // Before the application installs its translators; the command line inherits it.
  ::setenv("KORVELO_PSEUDO", "1", 1);
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  testing_support::TempDir home;
  for (const char *folder : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
    ::setenv(folder, home.path().c_str(), 1);
  ::testing::InitGoogleTest(&argc, argv);
  TKorveloApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
