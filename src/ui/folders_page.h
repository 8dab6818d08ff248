// The Folders and Files page: the output and device folders with their settings file, the
// converted files of the output folder, and their copy onto the PSP's memory stick. The rules
// live in the core (folders, device_library, device_copy_job, psp_volumes); this shows them.
#pragma once

#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "app/device_library.h"
#include "app/duration_scan.h"
#include "app/folders.h"
#include "app/psp_stick.h"
#include "app/stick_eject.h"
#include "app/stick_errand.h"

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QProgressDialog;
class QPushButton;
class QStatusBar;
class QTableWidget;
class QTimer;
class TDeviceCopyJob;
class TElidedLabel;
class TMountWatcher;
class QSplitter;

class TFoldersPage : public QWidget {
  Q_OBJECT

public:
  // AAppPath: the program's folder, ending with "/". Config.ini and the first output folder are
  // placed from it and from the platform's configuration and Videos folders.
  explicit TFoldersPage(const std::string &AAppPath, QWidget *AParent = nullptr);
  // A copy still running is cancelled and waited for: no partial file stays on the stick.
  ~TFoldersPage() override;

  void LoadSettings();
  // Empty when saved; else why Config.ini could not be written.
  QString SaveSettings();
  bool OutputFolderOK() const { return FOutputFolderOK; }
  // Checked again before a batch: the folder may have gone since it was prepared (a disk
  // unplugged, a folder deleted, or back again). Its sub-folders are made again when they can be.
  bool OutputFolderReady();
  // The output folder's message; then the page asks to be shown (PageWanted).
  void ShowOutputFolderError(const std::string &AFolder = std::string());
  // Lists the converted files at once; their durations fill in as they are read, off the
  // window's thread (a file that turns out not to be a video leaves the list).
  void RefreshFiles();
  // Files of the list whose durations are still being read.
  size_t DurationsPending() const { return FDurationScan->Pending(); }
  void CopyToDevice();
  // A copy, or a send to the stick, is running.
  bool CopyRunning() const;

  // One video of a send to the stick, in the person's order: a conversion's output, or why
  // there is none.
  struct TSendItem {
    std::string Name;   // the input's file name
    std::string Output; // the converted video; empty with Why
    std::string Why;    // not sent, and why; empty to send it
  };
  struct TSendResult {
    TErrandReport Report;
    bool Ejected = false, EjectAsked = false;
    std::string EjectMessage;
  };
  // Sends AItems to the device folder's stick off the window's thread: each output is checked
  // as a PSP video, copied in order while it fits and read back, and the stick is ejected
  // afterwards when "Eject when done" is ticked. ADone comes on the window's thread. False
  // (and told) when the stick is not there or a copy runs already.
  bool SendToStick(std::vector<TSendItem> AItems, std::function<void(const TSendResult &)> ADone);
  bool EjectWhenDone() const;
  // The device folder is set and its stick is there; told (and the page asked for) when not.
  bool StickReady();
  // The device folder's stick as the last mount scan saw it.
  bool DeviceGone() const { return FDeviceGone; }
  const std::vector<TStickVideo> &StickVideos() const { return FStickVideos; }
  // The stick's free bytes as the last scan measured them; -1 when it is not there.
  int64_t DeviceFree() const { return FDeviceFree; }
  // Scans the mounts and the stick again, off the window's thread; the page shows the result.
  void LookForPSP();
  const TFolderPlaces &Places() const { return FPlaces; }

  // Opens AFolder in the desktop's file manager; an empty or blank folder opens nothing. False
  // when the desktop has no program to open it with.
  static bool OpenFolder(const std::string &AFolder);

  // The folder picker: returns the chosen folder, empty when the user cancels. Tests replace it.
  std::function<QString(const QString &ACurrent)> FBrowseFolder;
  // The mount points looked at for a PSP. Tests replace it. Called on the mount watcher's
  // thread (with a copy taken on the window's thread at each LookForPSP).
  std::function<std::vector<std::string>()> FListVolumes;
  // Asks whether to go on (removing videos from the stick). Tests replace it.
  std::function<bool(const QString &AQuestion)> FConfirm;

  QLabel *Label1 = nullptr, *Label2 = nullptr;
  QLineEdit *edDeviceFolder = nullptr, *edOutputFolder = nullptr;
  QPushButton *btnDeviceFolder = nullptr, *btnOutputFolder = nullptr;
  QPushButton *btnUsePSP = nullptr; // "PSP memory stick found at …: use it", hidden otherwise
  QSplitter *splFiles = nullptr;    // the converted files above, what is on the stick below
  QTableWidget *lvFiles = nullptr;
  QTableWidget *lvStick = nullptr;      // the videos on the memory stick
  TElidedLabel *lbStickState = nullptr; // the stick missing, or how full it is
  QPushButton *btnRemoveFromStick = nullptr;
  QPushButton *btnEject = nullptr; // unmount and power off through udisks2
  QPushButton *btnCopy = nullptr, *btnRefresh = nullptr;
  QPushButton *btnSendToPSP = nullptr;   // converts what waits and sends the list to the stick
  QCheckBox *chkEjectWhenDone = nullptr; // remembered between starts
  QProgressBar *progressbarSize = nullptr;
  QStatusBar *StatusBarCopyFiles = nullptr;
  QProgressDialog *FCopyDialog = nullptr; // while a copy runs

signals:
  // The page has something to show the user (the output folder's message).
  void PageWanted();
  // A new output folder is ready: what is not converted yet goes there.
  void OutputFolderChanged();
  // A scan of the mounts and the stick has been shown (DeviceGone, DeviceFree, StickVideos).
  void StickScanned();
  // "Send to PSP" was pressed on the page: the window converts and sends.
  void SendToPSPWanted();

protected:
  void showEvent(QShowEvent *AEvent) override;
  void hideEvent(QHideEvent *AEvent) override;
  // The offered stick's button follows the device folder field's width.
  bool eventFilter(QObject *AWatched, QEvent *AEvent) override;

private:
  QWidget *CreateFoldersBox();
  QWidget *CreateFilesBox();
  // The gauge and the buttons under the lists.
  QHBoxLayout *CreateFilesButtons(QWidget *ABox);
  // What the stick holds, with its buttons.
  QWidget *CreateStickPage(QWidget *AParent);
  QString BrowseFolder(const QString &ACurrent);
  void btnDeviceFolderClick();
  void btnOutputFolderClick();
  void btnUsePSPClick();
  // The offered folder on its button, shortened in the middle to the field's width.
  void ShowOfferedFolder();
  // The Title column takes the room when a video has a title, else the verdict does.
  void FitStickColumns();
  void lvFilesSelectionChanged(const std::vector<int> &ASelected,
                               const std::vector<int> &ADeselected);
  void ShowSelectionStatus();
  void DurationRead(const TDurationScan::TResult &AResult);
  void RemoveFileRow(int ARow);
  void UseDeviceFolder(const std::string &AFolder);
  struct TStickScan {
    std::string DeviceFolder, Offered, Volume;
    bool Gone = true;
    int64_t Free = -1;
    std::vector<TStickVideo> Videos;
  };
  void ScanStick(); // on the watcher's thread
  void ShowStickScan(const TStickScan &AScan);
  void btnRemoveFromStickClick();
  void btnEjectClick();
  std::thread FEjectThread;
  // False, told and rescanned, when the device folder's stick has been pulled out.
  bool StickStillThere();
  // The selected files to copy; unfinished ones only when the person says so (AAsked: a
  // question was shown).
  std::vector<TCopySource> SelectedForCopy(bool &AAsked);
  // The copy's progress dialog, whose Cancel calls ACancel.
  void OpenCopyDialog(const std::function<void()> &ACancel);
  void CopyProgress(const TCopyProgress &AProgress);
  void CopyDone(const TCopyResult &AResult);
  void CloseCopyDialog();

  TFolderPlaces FPlaces;
  bool FOutputFolderOK = false;
  bool FSettingsUnreadable = false;   // told at start; the file is then left as it is
  std::vector<TConvertedFile> FFiles; // one per row, in row order
  int64_t FSelectedSize = 0;
  std::string FOfferedFolder;
  bool FDeviceGone = false;
  int64_t FDeviceFree = -1;
  std::vector<TStickVideo> FStickVideos; // one per lvStick row
  std::mutex FScanLock;                  // guards the scan's input below
  std::string FScanDeviceFolder, FScanDeviceDrive;
  std::function<std::vector<std::string>()> FScanListVolumes;
  std::unique_ptr<TMountWatcher> FMountWatcher;
  std::unique_ptr<TDurationScan> FDurationScan;
  uint64_t FScan = 0;  // the durations being read are of this Start
  size_t FFillRow = 0; // where the next duration read is expected (they come in row order)
  std::unique_ptr<TDeviceCopyJob> FCopyJob;
  std::thread FSendThread; // a send to the stick
  std::atomic<bool> FSendCancel{false};
};
