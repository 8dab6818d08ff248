// TfrmMain: the program's window with its Home, Convert and Folders and Files pages, the tool
// bar that drives the conversion list, the overall progress bar and orderly closing while
// conversions run.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "app/remembered_batch.h"
#include "ui/convert_item.h"
#include "ui/desktop_notifier.h"

class QAction;
class QFileDialog;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;
class QVBoxLayout;
class TCommandBar;
class TElidedLabel;
class TfrmConvertList;
class TFoldersPage;
class TSendToPSP;

class TfrmMain : public QMainWindow {
  Q_OBJECT

public:
  static constexpr int ClientWidth = 878;
  static constexpr int ClientHeight = 499;

  // AAppPath: the program's folder (Config.ini and the media libraries are looked for there);
  // empty = the folder of the running program.
  explicit TfrmMain(const QString &AAppPath = QString(), QWidget *AParent = nullptr);
  ~TfrmMain() override;

  // The file-open dialog's filters, and the files it offered when the user chose some.
  static QStringList OpenDialogFilters();
  // Sets up the open dialog: several existing files, the filters, patterns matched without
  // regard to letter case.
  static void ConfigureOpenDialog(QFileDialog &ADialog);
  void AddFiles(const QStringList &AFiles);
  // A later launch of the program: its files (relative to AWorkingFolder) are added and the
  // window comes to the front.
  void TakeLaunch(const QString &AWorkingFolder, const QStringList &AArguments);
  // A close has been asked for: later launches open a window of their own.
  bool Closing() const { return FClosing; }

  // Folder settings, kept by the Folders and Files page. A save that fails is told.
  void LoadSettings();
  void SaveSettings();
  // A message about what could not be kept for the next start, on the terminal when a signal
  // closes the window.
  void TellUnsaved(const QString &AText);
  void ShowOutputFolderError();
  // Page 2 hosts the Folders and Files contents; this puts AContents on it.
  void SetFoldersPage(QWidget *AContents);

  TfrmConvertList *ConvertList() const { return FConvertList; }
  const std::string &AppPath() const { return FAppPath; }
  bool OutputFolderOK() const;
  TFoldersPage *FoldersPage() const { return FFoldersPage; }
  TSendToPSP *SendToPSP() const { return FSendToPSP; }
  TDesktopNotifier &Notifier() { return FNotifier; }

  QTabWidget *pcSteps = nullptr;
  QWidget *tshHome = nullptr;
  QWidget *tshConvert = nullptr;
  QWidget *tshSettings = nullptr;
  TCommandBar *tbConvert = nullptr; // wraps onto a second row rather than hide a button
  QWidget *plBackground = nullptr;
  QProgressBar *pbarTotal = nullptr;
  // Shortened in the middle when too long; the whole text is its tooltip then.
  TElidedLabel *lbStatus = nullptr;
  // The batch's expected size against the stick's free space, on the Convert page.
  QLabel *lbFit = nullptr;
  void ShowFitLine();
  QGroupBox *gbAbout = nullptr;
  // The Go menu's entries, one per page (Ctrl+1..3).
  QAction *PageActions[3] = {};
  QAction *AboutAction = nullptr; // in the Help menu
  QAction *btnAdd = nullptr, *btnRemove = nullptr, *btnClear = nullptr, *btnStart = nullptr,
          *btnStop = nullptr, *btnPause = nullptr, *btnResume = nullptr,
          *btnOpenAVCFolder = nullptr, *btnOpenMPEG4Folder = nullptr,
          *btnOpenDeviceFolder = nullptr, *btnSendToPSP = nullptr;
  QTimer *CloseTimer = nullptr; // closes the window once the panels have stopped
  // On the status line while files left waiting when the window last closed can be added back.
  QPushButton *btnRestore = nullptr;
  // The window closes for a signal (the terminal or session ending): nobody is there to answer
  // a message box, so what must be told goes to the error stream.
  bool FClosingForSignal = false;

  // The title: the program's name and the build's version.
  static QString WindowCaption();
  // What the program is made with, for the Home page and About.
  static QString Credits();

protected:
  void closeEvent(QCloseEvent *AEvent) override;
  bool eventFilter(QObject *AWatched, QEvent *AEvent) override;

private:
  void CreatePages();
  void CreateStatusLine();
  void SetUpKeyboard();
  void PlaceOnScreen();
  void SavePlace() const;
  QWidget *CreateHomePage();
  void CreateConvertCommands(QWidget *APage);
  QWidget *CreateConvertPage();
  void CreateMenu();
  void btnAddFilesClick();
  void btnStartClick();
  void ListProgress(int AIndex, int APercent, TItemState AState);
  void OpenFolder(const std::string &AFolder);

  TfrmConvertList *FConvertList = nullptr;
  QVBoxLayout *FFoldersLayout = nullptr;
  TFoldersPage *FFoldersPage = nullptr;
  TSendToPSP *FSendToPSP = nullptr; // converts, fits and copies onto the stick in one press
  std::string FAppPath;
  TDesktopNotifier FNotifier;
  QString FAddFolder; // where the open dialog was left
  bool FClosing = false;
  bool FCloseScheduled = false;
  bool FConvertedSinceRefresh = false;
  std::vector<TRememberedJob> FRestorable;      // offered by btnRestore, not taken yet
  std::vector<TRememberedJob> FLeftUnconverted; // the list's unconverted jobs as closing began
};
