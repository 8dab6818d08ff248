// The Folders and Files page as a person uses it: the folders kept across starts, the list of
// converted files with the selection's size, the copy onto the memory stick, the PSP offered.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QTabWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "app/device_library.h"
#include "app/folders.h"
#include "app/profiles.h"
#include "app/psp_stick.h"
#include "ui/folders_page.h"
#include "ui/main_window.h"
#include "ui/messages.h"
#include "ui/text_fit.h"
#include "probe/av_probe.h"
#include "support/fat_image.h"
#include "support/udisks2_stick.h"
#include "support/test_support.h"
#include "wait_until.h"

namespace {

using testing_support::FolderEntries;
using testing_support::ReadFile;

namespace fs = std::filesystem;
using testing_support::MediaFile;

class FoldersPage : public ::testing::Test {
protected:
  void SetUp() override {
    testing_support::RequireMediaLibraries();
    // The user's configuration folder of this test alone.
    SavedConfigHome = qgetenv("XDG_CONFIG_HOME");
    ::setenv("XDG_CONFIG_HOME", Dir.file("config").c_str(), 1);
    SavedCacheHome = qgetenv("XDG_CACHE_HOME");
    ::setenv("XDG_CACHE_HOME", Dir.file("cache").c_str(), 1);
    fs::create_directories(App);
    SetMessageSink([this](const QString &AText, QMessageBox::Icon) {
      Messages.push_back(AText.toStdString());
    });
  }
  void TearDown() override {
    Main.reset();
    SetMessageSink({});
    qputenv("XDG_CONFIG_HOME", SavedConfigHome);
    qputenv("XDG_CACHE_HOME", SavedCacheHome);
  }

  // Starts the window as the program does; its page lists the output folder's files.
  void Open() {
    Main = std::make_unique<TfrmMain>(QString::fromStdString(App));
    Main->show();
    Page = Main->FoldersPage();
    QTest::qWait(20); // messages of the start arrive from queued calls
  }
  // A converted file: a copy of a generated media file, with a thumbnail when AThumb.
  std::string Converted(const std::string &AKind, const std::string &AName,
                        const std::string &AMedia, bool AThumb = true) {
    const std::string path = App + AKind + "/" + AName;
    fs::create_directories(App + AKind);
    fs::copy_file(MediaFile(AMedia), path, fs::copy_options::overwrite_existing);
    if (AThumb)
      std::ofstream(path.substr(0, path.rfind('.')) + ".THM") << "thumbnail of " << AName;
    return path;
  }
  // The durations are read off the window's thread: the list fills in.
  bool DurationsFilled() {
    return WaitUntil([this] {
      for (int row = 0; row < Page->lvFiles->rowCount(); ++row)
        if (Page->lvFiles->item(row, 2)->text().isEmpty())
          return false;
      return Page->DurationsPending() == 0;
    });
  }
  std::string Status() const { return Page->StatusBarCopyFiles->currentMessage().toStdString(); }
  void Select(int ARow, bool ASelected) {
    Page->lvFiles->selectionModel()->select(
        Page->lvFiles->model()->index(ARow, 0),
        (ASelected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
            QItemSelectionModel::Rows);
  }
  void ChooseDeviceFolder(const std::string &AFolder) {
    Page->FBrowseFolder = [AFolder](const QString &) { return QString::fromStdString(AFolder); };
    Page->btnDeviceFolder->click();
  }
  // Clicks Copy and waits for the copy's last message.
  void Copy(const std::function<void()> &AWhileRunning = {}) {
    Messages.clear();
    Page->btnCopy->click();
    if (AWhileRunning)
      AWhileRunning();
    ASSERT_TRUE(WaitUntil([this] { return !Page->CopyRunning() && !Messages.empty(); }));
    QTest::qWait(20);
  }

  testing_support::TempDir Dir;
  QByteArray SavedConfigHome, SavedCacheHome;
  std::string App = Dir.file("app") + "/";
  std::string SettingsFile = Dir.file("config") + "/Korvelo Converter/Config.ini";
  std::unique_ptr<TfrmMain> Main;
  TFoldersPage *Page = nullptr;
  std::vector<std::string> Messages;
};

TEST_F(FoldersPage, FoldersKeptAcrossStartsWithFallbacksAndCancelKeepsTheFolder) {
  // First start: the program's folder takes the output, silently, with both sub-folders.
  Open();
  EXPECT_TRUE(Messages.empty());
  EXPECT_TRUE(Main->OutputFolderOK());
  EXPECT_EQ(Page->edOutputFolder->text().toStdString(), App);
  EXPECT_TRUE(fs::is_directory(App + "AVC") && fs::is_directory(App + "MPEG4"));
  EXPECT_EQ(Page->edDeviceFolder->text(), "");
  // No portable Config.ini beside the program: the user's configuration folder keeps it.
  EXPECT_EQ(Page->Places().SettingsFile, SettingsFile);

  // Cancelling a picker changes nothing; a chosen output folder gets its sub-folders.
  Page->FBrowseFolder = [](const QString &) { return QString(); };
  Page->btnOutputFolder->click();
  Page->btnDeviceFolder->click();
  EXPECT_EQ(Page->edOutputFolder->text().toStdString(), App);
  EXPECT_EQ(Page->edDeviceFolder->text(), "");
  const std::string chosen = Dir.file("chosen");
  fs::create_directories(chosen);
  Page->FBrowseFolder = [&](const QString &) { return QString::fromStdString(chosen); };
  Page->btnOutputFolder->click();
  EXPECT_EQ(AVCFolder, chosen + "/AVC/");
  ChooseDeviceFolder(Dir.file("stick"));

  // Closing writes both keys.
  Main->close();
  const std::string text = ReadFile(SettingsFile);
  EXPECT_NE(text.find("DeviceFolder=" + Dir.file("stick") + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("OutputFolder=" + chosen + "\n"), std::string::npos) << text;
  Main.reset();

  // Next start: both come back; a stored output folder that has gone falls back silently.
  Open();
  EXPECT_EQ(Page->edOutputFolder->text().toStdString(), chosen);
  EXPECT_EQ(Page->edDeviceFolder->text().toStdString(), Dir.file("stick"));
  Main.reset();
  fs::remove_all(chosen);
  Open();
  EXPECT_TRUE(Messages.empty());
  EXPECT_EQ(Page->edOutputFolder->text().toStdString(), App);
  EXPECT_EQ(AVCFolder, App + "AVC/");
  Main.reset();

  // One that exists but cannot take the sub-folders is told, on the Folders and Files page.
  fs::create_directories(chosen);
  std::ofstream(chosen + "/AVC") << "a file where the folder should be";
  SaveFolderSettings(SettingsFile, {"", chosen});
  Open();
  // The message says why: the file standing where the folder should be.
  EXPECT_EQ(Messages, std::vector<std::string>{std::string(OutputFolderErrorMessage) + "\n" +
                                               chosen + "/AVC is a file, not a folder"});
  EXPECT_EQ(Main->pcSteps->currentWidget(), Main->tshSettings);
  EXPECT_EQ(Page->edOutputFolder->text().toStdString(), App);
  EXPECT_TRUE(Main->OutputFolderOK());
}

TEST_F(FoldersPage, ListsConvertedFilesAndTheSelectionRestoresItsStatus) {
  const std::string one = Converted("AVC", "line\nbreak.mp4", "anamorphic.mp4");
  const std::string two = Converted("AVC", "two.MP4", "aac_51.mp4", false);
  const std::string three = Converted("MPEG4", "three.mp4", "mov_h264_aac.mov");
  std::ofstream(App + "AVC/empty.mp4").flush();
  std::ofstream(App + "AVC/not a video.mp4") << "text";
  fs::create_directories(App + "MPEG4/folder.MP4");
  Open();
  ChooseDeviceFolder(Dir.path().string());

  // The file that is not a video leaves the list once it has been tried.
  const QTableWidget *list = Page->lvFiles;
  ASSERT_TRUE(DurationsFilled());
  ASSERT_EQ(list->rowCount(), 3);
  TAVProbe probe;
  const TDurationReader duration = ProbeDurationReader(probe);
  const std::vector<std::pair<std::string, std::string>> rows = {
      {one, "AVC"}, {two, "AVC"}, {three, "MPEG4"}};
  for (int row = 0; row < 3; ++row) {
    const std::string &path = rows[static_cast<size_t>(row)].first;
    int64_t us = 0;
    ASSERT_TRUE(duration(path, us));
    std::string name = fs::path(path).filename().string();
    std::replace(name.begin(), name.end(), '\n', ' '); // the row has one line: all of it shows
    // A file without its thumbnail is what a stopped conversion leaves: marked as such.
    EXPECT_EQ(list->item(row, 0)->text().toStdString(),
              name + (path == two ? "  (Incomplete)" : ""));
    EXPECT_EQ(list->item(row, 1)->text().toStdString(), rows[static_cast<size_t>(row)].second);
    EXPECT_EQ(list->item(row, 2)->text().toStdString(), FormatDuration(us / 1000));
    EXPECT_EQ(list->item(row, 3)->text().toStdString(),
              FormatSizeKB(static_cast<int64_t>(fs::file_size(path)) + ThumbnailSize(path)));
  }

  // The free space moves while other programs write to the same disk: compare the part that
  // names the selection.
  const auto selectedPart = [](const std::string &AStatus) {
    return AStatus.substr(0, AStatus.find(" selected, "));
  };
  const int64_t free = DeviceFreeSpace(Dir.path().string());
  const int64_t sizeOne = static_cast<int64_t>(fs::file_size(one)) + ThumbnailSize(one);
  Select(0, true);
  const std::string first = Status();
  EXPECT_EQ(selectedPart(first), selectedPart(SelectionStatusText(sizeOne, free)));
  EXPECT_NE(first.find(" KB available on device folder."), std::string::npos);
  Select(2, true);
  EXPECT_NE(selectedPart(Status()), selectedPart(first));
  Select(2, false);
  EXPECT_EQ(selectedPart(Status()), selectedPart(first));
  EXPECT_EQ(Page->progressbarSize->value(), SelectionPercent(sizeOne, free));
  // Refresh drops the selection with the rows: the status no longer names what was selected.
  Page->btnRefresh->click();
  EXPECT_EQ(selectedPart(Status()), "0 KB");
  ASSERT_TRUE(DurationsFilled());
  EXPECT_EQ(Page->progressbarSize->value(), 0);
  EXPECT_EQ(list->item(0, 0)->toolTip().toStdString(), one); // the whole of a name cut short

  // A refused output folder lists nothing rather than the files of the folder it replaced.
  const std::string refused = Dir.file("refused");
  fs::create_directories(refused);
  std::ofstream(refused + "/AVC") << "a file where the folder should be";
  Page->FBrowseFolder = [&](const QString &) { return QString::fromStdString(refused); };
  Page->btnOutputFolder->click();
  EXPECT_EQ(Messages, std::vector<std::string>{std::string(OutputFolderErrorMessage) + "\n" +
                                               refused + "/AVC is a file, not a folder"});
  EXPECT_EQ(list->rowCount(), 0);
}

// The window opens without waiting for the durations of the output folder's files: the page
// lists them at once and fills them in. The next start takes those of unchanged files from the
// cache in the user's cache folder; a changed file is read again.
TEST_F(FoldersPage, TheListShowsAtOnceFillsInAndTheNextStartKnowsUnchangedFiles) {
  std::vector<std::string> files;
  for (int i = 0; i < 12; ++i)
    files.push_back(Converted("AVC", "clip " + std::to_string(10 + i) + ".mp4",
                              i % 2 ? "mov_h264_aac.mov" : "aac_51.mp4"));
  auto durationOf = [this](int ARow) { return Page->lvFiles->item(ARow, 2)->text(); };
  // Closed while the durations are still being read: it closes at once.
  Main = std::make_unique<TfrmMain>(QString::fromStdString(App));
  Page = Main->FoldersPage();
  ASSERT_EQ(Page->lvFiles->rowCount(), 12);
  for (int row = 0; row < 12; ++row)
    EXPECT_EQ(durationOf(row), "") << row;
  EXPECT_GT(Page->DurationsPending(), 0u);
  QElapsedTimer clock;
  clock.start();
  Main.reset();
  EXPECT_LT(clock.elapsed(), 5000);

  // Refreshed while they are read: the reads of the list before are given up.
  Open();
  Page->btnRefresh->click();
  ASSERT_TRUE(DurationsFilled());
  ASSERT_EQ(Page->lvFiles->rowCount(), 12);
  TAVProbe probe;
  int64_t us = 0;
  ASSERT_TRUE(ProbeDurationReader(probe)(files[0], us));
  const QString first = durationOf(0);
  EXPECT_EQ(first.toStdString(), FormatDuration(us / 1000));
  Main.reset();

  // Unchanged to the cache (size and time kept), though it could no longer be read: its
  // duration is there from the start, nothing is read.
  struct stat before {};
  ASSERT_EQ(::stat(files[0].c_str(), &before), 0);
  {
    std::ofstream garbage(files[0], std::ios::binary | std::ios::in);
    garbage << std::string(static_cast<size_t>(before.st_size), 'x');
  }
  const timespec kept[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, files[0].c_str(), kept, 0), 0);
  Main = std::make_unique<TfrmMain>(QString::fromStdString(App));
  Page = Main->FoldersPage();
  EXPECT_EQ(durationOf(0), first);
  EXPECT_EQ(Page->DurationsPending(), 0u);

  // Changed: read again, and not a video any more, so not listed.
  const timespec later[2] = {{0, UTIME_OMIT}, {before.st_mtim.tv_sec + 60, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, files[0].c_str(), later, 0), 0);
  Page->btnRefresh->click();
  EXPECT_EQ(durationOf(0), "");
  ASSERT_TRUE(DurationsFilled());
  ASSERT_EQ(Page->lvFiles->rowCount(), 11);
  EXPECT_EQ(Page->lvFiles->item(0, 0)->text().toStdString(), "clip 11.mp4");
}

TEST_F(FoldersPage, CopiesUnderTheFreeNumbersAndACancelLeavesNoPSPName) {
  const std::string one = Converted("AVC", "line\nbreak.mp4", "anamorphic.mp4");
  const std::string two = Converted("AVC", "two.mp4", "aac_51.mp4");
  Open();
  // No device folder: its free space is unknown, which is the disk-space message.
  Select(0, true);
  Copy();
  EXPECT_EQ(Messages, std::vector<std::string>{MsgInsufficientSpace});

  const std::string stick = Dir.file("stick") + "/", avc = stick + "MP_ROOT/100ANV01/";
  fs::create_directories(avc);
  std::ofstream(avc + "MAQ00000.MP4") << "old 0";
  std::ofstream(avc + "MAQ00002.MP4") << "old 2";
  ChooseDeviceFolder(stick);
  Select(1, true);
  Copy();
  // The message says where each video went.
  EXPECT_EQ(Messages,
            std::vector<std::string>{std::string(MsgCopied) +
                                     "\n\nline break.mp4 \u2192 MP_ROOT/100ANV01/MAQ00001.MP4"
                                     "\ntwo.mp4 \u2192 MP_ROOT/100ANV01/MAQ00003.MP4"});
  EXPECT_EQ(FolderEntries(avc),
            (std::vector<std::string>{"MAQ00000.MP4", "MAQ00001.MP4", "MAQ00001.THM",
                                      "MAQ00002.MP4", "MAQ00003.MP4", "MAQ00003.THM"}));
  EXPECT_EQ(ReadFile(avc + "MAQ00001.MP4"), ReadFile(one));
  EXPECT_EQ(ReadFile(avc + "MAQ00003.THM"), ReadFile(App + "AVC/two.THM"));

  // A big file, cancelled from the progress dialog as soon as the copy runs.
  ASSERT_EQ(::truncate(one.c_str(), 400 << 20), 0);
  const std::vector<std::string> before = FolderEntries(avc);
  Copy([this] {
    ASSERT_TRUE(Page->FCopyDialog);
    Page->FCopyDialog->findChild<QPushButton *>()->click(); // its Cancel button
  });
  // two.mp4, still selected, is on the stick already; the failure says why and what was copied.
  EXPECT_EQ(Messages, (std::vector<std::string>{
                          "two.mp4 is already on the stick as MP_ROOT/100ANV01/MAQ00003.MP4, "
                          "left out",
                          std::string(MsgCopyFailed) + "\n\nMP_ROOT/100ANV01/MAQ00004.MP4: "
                                                       "Operation canceled. Nothing was copied "
                                                       "before it."}));
  EXPECT_EQ(FolderEntries(avc), before);
  EXPECT_TRUE(Page->btnCopy->isEnabled());
}

TEST_F(FoldersPage, AMountedPSPIsOfferedAndTakenWithOneClick) {
  const std::string volume = Dir.file("PSP stick");
  fs::create_directories(volume + "/psp/GAME");
  Open();
  // Called on the page's mount-watching thread, perhaps after this test's locals: by value.
  Page->FListVolumes = [volumes = std::vector<std::string>{Dir.file("other"), volume}] {
    return volumes;
  };
  Main->pcSteps->setCurrentWidget(Main->tshSettings);
  Page->btnRefresh->click();
  // The scan before the Refresh read the real mount table, where a FAT stick of another test
  // running alongside may be offered: wait for this test's volume.
  ASSERT_TRUE(WaitUntil([&] {
    return Page->btnUsePSP->isVisible() && Page->btnUsePSP->text().toStdString() ==
                                               "PSP memory stick found at " + volume + ": use it";
  })) << Page->btnUsePSP->text().toStdString();
  EXPECT_EQ(DeviceFolder, ""); // nothing set without the click
  Page->btnUsePSP->click();
  EXPECT_EQ(Page->edDeviceFolder->text().toStdString(), volume + "/");
  EXPECT_EQ(DeviceFolder, volume + "/");
  EXPECT_FALSE(Page->btnUsePSP->isVisible());

  // Chosen by hand, a folder inside the stick gives way to its top folder, with a word why;
  // a folder of its own is taken as it is.
  for (const std::string inside : {"/psp/GAME", "/PSP", "/MP_ROOT/100ANV01", "/VIDEO"}) {
    fs::create_directories(volume + inside);
    Messages.clear();
    ChooseDeviceFolder(volume + inside);
    EXPECT_EQ(Page->edDeviceFolder->text().toStdString(), volume + "/") << inside;
    EXPECT_EQ(Messages.size(), 1u) << inside;
  }
  fs::create_directories(Dir.file("videos/VIDEO"));
  Messages.clear();
  ChooseDeviceFolder(Dir.file("videos/VIDEO"));
  EXPECT_EQ(DeviceFolder, Dir.file("videos/VIDEO"));
  EXPECT_TRUE(Messages.empty());
}

TEST_F(FoldersPage, AStickPluggedInIsOfferedListedWithVerdictsAndMissedWhenPulledOut) {
  testing_support::TFatStick stick;
  if (!stick.Mounted())
    GTEST_SKIP() << "no FAT32 stick for this test: " << stick.WhyNot();
  const std::string avc = stick.Root() + "MP_ROOT/100ANV01/";
  fs::create_directories(stick.Root() + "PSP/GAME");
  fs::create_directories(avc);
  auto put = [](const std::string &AFrom, const std::string &ATo) {
    std::ofstream(ATo, std::ios::binary) << ReadFile(AFrom);
  };
  put(MediaFile("aac_51.mp4"), avc + "MAQ00000.MP4");
  std::ofstream(avc + "MAQ00000.THM") << "thumbnail";
  put(MediaFile("h264_10bit.mp4"), avc + "MAQ00001.MP4");
  ASSERT_TRUE(stick.Unmount());
  Open();
  Main->pcSteps->setCurrentWidget(Main->tshSettings);
  QTest::qWait(100);
  ASSERT_FALSE(Page->btnUsePSP->isVisible());

  // Plugged in: offered within a second, by the mount table's own signal.
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(stick.Mount());
  ASSERT_TRUE(WaitUntil([this] { return Page->btnUsePSP->isVisible(); }, 1000));
  EXPECT_LT(clock.elapsed(), 1000);
  Page->btnUsePSP->click();
  ASSERT_TRUE(WaitUntil([this] { return Page->lvStick->rowCount() == 2; }, 5000));
  auto cell = [this](int ARow, int AColumn) {
    return Page->lvStick->item(ARow, AColumn)->text().toStdString();
  };
  EXPECT_EQ(cell(0, 0), "MP_ROOT/100ANV01/MAQ00000.MP4");
  EXPECT_EQ(cell(0, 4), "yes");
  EXPECT_EQ(cell(1, 4), "no: H.264 High 10 profile");

  // Removed after a confirmation, with its thumbnail.
  std::vector<std::string> asked;
  Page->FConfirm = [&](const QString &AQuestion) {
    asked.push_back(AQuestion.toStdString());
    return true;
  };
  Page->lvStick->selectRow(0);
  Page->btnRemoveFromStick->click();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_NE(asked[0].find("MAQ00000.MP4"), std::string::npos) << asked[0];
  EXPECT_EQ(asked[0].rfind("Remove 1 video from the memory stick, with its thumbnail?", 0), 0u)
      << asked[0];
  EXPECT_FALSE(fs::exists(avc + "MAQ00000.THM"));
  ASSERT_TRUE(WaitUntil([this] { return Page->lvStick->rowCount() == 1; }, 5000));

  // Pulled out: the device folder shows missing within a second, and Copy says so.
  clock.restart();
  ASSERT_TRUE(stick.Unmount());
  ASSERT_TRUE(WaitUntil([this] { return Page->DeviceGone(); }, 1000));
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_NE(Page->lbStickState->text().toStdString().find("missing"), std::string::npos);
  EXPECT_EQ(Page->lvStick->rowCount(), 0);
  Messages.clear();
  Page->btnCopy->click();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("is not there any more"), std::string::npos) << Messages[0];
}

// The stick's list is read again while "Remove?" is open (a mount change, a copy from
// elsewhere): "Yes" removes the video that was asked about, wherever its row went, or nothing.
TEST_F(FoldersPage, RemoveTakesWhatWasAskedAboutAfterARescanDuringTheQuestion) {
  const std::string stick = Dir.file("stick") + "/";
  const std::string avc = stick + "MP_ROOT/100ANV01/";
  fs::create_directories(avc);
  for (const char *name : {"MAQ00000", "MAQ00001", "MAQ00002"})
    fs::copy_file(MediaFile("aac_51.mp4"), avc + name + ".MP4");
  Open();
  ChooseDeviceFolder(stick);
  ASSERT_TRUE(WaitUntil([this] { return Page->lvStick->rowCount() == 3; }, 5000));
  Page->FConfirm = [&](const QString &) {
    fs::remove(avc + "MAQ00000.MP4"); // the asked-about row moves up; another takes its place
    Page->LookForPSP();
    EXPECT_TRUE(WaitUntil([this] { return Page->lvStick->rowCount() == 2; }, 5000));
    return true;
  };
  Page->lvStick->selectRow(1);
  Page->btnRemoveFromStick->click();
  EXPECT_FALSE(fs::exists(avc + "MAQ00001.MP4"));
  EXPECT_TRUE(fs::exists(avc + "MAQ00002.MP4"));
  ASSERT_TRUE(WaitUntil([this] { return Page->lvStick->rowCount() == 1; }, 5000));

  // Its name taken by another video meanwhile: nothing is removed, and that is told.
  Page->FConfirm = [&](const QString &) {
    fs::remove(avc + "MAQ00002.MP4");
    fs::copy_file(MediaFile("mov_h264_aac.mov"), avc + "MAQ00002.MP4");
    return true;
  };
  Messages.clear();
  Page->lvStick->selectRow(0);
  Page->btnRemoveFromStick->click();
  EXPECT_TRUE(fs::exists(avc + "MAQ00002.MP4"));
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("another video has taken this name"), std::string::npos);
}

} // namespace

// The Eject button against the real udisks2 daemon on a private system bus (an ext4 loop stick,
// which has no drive to power off).
TEST_F(FoldersPage, EjectUnmountsTheStickThroughTheRealUDisks2) {
  testing_support::TUDisks2Stick stick; // first: the window's system bus is the private one
  if (!stick.Unavailable().empty())
    GTEST_SKIP() << stick.Unavailable();
  ASSERT_EQ(stick.Error(), "");
  Open();
  Main->pcSteps->setCurrentWidget(Main->tshSettings);
  ChooseDeviceFolder(stick.Root());
  ASSERT_TRUE(WaitUntil([this] { return Page->btnEject->isEnabled(); }));
  Messages.clear();
  Page->btnEject->click();
  ASSERT_TRUE(WaitUntil([this] { return !Messages.empty(); }));
  EXPECT_EQ(Messages, std::vector<std::string>{"The stick has been unmounted: it can be removed."});
  EXPECT_EQ(MountSource(stick.Root()), "");
  EXPECT_TRUE(WaitUntil([this] { return !Page->btnEject->isEnabled(); }));
}
