// Output sub-folders, the start-up choice of the output folder and the settings file.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>

#include "app/folders.h"
#include "app/profiles.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

using testing_support::ReadFile;

void Touch(const std::string &AName) { std::ofstream(AName) << "x"; }

// Runs AWork where folder permissions count: root writes everywhere, so as root the work runs
// in a child process under the unprivileged user "nobody". Returns AWork's text.
std::string AsOrdinaryUser(const std::function<std::string()> &AWork) {
  if (::geteuid() != 0)
    return AWork();
  int fds[2];
  if (::pipe(fds) != 0)
    return "pipe failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
      ::_exit(1);
    const std::string text = AWork();
    const bool written =
        ::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::_exit(written ? 0 : 1);
  }
  ::close(fds[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "child failed";
}

TEST(OutputFolder, SubFoldersMadeWithMissingParentsOrBothLeftEmpty) {
  testing_support::TempDir dir;
  const std::string folder = dir.file("a/b/c");
  ASSERT_TRUE(PrepareOutputFolder(folder + "/")); // no doubled separator
  EXPECT_EQ(AVCFolder, folder + "/AVC/");
  EXPECT_EQ(MPEG4Folder, folder + "/MPEG4/");
  EXPECT_TRUE(fs::is_directory(AVCFolder));
  EXPECT_TRUE(fs::is_directory(MPEG4Folder));
  // "MPEG4" taken by a file: the AVC folder can be made but the pair is not ready.
  Touch(dir.file("MPEG4"));
  EXPECT_FALSE(PrepareOutputFolder(dir.path().string()));
  EXPECT_EQ(AVCFolder, "");
  EXPECT_EQ(MPEG4Folder, "");
}

TEST(OutputFolder, StartUpFallsBackToTheProgramFolderAndSaysSoWhenTheStoredOneFails) {
  testing_support::TempDir dir;
  const std::string app = dir.file("app"), stored = dir.file("stored"), bad = dir.file("bad");
  fs::create_directories(app);
  fs::create_directories(stored);
  fs::create_directories(bad);
  Touch(bad + "/AVC");

  TOutputFolderChoice c = ChooseOutputFolder(stored, app);
  EXPECT_EQ(c.Folder, stored);
  EXPECT_TRUE(c.OK);
  EXPECT_EQ(c.ErrorCount, 0);
  EXPECT_EQ(OutputFolder, stored);
  EXPECT_EQ(AVCFolder, stored + "/AVC/");

  c = ChooseOutputFolder(dir.file("gone"), app); // no longer exists: silently the program's
  EXPECT_EQ(c.Folder, app);
  EXPECT_TRUE(c.OK);
  EXPECT_EQ(c.ErrorCount, 0);

  c = ChooseOutputFolder(bad, app); // exists but unusable: told, even though the fallback works
  EXPECT_EQ(c.Folder, app);
  EXPECT_TRUE(c.OK);
  EXPECT_EQ(c.ErrorCount, 1);
  EXPECT_EQ(AVCFolder, app + "/AVC/");

  c = ChooseOutputFolder(bad, bad); // both fail: told twice
  EXPECT_FALSE(c.OK);
  EXPECT_EQ(c.ErrorCount, 2);
  EXPECT_EQ(AVCFolder, "");

  EXPECT_FALSE(ChangeOutputFolder(bad)); // a rejected choice is still the output folder
  EXPECT_EQ(OutputFolder, bad);
}

TEST(Settings, DefaultsWithoutAFileAndBothKeysWrittenKeepingOtherLinesAndLineEnds) {
  testing_support::TempDir dir;
  const std::string ini = dir.file("Config.ini");
  TFolderSettings s = LoadFolderSettings(ini, "/opt/korvelo/");
  EXPECT_EQ(s.DeviceFolder, "");
  EXPECT_EQ(s.OutputFolder, "/opt/korvelo/");

  std::ofstream(ini) << "[Window]\r\nLeft=10\r\n\r\n[folders]\r\noutputfolder=/old\r\nExtra=1\r\n";
  s = LoadFolderSettings(ini, "/app/");
  EXPECT_EQ(s.OutputFolder, "/old"); // names compare without case, as INI files do
  EXPECT_EQ(s.DeviceFolder, "");

  ASSERT_TRUE(SaveFolderSettings(ini, {"/media/PSP/", "/videos/out"}));
  s = LoadFolderSettings(ini, "/app/");
  EXPECT_EQ(s.DeviceFolder, "/media/PSP/");
  EXPECT_EQ(s.OutputFolder, "/videos/out");
  const std::string text = ReadFile(ini);
  EXPECT_NE(text.find("[Window]\r\nLeft=10\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("OutputFolder=/videos/out\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Extra=1"), std::string::npos) << text;
  EXPECT_EQ(text.find("/old"), std::string::npos) << text;

  // A fresh file gets the section; unchanged values are written all the same.
  const std::string fresh = dir.file("new.ini");
  ASSERT_TRUE(SaveFolderSettings(fresh, {"", "/app/"}));
  EXPECT_EQ(ReadFile(fresh), "[Folders]\nDeviceFolder=\nOutputFolder=/app/\n");
  Touch(dir.file("file"));
  EXPECT_FALSE(SaveFolderSettings(dir.file("file/Config.ini"), {"", ""}));

  // A byte-order mark before the section, as some editors write it: the section is found,
  // saving replaces its keys instead of adding a second section, and the mark stays.
  const std::string marked = dir.file("bom.ini");
  std::ofstream(marked) << "\xEF\xBB\xBF[Folders]\r\nDeviceFolder=/stick\r\nOutputFolder=/out\r\n";
  s = LoadFolderSettings(marked, "/app/");
  EXPECT_EQ(s.DeviceFolder, "/stick");
  EXPECT_EQ(s.OutputFolder, "/out");
  ASSERT_TRUE(SaveFolderSettings(marked, {"/stick2", "/out2"}));
  EXPECT_EQ(ReadFile(marked),
            "\xEF\xBB\xBF[Folders]\r\nDeviceFolder=/stick2\r\nOutputFolder=/out2\r\n");
}

TEST(Settings, AFileThatCannotBeReadIsNeverWrittenOver) {
  testing_support::TempDir dir;
  fs::permissions(dir.path(), fs::perms::all);
  const std::string ini = dir.file("Config.ini");
  const std::string kept = "; mine\n[Folders]\nOutputFolder=/videos\n[Other]\nx=1\n";
  std::ofstream(ini) << kept;
  fs::permissions(ini, fs::perms::none);
  const std::string seen = AsOrdinaryUser([&] {
    std::string readError, error;
    const TFolderSettings s = LoadFolderSettings(ini, "/app/", &readError);
    const bool saved = SaveFolderSettings(ini, {"", "/app/"}, &error);
    return s.OutputFolder + "|" + (readError.empty() ? "no reason" : "reason") + "|" +
           (saved ? "saved" : error);
  });
  EXPECT_EQ(seen, "/app/|reason|" + ini + ": Permission denied; it is left as it is");
  fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadFile(ini), kept);
}

TEST(Settings, PortableCopyKeepsItsConfigOtherwiseTheUsersFoldersHoldSettingsAndOutput) {
  testing_support::TempDir dir;
  const std::string app = dir.file("app") + "/", config = dir.file("config/Korvelo Converter"),
                    videos = dir.file("Videos");
  fs::create_directories(app);
  // Writable program folder without Config.ini: settings go to the user's folder, output stays.
  TFolderPlaces places = FindFolderPlaces(app, config, videos);
  EXPECT_EQ(places.SettingsFile, config + "/Config.ini");
  EXPECT_EQ(places.DefaultOutput, app);
  // A portable copy: Config.ini already beside the program.
  Touch(app + "Config.ini");
  EXPECT_EQ(FindFolderPlaces(app, config, videos).SettingsFile, app + "Config.ini");
  // Installed system-wide: the program's folder cannot be written, even with a Config.ini.
  fs::permissions(app, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const std::string seen = AsOrdinaryUser([&] {
    const TFolderPlaces p = FindFolderPlaces(app, config, videos);
    return p.SettingsFile + "|" + p.DefaultOutput;
  });
  EXPECT_EQ(seen, config + "/Config.ini|" + videos + "/Korvelo/");
  // Installed in a "bin" folder that can be written (as root can): still the user's folders.
  const std::string bin = dir.file("usr/bin") + "/";
  fs::create_directories(bin);
  Touch(bin + "Config.ini");
  places = FindFolderPlaces(bin, config, videos);
  EXPECT_EQ(places.SettingsFile + "|" + places.DefaultOutput,
            config + "/Config.ini|" + videos + "/Korvelo/");
  // The first save creates the user's configuration folder.
  ASSERT_TRUE(SaveFolderSettings(config + "/Config.ini", {"", videos + "/Korvelo/"}));
  EXPECT_EQ(LoadFolderSettings(config + "/Config.ini", app).OutputFolder, videos + "/Korvelo/");
}

TEST(Settings, DeviceFolderSetsTheVolumeMeasured) {
  testing_support::TempDir dir;
  SetDeviceFolder(dir.path().string());
  EXPECT_EQ(DeviceFolder, dir.path().string());
  EXPECT_EQ(DeviceDrive, VolumeOf(dir.path().string()));
  EXPECT_FALSE(DeviceDrive.empty());
  SetDeviceFolder("");
  EXPECT_EQ(DeviceDrive, "");
}

} // namespace
