#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <functional>
#include <initializer_list>

#include "app/folders.h"
#include "app/media_setup.h"
#include "app/profiles.h"
#include "app/remembered_batch.h"
#include "app/size_estimate.h"
#include "ui/command_bar.h"
#include "ui/convert_item.h"
#include "ui/convert_list.h"
#include "ui/folders_page.h"
#include "ui/send_to_psp.h"
#include "ui/home_picture.h"
#include "ui/messages.h"
#include "ui/text_fit.h"
#include "ui/window_command_line.h"

namespace {

// The open dialog's filter in the form "Name|patterns|Name|patterns".
const char *const OpenDialogFilter =
    "Video/Audio/Picture Files|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;"
    "*.MPEG;*.DAT;*.OGM;*.VOB;*.TS;*.TP;*.IFO;*.NSV;*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*.FLAC;*.M4A;"
    "*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;*.BMP;*.GIF;"
    "*.JPEG;*.JPG;*.PNG;|Video Files|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;"
    "*.MPG;*.MPEG;*.DAT;*.OGM;*.VOB;*.TS;*.TP;*.IFO;*.NSV;|All Files|*.*";

// Kinds of media newer than that filter, taken from a folder as well.
const char *const NewerMediaPatterns = "*.WEBM;*.OGV;*.M4V;*.MTS;*.M2TS;*.OPUS";

constexpr int WindowFrame = 8;     // px a desktop's window frame usually takes on each side
constexpr int WindowTitleBar = 32; // and its title bar
constexpr int ButtonWidth = 73;
constexpr int ButtonHeight = 21;

// The desktop's icon for a command (the first of ANames its icon theme has), or the style's own
// where no icon theme is installed.
QIcon ThemeIcon(std::initializer_list<const char *> ANames, QStyle::StandardPixmap AStandard) {
  for (const char *name : ANames) {
    const QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
    if (!icon.isNull())
      return icon;
  }
  return QApplication::style()->standardIcon(AStandard);
}

// Where and how large the window was when it last closed, and on which page.
struct TWindowPlace {
  bool Valid = false;
  QRect Geometry;
  int Page = 1;
  bool Maximized = false;
};

// Beside Config.ini in the user's configuration folder; the folders stay in Config.ini.
QString WindowSettingsFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QLatin1Char('/') + QString::fromUtf8(ApplicationTitle) + QStringLiteral("/Window.ini");
}

TWindowPlace ReadWindowPlace() {
  const QSettings settings(WindowSettingsFile(), QSettings::IniFormat);
  TWindowPlace place;
  place.Geometry = settings.value(QStringLiteral("Window/Geometry")).toRect();
  place.Valid = settings.status() == QSettings::NoError && place.Geometry.width() > 0 &&
                place.Geometry.height() > 0;
  place.Page = settings.value(QStringLiteral("Window/Page"), 1).toInt();
  place.Maximized = settings.value(QStringLiteral("Window/Maximized"), false).toBool();
  return place;
}

std::string WithTrailingSlash(const QString &AFolder) {
  QString folder = AFolder;
  if (!folder.endsWith(QLatin1Char('/')))
    folder += QLatin1Char('/');
  return folder.toStdString();
}

} // namespace

TfrmMain::TfrmMain(const QString &AAppPath, QWidget *AParent) : QMainWindow(AParent) {
  setWindowTitle(WindowCaption());
  setMinimumSize(138, 55);
  FAppPath =
      WithTrailingSlash(AAppPath.isEmpty() ? QCoreApplication::applicationDirPath() : AAppPath);

  CreatePages();
  CreateMenu();
  CreateStatusLine();

  CloseTimer = new QTimer(this);
  CloseTimer->setInterval(100);
  CloseTimer->setSingleShot(true);
  connect(CloseTimer, &QTimer::timeout, this, [this] {
    CloseTimer->stop();
    close();
  });

  LoadSettings();
  // The window opens even without the media libraries: each file added tries them again.
  std::string libraryError;
  if (!LoadMediaLibraries(FAppPath, libraryError))
    PostMessage(this, QString::fromStdString(libraryError));
  FFoldersPage->RefreshFiles();
  SetUpKeyboard();
  PlaceOnScreen();
}

QString TfrmMain::WindowCaption() {
  return QStringLiteral("Korvelo Converter %1").arg(QStringLiteral(KORVELO_VERSION));
}

void TfrmMain::CreatePages() {
  pcSteps = new QTabWidget(this);
  pcSteps->setDocumentMode(false);
  tshHome = CreateHomePage();
  tshConvert = CreateConvertPage();
  tshSettings = new QWidget;
  FFoldersLayout = new QVBoxLayout(tshSettings);
  FFoldersPage = new TFoldersPage(FAppPath, tshSettings);
  connect(FFoldersPage, &TFoldersPage::PageWanted, this,
          [this] { pcSteps->setCurrentWidget(tshSettings); });
  connect(FFoldersPage, &TFoldersPage::OutputFolderChanged, this,
          [this] { FConvertList->ReloadWaiting(); });
  FSendToPSP = new TSendToPSP(FConvertList, FFoldersPage, FNotifier, this);
  connect(FFoldersPage, &TFoldersPage::SendToPSPWanted, this, [this] { FSendToPSP->Start(); });
  SetFoldersPage(FFoldersPage);
  pcSteps->addTab(tshHome, tr("Home"));
  pcSteps->addTab(tshConvert, tr("Convert"));
  pcSteps->addTab(tshSettings, tr("Folders and Files"));
  pcSteps->setCurrentIndex(1);
  setCentralWidget(pcSteps);
  // Files converted meanwhile are listed when the user turns to the page that copies them.
  connect(pcSteps, &QTabWidget::currentChanged, this, [this] {
    if (pcSteps->currentWidget() == tshSettings && FConvertedSinceRefresh) {
      FConvertedSinceRefresh = false;
      FFoldersPage->RefreshFiles();
    }
  });
}

void TfrmMain::CreateStatusLine() {
  lbStatus = new TElidedLabel(this);
  lbStatus->setAccessibleName(tr("Status"));
  // A blank's room before the expected size beside it, however long the status.
  lbStatus->setContentsMargins(0, 0,
                               lbStatus->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 2, 0);
  statusBar()->addWidget(lbStatus, 1);
  lbFit = new QLabel(this);
  // The line itself is the name a screen reader reads; a fixed name would hide the numbers.
  lbFit->setAccessibleDescription(tr("Expected size"));
  statusBar()->addPermanentWidget(lbFit);
  // Panels come, go and change profile; the stick's space comes from the page's own scans.
  // A look at numbers already known, no disk touched.
  auto *fitTimer = new QTimer(this);
  fitTimer->setInterval(500);
  connect(fitTimer, &QTimer::timeout, this, [this] { ShowFitLine(); });
  fitTimer->start();
  connect(FFoldersPage, &TFoldersPage::StickScanned, this, [this] { ShowFitLine(); });
  statusBar()->setSizeGripEnabled(true);
  // Files that were still to convert when the window last closed, and are still there.
  FRestorable = ReadRememberedBatch(RememberedBatchPath());
  btnRestore = new QPushButton(statusBar());
  btnRestore->setText(
      tr("Restore %n file(s) from last time", nullptr, static_cast<int>(FRestorable.size())));
  btnRestore->setVisible(!FRestorable.empty());
  connect(btnRestore, &QPushButton::clicked, this, [this] {
    pcSteps->setCurrentWidget(tshConvert);
    for (const TRememberedJob &job : FRestorable)
      FConvertList->AddItem(job.FileName, job.Profile, job.Choice);
    FRestorable.clear();
    btnRestore->hide();
  });
  statusBar()->addPermanentWidget(btnRestore);
}

// A first start opens at about two thirds of the screen, centred (at least as large as the
// commands need); later ones where the window was closed, as large, on the same page.
void TfrmMain::PlaceOnScreen() {
  // As wide as the command buttons need on one row with the desktop's font, if that is wider
  // than the design; a screen without the room gets them on two rows.
  const QMargins page = tshConvert->layout()->contentsMargins();
  const int commands = tbConvert->sizeHint().width() + page.left() + page.right() +
                       2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, pcSteps) + 4;
  QSize design(std::max(ClientWidth, commands),
               ClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
  const QSize decorations(2 * WindowFrame, WindowTitleBar + WindowFrame);
  const QScreen *screen = QGuiApplication::primaryScreen();
  if (!screen) {
    resize(design);
    return;
  }
  // A screen smaller than the design gets a window that fits it, title bar and frame included
  // (their size is the desktop's: room is left for the usual ones), never one hanging off it.
  const QRect available = screen->availableGeometry();
  design = design.expandedTo(available.size() * 2 / 3);
  const TWindowPlace place = ReadWindowPlace();
  QRect wanted(QPoint(), design);
  wanted.moveCenter(available.center());
  if (place.Valid) {
    wanted = place.Geometry;
    pcSteps->setCurrentIndex(std::clamp(place.Page, 0, pcSteps->count() - 1));
  }
  resize(wanted.size().boundedTo(available.size() - decorations));
  // Never off the screen, however the screens have changed since.
  const int x = std::clamp(wanted.x(), available.left(),
                           std::max(available.left(), available.right() - width()));
  const int y = std::clamp(wanted.y(), available.top(),
                           std::max(available.top(), available.bottom() - height()));
  move(x, y);
  if (place.Maximized)
    setWindowState(windowState() | Qt::WindowMaximized);
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::SavePlace() const {
  QSettings settings(WindowSettingsFile(), QSettings::IniFormat);
  const QRect normal = isMaximized() ? normalGeometry() : QRect(pos(), size());
  settings.setValue(QStringLiteral("Window/Geometry"), normal);
  settings.setValue(QStringLiteral("Window/Page"), pcSteps->currentIndex());
  settings.setValue(QStringLiteral("Window/Maximized"), isMaximized());
}

void TfrmMain::SetUpKeyboard() {
  pcSteps->setAccessibleName(tr("Pages"));
  tbConvert->setAccessibleName(tr("Commands"));
  FConvertList->setAccessibleName(tr("Conversion list"));
  FConvertList->setAccessibleDescription(
      tr("The files to convert, one panel each: arrow keys move between them, Space selects, "
         "the Menu key opens a panel's menu."));
  pbarTotal->setAccessibleName(tr("Overall progress"));
  // The arrow keys walk the panels; a panel passes on the keys it does not use itself.
  FConvertList->installEventFilter(this);
}

bool TfrmMain::eventFilter(QObject *AWatched, QEvent *AEvent) {
  if (AWatched != FConvertList || AEvent->type() != QEvent::KeyPress)
    return QMainWindow::eventFilter(AWatched, AEvent);
  const auto *keyEvent = static_cast<QKeyEvent *>(AEvent);
  const int key = keyEvent->key();
  auto *focused = qobject_cast<TfrmConvertItem *>(QApplication::focusWidget());
  if (focused &&
      (key == Qt::Key_Menu || (key == Qt::Key_F10 && keyEvent->modifiers() == Qt::ShiftModifier))) {
    // The panel's menu where the panel is, as the right button opens it.
    const QPoint at(focused->width() / 2, focused->height() / 3);
    QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, focused->mapToGlobal(at));
    QCoreApplication::sendEvent(focused, &menu);
    return true;
  }
  if (!focused || FConvertList->Count() == 0 ||
      (key != Qt::Key_Up && key != Qt::Key_Down && key != Qt::Key_Home && key != Qt::Key_End))
    return QMainWindow::eventFilter(AWatched, AEvent);
  int index = 0;
  while (index < FConvertList->Count() && FConvertList->Item(index) != focused)
    ++index;
  if (index == FConvertList->Count())
    return QMainWindow::eventFilter(AWatched, AEvent);
  const int last = FConvertList->Count() - 1;
  const int next = key == Qt::Key_Home  ? 0
                   : key == Qt::Key_End ? last
                   : key == Qt::Key_Up  ? std::max(index - 1, 0)
                                        : std::min(index + 1, last);
  FConvertList->Item(next)->setFocus(Qt::TabFocusReason);
  return true;
}

void TfrmMain::ShowFitLine() {
  int64_t expected = 0;
  for (int i = 0; i < FConvertList->Count(); ++i)
    expected += FConvertList->Item(i)->ExpectedSize();
  const bool show = FConvertList->Count() > 0;
  lbFit->setVisible(show);
  if (show)
    lbFit->setText(QString::fromStdString(
        FitLineText(expected, !DeviceFolder.empty(), FFoldersPage->DeviceFree())));
}

void TfrmMain::CreateMenu() {
  QMenu *file = menuBar()->addMenu(tr("&File"));
  file->addActions({btnAdd, btnRemove, btnClear});
  file->addSeparator();
  // The desktop's key for closing a program; closing asks running conversions to stop first.
  QAction *quit = file->addAction(tr("&Quit"), this, &QWidget::close);
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  QMenu *convert = menuBar()->addMenu(tr("&Convert"));
  convert->addActions({btnStart, btnStop, btnPause, btnResume, btnSendToPSP});
  convert->addSeparator();
  convert->addActions({btnOpenAVCFolder, btnOpenMPEG4Folder, btnOpenDeviceFolder});
  // The pages, with the keys that turn to them from anywhere in the window.
  QMenu *go = menuBar()->addMenu(tr("&Go"));
  const QString pages[] = {tr("&Home"), tr("&Convert"), tr("&Folders and Files")};
  for (int i = 0; i < 3; ++i) {
    QAction *action = go->addAction(pages[i], this, [this, i] { pcSteps->setCurrentIndex(i); });
    action->setShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_1 + i)));
    PageActions[i] = action;
  }
  QMenu *help = menuBar()->addMenu(tr("&Help"));
  AboutAction = help->addAction(tr("&About Korvelo Converter"), this, [this] {
    QMessageBox::about(this, tr("About Korvelo Converter"),
                       tr("<h3>Korvelo Converter</h3><p>Version %1</p><p>Turns video, audio and "
                          "picture files into MP4 files that the PSP plays, and copies them onto "
                          "its memory stick.</p><p>%2</p>")
                           .arg(QStringLiteral(KORVELO_VERSION), Credits()));
  });
}

QString TfrmMain::Credits() {
  return tr("Thanks to Developer Teams for: FFmpeg's libraries and AAC encoder, x264, libass, Qt, "
            "libjpeg-turbo");
}

QWidget *TfrmMain::CreateHomePage() {
  auto *page = new QWidget;
  auto *layout = new QVBoxLayout(page);
  layout->addWidget(new THomePicture(page), 1);
  gbAbout = new QGroupBox(tr("About"), page);
  auto *about = new QVBoxLayout(gbAbout);
  auto *version = new QLabel(tr("Korvelo Converter %1").arg(QStringLiteral(KORVELO_VERSION)));
  about->addWidget(version);
  auto *credits = new QLabel(Credits(), gbAbout);
  credits->setWordWrap(true);
  about->addWidget(credits);
  layout->addWidget(gbAbout);
  return page;
}

// The Convert page's command row: the list's commands, the batch's and the folders'.
void TfrmMain::CreateConvertCommands(QWidget *APage) {
  tbConvert = new TCommandBar(QSize(ButtonWidth, ButtonHeight), APage);
  auto button = [this](const QString &ACaption, const QIcon &AIcon, const QString &AHint,
                       std::function<void()> AHandler) {
    return tbConvert->AddCommand(ACaption, AIcon, AHint, std::move(AHandler));
  };
  btnAdd = button(tr("Add"), ThemeIcon({"list-add"}, QStyle::SP_DialogOpenButton), QString(),
                  [this] { btnAddFilesClick(); });
  btnRemove = button(tr("Remove"), ThemeIcon({"list-remove"}, QStyle::SP_DialogDiscardButton),
                     QString(), [this] { FConvertList->RemoveSelected(); });
  btnClear = button(tr("Clear"),
                    ThemeIcon({"edit-clear-all", "edit-clear"}, QStyle::SP_LineEditClearButton),
                    QString(), [this] { FConvertList->ClearItems(); });
  tbConvert->AddSeparator();
  btnStart = button(tr("Start"), ThemeIcon({"media-playback-start"}, QStyle::SP_MediaPlay),
                    QString(), [this] { btnStartClick(); });
  btnStop = button(tr("Stop"), ThemeIcon({"media-playback-stop"}, QStyle::SP_MediaStop), QString(),
                   [this] {
                     const bool idle = FConvertList->AllTerminated();
                     FConvertList->StopAll();
                     if (idle)
                       lbStatus->setText(tr("Nothing to stop"));
                   });
  btnPause = button(tr("Pause"), ThemeIcon({"media-playback-pause"}, QStyle::SP_MediaPause),
                    QString(), [this] { FConvertList->PauseAll(); });
  btnResume = button(tr("Resume"), ThemeIcon({"media-seek-forward"}, QStyle::SP_MediaSeekForward),
                     QString(), [this] { FConvertList->ResumeNext(); });
  // The keys people expect for opening files and deleting what is selected; F5 runs, as in
  // the tools that build and run things.
  tbConvert->SetShortcut(btnAdd, QKeySequence::Open);
  tbConvert->SetShortcut(btnRemove, QKeySequence::Delete);
  tbConvert->SetShortcut(btnStart, QKeySequence(Qt::Key_F5));
  tbConvert->SetShortcut(btnStop, QKeySequence(Qt::SHIFT | Qt::Key_F5));
  tbConvert->SetShortcut(btnPause, QKeySequence(Qt::CTRL | Qt::Key_P));
  tbConvert->SetShortcut(btnResume, QKeySequence(Qt::CTRL | Qt::Key_R));
  tbConvert->AddSeparator();
  btnOpenAVCFolder =
      button(tr("AVC Folder"), ThemeIcon({"folder-videos", "folder"}, QStyle::SP_DirOpenIcon),
             tr("Open AVC output folder"), [this] { OpenFolder(AVCFolder); });
  btnOpenMPEG4Folder =
      button(tr("MPEG4 Folder"), ThemeIcon({"folder-videos", "folder"}, QStyle::SP_DirOpenIcon),
             tr("Open MPEG4 output folder"), [this] { OpenFolder(MPEG4Folder); });
  btnOpenDeviceFolder =
      button(tr("Device Folder"),
             ThemeIcon({"media-flash", "drive-removable-media"}, QStyle::SP_DriveFDIcon),
             tr("Open Device Folder"), [this] {
               if (!QString::fromStdString(DeviceFolder).trimmed().isEmpty())
                 OpenFolder(DeviceFolder);
             });
  tbConvert->AddSeparator();
  btnSendToPSP =
      button(tr("Send to PSP"), ThemeIcon({"document-send", "go-next"}, QStyle::SP_ArrowForward),
             tr("Convert what is waiting and put the videos on the memory stick"),
             [this] { FSendToPSP->Start(); });
}

QWidget *TfrmMain::CreateConvertPage() {
  auto *page = new QWidget;
  auto *layout = new QVBoxLayout(page);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->setSpacing(6);

  CreateConvertCommands(page);
  layout->addWidget(tbConvert);

  plBackground = new QWidget(page);
  auto *background = new QVBoxLayout(plBackground);
  background->setContentsMargins(0, 0, 0, 0);
  FConvertList = new TfrmConvertList(plBackground);
  FConvertList->FOnListProgress = [this](int AIndex, int APercent, TItemState AState) {
    ListProgress(AIndex, APercent, AState);
  };
  FConvertList->FOnStatus = [this](const QString &AText) { lbStatus->setText(AText); };
  FConvertList->FOnItemFinished = [this] { FConvertedSinceRefresh = true; };
  // Someone who turned to another window learns that the batch is over; one who stopped it
  // is here.
  FConvertList->FOnBatchEnded = [this](int AConverted, const QStringList &AFailedNames,
                                       bool AStopped) {
    FNotifier.HideProgress();
    // A batch of Send to PSP is told with what went onto the stick, once.
    if (!FSendToPSP->BatchEnded(AStopped) && !AStopped)
      FNotifier.BatchEnded(AConverted, AFailedNames);
  };
  FConvertList->FOnDropped = [this](const QStringList &APaths) { AddFiles(APaths); };
  background->addWidget(FConvertList);
  layout->addWidget(plBackground, 1);

  pbarTotal = new QProgressBar(page);
  pbarTotal->setRange(0, 100);
  pbarTotal->setValue(0);
  pbarTotal->setTextVisible(true);
  layout->addWidget(pbarTotal);
  return page;
}

namespace {

// The open dialog's filter as (name, patterns) pairs.
QList<QPair<QString, QStringList>> FilterEntries() {
  const QStringList parts = QString::fromUtf8(OpenDialogFilter).split(QLatin1Char('|'));
  QList<QPair<QString, QStringList>> entries;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    // "*.*" means every file where the filter comes from; here it would want a dot in the name.
    for (QString &pattern : patterns)
      if (pattern == QLatin1String("*.*"))
        pattern = QStringLiteral("*");
    entries.append({parts[i], patterns});
  }
  return entries;
}

// A folder stands for the video, audio and picture files in it, by name; one without any stays
// itself, and its load says it is a folder. Besides the dialog's first filter it takes the kinds
// that filter predates, which a folder of today's downloads or camera clips is made of.
QStringList MediaFilesIn(const QString &APath) {
  if (!QFileInfo(APath).isDir())
    return {APath};
  QStringList files;
  const QDir folder(APath);
  const QStringList patterns = FilterEntries().first().second +
                               QString::fromUtf8(NewerMediaPatterns).split(QLatin1Char(';'));
  for (const QFileInfo &file :
       folder.entryInfoList(patterns, QDir::Files, QDir::Name | QDir::IgnoreCase))
    files << file.absoluteFilePath();
  return files.isEmpty() ? QStringList{APath} : files;
}

} // namespace

QStringList TfrmMain::OpenDialogFilters() {
  QStringList filters;
  for (const auto &entry : FilterEntries())
    filters << QStringLiteral("%1 (%2)").arg(entry.first, entry.second.join(QLatin1Char(' ')));
  return filters;
}

void TfrmMain::ConfigureOpenDialog(QFileDialog &ADialog) {
  // Qt's own dialog, so that the patterns match without regard to letter case everywhere.
  ADialog.setOption(QFileDialog::DontUseNativeDialog);
  ADialog.setFilter(ADialog.filter() & ~QDir::CaseSensitive);
  ADialog.setFileMode(QFileDialog::ExistingFiles);
  ADialog.setNameFilters(OpenDialogFilters());
  // Sizes, kinds and dates in full; the name takes the rest.
  if (auto *view = ADialog.findChild<QTreeView *>(QStringLiteral("treeView"))) {
    view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  }
}

void TfrmMain::btnAddFilesClick() {
  QFileDialog dialog(this, tr("Add files"));
  ConfigureOpenDialog(dialog);
  // Room for the names, sizes and dates; and back in the folder the last files came from.
  dialog.resize(dialog.sizeHint().expandedTo(QSize(760, 460)).boundedTo(size() * 0.95));
  if (!FAddFolder.isEmpty())
    dialog.setDirectory(FAddFolder);
  if (dialog.exec() != QDialog::Accepted)
    return;
  AddFiles(dialog.selectedFiles());
  FAddFolder = dialog.directory().absolutePath();
}

void TfrmMain::AddFiles(const QStringList &AFiles) {
  pcSteps->setCurrentWidget(tshConvert);
  for (const QString &path : AFiles)
    for (const QString &file : MediaFilesIn(path))
      FConvertList->AddItem(file.toStdString());
  // Files named on the command line or dropped count as the last ones added, too.
  if (!AFiles.isEmpty()) {
    const QFileInfo last(AFiles.last());
    FAddFolder = last.isDir() ? last.absoluteFilePath() : last.absolutePath();
  }
}

void TfrmMain::TakeLaunch(const QString &AWorkingFolder, const QStringList &AArguments) {
  const TWindowCommandLine command = ParseWindowCommandLine(AArguments, AWorkingFolder);
  // Handed over as the window began to close: kept for the next start with the files left.
  if (FClosing) {
    for (const QString &path :
         command.Command == TWindowCommand::wcOpen ? command.Files : QStringList())
      for (const QString &file : MediaFilesIn(path))
        FLeftUnconverted.push_back({file.toStdString(), -1, TContentChoice()});
    return;
  }
  if (isMinimized())
    showNormal();
  show();
  raise();
  activateWindow();
  if (command.Command == TWindowCommand::wcOpen && !command.Files.isEmpty())
    AddFiles(command.Files);
}

void TfrmMain::btnStartClick() {
  // Told once here, rather than once for every file that cannot be written.
  if (FFoldersPage->OutputFolderReady())
    FConvertList->StartBatch();
  else
    ShowOutputFolderError();
}

// A click that opens nothing says why rather than doing nothing.
void TfrmMain::OpenFolder(const std::string &AFolder) {
  if (!TFoldersPage::OpenFolder(AFolder))
    ShowMessage(this, tr("%1 could not be opened: the desktop has no program to show folders with.")
                          .arg(QString::fromStdString(AFolder)));
}

void TfrmMain::ListProgress(int, int APercent, TItemState AState) {
  if (APercent != -1) {
    pbarTotal->setValue(std::clamp(APercent, 0, 100));
    pbarTotal->repaint();
    if (FConvertList->BatchRunning())
      FNotifier.ShowProgress(APercent);
  }
  if (AState == isTerminated && FClosing)
    close();
}

void TfrmMain::closeEvent(QCloseEvent *AEvent) {
  // Quitting by mistake would lose the conversion under way: asked once, unless a signal closes.
  if (!FClosing && !FClosingForSignal && !FConvertList->AllTerminated() &&
      !AskQuestion(this, tr("A conversion is running. Stop it and quit?"), tr("Stop and quit"),
                   tr("Keep converting"))) {
    AEvent->ignore();
    return;
  }
  // What is still to convert as closing begins (the running conversion is stopped by it) is
  // offered back at the next start, with the files added that are still loading.
  if (!FClosing) {
    FLeftUnconverted.clear();
    for (int i = 0; i < FConvertList->Count(); ++i)
      if (FConvertList->Item(i)->FState != isTerminated)
        FLeftUnconverted.push_back({FConvertList->Item(i)->InputFileName(),
                                    FConvertList->Item(i)->cboxFormat->currentIndex(),
                                    FConvertList->Item(i)->ContentChoice()});
    for (const TRememberedJob &job : FConvertList->LoadingFiles())
      FLeftUnconverted.push_back(job);
  }
  const bool canClose = FConvertList->AllTerminated();
  if (canClose && !FCloseScheduled) {
    FCloseScheduled = true;
    CloseTimer->start();
  }
  FClosing = true;
  FConvertList->StopAll();
  if (!canClose) {
    lbStatus->setText(tr("Stopping the conversion before closing\u2026"));
    AEvent->ignore();
    return;
  }
  CloseTimer->stop();
  SavePlace();
  SaveSettings();
  std::vector<TRememberedJob> remembered = FLeftUnconverted;
  remembered.insert(remembered.end(), FRestorable.begin(), FRestorable.end());
  std::string error;
  if (!WriteRememberedBatch(RememberedBatchPath(), remembered, error))
    TellUnsaved(tr("The files still to convert could not be kept for the next start (%1).")
                    .arg(QString::fromStdString(error)));
  AEvent->accept();
}

void TfrmMain::LoadSettings() { FFoldersPage->LoadSettings(); }

void TfrmMain::SaveSettings() {
  const QString error = FFoldersPage->SaveSettings();
  if (error.isEmpty())
    return;
  TellUnsaved(tr("The folder settings could not be saved (%1): the next start will not "
                 "know the folders chosen now.")
                  .arg(error));
}

void TfrmMain::TellUnsaved(const QString &AText) {
  if (FClosingForSignal)
    std::fprintf(stderr, "korvelo-converter: %s\n", AText.toLocal8Bit().constData());
  else
    ShowMessage(this, AText);
}

bool TfrmMain::OutputFolderOK() const { return FFoldersPage->OutputFolderOK(); }

void TfrmMain::ShowOutputFolderError() { FFoldersPage->ShowOutputFolderError(); }

void TfrmMain::SetFoldersPage(QWidget *AContents) { FFoldersLayout->addWidget(AContents); }
