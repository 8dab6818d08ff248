// The output and device folders: the output sub-folders, the settings file, and the start-up
// choice of the output folder. No window here: the caller shows the messages.
#pragma once

#include <string>

extern const char
    *const OutputFolderErrorMessage; // "The selected output folder can not be written!"

// Appends "/" unless AFolder already ends with one (an empty folder stays empty).
std::string WithSeparator(const std::string &AFolder);

// Creates AFolder's "AVC/" and then "MPEG4/" sub-folders with any missing parents and checks
// that both can be written to. On success AVCFolder and MPEG4Folder name them; otherwise both
// become empty. OutputFolder is not changed.
bool PrepareOutputFolder(const std::string &AFolder);

// The program's folder in the user's state folder: $XDG_STATE_HOME/korvelo-converter, else
// ~/.local/state/korvelo-converter; empty when neither is set (nothing is then written).
std::string StateFolder();

// Sets DeviceFolder and the volume (DeviceDrive) whose free space the device page measures.
void SetDeviceFolder(const std::string &AFolder);

struct TFolderSettings {
  std::string DeviceFolder;
  std::string OutputFolder;
};

// Reads section "Folders" of the INI file AIniFile: "DeviceFolder" (default empty) and
// "OutputFolder" (default AAppPath). A missing or unreadable file gives the defaults; one that
// is there but cannot be read says why in AReadError.
TFolderSettings LoadFolderSettings(const std::string &AIniFile, const std::string &AAppPath,
                                   std::string *AReadError = nullptr);
// Writes both keys into section "Folders", keeping every other line of the file, its comments
// and its line ends; creates the file and its folder when needed. A file that is there but
// cannot be read is never written over (false, with the reason). False when it cannot be written,
// with the reason in AError (a full disk included: the file is closed and checked before it
// replaces the old one).
bool SaveFolderSettings(const std::string &AIniFile, const TFolderSettings &ASettings,
                        std::string *AError = nullptr);

// Where the settings file and the first output folder live. A portable copy keeps Config.ini
// beside the program; a program installed system-wide cannot write its own folder, so the
// user's configuration folder holds the settings and the Videos folder the output.
struct TFolderPlaces {
  std::string SettingsFile;  // Config.ini in AAppPath or in AUserConfigFolder
  std::string DefaultOutput; // AAppPath when writable, else AVideosFolder + "Korvelo/"
};
// Config.ini stays in AAppPath when that folder is writable and already holds it. The output
// folder falls back to AAppPath when it is writable, so a first start needs no message. A
// program in a "bin" folder counts as installed: neither goes there.
TFolderPlaces FindFolderPlaces(const std::string &AAppPath, const std::string &AUserConfigFolder,
                               const std::string &AVideosFolder);

// What start-up decides for the output folder.
struct TOutputFolderChoice {
  std::string Folder; // becomes OutputFolder and is shown in the folder field
  bool OK = false;    // the sub-folders are ready (the window's FOutputFolderOK)
  int ErrorCount = 0; // how many times OutputFolderErrorMessage is to be shown (0..2)
};

// The stored output folder when it exists and its sub-folders can be made; otherwise the
// program's folder. A stored folder that exists but fails is reported even when the fallback
// works; one that no longer exists falls back silently. Sets OutputFolder, AVCFolder, MPEG4Folder.
TOutputFolderChoice ChooseOutputFolder(const std::string &AStored, const std::string &AAppPath);

// A folder chosen by the user: sets OutputFolder (kept even when rejected) and the sub-folders.
// False means OutputFolderErrorMessage is to be shown.
bool ChangeOutputFolder(const std::string &AFolder);
