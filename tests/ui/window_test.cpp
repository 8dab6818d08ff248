// The window as a person uses it: files added, converted one after another, paused, resumed,
// stopped, removed, and the window closed while a conversion runs.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTableWidget>
#include <QUrl>
#include <QWheelEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QDialog>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>
#include <QTimer>
#include <QTranslator>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "app/i18n.h"
#include "app/profiles.h"
#include "app/psp_stick.h"
#include "app/thumbnail.h"
#include "ui/command_bar.h"
#include "ui/convert_list.h"
#include "ui/preview_box.h"
#include "ui/folders_page.h"
#include "ui/main_window.h"
#include "ui/panel_input.h"
#include "ui/panel_picture.h"
#include "ui/send_to_psp.h"
#include "ui/messages.h"
#include "ui/single_instance.h"
#include "ui/text_fit.h"
#include "ui/window_command_line.h"
#include "support/decoded_media.h"
#include "support/psp_checks.h"
#include "support/udisks2_stick.h"
#include "support/test_support.h"
#include "wait_until.h"

namespace {

namespace fs = std::filesystem;
using testing_support::MediaFile;
using testing_support::ReadFile;

// Conversions on a busy machine take their time.
bool WaitFor(const std::function<bool()> &ACondition, int ATimeoutMs = 90000) {
  return WaitUntil(ACondition, ATimeoutMs);
}

class Window : public ::testing::Test {
protected:
  void SetUp() override {
    ++WindowsMade;
    testing_support::RequireMediaLibraries();
    SetMessageSink([this](const QString &AText, QMessageBox::Icon) {
      Messages.push_back(AText.toStdString());
    });
    Main = std::make_unique<TfrmMain>(QString::fromStdString(AppDir.path().string()));
    Main->show();
    List = Main->ConvertList();
  }
  void TearDown() override {
    if (List)
      List->StopAll();
    WaitFor([this] { return !List || List->AllTerminated(); }, 30000);
    Main.reset();
    SetMessageSink({});
  }

  TfrmConvertItem *Panel(int AIndex) { return List->Item(AIndex); }
  void Add(const std::vector<std::string> &AFiles) {
    QStringList files;
    for (const std::string &file : AFiles)
      files << QString::fromStdString(file);
    Main->AddFiles(files);
    WaitForLoads();
  }
  // Added files load on other threads; their panels and messages arrive as queued calls.
  void WaitForLoads() {
    ASSERT_TRUE(WaitFor([this] { return List->Loading() == 0; }));
    QCoreApplication::processEvents();
  }
  bool WaitForState(int AIndex, TItemState AState) {
    return WaitFor([&] { return Panel(AIndex)->FState == AState; });
  }
  // Five files sent by Send to PSP to a small stick at ARoot where three fit: its one message.
  std::string SendFive(const std::string &ARoot);
  bool WaitForProgress(int AIndex, int APercent) {
    return WaitFor([&] { return Panel(AIndex)->pbarPreview->value() >= APercent; });
  }

  static inline int WindowsMade = 0; // in this process
  testing_support::TempDir AppDir;
  std::unique_ptr<TfrmMain> Main;
  TfrmConvertList *List = nullptr;
  std::vector<std::string> Messages;
};

TEST_F(Window, TwoFilesConvertOneAfterTheOtherIntoPlayableFilesWithThumbnails) {
  Add({MediaFile("mov_h264_aac.mov"), MediaFile("avi_mpeg4_mp3.avi")});
  ASSERT_EQ(List->Count(), 2);
  EXPECT_EQ(Panel(0)->cboxFormat->count(), PSPProfileCount);
  EXPECT_EQ(Panel(0)->cboxFormat->currentIndex(), DefaultProfileIndex);
  // The overall bar never runs ahead of the panel that converts: half of it belongs to each.
  bool aheadOfFirst = false;
  QObject::connect(Main->pbarTotal, &QProgressBar::valueChanged, [&](int AValue) {
    aheadOfFirst = aheadOfFirst || (Panel(0)->FState != isTerminated && AValue > 50);
  });

  Main->btnStart->trigger();
  ASSERT_TRUE(WaitFor([&] { return Panel(0)->FState != isWaiting; }));
  EXPECT_EQ(Panel(1)->FState, isWaiting);
  ASSERT_TRUE(WaitForState(0, isTerminated));
  ASSERT_TRUE(WaitForState(1, isTerminated));
  EXPECT_TRUE(WaitFor([&] { return Main->pbarTotal->value() == 100; }, 2000));
  EXPECT_FALSE(aheadOfFirst);
  EXPECT_TRUE(Messages.empty()) << Messages.front();

  // Turning to the page that copies them lists the new files.
  Main->pcSteps->setCurrentWidget(Main->tshSettings);
  EXPECT_EQ(Main->FoldersPage()->lvFiles->rowCount(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Panel(i)->pbarPreview->value(), 100);
    EXPECT_EQ(Panel(i)->pbarPreview->text(), "100%");
    const std::string output = Panel(i)->OutputFileName();
    EXPECT_EQ(fs::path(output).parent_path(), AppDir.path() / "AVC");
    testing_support::ExpectPlaysOnPSP(output, DefaultProfileIndex);
    const QImage thumbnail(QString::fromStdString(ThumbnailFileName(output)), "JPEG");
    EXPECT_EQ(thumbnail.size(), QSize(ThumbnailWidth, ThumbnailHeight)) << output;
  }
}

TEST_F(Window, TheListFollowsTheBatchFromTheFirstPanelToTheLast) {
  Add({MediaFile("mov_h264_aac.mov"), MediaFile("wav_pcm.wav"), MediaFile("ts_h264_aac.ts"),
       MediaFile("flv_h264_aac.flv")});
  ASSERT_LT(Panel(0)->y(), 0); // the list shows the panel added last
  Main->btnStart->trigger();
  EXPECT_TRUE(WaitFor([&] { return Panel(0)->y() >= 0; }));
  ASSERT_TRUE(WaitFor([&] { return Panel(3)->FState != isWaiting; }));
  EXPECT_LE(Panel(3)->geometry().bottom(), List->height());
  EXPECT_GE(Panel(3)->y(), 0);
}

TEST_F(Window, PauseHoldsTheProgressAndResumeContinuesIt) {
  // Presses that do nothing say why on the status line; the buttons stay enabled.
  Main->btnStart->trigger();
  EXPECT_EQ(Main->lbStatus->text(), QStringLiteral("Nothing to start: add files first"));
  Main->btnResume->trigger();
  EXPECT_EQ(Main->lbStatus->text(), QStringLiteral("Nothing is paused"));
  Add({testing_support::LongMediaFile(60)});
  EXPECT_TRUE(Panel(0)->cboxFormat->isEnabled());
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForState(0, isConverting));
  // A running conversion keeps its profile: the list offers no other until it has ended.
  EXPECT_FALSE(Panel(0)->cboxFormat->isEnabled());
  ASSERT_TRUE(WaitForProgress(0, 2));
  Main->btnPause->trigger();
  ASSERT_TRUE(WaitForState(0, isPaused));
  QTest::qWait(300); // reports already on their way
  const int held = Panel(0)->pbarPreview->value();
  EXPECT_EQ(Panel(0)->pbarPreview->text(), QStringLiteral("Paused at %1%").arg(held));
  // A report that was on its way when the pause came does not say it converts again.
  List->QueueEvent({TQueueEventKind::qeProgress, Panel(0)->JobId()});
  EXPECT_EQ(Main->lbStatus->text(), QStringLiteral("Paused"));
  EXPECT_FALSE(Panel(0)->cboxFormat->isEnabled());
  QTest::qWait(1500);
  EXPECT_EQ(Panel(0)->pbarPreview->value(), held);
  Main->btnStart->trigger();
  EXPECT_EQ(Main->lbStatus->text(), QStringLiteral("Paused: Resume goes on, Stop ends the batch"));
  EXPECT_TRUE(Main->btnStart->isEnabled() && Main->btnResume->isEnabled());
  EXPECT_EQ(Panel(0)->FState, isPaused);
  Main->btnResume->trigger();
  EXPECT_TRUE(WaitForState(0, isConverting));
  EXPECT_TRUE(WaitForProgress(0, held + 1));
  EXPECT_FALSE(Panel(0)->pbarPreview->text().startsWith(QStringLiteral("Paused")));
  Main->btnStop->trigger();
  ASSERT_TRUE(WaitForState(0, isTerminated));
  EXPECT_TRUE(Panel(0)->cboxFormat->isEnabled());
}

TEST_F(Window, StopEndsTheConvertingPanelAndLeavesTheNextWaiting) {
  Add({testing_support::LongMediaFile(60), MediaFile("mov_h264_aac.mov")});
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForProgress(0, 1));
  Main->btnStop->trigger();
  EXPECT_EQ(Main->lbStatus->text(), QStringLiteral("Stopping\u2026")); // until the end comes in
  List->QueueEvent({TQueueEventKind::qeProgress, Panel(0)->JobId()});  // one on its way
  EXPECT_EQ(Main->lbStatus->text(), QStringLiteral("Stopping\u2026"));
  ASSERT_TRUE(WaitForState(0, isTerminated));
  QTest::qWait(500);
  EXPECT_EQ(Main->lbStatus->text(), QStringLiteral("Conversion stopped"));
  EXPECT_LT(Panel(0)->pbarPreview->value(), 100);
  // The bar says so on one line, whatever the percentage.
  const QProgressBar *bar = Panel(0)->pbarPreview;
  EXPECT_GT(bar->width(), bar->fontMetrics().horizontalAdvance(QStringLiteral("Stopped at 100%")));
  EXPECT_EQ(Panel(1)->FState, isWaiting);
  EXPECT_LT(Main->pbarTotal->value(), 50);
}

// What a stopped conversion kept is not taken for a converted video once its panel is gone:
// the Folders page marks it, and Copy to PSP takes it only when the person says so.
TEST_F(Window, AStoppedConversionsFileIsIncompleteAndCopiedOnlyWhenConfirmed) {
  Add({testing_support::LongMediaFile(60)});
  const std::string output = Panel(0)->OutputFileName();
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForProgress(0, 3));
  Main->btnStop->trigger();
  ASSERT_TRUE(WaitForState(0, isTerminated));
  ASSERT_TRUE(fs::exists(output)); // the partial output is kept
  Panel(0)->SetSelected(true);
  List->RemoveSelected();
  Main->pcSteps->setCurrentWidget(Main->tshSettings);
  TFoldersPage *page = Main->FoldersPage();
  ASSERT_EQ(page->lvFiles->rowCount(), 1);
  EXPECT_TRUE(page->lvFiles->item(0, 0)->text().endsWith(QStringLiteral("(Incomplete)")))
      << page->lvFiles->item(0, 0)->text().toStdString();

  const std::string stick = AppDir.file("stick") + "/";
  fs::create_directories(stick);
  page->FBrowseFolder = [&](const QString &) { return QString::fromStdString(stick); };
  page->btnDeviceFolder->click();
  page->lvFiles->selectRow(0);
  QStringList questions;
  bool answer = false;
  page->FConfirm = [&](const QString &AQuestion) {
    questions << AQuestion;
    return answer;
  };
  Messages.clear();
  page->btnCopy->click();
  QTest::qWait(300);
  ASSERT_EQ(questions.size(), 1);
  EXPECT_NE(questions[0].indexOf(QString::fromStdString(fs::path(output).filename().string())), -1);
  EXPECT_TRUE(
      questions[0].endsWith(QStringLiteral("Copy it to the PSP all the same? No leaves it out.")))
      << questions[0].toStdString(); // one file: "it", not "them"
  EXPECT_FALSE(page->CopyRunning());
  EXPECT_FALSE(fs::exists(stick + "MP_ROOT/100ANV01/MAQ00000.MP4"));
  answer = true;
  page->btnCopy->click();
  ASSERT_TRUE(WaitFor([&] { return !page->CopyRunning() && !Messages.empty(); }, 30000));
  EXPECT_TRUE(fs::exists(stick + "MP_ROOT/100ANV01/MAQ00000.MP4"));
}

TEST_F(Window, ClosingDuringAConversionClosesOnceItHasStopped) {
  Add({testing_support::LongMediaFile(60)});
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForProgress(0, 1));
  EXPECT_FALSE(Main->close()); // refused while the panel converts, and the panel is stopped
  EXPECT_TRUE(Main->isVisible());
  EXPECT_TRUE(WaitFor([&] { return !Main->isVisible(); }, 30000));
  EXPECT_EQ(Panel(0)->FState, isTerminated);
  EXPECT_TRUE(Messages.empty());
  EXPECT_TRUE(fs::exists(Main->FoldersPage()->Places().SettingsFile));
}

// A removed panel reports no end of its own: the close still completes.
TEST_F(Window, ClosingDuringAConversionThenRemovingItsPanelStillCloses) {
  Add({testing_support::LongMediaFile(60)});
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForProgress(0, 1));
  EXPECT_FALSE(Main->close());
  Panel(0)->SetSelected(true);
  Main->btnRemove->trigger();
  EXPECT_TRUE(WaitFor([&] { return !Main->isVisible(); }, 30000));
}

// A file added after a batch that ended well waits for Start; Start converts every panel again,
// and a reload that fails as the panel before it ends shows its reason on its panel, with no
// message box inside that end.
TEST_F(Window, AFileAddedAfterTheBatchWaitsForStartAndItsFailedReloadShowsOnItsPanel) {
  Add({MediaFile("mov_h264_aac.mov")});
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForState(0, isTerminated));
  ASSERT_TRUE(WaitFor([&] { return !List->BatchRunning(); }));
  const std::string first = Panel(0)->OutputFileName();
  const std::string copy = AppDir.file("clip.mov");
  fs::copy_file(MediaFile("mov_h264_aac.mov"), copy);
  Add({copy});
  QTest::qWait(500);
  EXPECT_EQ(Panel(1)->FState, isWaiting);
  fs::remove(copy);
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForState(1, isTerminated));
  EXPECT_TRUE(Panel(0)->Outcome().Finished());
  EXPECT_NE(Panel(0)->OutputFileName(), first);
  EXPECT_EQ(Panel(1)->pbarPreview->text(), "Failed");
  EXPECT_TRUE(Panel(1)->lbReason->isVisible());
  EXPECT_TRUE(Messages.empty()) << Messages.front();
}

TEST_F(Window, ClosingWithWaitingPanelsClosesAtOnceAndLeavesNoEmptyOutputs) {
  Add({MediaFile("mov_h264_aac.mov"), MediaFile("flv_h264_aac.flv")});
  ASSERT_EQ(List->Count(), 2);
  EXPECT_TRUE(Main->close());
  Main.reset(); // the panels and their converters go with the window
  List = nullptr;
  EXPECT_TRUE(fs::is_empty(AppDir.path() / "AVC"));
  // Nor while files are still loading: the names claimed for them are given up.
  Main = std::make_unique<TfrmMain>(QString::fromStdString(AppDir.path().string()));
  Main->show();
  List = Main->ConvertList();
  QStringList files;
  for (int i = 0; i < 12; ++i)
    files << QString::fromStdString(MediaFile(i % 2 ? "mov_h264_aac.mov" : "flv_h264_aac.flv"));
  Main->AddFiles(files);
  WaitFor([&] { return List->Count() > 0; }, 30000);
  EXPECT_GT(List->Loading(), 0);
  EXPECT_TRUE(Main->close());
  Main.reset();
  List = nullptr;
  EXPECT_TRUE(fs::is_empty(AppDir.path() / "AVC"));
}

TEST_F(Window, FilesRefusedAmongOthersAreToldInOneMessageAndTheOthersLoadInOrder) {
  const std::string notMedia = AppDir.file("notes.mp4");
  std::ofstream(notMedia) << "not a video";
  const std::string empty = AppDir.file("empty.mp3");
  std::ofstream(empty).flush();
  Add({notMedia, MediaFile("mov_h264_aac.mov"), empty, MediaFile("wav_pcm.wav")});
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].rfind("2 files could not be added:\n***File load error: ", 0), 0u)
      << Messages[0];
  EXPECT_NE(Messages[0].find("\n***File load error: " + empty +
                             ": an empty file (0 bytes), not a media file"),
            std::string::npos)
      << Messages[0];
  ASSERT_EQ(List->Count(), 2);
  EXPECT_EQ(Panel(0)->InputFileName(), MediaFile("mov_h264_aac.mov"));
  EXPECT_EQ(Panel(1)->InputFileName(), MediaFile("wav_pcm.wav"));
  // One alone says its own message.
  Add({empty});
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_EQ(Messages[1],
            "***File load error: " + empty + ": an empty file (0 bytes), not a media file");
  EXPECT_EQ(List->Count(), 2);
}

TEST_F(Window, FilesAndFoldersDroppedOnTheListAreAddedInTheirOrder) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(MediaFile("ts_h264_aac.ts"))),
                QUrl::fromLocalFile(QString::fromStdString(MediaFile("mov_h264_aac.mov")))});
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(List, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(List, &drop);
  WaitForLoads();
  ASSERT_EQ(List->Count(), 2);
  EXPECT_EQ(Panel(0)->InputFileName(), MediaFile("ts_h264_aac.ts"));
  EXPECT_EQ(Panel(1)->InputFileName(), MediaFile("mov_h264_aac.mov"));

  // A folder brings its video, audio and picture files, by name; an empty one says what it is.
  const fs::path folder = AppDir.path() / "holiday", empty = AppDir.path() / "empty";
  fs::create_directories(folder);
  fs::create_directories(empty);
  fs::copy_file(MediaFile("mov_h264_aac.mov"), folder / "b.mov");
  fs::copy_file(MediaFile("wav_pcm.wav"), folder / "a.WAV");
  fs::copy_file(MediaFile("webm_vp8_vorbis.webm"), folder / "c.webm"); // newer than the filter
  std::ofstream(folder / "notes.txt") << "not media";
  QMimeData folders;
  folders.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder.string())),
                   QUrl::fromLocalFile(QString::fromStdString(empty.string()))});
  QDropEvent dropFolders(QPointF(50, 50), Qt::CopyAction, &folders, Qt::LeftButton, Qt::NoModifier);
  QDragEnterEvent enterFolders(QPoint(50, 50), Qt::CopyAction, &folders, Qt::LeftButton,
                               Qt::NoModifier);
  QCoreApplication::sendEvent(List, &enterFolders);
  QCoreApplication::sendEvent(List, &dropFolders);
  WaitForLoads();
  ASSERT_EQ(List->Count(), 5);
  EXPECT_EQ(Panel(2)->InputFileName(), (folder / "a.WAV").string());
  EXPECT_EQ(Panel(3)->InputFileName(), (folder / "b.mov").string());
  EXPECT_EQ(Panel(4)->InputFileName(), (folder / "c.webm").string());
  EXPECT_EQ(Messages, std::vector<std::string>{"***File load error: " + empty.string() +
                                               ": a folder, not a media file"});
}

TEST_F(Window, AFileGoneBeforeStartEndsItsPanelAsFailedAndTheWindowStillCloses) {
  const std::string copy = AppDir.file("clip.mov");
  fs::copy_file(MediaFile("mov_h264_aac.mov"), copy);
  Add({copy});
  fs::remove(copy);
  // The log opened before Start follows the run.
  Panel(0)->actShowLog->trigger();
  QPlainTextEdit *log = nullptr;
  for (QWidget *widget : QApplication::topLevelWidgets())
    if (auto *dialog = qobject_cast<QDialog *>(widget); dialog && dialog->isVisible())
      log = dialog->findChild<QPlainTextEdit *>();
  ASSERT_NE(log, nullptr);
  Main->btnStart->trigger(); // reloads the file: its panel says why, with no message box
  ASSERT_TRUE(WaitForState(0, isTerminated));
  EXPECT_TRUE(Messages.empty()) << Messages.front();
  const QString loadError = Panel(0)->pbarPreview->toolTip();
  EXPECT_TRUE(loadError.startsWith(QStringLiteral("***File "))) << loadError.toStdString();
  EXPECT_EQ(Panel(0)->pbarPreview->text(), "Failed");
  // The panel says why, and its log (from the context menu) holds the library's words.
  EXPECT_TRUE(Panel(0)->lbReason->text().startsWith("Failed: no such file or directory"))
      << Panel(0)->lbReason->text().toStdString();
  EXPECT_TRUE(Panel(0)->lbReason->isVisible());
  EXPECT_EQ(Panel(0)->lbReason->toolTip(), Panel(0)->pbarPreview->toolTip());
  EXPECT_TRUE(log->isReadOnly());
  EXPECT_NE(log->toPlainText().indexOf(loadError), -1) << log->toPlainText().toStdString();
  EXPECT_NE(log->toPlainText().indexOf(QStringLiteral("Failed: ") + Panel(0)->lbReason->toolTip()),
            -1);
  log->window()->close();
  EXPECT_TRUE(Main->close());
}

TEST_F(Window, AVideoWhoseThumbnailCannotBeWrittenEndsConvertedWithTheWarning) {
  Add({MediaFile("flv_h264_aac.flv")});
  Main->btnStart->trigger();
  const std::string output = Panel(0)->OutputFileName();
  // A folder put in the thumbnail's place once the name is claimed: the video is written, its
  // thumbnail cannot be.
  fs::create_directory(ThumbnailFileName(output));
  ASSERT_TRUE(WaitForState(0, isTerminated));
  ASSERT_EQ(Panel(0)->OutputFileName(), output);
  testing_support::ExpectPlaysOnPSP(output, DefaultProfileIndex);
  const QProgressBar *bar = Panel(0)->pbarPreview;
  EXPECT_EQ(bar->value(), 100);
  EXPECT_EQ(bar->text().toStdString(), "Done, no thumbnail");
  EXPECT_GT(bar->width(), bar->fontMetrics().horizontalAdvance(bar->text()));
  EXPECT_NE(bar->toolTip().indexOf("Is a directory"), -1) << bar->toolTip().toStdString();
  ASSERT_TRUE(WaitFor([&] { return !Messages.empty(); }, 5000));
  EXPECT_EQ(Messages[0], bar->toolTip().toStdString());
  EXPECT_EQ(Main->pbarTotal->value(), 100);
}

TEST_F(Window, AnInputCutShortEndsConvertedWithTheBarSayingWhereItEnded) {
  const std::string whole = ReadFile(MediaFile("mkv_h264_vorbis.mkv"));
  const std::string cut = AppDir.file("cut.mkv");
  std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() / 2);
  Add({cut});
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForState(0, isTerminated));
  const QProgressBar *bar = Panel(0)->pbarPreview;
  EXPECT_EQ(bar->value(), 100);
  EXPECT_EQ(bar->text().left(15).toStdString(), "Input ended at ") << bar->text().toStdString();
  EXPECT_GT(bar->width(), bar->fontMetrics().horizontalAdvance(bar->text()));
  const QString stated = QString::fromStdString(FormatDuration(Panel(0)->Duration() / 1000));
  EXPECT_NE(bar->toolTip().indexOf(stated), -1) << bar->toolTip().toStdString();
  EXPECT_TRUE(Messages.empty());
  // What it held is there to copy.
  testing_support::ExpectPlaysOnPSP(Panel(0)->OutputFileName(), DefaultProfileIndex);

  // A length guessed from the bit rate (variable-rate sound without a header that counts its
  // frames, here one with trailing junk) is no statement: the bar stays a plain 100%.
  const std::string guessed = AppDir.file("guessed.mp3");
  std::ofstream(guessed, std::ios::binary)
      << ReadFile(MediaFile("mp3_audio.mp3")) << std::string(100000, '\0');
  Add({guessed});
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForState(1, isTerminated));
  EXPECT_EQ(Panel(1)->pbarPreview->text().toStdString(), "100%");
}

// A picture whose data does not decode: the panel fails with the reason, the batch says so,
// and neither a track-less file nor a thumbnail is left to be copied as converted.
TEST_F(Window, APictureThatDoesNotDecodeFailsWithItsReasonAndLeavesNothing) {
  std::string jpeg = ReadFile(MediaFile("picture.jpg"));
  const size_t table = jpeg.find("\xFF\xC4");
  ASSERT_NE(table, std::string::npos);
  jpeg.replace(table + 5, 20, std::string(20, '\xFF'));
  const std::string damaged = AppDir.file("tables.jpg");
  std::ofstream(damaged, std::ios::binary) << jpeg;
  Add({damaged});
  const std::string output = Panel(0)->OutputFileName();
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForState(0, isTerminated));
  const QProgressBar *bar = Panel(0)->pbarPreview;
  EXPECT_EQ(bar->text(), QStringLiteral("Failed"));
  EXPECT_TRUE(bar->toolTip().startsWith(QString::fromStdString(damaged) +
                                        QStringLiteral(": no picture could be decoded (")))
      << bar->toolTip().toStdString();
  EXPECT_TRUE(Main->lbStatus->text().startsWith(QStringLiteral("Conversion failed: ")));
  EXPECT_NE(Main->lbStatus->text().indexOf(QStringLiteral("no picture could be decoded")), -1);
  EXPECT_FALSE(fs::exists(output));
  EXPECT_FALSE(fs::exists(ThumbnailFileName(output)));
}

TEST_F(Window, TheWheelOverAProfileBoxScrollsTheListAndLeavesTheProfileAlone) {
  Add({MediaFile("mov_h264_aac.mov"), MediaFile("flv_h264_aac.flv"), MediaFile("ts_h264_aac.ts"),
       MediaFile("wav_pcm.wav")});
  ASSERT_TRUE(List->scrollbarConvertList->isVisible());
  List->scrollbarConvertList->setValue(0);
  QComboBox *box = Panel(0)->cboxFormat;
  const QPointF at(box->width() / 2.0, box->height() / 2.0);
  QWheelEvent down(at, box->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(box, &down);
  EXPECT_GT(List->scrollbarConvertList->value(), 0);
  EXPECT_LT(Panel(0)->y(), 0);
  EXPECT_EQ(box->currentIndex(), DefaultProfileIndex);
}

TEST_F(Window, RemovingSelectedPanelsKeepsTheOthersInOrder) {
  const std::vector<std::string> files = {MediaFile("mov_h264_aac.mov"),
                                          MediaFile("flv_h264_aac.flv"),
                                          MediaFile("ts_h264_aac.ts"), MediaFile("wav_pcm.wav")};
  Add(files);
  ASSERT_EQ(List->Count(), 4);
  // The list scrolls so that the panel added last is in view.
  EXPECT_TRUE(List->scrollbarConvertList->isVisible());
  EXPECT_LE(Panel(3)->geometry().bottom(), List->height());
  EXPECT_GE(Panel(3)->y(), 0);
  List->scrollbarConvertList->setValue(0);
  EXPECT_EQ(Panel(0)->y(), 0);
  // A sound file has no picture: its preview is black, the others show theirs.
  auto centre = [&](int AIndex) {
    const QImage preview = Panel(AIndex)->imgThumb->pixmap().toImage();
    return preview.pixelColor(preview.width() / 2, preview.height() / 2);
  };
  EXPECT_EQ(centre(3), QColor(Qt::black));
  EXPECT_NE(centre(0), QColor(Qt::black));
  Main->btnRemove->trigger(); // nothing selected yet: the status line says how
  EXPECT_EQ(List->Count(), 4);
  EXPECT_FALSE(Main->lbStatus->text().isEmpty());
  QTest::mouseClick(Panel(0), Qt::LeftButton, {}, QPoint(3, 3));
  QTest::mouseClick(Panel(2)->imgThumb, Qt::LeftButton);
  EXPECT_TRUE(Panel(0)->FSelected);
  EXPECT_FALSE(Panel(1)->FSelected);
  Main->btnRemove->trigger();
  ASSERT_EQ(List->Count(), 2);
  EXPECT_TRUE(Main->lbStatus->text().isEmpty());
  EXPECT_EQ(Panel(0)->InputFileName(), files[1]);
  EXPECT_EQ(Panel(1)->InputFileName(), files[3]);
  EXPECT_LT(Panel(0)->y(), Panel(1)->y());
  EXPECT_GE(Panel(1)->y(), Panel(0)->y() + TfrmConvertItem::DesignHeight);
}

// Files of the process that are inputs or outputs (the window's own descriptors aside).
int OpenMediaFiles(const fs::path &AOutputs) {
  int count = 0;
  for (const fs::directory_entry &entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = fs::read_symlink(entry.path(), error).string();
    if (target.rfind(fs::path(MediaFile("wav_pcm.wav")).parent_path().string(), 0) == 0 ||
        target.rfind(AOutputs.string(), 0) == 0)
      ++count;
  }
  return count;
}

TEST_F(Window, AWaitingPanelKeepsItsPictureAndNameButNoFileOpenTheSliderOpensOneForAWhile) {
  auto open = [&] { return OpenMediaFiles(AppDir.path()); };
  Add({MediaFile("mov_h264_aac.mov"), MediaFile("mkv_h264_vorbis.mkv"), MediaFile("wav_pcm.wav")});
  ASSERT_EQ(List->Count(), 3);
  EXPECT_EQ(open(), 0);
  for (int i = 0; i < 3; ++i) // each name stays claimed on disk, empty
    EXPECT_EQ(fs::file_size(Panel(i)->OutputFileName()), 0u);
  const QImage first = Panel(0)->imgThumb->pixmap().toImage();
  EXPECT_NE(first.pixelColor(first.width() / 2, first.height() / 2), QColor(Qt::black));

  // The slider opens the file for its pictures and lets it go once it rests.
  QFocusEvent focus(QEvent::FocusIn);
  QCoreApplication::sendEvent(Panel(0)->tbPreviewPos, &focus);
  Panel(0)->tbPreviewPos->setValue(60);
  EXPECT_TRUE(WaitFor([&] { return open() == 1; }, 5000));
  EXPECT_TRUE(WaitFor([&] { return open() == 0; }, 5000));

  // Converting reopens it; the thumbnail is taken after the end, and nothing stays open.
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForState(0, isTerminated));
  EXPECT_TRUE(fs::exists(ThumbnailFileName(Panel(0)->OutputFileName())));
  EXPECT_GT(fs::file_size(Panel(0)->OutputFileName()), 0u);
  Main->btnStop->trigger();
  ASSERT_TRUE(WaitFor([&] { return List->AllTerminated(); }));
  EXPECT_TRUE(WaitFor([&] { return open() == 0; }, 5000));
}

TEST_F(Window, ElevenHundredFilesUnderTheUsualOpenFileLimitAllLoadWhileTheWindowAnswers) {
  const int ManyFiles =
      qEnvironmentVariableIntValue("MANY") ? qEnvironmentVariableIntValue("MANY") : 1100;
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = std::min<rlim_t>(1024, saved.rlim_max);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const fs::path folder = AppDir.path() / "many";
  fs::create_directories(folder);
  // The smallest sound file: a tenth of a second of 8 kHz mono silence.
  const fs::path tiny = folder / "tiny.wav";
  {
    std::ofstream wav(tiny, std::ios::binary);
    auto put = [&](uint32_t AValue, int ABytes) {
      for (int b = 0; b < ABytes; ++b)
        wav.put(static_cast<char>((AValue >> (8 * b)) & 0xff));
    };
    const uint32_t samples = 800;
    wav << "RIFF";
    put(36 + samples * 2, 4);
    wav << "WAVEfmt ";
    put(16, 4), put(1, 2), put(1, 2), put(8000, 4), put(16000, 4), put(2, 2), put(16, 2);
    wav << "data";
    put(samples * 2, 4);
    for (uint32_t i = 0; i < samples; ++i)
      put(0, 2);
  }
  QStringList files;
  for (int i = 0; i < ManyFiles; ++i) {
    const fs::path file = folder / ("sound " + std::to_string(i) + ".wav");
    fs::create_hard_link(tiny, file);
    files << QString::fromStdString(file.string());
  }
  // The window's thread answers throughout: a timer keeps ticking while the files load.
  QElapsedTimer sinceTick;
  qint64 longestGap = 0;
  QTimer ticker;
  ticker.setInterval(10);
  QObject::connect(&ticker, &QTimer::timeout,
                   [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
  sinceTick.start();
  ticker.start();
  Main->AddFiles(files);
  EXPECT_LT(sinceTick.elapsed(), 1000); // adding returns at once
  QElapsedTimer firstPanel;
  firstPanel.start();
  // The first panels show while the rest still load.
  EXPECT_TRUE(WaitFor([&] { return List->Count() > 0; }, 5000));
  EXPECT_GT(List->Loading(), ManyFiles / 2)
      << "first panel after " << firstPanel.elapsed() << " ms";
  const bool loaded = WaitFor([&] { return List->Loading() == 0; }, 120000);
  ticker.stop();
  setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_TRUE(loaded);
  QCoreApplication::processEvents();
  EXPECT_TRUE(Messages.empty()) << Messages.front().substr(0, 300);
  EXPECT_EQ(List->Count(), ManyFiles);
  // Generous for a shared machine; the benchmark measures the real figure.
  EXPECT_LT(longestGap, 2000);
  EXPECT_EQ(OpenMediaFiles(AppDir.path()), 0);
  EXPECT_EQ(List->Item(ManyFiles - 1)->InputFileName(), files.last().toStdString());
}

TEST_F(Window, TheKeyboardAloneReachesTheToolBarShowsSelectsAndRemovesPanelsAndQuits) {
  Add({MediaFile("mov_h264_aac.mov"), MediaFile("flv_h264_aac.flv"), MediaFile("ts_h264_aac.ts"),
       MediaFile("wav_pcm.wav")});
  ASSERT_EQ(List->Count(), 4);
  Main->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Main.get()));
  Main->pcSteps->tabBar()->setFocus(Qt::TabFocusReason);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Main->tbConvert->widgetForAction(Main->btnAdd));
  ASSERT_LT(Panel(0)->y(), 0); // the list shows the panel added last
  Panel(0)->edTitle->setFocus(Qt::TabFocusReason);
  EXPECT_GE(Panel(0)->y(), 0);
  Panel(3)->edTitle->setFocus(Qt::BacktabFocusReason);
  EXPECT_LE(Panel(3)->geometry().bottom(), List->height());
  // Tab stops at a panel itself, where Space selects it and Delete removes it.
  Panel(1)->setFocus(Qt::TabFocusReason);
  QTest::keyClick(Panel(1), Qt::Key_Space);
  EXPECT_TRUE(Panel(1)->FSelected);
  QTest::keyClick(Panel(1), Qt::Key_Delete);
  ASSERT_EQ(List->Count(), 3);
  EXPECT_EQ(Panel(1)->InputFileName(), MediaFile("ts_h264_aac.ts"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Q, Qt::ControlModifier); // quits
  EXPECT_FALSE(Main->isVisible());
}

// Ctrl+O, the dialog, the arrow keys, the Menu key, F5 and the pages: a batch without a mouse.
TEST_F(Window, AWholeBatchRunsFromTheKeyboardAlone) {
  Main->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Main.get()));
  // Ctrl+O opens the dialog; what is typed in it is Qt's own dialog's business.
  QTimer::singleShot(0, [] {
    auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(QStringLiteral("\"%1\" \"%2\"")
                           .arg(QString::fromStdString(MediaFile("mov_h264_aac.mov")),
                                QString::fromStdString(MediaFile("wav_pcm.wav"))));
    static_cast<QDialog *>(dialog)->accept();
  });
  QTest::keyClick(Main.get(), Qt::Key_O, Qt::ControlModifier);
  WaitForLoads();
  ASSERT_EQ(List->Count(), 2);
  EXPECT_TRUE(Main->btnStart->toolTip().contains(QStringLiteral("F5")));
  Main->activateWindow(); // back from the dialog
  ASSERT_TRUE(QTest::qWaitForWindowActive(Main.get()));

  Panel(0)->setFocus(Qt::TabFocusReason);
  QTest::keyClick(Panel(0), Qt::Key_Down);
  EXPECT_EQ(QApplication::focusWidget(), Panel(1));
  QTest::keyClick(Panel(1), Qt::Key_Home);
  EXPECT_EQ(QApplication::focusWidget(), Panel(0));
  QTest::keyClick(Main.get(), Qt::Key_F5);
  ASSERT_TRUE(WaitFor([&] { return Panel(0)->FState != isWaiting; }, 20000));
  ASSERT_TRUE(WaitForState(1, isTerminated) && WaitForState(0, isTerminated));
  EXPECT_TRUE(fs::exists(Panel(0)->OutputFileName()) && fs::exists(Panel(1)->OutputFileName()));
  QTest::keyClick(Main.get(), Qt::Key_3, Qt::ControlModifier);
  EXPECT_EQ(Main->pcSteps->currentWidget(), Main->tshSettings);
  QTest::keyClick(Main.get(), Qt::Key_1, Qt::ControlModifier);
  EXPECT_EQ(Main->pcSteps->currentWidget(), Main->tshHome);
  QTest::keyClick(Main.get(), Qt::Key_2, Qt::ControlModifier);
  Panel(1)->setFocus(Qt::TabFocusReason);
  QTest::keyClick(Panel(1), Qt::Key_Delete); // nothing selected: a hint, shown whole
  EXPECT_TRUE(Main->lbStatus->text().startsWith(QStringLiteral("Click the panels")));
  QTest::qWait(50); // the status line makes room
  const QRect room = Main->lbStatus->contentsRect();
  EXPECT_LE(
      Main->lbStatus->fontMetrics()
          .boundingRect(QRect(0, 0, room.width(), 10000), Qt::TextWordWrap, Main->lbStatus->text())
          .height(),
      room.height());
  bool menuOpened = false;
  QTimer::singleShot(0, [&menuOpened] {
    if (QWidget *menu = QApplication::activePopupWidget()) {
      menuOpened = true;
      QTest::keyClick(menu, Qt::Key_Escape);
    }
  });
  QTest::keyClick(Panel(1), Qt::Key_Menu);
  EXPECT_TRUE(menuOpened);

  Main->btnClear->trigger(); // and a clean list after Clear, no scroll bar left behind
  EXPECT_FALSE(List->scrollbarConvertList->isVisible());
}

// The stick at ARoot chosen as the device folder on the Folders and Files page.
void ChooseStick(TfrmMain &AMain, const std::string &ARoot) {
  AMain.FoldersPage()->FBrowseFolder = [ARoot](const QString &) {
    return QString::fromStdString(ARoot);
  };
  AMain.FoldersPage()->btnDeviceFolder->click();
}

// A memory file system of 8 MB standing in for a small memory stick.
struct TSmallStick {
  testing_support::TempDir Dir;
  std::string Root = Dir.path().string();
  bool Mounted = ::mount("tmpfs", Root.c_str(), "tmpfs", 0, "size=8m") == 0;
  ~TSmallStick() {
    if (Mounted)
      ::umount2(Root.c_str(), MNT_DETACH);
  }
  void Choose(TfrmMain &AMain) const { ChooseStick(AMain, Root); }
};

// Five files sent to the stick at ARoot, which is filled, once they are converted, to leave
// room for the first three and half the fourth. The one message that tells it all.
std::string Window::SendFive(const std::string &ARoot) {
  Add({MediaFile("mov_h264_aac.mov"), MediaFile("mkv_h264_vorbis.mkv"),
       MediaFile("flv_h264_aac.flv"), MediaFile("ts_h264_aac.ts"),
       MediaFile("webm_vp8_vorbis.webm")});
  EXPECT_EQ(List->Count(), 5);
  Main->SendToPSP()->FBeforeSend = [this, ARoot] {
    struct statvfs st {};
    ASSERT_EQ(::statvfs(ARoot.c_str(), &st), 0);
    const uint64_t block = st.f_frsize, free = st.f_bavail * block;
    auto room = [&](const std::string &AVideo) {
      uint64_t bytes = 0;
      for (const std::string &file : {AVideo, AVideo.substr(0, AVideo.size() - 4) + ".THM"})
        bytes += (fs::file_size(file) + block - 1) / block * block;
      return bytes;
    };
    const uint64_t wanted = room(Panel(0)->OutputFileName()) + room(Panel(1)->OutputFileName()) +
                            room(Panel(2)->OutputFileName()) +
                            room(Panel(3)->OutputFileName()) / 2 + 64 * 1024;
    ASSERT_GT(free, wanted);
    std::ofstream(ARoot + "/filler.bin") << std::string(free - wanted, 'f');
  };
  Messages.clear();
  Main->btnSendToPSP->trigger();
  if (!WaitFor([this] { return !Messages.empty() && !Main->SendToPSP()->Running(); }))
    return "(no message)";
  QTest::qWait(50);
  EXPECT_EQ(Messages.size(), 1u);
  return Messages.front();
}

// The first three on the stick at ARoot under the PSP's names, playable; the two others named.
void ExpectThreeOfFive(const std::string &ARoot, const std::string &AMessage) {
  for (const char *line : {"On the memory stick now:\n  mov_h264_aac.mov \u2192 "
                           "MP_ROOT/100ANV01/MAQ00000.MP4\n"
                           "  mkv_h264_vorbis.mkv \u2192 MP_ROOT/100ANV01/MAQ00001.MP4\n"
                           "  flv_h264_aac.flv \u2192 MP_ROOT/100ANV01/MAQ00002.MP4\nDid not fit (",
                           "  ts_h264_aac.ts (needs ", "  webm_vp8_vorbis.webm (needs "})
    EXPECT_NE(AMessage.find(line), std::string::npos) << line << "\n" << AMessage;
  std::vector<std::string> onStick;
  for (const auto &entry : fs::recursive_directory_iterator(ARoot + "/MP_ROOT"))
    if (!entry.is_directory())
      onStick.push_back(fs::relative(entry.path(), ARoot).string());
  std::sort(onStick.begin(), onStick.end());
  EXPECT_EQ(onStick, (std::vector<std::string>{
                         "MP_ROOT/100ANV01/MAQ00000.MP4", "MP_ROOT/100ANV01/MAQ00000.THM",
                         "MP_ROOT/100ANV01/MAQ00001.MP4", "MP_ROOT/100ANV01/MAQ00001.THM",
                         "MP_ROOT/100ANV01/MAQ00002.MP4", "MP_ROOT/100ANV01/MAQ00002.THM"}));
  for (int i = 0; i < 3; ++i)
    testing_support::ExpectPlaysOnPSP(
        ARoot + "/MP_ROOT/100ANV01/MAQ0000" + std::to_string(i) + ".MP4", DefaultProfileIndex);
}

// Send to PSP: the list converted and put on a small stick in its order while it fits; those
// that do not fit are named with the room they need, and nothing else lands on the stick.
TEST_F(Window, SendToPSPPutsWhatFitsOnASmallStickAndNamesTheRest) {
  TSmallStick stick;
  if (!stick.Mounted)
    GTEST_SKIP() << "no memory file system can be mounted here for a small stick";
  stick.Choose(*Main);
  const std::string message = SendFive(stick.Root);
  ExpectThreeOfFive(stick.Root, message);
}

// A stick served by the real udisks2 daemon on a private bus that stands in for the system bus.
// It is set up before the window: the D-Bus library reads the system bus's address once per
// process, when the window first talks to the session bus.
class WindowWithUDisks2Stick : public Window {
protected:
  void SetUp() override {
    if (WindowsMade > 0)
      GTEST_SKIP() << "a window ran earlier in this process, so the D-Bus library keeps the real "
                      "system bus: run this test in a process of its own, as ctest does";
    Stick = std::make_unique<testing_support::TUDisks2Stick>();
    if (!Stick->Unavailable().empty())
      GTEST_SKIP() << Stick->Unavailable();
    ASSERT_EQ(Stick->Error(), "");
    Window::SetUp();
  }
  std::unique_ptr<testing_support::TUDisks2Stick> Stick; // outlives the window
};

// "Eject when done" ticked: once the videos are on it, the stick is unmounted through udisks2.
TEST_F(WindowWithUDisks2Stick, SendToPSPEjectsTheStickWhenAsked) {
  const std::string &root = Stick->Root();
  ChooseStick(*Main, root);
  Main->FoldersPage()->chkEjectWhenDone->setChecked(true);
  const std::string message = SendFive(root);
  EXPECT_NE(message.find("\nThe stick has been unmounted: it can be removed."), std::string::npos)
      << message;
  ASSERT_EQ(MountSource(root), "");
  // The page takes the stick for gone: nothing more to eject or to copy into its empty folder.
  EXPECT_TRUE(WaitFor([this] { return !Main->FoldersPage()->btnEject->isEnabled(); }, 10000));
  // What it holds, read from the stick mounted again.
  ASSERT_EQ(::mount(Stick->Device().c_str(), root.c_str(), "ext4", 0, nullptr), 0);
  ExpectThreeOfFive(root, message);
}

// A batch that would not fit the stick at the usual rate is offered the rate that fits; taken,
// every video goes on the stick and the note weighs the real total against the estimate.
TEST_F(Window, SendToPSPOffersTheBitRateThatFitsAndThenAllGoOn) {
  TSmallStick stick;
  if (!stick.Mounted)
    GTEST_SKIP() << "no memory file system can be mounted here for a small stick";
  const std::string &root = stick.Root;
  stick.Choose(*Main);
  Add({MediaFile("mov_h264_aac.mov"), MediaFile("mkv_h264_vorbis.mkv")});
  ASSERT_EQ(List->Count(), 2);
  // Room for about 70% of what the panels expect.
  struct statvfs st {};
  ASSERT_EQ(::statvfs(root.c_str(), &st), 0);
  const uint64_t free = st.f_bavail * st.f_frsize;
  const uint64_t wanted = static_cast<uint64_t>(
      0.7 * static_cast<double>(Panel(0)->ExpectedSize() + Panel(1)->ExpectedSize()));
  std::ofstream(root + "/filler.bin") << std::string(free - wanted, 'f');
  Main->FoldersPage()->LookForPSP();
  ASSERT_TRUE(WaitFor([&] {
    return Main->FoldersPage()->DeviceFree() >= 0 &&
           static_cast<uint64_t>(Main->FoldersPage()->DeviceFree()) <= wanted;
  }));
  std::vector<std::string> questions;
  SetQuestionSink([&](const QString &AText) {
    questions.push_back(AText.toStdString());
    return true;
  });
  Messages.clear();
  Main->btnSendToPSP->trigger();
  const bool told = WaitFor([this] { return !Messages.empty() && !Main->SendToPSP()->Running(); });
  SetQuestionSink({});
  ASSERT_TRUE(told);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_NE(questions[0].find(" kbit/s, a little softer picture"), std::string::npos)
      << questions[0];
  EXPECT_GT(Panel(0)->ContentChoice().VideoBitrate, 250000);
  EXPECT_LT(Panel(0)->ContentChoice().VideoBitrate, 768000);
  EXPECT_EQ(Messages[0].find("Did not fit"), std::string::npos) << Messages[0];
  EXPECT_NE(Messages[0].find("  mkv_h264_vorbis.mkv \u2192 MP_ROOT/100ANV01/MAQ00001.MP4"),
            std::string::npos)
      << Messages[0];
  EXPECT_NE(Messages[0].find("Expected "), std::string::npos) << Messages[0];
}

// Settings that cannot be read are told at start, with the reason.
TEST_F(Window, SettingsThatCannotBeReadAreToldAtStart) {
  const std::string settings = Main->FoldersPage()->Places().SettingsFile;
  Main.reset();
  fs::remove(settings);
  fs::create_directories(fs::path(settings).parent_path());
  fs::create_symlink(settings, settings); // a loop: no file behind the name
  Main = std::make_unique<TfrmMain>(QString::fromStdString(AppDir.path().string()));
  List = Main->ConvertList();
  QCoreApplication::processEvents();
  fs::remove(settings);
  ASSERT_FALSE(Messages.empty());
  ASSERT_EQ(Messages.size(), 1u); // told once
  EXPECT_NE(Messages[0].find("cannot be read (a symbolic link that leads back to itself"),
            std::string::npos)
      << Messages[0];
}

// The next start opens where this one closed: as large, as placed, on the same page.
TEST_F(Window, TheNextStartOpensWhereTheWindowClosed) {
  Main->resize(640, 480);
  Main->move(20, 30);
  Main->pcSteps->setCurrentWidget(Main->tshSettings);
  QTest::qWait(20);
  const QRect closed(Main->pos(), Main->size());
  Main->close();
  ASSERT_FALSE(Main->isVisible());
  Main = std::make_unique<TfrmMain>(QString::fromStdString(AppDir.path().string()));
  List = Main->ConvertList();
  EXPECT_EQ(QRect(Main->pos(), Main->size()), closed);
  EXPECT_EQ(Main->pcSteps->currentWidget(), Main->tshSettings);
  Main->pcSteps->setCurrentWidget(Main->tshConvert); // the next tests start where they expect
  Main->close();
}

TEST_F(Window, ANarrowWindowScrollsThePanelsSidewaysInsteadOfCuttingThem) {
  Add({MediaFile("mov_h264_aac.mov")});
  Main->resize(500, 450);
  QTest::qWait(20);
  const TfrmConvertItem *panel = Panel(0);
  EXPECT_GE(panel->width(), panel->minimumSizeHint().width());
  EXPECT_GE(panel->lbDuration->width(),
            panel->lbDuration->fontMetrics().horizontalAdvance(panel->lbDuration->text()));
  ASSERT_TRUE(List->scrollbarSideways->isVisible());
  List->scrollbarSideways->setValue(List->scrollbarSideways->maximum());
  EXPECT_LE(panel->geometry().right(), List->scrollbarConvertList->x()); // its end comes in view
  EXPECT_LE(List->scrollbarSideways->geometry().bottom(), List->height());
  Main->resize(1000, 500);
  QTest::qWait(20);
  EXPECT_FALSE(List->scrollbarSideways->isVisible());
  EXPECT_EQ(panel->x(), 0);
}

// German, the longest texts, at 13 pt on an 800x600 screen: the panel fits without scrolling
// sideways; what is too long shortens inside it.
TEST_F(Window, AGermanPanelAt13PointFitsAnEightHundredPixelScreen) {
  QTranslator german;
  ASSERT_TRUE(german.load(QLocale(QLocale::German), QStringLiteral("korvelo"), QStringLiteral("_"),
                          QString::fromStdString(CatalogueFolder(TCatalogueKind::ckWindow))));
  QCoreApplication::installTranslator(&german);
  const QFont desktop = QApplication::font();
  QFont larger = desktop;
  larger.setPointSizeF(13);
  QApplication::setFont(larger);
  Add({MediaFile("mov_h264_aac.mov")});
  QTest::qWait(20);
  ASSERT_EQ(List->Count(), 1);
  const TfrmConvertItem *panel = Panel(0);
  EXPECT_EQ(panel->gbInput->title(), QStringLiteral("Eingabe"));
  EXPECT_FALSE(List->scrollbarSideways->isVisible())
      << panel->minimumSizeHint().width() << " " << List->width() << " " << Main->width();
  EXPECT_LE(panel->geometry().right(), List->scrollbarConvertList->x());
  QCoreApplication::removeTranslator(&german);
  QApplication::setFont(desktop);
}

TEST_F(Window, OnAScreenSmallerThanTheDesignTheWindowFitsTheScreen) {
  // The offscreen screen is 800x600, narrower than the design.
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect window = Main->geometry();
  EXPECT_TRUE(available.contains(window))
      << window.x() << "," << window.y() << " " << window.width() << "x" << window.height();
}

// On an 800x600 screen every command is on the bar with its whole caption, and long names lose
// their middle, never what follows them.
TEST_F(Window, OnASmallScreenEveryCommandShowsAndLongTextsLoseTheirMiddle) {
  for (QAction *action : {Main->btnAdd, Main->btnRemove, Main->btnClear, Main->btnStart,
                          Main->btnStop, Main->btnPause, Main->btnResume, Main->btnOpenAVCFolder,
                          Main->btnOpenMPEG4Folder, Main->btnOpenDeviceFolder}) {
    const QToolButton *button = Main->tbConvert->widgetForAction(action);
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isVisible()) << action->text().toStdString();
    EXPECT_GE(button->width(), button->sizeHint().width()) << action->text().toStdString();
    EXPECT_FALSE(button->icon().isNull()) << action->text().toStdString();
    // on the bar, and the bar above the list, both on the screen
    EXPECT_TRUE(Main->tbConvert->rect().contains(button->geometry()))
        << action->text().toStdString() << " " << button->y() << " " << Main->tbConvert->height();
    EXPECT_TRUE(
        Main->rect().contains(QRect(button->mapTo(Main.get(), QPoint(0, 0)), button->size())))
        << action->text().toStdString();
  }
  EXPECT_LE(Main->tbConvert->geometry().bottom(), Main->plBackground->geometry().top());

  const fs::path folder = AppDir.path() / "holiday videos of the whole family from last summer";
  fs::create_directories(folder);
  const std::string file = (folder / "at the seaside, part one.mov").string();
  fs::copy_file(MediaFile("mov_h264_aac.mov"), file);
  Add({file});
  ASSERT_EQ(List->Count(), 1);
  const TfrmConvertItem *panel = Panel(0);
  const auto *output = static_cast<const TPathField *>(panel->edOutputFilename);
  const QString outputName = QFileInfo(output->text()).fileName();
  EXPECT_TRUE(output->ShownText().endsWith(QStringLiteral("\u2026/") + outputName))
      << output->ShownText().toStdString();
  EXPECT_TRUE(
      output->ShownText().startsWith(QString::fromStdString(AppDir.path().string()).left(4)));
  EXPECT_EQ(output->toolTip(), output->text());
  // The input's field is narrower: its name shortens too, but keeps its start and its end.
  const QString input = panel->lbInputFilename->text();
  EXPECT_TRUE(input.contains(QStringLiteral("\u2026")) && input.endsWith(QStringLiteral(".mov")))
      << input.toStdString();
  EXPECT_EQ(panel->lbInputFilename->toolTip().toStdString(), file);
  // The panel fits the list's width: nothing to scroll sideways for.
  EXPECT_LE(panel->width(), List->width() - List->scrollbarConvertList->width())
      << panel->minimumSizeHint().width();

  // However narrow the format line, the bit rate shows whole or not at all.
  const QString line = QStringLiteral("mov,mp4,m4a,3gp,3g2,mj2,  124kbps,  640x480");
  const QFontMetrics metrics = panel->lbInfoString->fontMetrics();
  for (int width = metrics.horizontalAdvance(line);
       width >= metrics.horizontalAdvance(QStringLiteral("\u2026 124kbps")); --width) {
    const QString shown =
        ElideFormatLine(metrics, line, QStringLiteral("mov,mp4,m4a,3gp,3g2,mj2"), width);
    EXPECT_TRUE(shown.contains(QRegularExpression(QStringLiteral("[ ,]124kbps"))))
        << shown.toStdString();
    EXPECT_LE(metrics.horizontalAdvance(shown), width);
  }

  // A batch started while its file still loads tells the time left; a long name loses its
  // middle for it.
  List->ClearItems();
  const std::string longName =
      (folder / "the whole family at the seaside on a sunny afternoon in august, with "
                "grandmother, the neighbours and the dog, part one of three.mp4")
          .string();
  fs::copy_file(testing_support::LongMediaFile(60), longName);
  Main->AddFiles({QString::fromStdString(longName)});
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitFor([this] { return Main->lbStatus->text().endsWith(QStringLiteral(" left")); }))
      << Main->lbStatus->text().toStdString();
  const QString shown = Main->lbStatus->ShownText();
  EXPECT_TRUE(shown.contains(QStringLiteral("\u2026")) &&
              shown.contains(
                  QRegularExpression(QStringLiteral("\\(1 of 1\\)  \u2014  about [0-9].* left$"))))
      << shown.toStdString();
  EXPECT_EQ(Main->lbStatus->toolTip(), Main->lbStatus->text());
  EXPECT_TRUE(Main->lbStatus->text().contains(
      QString::fromStdString(fs::path(longName).filename().string())));
  List->StopAll();
}

TEST_F(Window, AFolderButtonThatCannotOpenItsFolderSaysSo) {
  // The offscreen platform has no file manager to open folders with.
  Main->btnOpenAVCFolder->trigger();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].rfind(AVCFolder + " could not be opened", 0), 0u) << Messages[0];
  Main->btnOpenDeviceFolder->trigger(); // none chosen: nothing to open, nothing to say
  EXPECT_EQ(Messages.size(), 1u);
}

// A paused batch stays paused when its paused panel is removed: the next one waits for Resume.
TEST_F(Window, RemovingThePausedPanelLeavesTheBatchPausedUntilResume) {
  Add({testing_support::LongMediaFile(60), MediaFile("mov_h264_aac.mov")});
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForProgress(0, 1));
  Main->btnPause->trigger();
  Panel(0)->SetSelected(true);
  Main->btnRemove->trigger();
  ASSERT_EQ(List->Count(), 1);
  QTest::qWait(500);
  EXPECT_EQ(Panel(0)->FState, isWaiting);
  EXPECT_EQ(Main->lbStatus->text(), QStringLiteral("Paused"));
  Main->btnResume->trigger();
  ASSERT_TRUE(WaitForState(0, isTerminated));
  EXPECT_EQ(Panel(0)->pbarPreview->value(), 100);
}

// A file added while the last panel converts, whose load fails: its message box runs the
// event loop while that conversion ends, and the batch must not start the failed panel.
TEST_F(Window, AFileThatFailsToLoadDuringTheBatchIsNeverStarted) {
  const std::string broken = AppDir.file("broken.mp4");
  std::ofstream(broken, std::ios::binary) << std::string(4096, 'x');
  Add({MediaFile("mov_h264_aac.mov")});
  Main->btnStart->trigger();
  SetMessageSink([this](const QString &AText, QMessageBox::Icon) {
    Messages.push_back(AText.toStdString());
    WaitFor([this] { return List->AllTerminated(); }, 60000); // as long as a person reads
  });
  Add({broken});
  ASSERT_EQ(Messages.size(), 1u);
  ASSERT_TRUE(WaitForState(0, isTerminated));
  QTest::qWait(300);
  EXPECT_EQ(List->Count(), 1);
  EXPECT_EQ(Main->lbStatus->text(), QStringLiteral("All conversions finished"));
  EXPECT_EQ(Main->pbarTotal->value(), 100);
}

TEST_F(Window, RemovingTheConvertingPanelStopsItAndTheBatchGoesOn) {
  Add({testing_support::LongMediaFile(60), MediaFile("mov_h264_aac.mov")});
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForProgress(0, 1));
  QTest::mouseClick(Panel(0)->imgThumb, Qt::LeftButton);
  const std::string cutShort = Panel(0)->OutputFileName();
  Main->btnRemove->trigger();
  ASSERT_EQ(List->Count(), 1);
  ASSERT_TRUE(WaitForState(0, isConverting)); // the batch goes on
  EXPECT_FALSE(fs::exists(cutShort));         // no half file for the device page to list
  ASSERT_TRUE(WaitForState(0, isTerminated));
  EXPECT_EQ(Panel(0)->pbarPreview->value(), 100);
  EXPECT_TRUE(WaitFor([&] { return Main->pbarTotal->value() == 100; }, 2000));
  Main->btnClear->trigger(); // an empty list shows no progress
  EXPECT_EQ(Main->pbarTotal->value(), 0);
  EXPECT_TRUE(Main->lbStatus->text().isEmpty());
}

TEST_F(Window, ASoundFilesPanelSaysSoAndItsOutputFollowsTheProfileChosen) {
  Add({MediaFile("wav_pcm.wav")});
  ASSERT_EQ(List->Count(), 1);
  EXPECT_TRUE(Panel(0)->lbInfoString->text().startsWith(QStringLiteral("PCM")))
      << Panel(0)->lbInfoString->text().toStdString();
  EXPECT_TRUE(Panel(0)->lbInfoString->toolTip().startsWith(QStringLiteral("WAV: PCM sound, ")))
      << Panel(0)->lbInfoString->toolTip().toStdString();
  const std::string first = Panel(0)->OutputFileName();
  QTest::keyClick(Panel(0)->cboxFormat, Qt::Key_Home); // row 0, an MPEG4 profile
  ASSERT_EQ(Panel(0)->cboxFormat->currentIndex(), 0);
  // The file is loaded again off the window's thread: the new name comes by a queued event.
  EXPECT_EQ(Panel(0)->OutputFileName(), first);
  ASSERT_TRUE(WaitFor([&] { return Panel(0)->OutputFileName() != first; }));
  const std::string chosen = Panel(0)->OutputFileName();
  EXPECT_EQ(fs::path(chosen).parent_path(), AppDir.path() / "MPEG4");
  EXPECT_EQ(Panel(0)->edOutputFilename->text().toStdString(), chosen);
  EXPECT_FALSE(fs::exists(first)); // the name it held before is free again
  EXPECT_TRUE(Messages.empty());
}

TEST_F(Window, PanelsNotStartedFollowANewOutputFolderAndTheConvertingOneKeepsItsOwn) {
  const std::string gone = AppDir.file("gone.mov");
  fs::copy_file(MediaFile("mov_h264_aac.mov"), gone);
  Add({testing_support::LongMediaFile(60), MediaFile("mov_h264_aac.mov"), gone});
  fs::remove(gone); // its panel cannot follow: it says why
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForState(0, isConverting));
  const std::string converting = Panel(0)->OutputFileName();
  const std::string held = Panel(1)->OutputFileName();
  const std::string chosen = AppDir.file("elsewhere");
  fs::create_directories(chosen);
  Main->FoldersPage()->FBrowseFolder = [&](const QString &) {
    return QString::fromStdString(chosen);
  };
  Main->FoldersPage()->btnOutputFolder->click();
  EXPECT_EQ(Panel(0)->OutputFileName(), converting);
  EXPECT_EQ(Panel(0)->FState, isConverting);
  // The waiting panel is loaded again off the window's thread.
  EXPECT_TRUE(WaitFor([&] { return Panel(1)->OutputFileName() != held; }));
  const std::string moved = Panel(1)->OutputFileName();
  EXPECT_EQ(fs::path(moved).parent_path(), fs::path(chosen) / "AVC");
  EXPECT_EQ(Panel(1)->edOutputFilename->text().toStdString(), moved);
  EXPECT_TRUE(fs::exists(moved));
  EXPECT_FALSE(fs::exists(held)); // the name it held in the old folder is not left behind
  ASSERT_TRUE(WaitFor([&] { return Panel(2)->pbarPreview->text() == "Failed"; }));
  EXPECT_TRUE(Panel(2)->lbReason->isVisible());
  EXPECT_TRUE(Messages.empty()) << Messages.front();
}

TEST_F(Window, TheCommandLineAnswersHelpAndVersionAndTakesEverythingElseAsFiles) {
  // Help and version need no display; an unknown option is refused, not added as a file.
  auto run = [](const QStringList &AArguments, QString &AOut, QString &AErr) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KORVELO_WINDOW_PROGRAM), AArguments);
    EXPECT_TRUE(program.waitForFinished(20000));
    AOut = QString::fromLocal8Bit(program.readAllStandardOutput());
    AErr = QString::fromLocal8Bit(program.readAllStandardError());
    return program.exitCode();
  };
  QString out, err;
  EXPECT_EQ(run({QStringLiteral("--help")}, out, err), 0);
  EXPECT_TRUE(out.startsWith(QStringLiteral("Usage: korvelo-converter"))) << out.toStdString();
  EXPECT_EQ(run({QStringLiteral("-V")}, out, err), 0);
  EXPECT_EQ(out, QStringLiteral("korvelo-converter " KORVELO_VERSION "\n"));
  EXPECT_EQ(
      run({QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--bogus")},
          out, err),
      2);
  EXPECT_TRUE(err.contains(QStringLiteral("unrecognized option '--bogus'"))) << err.toStdString();

  const TWindowCommandLine files = ParseWindowCommandLine(
      {QStringLiteral("clip.mp4"), QStringLiteral("./-a.mp3"), QStringLiteral("--"),
       QStringLiteral("-b.mp3"), QStringLiteral("--help")},
      QStringLiteral("/videos"));
  EXPECT_EQ(files.Command, TWindowCommand::wcOpen);
  EXPECT_EQ(files.Files, QStringList({"/videos/clip.mp4", "/videos/-a.mp3", "/videos/-b.mp3",
                                      "/videos/--help"}));
}

TEST_F(Window, ATerminateSignalClosesTheProgramAsItsCloseButtonWould) {
  // Its own settings, output folder and file: a waiting panel holds an empty output name.
  testing_support::TempDir home;
  const std::string output = home.file("out"), settings = home.file("config/Korvelo Converter");
  fs::create_directories(output);
  fs::create_directories(settings);
  std::ofstream(settings + "/Config.ini") << "[Folders]\nOutputFolder=" << output << "\n";
  const std::string held = output + "/AVC/mov_h264_aac-480x272-AVC.mp4";
  // It ends as a command line program ended by the signal does; the second time its settings
  // cannot be written (the file it writes first is taken by a folder), which it says.
  for (const auto &[signal, status] : {std::pair{SIGTERM, 143}, std::pair{SIGINT, 130}}) {
    SCOPED_TRACE(signal);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(home.file("config")));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KORVELO_WINDOW_PROGRAM),
                  {QStringLiteral("-platform"), QStringLiteral("offscreen"),
                   QString::fromStdString(MediaFile("mov_h264_aac.mov"))});
    ASSERT_TRUE(WaitFor([&] { return fs::exists(held); }, 30000));
    ::kill(static_cast<pid_t>(program.processId()), signal);
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), status);
    EXPECT_FALSE(fs::exists(held));
    const std::string errors = program.readAllStandardError().toStdString();
    if (signal == SIGTERM) {
      EXPECT_NE(ReadFile(settings + "/Config.ini").find("DeviceFolder="), std::string::npos);
      fs::create_directory(settings + "/Config.ini.tmp");
    } else {
      EXPECT_NE(
          errors.find("The folder settings could not be saved (" + settings + "/Config.ini.tmp: "),
          std::string::npos)
          << errors;
    }
  }
}

TEST_F(Window, ASecondLaunchHandsItsFileToTheRunningWindowAndEnds) {
  // Two real programs with the same settings: the second names a file relative to its own
  // folder. The first adds it (its waiting panel holds the output name) and the second ends.
  testing_support::TempDir home;
  const std::string output = home.file("out"), settings = home.file("config/Korvelo Converter");
  fs::create_directories(output);
  fs::create_directories(settings);
  std::ofstream(settings + "/Config.ini") << "[Folders]\nOutputFolder=" << output << "\n";
  const std::string held = output + "/AVC/mov_h264_aac-480x272-AVC.mp4";
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(home.file("config")));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  QProcess first, second;
  first.setProcessEnvironment(env);
  second.setProcessEnvironment(env);
  first.start(QStringLiteral(KORVELO_WINDOW_PROGRAM), QStringList());
  ASSERT_TRUE(first.waitForStarted());
  ASSERT_TRUE(
      WaitFor([] { return fs::exists(TSingleInstance::SocketPath().toStdString()); }, 30000));
  second.setWorkingDirectory(
      QString::fromStdString(fs::path(MediaFile("mov_h264_aac.mov")).parent_path().string()));
  second.start(QStringLiteral(KORVELO_WINDOW_PROGRAM), {QStringLiteral("mov_h264_aac.mov")});
  ASSERT_TRUE(second.waitForFinished(30000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(WaitFor([&] { return fs::exists(held); }, 30000));
  EXPECT_EQ(first.state(), QProcess::Running);
  first.terminate();
  EXPECT_TRUE(first.waitForFinished(20000));
  EXPECT_FALSE(fs::exists(held));
  // Gone with its window: the next launch opens one of its own.
  EXPECT_FALSE(fs::exists(TSingleInstance::SocketPath().toStdString()));
}

// A session bus of the test's own, so that nothing reaches the desktop the tests run on.
class PrivateBus {
public:
  PrivateBus() {
    Daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address=1")});
    if (Daemon.waitForStarted() && Daemon.waitForReadyRead(10000))
      Address = QString::fromUtf8(Daemon.readLine()).trimmed();
  }
  ~PrivateBus() {
    Daemon.terminate();
    Daemon.waitForFinished(5000);
  }
  QProcess Daemon;
  QString Address;
};

TEST_F(Window, TheBatchEndIsNotifiedAndItsProgressShownOnTheLauncherEntry) {
  PrivateBus bus;
  ASSERT_FALSE(bus.Address.isEmpty()) << "dbus-daemon did not start";
  // A notification service that takes the calls, and dbus-monitor watching them.
  QDBusConnection service = QDBusConnection::connectToBus(bus.Address, QStringLiteral("service"));
  ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
  QProcess monitor;
  monitor.start(QStringLiteral("dbus-monitor"),
                {QStringLiteral("--address"), bus.Address,
                 QStringLiteral("interface='org.freedesktop.Notifications'"),
                 QStringLiteral("interface='com.canonical.Unity.LauncherEntry'")});
  QString seen;
  auto watched = [&](const QString &AText) {
    seen += QString::fromUtf8(monitor.readAllStandardOutput());
    return seen.contains(AText);
  };
  ASSERT_TRUE(WaitFor(
      [&] {
        QDBusMessage probe = QDBusMessage::createSignal(
            QStringLiteral("/probe"), QStringLiteral("com.canonical.Unity.LauncherEntry"),
            QStringLiteral("Update"));
        probe << QStringLiteral("application://probe") << QVariantMap();
        service.send(probe);
        QTest::qWait(100);
        return watched(QStringLiteral("application://probe"));
      },
      10000));
  seen.clear();
  Main->Notifier().SetConnection(
      QDBusConnection::connectToBus(bus.Address, QStringLiteral("window")));

  // One file converts, the next has gone when its turn comes: the batch ends there.
  const std::string copy = AppDir.file("clip.mov");
  fs::copy_file(MediaFile("mov_h264_aac.mov"), copy);
  Add({MediaFile("flv_h264_aac.flv"), copy});
  fs::remove(copy);
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForState(1, isTerminated));
  ASSERT_TRUE(WaitFor([&] { return watched(QStringLiteral("member=Notify")); }, 10000));
  QTest::qWait(300);
  watched(QString());
  monitor.terminate();
  monitor.waitForFinished(5000);
  EXPECT_EQ(seen.count(QStringLiteral("member=Notify")), 1) << seen.toStdString();
  EXPECT_TRUE(seen.contains(QStringLiteral("string \"A conversion failed\"")));
  EXPECT_TRUE(seen.contains(QStringLiteral("string \"1 converted, 1 failed: clip.mov\"")))
      << seen.toStdString();
  // The launcher entry showed the batch's progress and was cleared once at its end.
  const int updates = seen.count(QStringLiteral("application://korvelo-converter.desktop"));
  EXPECT_GE(updates, 2);
  EXPECT_LE(updates, 102);
  EXPECT_EQ(seen.count(QStringLiteral("boolean false")), 1);
  EXPECT_EQ(seen.count(QStringLiteral("boolean true")), updates - 1);
  EXPECT_GT(seen.lastIndexOf(QStringLiteral("boolean false")),
            seen.lastIndexOf(QStringLiteral("boolean true")));
}

TEST_F(Window, FilesLeftWaitingAreOfferedBackWithTheirChoicesOnceEachButNotOneThatHasGone) {
  const std::string gone = AppDir.file("gone.mov"), kept = AppDir.file("kept.flv");
  fs::copy_file(MediaFile("mov_h264_aac.mov"), gone);
  fs::copy_file(MediaFile("flv_h264_aac.flv"), kept);
  Add({gone, kept});
  ASSERT_EQ(List->Count(), 2);
  Panel(1)->cboxFormat->setCurrentIndex(1); // MPEG4 368x208
  emit Panel(1)->cboxFormat->activated(1);
  TContentChoice part;
  part.EndMs = 1000;
  Panel(1)->SetContentChoice(part);
  EXPECT_FALSE(Main->btnRestore->isVisible());
  // One more still loading as the window closes is remembered too.
  const std::string loading = AppDir.file("loading.ts");
  fs::copy_file(MediaFile("ts_h264_aac.ts"), loading);
  Main->AddFiles({QString::fromStdString(loading)});
  ASSERT_EQ(List->Loading(), 1);
  ASSERT_TRUE(Main->close());
  fs::remove(gone);

  Main = std::make_unique<TfrmMain>(QString::fromStdString(AppDir.path().string()));
  Main->show();
  List = Main->ConvertList();
  EXPECT_EQ(List->Count(), 0); // offered, not added unasked
  ASSERT_TRUE(Main->btnRestore->isVisible());
  EXPECT_EQ(Main->btnRestore->text(), QStringLiteral("Restore 2 files from last time"));
  Main->btnRestore->click();
  WaitForLoads();
  ASSERT_EQ(List->Count(), 2);
  EXPECT_EQ(Panel(0)->InputFileName(), kept);
  EXPECT_EQ(Panel(0)->cboxFormat->currentIndex(), 1);
  EXPECT_EQ(Panel(0)->ContentChoice().EndMs, 1000);
  EXPECT_NE(Panel(0)->edOutputFilename->text().indexOf(QStringLiteral("368x208-MPEG4")), -1);
  EXPECT_EQ(Panel(1)->InputFileName(), loading);
  EXPECT_FALSE(Main->btnRestore->isVisible());
  EXPECT_TRUE(Messages.empty()) << Messages.front();

  // Closing again and again, with the same files added anew, keeps one entry each.
  for (int i = 0; i < 2; ++i) {
    Add({kept});
    ASSERT_TRUE(Main->close());
    Main = std::make_unique<TfrmMain>(QString::fromStdString(AppDir.path().string()));
    Main->show();
    List = Main->ConvertList();
  }
  EXPECT_EQ(Main->btnRestore->text(), QStringLiteral("Restore 3 files from last time"));
}

TEST_F(Window, StartChecksTheOutputFolderAgainAndSaysOnceWhenItCannotBeWritten) {
  Add({MediaFile("mov_h264_aac.mov"), MediaFile("flv_h264_aac.flv")});
  const fs::path avc = AppDir.path() / "AVC";
  fs::remove_all(avc);
  std::ofstream(avc) << "not a folder";
  Main->btnStart->trigger();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], "The selected output folder can not be written!\n" + avc.string() +
                             " is a file, not a folder");
  EXPECT_EQ(Main->pcSteps->currentWidget(), Main->tshSettings);
  EXPECT_EQ(Panel(0)->FState, isWaiting);
  // A folder that has merely gone is made again.
  fs::remove(avc);
  Messages.clear();
  Main->btnStart->trigger();
  EXPECT_TRUE(WaitFor([&] { return Panel(0)->FState != isWaiting; }));
  EXPECT_TRUE(fs::is_directory(avc));
  EXPECT_TRUE(Messages.empty()) << Messages.front();
}

TEST_F(Window, TheOpenDialogOffersFilesWhateverTheCaseOfTheirExtension) {
  std::ofstream(AppDir.file("clip.mp4")) << "x";
  std::ofstream(AppDir.file("SONG.Mp3")) << "x";
  std::ofstream(AppDir.file("notes.txt")) << "x";
  QFileDialog dialog;
  TfrmMain::ConfigureOpenDialog(dialog);
  dialog.setDirectory(QString::fromStdString(AppDir.path().string()));
  dialog.show();
  auto *view = dialog.findChild<QListView *>(QStringLiteral("listView"));
  ASSERT_NE(view, nullptr);
  auto visible = [&] {
    QStringList names;
    for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
      if (!view->isRowHidden(row))
        names << view->model()->index(row, 0, view->rootIndex()).data().toString();
    return names;
  };
  QStringList shown;
  WaitFor(
      [&] {
        shown = visible();
        return shown.contains(QStringLiteral("clip.mp4"));
      },
      5000);
  EXPECT_TRUE(shown.contains(QStringLiteral("clip.mp4"))) << shown.join(' ').toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("SONG.Mp3")));
  EXPECT_FALSE(shown.contains(QStringLiteral("notes.txt")));
  // "All Files" means every file, those without an extension too.
  std::ofstream(AppDir.file("recording")) << "x";
  dialog.selectNameFilter(TfrmMain::OpenDialogFilters().last());
  WaitFor([&] { return visible().contains(QStringLiteral("recording")); }, 5000);
  EXPECT_TRUE(visible().contains(QStringLiteral("notes.txt")));
  EXPECT_TRUE(visible().contains(QStringLiteral("recording"))) << visible().join(' ').toStdString();
}

TEST_F(Window, TheOpenDialogComesBackToTheFolderTheLastFilesCameFrom) {
  const QString media =
      QString::fromStdString(fs::path(MediaFile("mov_h264_aac.mov")).parent_path().string());
  QString opened;
  auto answer = [&](const QString &AFile) {
    QTimer::singleShot(0, [&opened, AFile] {
      auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      opened = dialog->directory().absolutePath();
      if (AFile.isEmpty())
        return dialog->reject();
      dialog->selectFile(AFile);
      static_cast<QDialog *>(dialog)->accept(); // QFileDialog takes the chosen file there
    });
    Main->btnAdd->trigger();
  };
  answer(media + QStringLiteral("/mov_h264_aac.mov"));
  WaitForLoads();
  ASSERT_EQ(List->Count(), 1);
  answer(QString());
  EXPECT_EQ(opened, media);
  // Files dropped or named on the command line count too.
  const QString other = QString::fromStdString(AppDir.path().string());
  std::ofstream(AppDir.file("notes.txt")) << "x";
  Main->AddFiles({other + QStringLiteral("/notes.txt")});
  answer(QString());
  EXPECT_EQ(opened, other);
}

// Chooses the entry APath (a submenu's title, then the entry's text up to its end) from the
// panel's context menu, opened as a right click opens it.
void ChooseFromPanelMenu(TfrmConvertItem *APanel, const QStringList &APath) {
  bool chosen = false;
  QTimer::singleShot(0, [&] {
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    if (!menu)
      return;
    QWidget *opened = menu;
    QAction *found = nullptr;
    for (const QString &step : APath) {
      found = nullptr;
      for (QAction *action : menu->actions())
        if (action->text().startsWith(step))
          found = action;
      if (!found)
        break;
      if (found->menu())
        menu = found->menu();
    }
    opened->close();
    if (found && found->isEnabled()) {
      found->trigger();
      chosen = true;
    }
  });
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(10, 10),
                          APanel->mapToGlobal(QPoint(10, 10)));
  QApplication::sendEvent(APanel, &click);
  ASSERT_TRUE(chosen) << APath.join(QStringLiteral(" > ")).toStdString();
}

TEST_F(Window, SoundSubtitlesAndPartChosenOnThePanelAreShownAndConverted) {
  // English sound at 440 Hz, French 5.1 at 880 Hz, German subtitles.
  Add({MediaFile("forced_subtitles.mkv")});
  ASSERT_EQ(List->Count(), 1);
  TfrmConvertItem *panel = Panel(0);
  ChooseFromPanelMenu(panel, {QStringLiteral("Sound"), QStringLiteral("fre")});
  ChooseFromPanelMenu(panel, {QStringLiteral("Subtitles"), QStringLiteral("ger")});
  // The part from the preview's picture at 20 % to the one at 60 % (the slider moves the
  // picture once the user has been in it).
  QTest::mouseClick(panel->tbPreviewPos, Qt::LeftButton);
  // Each mark is the time of the picture shown, which comes once decoded.
  const auto markAt = [&](int APercent, Qt::Key AKey) {
    panel->tbPreviewPos->setValue(APercent);
    const int64_t sliderUs = panel->boxPreview->SliderTimeUs();
    EXPECT_TRUE(WaitFor(
        [&] { return std::llabs(panel->boxPreview->PictureTimeUs() - sliderUs) < 100000; }, 10000));
    QTest::keyClick(panel, AKey);
    return panel->boxPreview->PictureTimeUs() / 1000; // whole milliseconds, as marks are taken
  };
  const int64_t startMs = markAt(20, Qt::Key_BracketLeft);
  const int64_t endMs = markAt(60, Qt::Key_BracketRight);
  const TContentChoice &choice = panel->ContentChoice();
  EXPECT_EQ(choice.StartMs, startMs);
  EXPECT_EQ(choice.EndMs, endMs);
  // The sound and subtitles shown are what the queue's reload found, which comes a little later.
  const auto shows = [&] {
    const QString shown = panel->lbContent->toolTip();
    for (const std::string &part :
         {FormatClockTime(choice.StartMs) + " \u2013 " + FormatClockTime(choice.EndMs),
          std::string("Sound fre \u00b7 AAC 5.1"), std::string("Subtitles ger")})
      if (!shown.contains(QString::fromStdString(part)))
        return false;
    return true;
  };
  EXPECT_TRUE(WaitFor(shows, 10000)) << panel->lbContent->toolTip().toStdString();
  EXPECT_TRUE(Messages.empty()) << Messages.front();

  // Start converts what the panel shows: that part, with the French sound.
  Main->btnStart->trigger();
  ASSERT_TRUE(WaitForState(0, isTerminated));
  ASSERT_TRUE(panel->Outcome().Finished()) << panel->LogText().toStdString();
  const double length = (choice.EndMs - choice.StartMs) / 1000.0;
  const testing_support::TDecodedSound sound =
      testing_support::DecodeSound(panel->OutputFileName());
  ASSERT_GT(sound.Rate, 0);
  EXPECT_NEAR(static_cast<double>(sound.Mono.size()) / sound.Rate, length, 0.05);
  EXPECT_GT(testing_support::ToneFrequency(sound), 660); // 880 Hz, not the English 440 Hz
  const auto pictures = testing_support::DecodePictures(panel->OutputFileName());
  ASSERT_FALSE(pictures.empty());
  EXPECT_NEAR(pictures.back().Time + 1001.0 / 30000, length, 0.05);
}

} // namespace
