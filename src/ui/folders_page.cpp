#include "ui/folders_page.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QStatusBar>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <set>

#include "app/device_copy_job.h"
#include "app/file_reasons.h"
#include "app/i18n.h"
#include "app/mount_watch.h"
#include "ui/udisks2_qt.h"
#include "app/profiles.h"
#include "app/psp_volumes.h"
#include "app/size_estimate.h"
#include "ui/messages.h"
#include "ui/text_fit.h"

namespace {

const char *const BrowseTitle = "Please specify a directory";
constexpr int CopyDialogDelay = 300;  // ms: a quick copy needs no dialog
constexpr int CopyDialogSteps = 1000; // bytes do not fit the dialog's int range

struct TColumn {
  const char *Caption;
  int Width;
  Qt::Alignment Alignment;
};
const TColumn FileColumns[] = {
    {QT_TRANSLATE_NOOP("TFoldersPage", "Filename"), 360, Qt::AlignLeft | Qt::AlignVCenter},
    {QT_TRANSLATE_NOOP("TFoldersPage", "Format"), 70, Qt::AlignCenter},
    {QT_TRANSLATE_NOOP("TFoldersPage", "Duration"), 90, Qt::AlignRight | Qt::AlignVCenter},
    {QT_TRANSLATE_NOOP("TFoldersPage", "File Size"), 110, Qt::AlignRight | Qt::AlignVCenter}};

const TColumn StickColumns[] = {
    {QT_TRANSLATE_NOOP("TFoldersPage", "PSP name"), 120, Qt::AlignLeft | Qt::AlignVCenter},
    {QT_TRANSLATE_NOOP("TFoldersPage", "Title"), 200, Qt::AlignLeft | Qt::AlignVCenter},
    {QT_TRANSLATE_NOOP("TFoldersPage", "Duration"), 90, Qt::AlignRight | Qt::AlignVCenter},
    {QT_TRANSLATE_NOOP("TFoldersPage", "File Size"), 100, Qt::AlignRight | Qt::AlignVCenter},
    {QT_TRANSLATE_NOOP("TFoldersPage", "Plays on the PSP"), 200, Qt::AlignLeft | Qt::AlignVCenter}};

QString Text(const std::string &AText) { return QString::fromStdString(AText); }

// The design's width, or more where a larger font needs it: a duration or a size shows whole
// (the name column gives the room).
int ColumnWidth(const QFontMetrics &AMetrics, const TColumn &AColumn) {
  const QString caption = QCoreApplication::translate("TFoldersPage", AColumn.Caption);
  const std::string column = AColumn.Caption;
  const QString widest = column == "Duration"    ? QStringLiteral("00:00:00.00")
                         : column == "File Size" ? QStringLiteral("9,999,999 KB")
                         : column == "PSP name"  ? QStringLiteral("MP_ROOT/100ANV01/MAQ00000.MP4")
                                                 : caption;
  const int padding = AMetrics.averageCharWidth() * 2;
  return std::max({AColumn.Width, AMetrics.horizontalAdvance(widest) + padding,
                   AMetrics.horizontalAdvance(caption) + padding});
}

// A report-style list as the page's lists look: whole rows, read-only, grid lines.
QTableWidget *NewList(QWidget *AParent, const TColumn *AColumns, int ACount) {
  auto *list = new QTableWidget(0, ACount, AParent);
  list->setShowGrid(true);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setWordWrap(false);
  list->verticalHeader()->setVisible(false);
  list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
  list->horizontalHeader()->setStretchLastSection(false);
  list->horizontalHeader()->setHighlightSections(false);
  for (int c = 0; c < ACount; ++c) {
    auto *header =
        new QTableWidgetItem(QCoreApplication::translate("TFoldersPage", AColumns[c].Caption));
    header->setTextAlignment(AColumns[c].Alignment);
    list->setHorizontalHeaderItem(c, header);
    list->setColumnWidth(c, AColumns[c].Width);
  }
  // The selection stays visible when the list loses the focus (to a button).
  QPalette palette = list->palette();
  for (const auto role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  list->setPalette(palette);
  return list;
}

std::string WithSlash(const QString &AFolder) {
  return WithSeparator(QDir::fromNativeSeparators(AFolder).toStdString());
}

// The platform's folders for the settings and the output of an installed program.
TFolderPlaces PlatformPlaces(const std::string &AAppPath) {
  const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  return FindFolderPlaces(AAppPath, WithSlash(config) + ApplicationTitle + "/",
                          videos.isEmpty() ? std::string() : WithSlash(videos));
}

// The rows touched by a selection change, each once.
std::vector<int> RowsOf(const QItemSelection &ASelection) {
  std::set<int> rows;
  for (const QModelIndex &index : ASelection.indexes())
    rows.insert(index.row());
  return {rows.begin(), rows.end()};
}

QString EjectSettingsFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QLatin1Char('/') + QString::fromUtf8(ApplicationTitle) + QStringLiteral("/Window.ini");
}
const char *const EjectWhenDoneKey = "Stick/EjectWhenDone";

QString IncompleteHint() {
  return QObject::tr("Incomplete: its conversion was stopped or cut off before the end. Copy to "
                     "PSP asks before copying it.");
}

} // namespace

TFoldersPage::TFoldersPage(const std::string &AAppPath, QWidget *AParent)
    : QWidget(AParent), FListVolumes(MountedVolumes), FPlaces(PlatformPlaces(AAppPath)),
      FCopyJob(std::make_unique<TDeviceCopyJob>()) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(CreateFoldersBox());
  layout->addWidget(CreateFilesBox(), 1);

  // The job's thread only posts: the page is updated on its own thread, in the order raised.
  FCopyJob->OnProgress = [this](const TCopyProgress &AProgress) {
    QMetaObject::invokeMethod(
        this, [this, AProgress] { CopyProgress(AProgress); }, Qt::QueuedConnection);
  };
  FCopyJob->OnDone = [this](const TCopyResult &AResult) {
    QMetaObject::invokeMethod(
        this, [this, AResult] { CopyDone(AResult); }, Qt::QueuedConnection);
  };

  // Durations are read on the scan's thread; each comes back to the window's.
  FDurationScan = std::make_unique<TDurationScan>(
      DurationCachePath(), [this](const TDurationScan::TResult &AResult) {
        QMetaObject::invokeMethod(
            this, [this, AResult] { DurationRead(AResult); }, Qt::QueuedConnection);
      });

  // Sticks coming and going are seen by the kernel's word, on a thread of their own.
  FScanListVolumes = FListVolumes;
  FMountWatcher = std::make_unique<TMountWatcher>([this] { ScanStick(); });
}

TFoldersPage::~TFoldersPage() {
  FSendCancel = true;
  if (FSendThread.joinable())
    FSendThread.join();
  if (FEjectThread.joinable())
    FEjectThread.join();
  FMountWatcher.reset();
  FCopyJob.reset();
  FDurationScan.reset(); // at most one file's read to wait for
}

QWidget *TFoldersPage::CreateFoldersBox() {
  auto *box = new QGroupBox(tr("Folders"), this);
  auto *grid = new QGridLayout(box);
  auto row = [&](int ARow, const QString &ACaption, QLabel *&ALabel, QLineEdit *&AEdit,
                 QPushButton *&AButton) {
    ALabel = new QLabel(ACaption, box);
    AEdit = new QLineEdit(box);
    AEdit->setReadOnly(true);
    AButton = new QPushButton(tr("Browse"), box);
    // A screen reader names the field and its button by the row's caption.
    ALabel->setBuddy(AEdit);
    AEdit->setAccessibleName(ACaption);
    AButton->setAccessibleName(tr("Browse for the %1").arg(ACaption.toLower()));
    grid->addWidget(ALabel, ARow, 0);
    grid->addWidget(AEdit, ARow, 1);
    grid->addWidget(AButton, ARow, 2);
  };
  row(0, tr("Device folder"), Label1, edDeviceFolder, btnDeviceFolder);
  // Until one is chosen the free space reads 0 KB and Copy says there is too little of it.
  edDeviceFolder->setPlaceholderText(tr("Choose the PSP memory stick with Browse"));
  btnUsePSP = new QPushButton(box);
  btnUsePSP->setVisible(false);
  edDeviceFolder->installEventFilter(this);
  grid->addWidget(btnUsePSP, 1, 1, Qt::AlignLeft);
  row(2, tr("Convert output folder"), Label2, edOutputFolder, btnOutputFolder);
  grid->setColumnStretch(1, 1);
  connect(btnDeviceFolder, &QPushButton::clicked, this, [this] { btnDeviceFolderClick(); });
  connect(btnOutputFolder, &QPushButton::clicked, this, [this] { btnOutputFolderClick(); });
  connect(btnUsePSP, &QPushButton::clicked, this, [this] { btnUsePSPClick(); });
  return box;
}

QWidget *TFoldersPage::CreateStickPage(QWidget *AParent) {
  auto *stickPage = new QWidget(AParent);
  auto *stickLayout = new QGridLayout(stickPage);
  stickLayout->setContentsMargins(0, 0, 0, 0);
  lvStick = NewList(stickPage, StickColumns, static_cast<int>(std::size(StickColumns)));
  for (int c = 0; c < lvStick->columnCount(); ++c)
    lvStick->setColumnWidth(c, ColumnWidth(lvStick->fontMetrics(), StickColumns[c]));
  FitStickColumns();
  lvStick->setAccessibleName(tr("On the memory stick"));
  // The list's caption and the stick's state in one line above it: the rows get the height.
  lbStickState = new TElidedLabel(stickPage);
  lbStickState->setAccessibleName(tr("The memory stick"));
  btnRemoveFromStick = new QPushButton(tr("Remove from stick"), stickPage);
  btnRemoveFromStick->setToolTip(tr("Removes the selected videos and their thumbnails from the "
                                    "memory stick"));
  connect(btnRemoveFromStick, &QPushButton::clicked, this, [this] { btnRemoveFromStickClick(); });
  btnEject = new QPushButton(tr("Eject"), stickPage);
  btnEject->setToolTip(tr("Writes everything out, unmounts the stick and powers it off, so that "
                          "it can be pulled out safely"));
  connect(btnEject, &QPushButton::clicked, this, [this] { btnEjectClick(); });
  auto *stickButtons = new QHBoxLayout;
  stickButtons->addWidget(btnRemoveFromStick);
  stickButtons->addWidget(btnEject);
  stickLayout->addWidget(lbStickState, 0, 0);
  stickLayout->addLayout(stickButtons, 0, 1);
  stickLayout->addWidget(lvStick, 1, 0, 1, 2);
  stickLayout->setRowStretch(1, 1);
  stickLayout->setColumnStretch(0, 1);
  return stickPage;
}

QHBoxLayout *TFoldersPage::CreateFilesButtons(QWidget *ABox) {
  // Across, with its meaning written on it, beside the buttons: no column of the lists' width.
  progressbarSize = new QProgressBar(ABox);
  progressbarSize->setRange(0, 100);
  progressbarSize->setValue(0);
  progressbarSize->setTextVisible(true);
  progressbarSize->setFormat(tr("Selection: %p% of the free room"));
  progressbarSize->setMinimumWidth(
      progressbarSize->fontMetrics().horizontalAdvance(progressbarSize->format()) +
      progressbarSize->fontMetrics().averageCharWidth() * 4);
  progressbarSize->setToolTip(tr("Share of the device's free space the selection needs"));
  progressbarSize->setAccessibleName(tr("Space the selection needs"));
  progressbarSize->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

  btnRefresh = new QPushButton(tr("Refresh"), ABox);
  btnCopy = new QPushButton(tr("Copy to PSP"), ABox);
  connect(btnRefresh, &QPushButton::clicked, this, [this] {
    RefreshFiles();
    LookForPSP();
  });
  connect(btnCopy, &QPushButton::clicked, this, [this] { CopyToDevice(); });
  btnSendToPSP = new QPushButton(tr("Send to PSP"), ABox);
  btnSendToPSP->setToolTip(tr("Converts what is waiting on the Convert page and puts the list's "
                              "videos on the memory stick, in order, while they fit"));
  connect(btnSendToPSP, &QPushButton::clicked, this, [this] { emit SendToPSPWanted(); });
  chkEjectWhenDone = new QCheckBox(tr("Eject when done"), ABox);
  chkEjectWhenDone->setToolTip(tr("Send to PSP ejects the memory stick when it has finished"));
  chkEjectWhenDone->setChecked(
      QSettings(EjectSettingsFile(), QSettings::IniFormat).value(EjectWhenDoneKey).toBool());
  connect(chkEjectWhenDone, &QCheckBox::toggled, this, [](bool AChecked) {
    QSettings(EjectSettingsFile(), QSettings::IniFormat).setValue(EjectWhenDoneKey, AChecked);
  });
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(progressbarSize, 1);
  buttons->addWidget(btnRefresh);
  buttons->addWidget(btnCopy);
  buttons->addSpacing(buttons->spacing() * 2);
  buttons->addWidget(btnSendToPSP);
  return buttons;
}

QWidget *TFoldersPage::CreateFilesBox() {
  auto *box = new QGroupBox(tr("Video files"), this);
  auto *layout = new QGridLayout(box);

  splFiles = new QSplitter(Qt::Vertical, box);
  splFiles->setChildrenCollapsible(false);
  lvFiles = new QTableWidget(0, static_cast<int>(std::size(FileColumns)), splFiles);
  lvFiles->setAccessibleName(tr("Converted files"));
  lvFiles->setShowGrid(true);
  lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvFiles->setWordWrap(false);
  lvFiles->verticalHeader()->setVisible(false);
  lvFiles->verticalHeader()->setDefaultSectionSize(lvFiles->fontMetrics().height() + 6);
  lvFiles->horizontalHeader()->setStretchLastSection(false);
  lvFiles->horizontalHeader()->setHighlightSections(false);
  for (int c = 0; c < lvFiles->columnCount(); ++c) {
    auto *header = new QTableWidgetItem(tr(FileColumns[c].Caption));
    header->setTextAlignment(FileColumns[c].Alignment);
    lvFiles->setHorizontalHeaderItem(c, header);
    lvFiles->setColumnWidth(c, ColumnWidth(lvFiles->fontMetrics(), FileColumns[c]));
  }
  // The name takes what the window gives beyond the other columns, so the rows end at the edge.
  lvFiles->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  // The selection stays visible when the list loses the focus (to the Copy button).
  QPalette palette = lvFiles->palette();
  for (const auto role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  lvFiles->setPalette(palette);
  connect(lvFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection &ASelected, const QItemSelection &ADeselected) {
            lvFilesSelectionChanged(RowsOf(ASelected), RowsOf(ADeselected));
          });
  splFiles->addWidget(lvFiles);

  // Beside what could be copied, what the stick holds already.
  splFiles->addWidget(CreateStickPage(splFiles));
  splFiles->setStretchFactor(0, 3);
  splFiles->setStretchFactor(1, 2);

  QHBoxLayout *buttons = CreateFilesButtons(box);

  // Under Send to PSP, whose option it is.
  StatusBarCopyFiles = new QStatusBar(box);
  StatusBarCopyFiles->setSizeGripEnabled(false);
  StatusBarCopyFiles->addPermanentWidget(chkEjectWhenDone);

  layout->addWidget(splFiles, 0, 0);
  layout->addLayout(buttons, 1, 0);
  layout->addWidget(StatusBarCopyFiles, 2, 0);
  layout->setRowStretch(0, 1);
  return box;
}

void TFoldersPage::LoadSettings() {
  std::string readError;
  const TFolderSettings settings =
      LoadFolderSettings(FPlaces.SettingsFile, FPlaces.DefaultOutput, &readError);
  FSettingsUnreadable = !readError.empty();
  // The file system's reason in words a person can act on, where it has one.
  const std::string reason = WhyNotReadable(FPlaces.SettingsFile, true);
  if (FSettingsUnreadable)
    QTimer::singleShot(0, this, [this, why = Text(reason.empty() ? readError : reason)] {
      ShowMessage(window(), tr("The settings file cannot be read (%1). The folders chosen now "
                               "are used until the window closes; the file is left as it is.")
                                .arg(why));
    });
  SetDeviceFolder(settings.DeviceFolder);
  edDeviceFolder->setText(Text(DeviceFolder));
  const TOutputFolderChoice choice =
      ChooseOutputFolder(settings.OutputFolder, FPlaces.DefaultOutput);
  edOutputFolder->setText(Text(choice.Folder));
  FOutputFolderOK = choice.OK;
  // Told once the window is up, so that the message stands over it.
  // The stored folder failed, and then (a second time) the one put in its place.
  for (int i = 0; i < choice.ErrorCount; ++i)
    QTimer::singleShot(0, this, [this, folder = i == 0 ? settings.OutputFolder : choice.Folder] {
      ShowOutputFolderError(folder);
    });
  LookForPSP();
}

QString TFoldersPage::SaveSettings() {
  if (FSettingsUnreadable)
    return {}; // told at start
  std::string error;
  if (SaveFolderSettings(
          FPlaces.SettingsFile,
          {edDeviceFolder->text().toStdString(), edOutputFolder->text().toStdString()}, &error))
    return {};
  return Text(error);
}

bool TFoldersPage::OutputFolderReady() {
  FOutputFolderOK = PrepareOutputFolder(edOutputFolder->text().toStdString());
  return FOutputFolderOK;
}

void TFoldersPage::ShowOutputFolderError(const std::string &AFolder) {
  const std::string reason =
      WhyNotWritableFolder(AFolder.empty() ? edOutputFolder->text().toStdString() : AFolder);
  ShowMessage(window(), QString::fromUtf8(_(OutputFolderErrorMessage)) +
                            (reason.empty() ? QString() : QLatin1Char('\n') + Text(reason)));
  emit PageWanted();
}

bool TFoldersPage::OpenFolder(const std::string &AFolder) {
  return Text(AFolder).trimmed().isEmpty() ||
         QDesktopServices::openUrl(QUrl::fromLocalFile(Text(AFolder)));
}

QString TFoldersPage::BrowseFolder(const QString &ACurrent) {
  if (FBrowseFolder)
    return FBrowseFolder(ACurrent);
  return QFileDialog::getExistingDirectory(window(), tr(BrowseTitle), ACurrent,
                                           QFileDialog::ShowDirsOnly);
}

// Cancelling the picker keeps the folder as it was.
void TFoldersPage::btnDeviceFolderClick() {
  const QString folder = BrowseFolder(edDeviceFolder->text());
  if (folder.isEmpty())
    return;
  // A folder inside the stick would get videos where the PSP never looks for them.
  const std::string root = StickRootAbove(folder.toStdString());
  if (!root.empty())
    ShowMessage(window(),
                tr("The PSP finds videos only from the top folder of its memory stick, so %1 is "
                   "used as the device folder rather than %2.")
                    .arg(Text(root), folder),
                QMessageBox::Information);
  UseDeviceFolder(root.empty() ? folder.toStdString() : root);
}

void TFoldersPage::btnOutputFolderClick() {
  const QString folder = BrowseFolder(edOutputFolder->text());
  if (folder.isEmpty())
    return;
  edOutputFolder->setText(folder);
  FOutputFolderOK = ChangeOutputFolder(folder.toStdString());
  // The list shows the folder the field names: none when that folder is refused.
  RefreshFiles();
  if (FOutputFolderOK)
    emit OutputFolderChanged();
  else
    ShowOutputFolderError();
}

void TFoldersPage::btnUsePSPClick() { UseDeviceFolder(FOfferedFolder); }

void TFoldersPage::ShowOfferedFolder() {
  if (FOfferedFolder.empty())
    return;
  QString shown = Text(FOfferedFolder);
  if (shown.size() > 1 && shown.endsWith(QLatin1Char('/')))
    shown.chop(1);
  const QString text = tr("PSP memory stick found at %1: use it");
  // The button's frame and the words around the path, measured as the button draws them.
  btnUsePSP->setText(QString(text).arg(QString()));
  const int room = edDeviceFolder->width() - btnUsePSP->sizeHint().width();
  const QString elided = btnUsePSP->fontMetrics().elidedText(shown, Qt::ElideMiddle, room);
  // A "&" in a folder's name is shown, not taken for a shortcut.
  btnUsePSP->setText(text.arg(QString(elided).replace(QLatin1Char('&'), QStringLiteral("&&"))));
  btnUsePSP->setToolTip(elided == shown ? QString() : shown);
}

void TFoldersPage::FitStickColumns() {
  const bool titled = std::any_of(FStickVideos.begin(), FStickVideos.end(),
                                  [](const TStickVideo &AVideo) { return !AVideo.Title.empty(); });
  QHeaderView *header = lvStick->horizontalHeader();
  header->setSectionResizeMode(1, titled ? QHeaderView::Stretch : QHeaderView::Interactive);
  header->setSectionResizeMode(4, titled ? QHeaderView::Interactive : QHeaderView::Stretch);
  if (!titled) // an empty column keeps just its caption's width
    lvStick->setColumnWidth(1, ColumnWidth(lvStick->fontMetrics(), {StickColumns[1].Caption, 0,
                                                                    StickColumns[1].Alignment}));
  else
    lvStick->setColumnWidth(4, ColumnWidth(lvStick->fontMetrics(), StickColumns[4]));
}

bool TFoldersPage::eventFilter(QObject *AWatched, QEvent *AEvent) {
  if (AWatched == edDeviceFolder && AEvent->type() == QEvent::Resize)
    ShowOfferedFolder();
  return QWidget::eventFilter(AWatched, AEvent);
}

void TFoldersPage::UseDeviceFolder(const std::string &AFolder) {
  SetDeviceFolder(AFolder);
  edDeviceFolder->setText(Text(AFolder));
  // Offered again by the scan below if it still should be.
  FOfferedFolder.clear();
  // The button pressed goes away: the focus stays in the row it belonged to rather than
  // jumping on to the output folder's field.
  if (btnUsePSP->hasFocus())
    btnDeviceFolder->setFocus(Qt::OtherFocusReason);
  btnUsePSP->setVisible(false);
  // The free space shown belonged to the previous device: the scan shows the new one's.
  LookForPSP();
}

void TFoldersPage::LookForPSP() {
  {
    const std::lock_guard<std::mutex> lock(FScanLock);
    FScanDeviceFolder = DeviceFolder;
    FScanDeviceDrive = DeviceDrive;
    FScanListVolumes = FListVolumes;
  }
  if (FMountWatcher)
    FMountWatcher->Rescan();
}

void TFoldersPage::ScanStick() {
  TStickScan scan;
  std::string drive;
  std::function<std::vector<std::string>()> listVolumes;
  {
    const std::lock_guard<std::mutex> lock(FScanLock);
    scan.DeviceFolder = FScanDeviceFolder;
    drive = FScanDeviceDrive;
    listVolumes = FScanListVolumes;
  }
  scan.Gone = DeviceFolderGone(scan.DeviceFolder, drive);
  if (listVolumes)
    scan.Offered =
        SuggestDeviceFolder(scan.Gone ? std::string() : scan.DeviceFolder, listVolumes());
  if (!scan.Gone) {
    scan.Volume = VolumeOf(scan.DeviceFolder);
    scan.Videos = ListStickVideos(scan.DeviceFolder);
    scan.Free = DeviceFreeSpace(scan.DeviceFolder);
  }
  QMetaObject::invokeMethod(
      this, [this, scan] { ShowStickScan(scan); }, Qt::QueuedConnection);
}

void TFoldersPage::ShowStickScan(const TStickScan &AScan) {
  if (AScan.DeviceFolder != DeviceFolder)
    return; // the folder changed meanwhile: its own scan follows
  FOfferedFolder = AScan.Offered;
  ShowOfferedFolder();
  btnUsePSP->setVisible(!FOfferedFolder.empty());

  FDeviceGone = !DeviceFolder.empty() && AScan.Gone;
  FDeviceFree = AScan.Gone ? -1 : AScan.Free;
  // A folder chosen before its stick was plugged in lies on the stick now.
  if (!AScan.Gone && AScan.Volume != DeviceDrive)
    DeviceDrive = AScan.Volume;
  QPalette palette = edDeviceFolder->style()->standardPalette();
  if (FDeviceGone)
    palette.setColor(QPalette::Text, Qt::red);
  edDeviceFolder->setPalette(palette);
  edDeviceFolder->setToolTip(FDeviceGone ? tr("Missing: the memory stick is not plugged in")
                                         : QString());

  {
    const QSignalBlocker blocker(lvStick->selectionModel());
    lvStick->setRowCount(0);
  }
  FStickVideos = AScan.Videos;
  lvStick->setRowCount(static_cast<int>(FStickVideos.size()));
  int64_t total = 0;
  for (int row = 0; row < lvStick->rowCount(); ++row) {
    const TStickVideo &video = FStickVideos[static_cast<size_t>(row)];
    total += video.Size;
    const std::string cells[] = {
        video.Name, video.Title,
        video.DurationUs < 0 ? std::string() : FormatDuration(video.DurationUs / 1000),
        FormatSizeKB(video.Size),
        (video.Problem.empty() ? tr("yes") : tr("no: %1").arg(Text(video.Problem))).toStdString()};
    for (int c = 0; c < lvStick->columnCount(); ++c) {
      auto *item = new QTableWidgetItem(OneLine(Text(cells[c])));
      item->setTextAlignment(StickColumns[c].Alignment);
      if (c == 4 && !video.Problem.empty()) {
        item->setForeground(Qt::darkRed);
        item->setToolTip(item->text()); // the reason in full where the column cuts it
      }
      lvStick->setItem(row, c, item);
    }
  }
  FitStickColumns();
  // The line names the list below it.
  const QString caption = tr("Memory stick: ");
  if (DeviceFolder.empty())
    lbStickState->setText(caption + tr("No device folder chosen."));
  else if (FDeviceGone)
    lbStickState->setText(caption + tr("The device folder %1 is missing: plug in the PSP (USB "
                                       "mode) or choose another folder.")
                                        .arg(OneLine(Text(DeviceFolder))));
  else
    lbStickState->setText(
        caption + tr("%n video(s)", nullptr, lvStick->rowCount()) +
        tr(", %1 on the stick; %2 free.").arg(Text(FormatGB(total)), Text(FormatGB(AScan.Free))));
  btnRemoveFromStick->setEnabled(!FDeviceGone && lvStick->rowCount() > 0);
  btnEject->setEnabled(!FDeviceGone && !DeviceFolder.empty() && !FEjectThread.joinable());
  // The selection's line and the stick's line tell the same reading of the free room.
  if (lvFiles->selectionModel()->hasSelection())
    ShowSelectionStatus();
  emit StickScanned();
}

void TFoldersPage::btnRemoveFromStickClick() {
  // What is asked about, by name and size: a scan arriving while the question is open replaces
  // the list, and "Yes" must still remove these videos or nothing.
  struct TChosen {
    std::string Name;
    int64_t Size;
  };
  std::vector<TChosen> chosen;
  QString names;
  for (int row = 0; row < lvStick->rowCount(); ++row)
    if (lvStick->selectionModel()->isRowSelected(row, QModelIndex())) {
      const TStickVideo &video = FStickVideos[static_cast<size_t>(row)];
      chosen.push_back({video.Name, video.Size});
      names += "\n" + OneLine(Text(video.Name)) +
               (video.Title.empty() ? QString() : " (" + OneLine(Text(video.Title)) + ")");
    }
  if (chosen.empty()) {
    ShowMessage(window(), tr("Please select videos on the memory stick."));
    return;
  }
  const std::string device = DeviceFolder;
  const QString question = tr("Remove %n video(s) from the memory stick, with their thumbnails?",
                              nullptr, static_cast<int>(chosen.size())) +
                           "\n" + names;
  const bool yes = FConfirm ? FConfirm(question)
                            : QMessageBox::question(window(), QString::fromUtf8(ApplicationTitle),
                                                    question) == QMessageBox::Yes;
  if (!yes)
    return;
  QString errors;
  for (const TChosen &video : chosen) {
    std::string error;
    if (!RemoveStickVideoAt(device, video.Name, video.Size, error))
      errors += "\n" + OneLine(Text(error));
  }
  if (!errors.isEmpty())
    ShowMessage(window(), tr("Could not remove from the memory stick:") + errors);
  LookForPSP();
}

void TFoldersPage::btnEjectClick() {
  if (FEjectThread.joinable() || DeviceDrive.empty() || CopyRunning())
    return;
  btnEject->setEnabled(false);
  lbStickState->setText(tr("Ejecting the stick\u2026"));
  // udisks2 answers when the stick's cache is written out: seconds on a slow stick.
  FEjectThread = std::thread([this, point = DeviceDrive] {
    TQtUDisks2Bus udisks;
    const TEjectResult result = EjectStick(point, udisks);
    QMetaObject::invokeMethod(
        this,
        [this, result] {
          FEjectThread.join();
          ShowMessage(window(), QString::fromStdString(result.Message),
                      result.Ejected ? QMessageBox::Information : QMessageBox::Warning);
          LookForPSP();
        },
        Qt::QueuedConnection);
  });
}

void TFoldersPage::showEvent(QShowEvent *AEvent) {
  QWidget::showEvent(AEvent);
  LookForPSP();
}

void TFoldersPage::hideEvent(QHideEvent *AEvent) { QWidget::hideEvent(AEvent); }

void TFoldersPage::RefreshFiles() {
  {
    // The rows go without a deselection each: the selected size starts again from 0 below.
    const QSignalBlocker blocker(lvFiles->selectionModel());
    lvFiles->setRowCount(0);
  }
  FSelectedSize = 0;
  FFiles = ListConvertedCandidates(AVCFolder, MPEG4Folder);
  FScan = FDurationScan->Start(FFiles);
  FFillRow = 0;
  lvFiles->setRowCount(static_cast<int>(FFiles.size()));
  for (int row = 0; row < lvFiles->rowCount(); ++row) {
    const TConvertedFile &file = FFiles[static_cast<size_t>(row)];
    const std::string cells[] = {file.Name, file.Format,
                                 file.DurationRead ? FormatDuration(file.DurationUs / 1000)
                                                   : std::string(),
                                 FormatSizeKB(file.Size)};
    for (int c = 0; c < lvFiles->columnCount(); ++c) {
      auto *item = new QTableWidgetItem(OneLine(Text(cells[c])));
      item->setTextAlignment(FileColumns[c].Alignment);
      if (c == 0)
        item->setToolTip(Text(file.Path)); // a long name is cut in its column
      // A stopped or cut-off conversion's part looks like any other file: it says what it is.
      if (!file.Finished) {
        if (c == 0) {
          item->setText(item->text() + tr("  (Incomplete)"));
          item->setToolTip(Text(file.Path) + "\n" + IncompleteHint());
        }
        item->setForeground(lvFiles->palette().color(QPalette::PlaceholderText));
      }
      lvFiles->setItem(row, c, item);
    }
  }
  // The selection went with the old rows: a status that named one now says what is selected.
  if (!StatusBarCopyFiles->currentMessage().isEmpty())
    ShowSelectionStatus();
}

void TFoldersPage::DurationRead(const TDurationScan::TResult &AResult) {
  if (AResult.Scan != FScan)
    return; // of a list refreshed since
  // Rows only leave the list, never move down: the file is at FFillRow or after it.
  size_t row = std::min(FFillRow, FFiles.size());
  while (row < FFiles.size() && FFiles[row].Path != AResult.Path)
    ++row;
  if (row == FFiles.size())
    return;
  FFillRow = row + 1;
  if (!AResult.OK) {
    RemoveFileRow(static_cast<int>(row));
    FFillRow = row;
    return;
  }
  TConvertedFile &file = FFiles[row];
  file.DurationUs = AResult.DurationUs;
  file.DurationRead = true;
  lvFiles->item(static_cast<int>(row), 2)->setText(Text(FormatDuration(file.DurationUs / 1000)));
}

// A file that is not readable as media is not a converted video: it leaves the list, and the
// selection's size without it.
void TFoldersPage::RemoveFileRow(int ARow) {
  const bool selected = lvFiles->selectionModel()->isRowSelected(ARow, QModelIndex());
  {
    const QSignalBlocker blocker(lvFiles->selectionModel());
    lvFiles->removeRow(ARow);
  }
  if (selected)
    FSelectedSize -= FFiles[static_cast<size_t>(ARow)].Size;
  FFiles.erase(FFiles.begin() + ARow);
  if (selected)
    ShowSelectionStatus();
}

void TFoldersPage::lvFilesSelectionChanged(const std::vector<int> &ASelected,
                                           const std::vector<int> &ADeselected) {
  for (int row : ASelected)
    FSelectedSize += FFiles.at(static_cast<size_t>(row)).Size;
  for (int row : ADeselected)
    FSelectedSize -= FFiles.at(static_cast<size_t>(row)).Size;
  ShowSelectionStatus();
}

void TFoldersPage::ShowSelectionStatus() {
  const int64_t free = FDeviceFree; // the last scan's, as the stick's line shows it
  StatusBarCopyFiles->showMessage(Text(SelectionStatusText(FSelectedSize, free)));
  progressbarSize->setValue(SelectionPercent(FSelectedSize, free));
  // Red when the selection does not fit; the platform's colour otherwise.
  QPalette palette = progressbarSize->style()->standardPalette();
  if (free >= 0 && FSelectedSize > free)
    palette.setColor(QPalette::Highlight, Qt::red);
  progressbarSize->setPalette(palette);
}

bool TFoldersPage::CopyRunning() const { return FCopyJob->Running() || FSendThread.joinable(); }

// A stick pulled out may leave its empty mount folder: a copy would fill the computer's disk.
bool TFoldersPage::StickStillThere() {
  if (DeviceFolder.empty() || !DeviceFolderGone(DeviceFolder, DeviceDrive))
    return true;
  ShowMessage(window(), tr("The memory stick at %1 is not there any more: plug in the PSP "
                           "(USB mode) again, or choose another device folder.")
                            .arg(OneLine(Text(DeviceFolder))));
  LookForPSP();
  return false;
}

std::vector<TCopySource> TFoldersPage::SelectedForCopy(bool &AAsked) {
  // Copies: a file found not to be a video while the question is open leaves FFiles.
  std::vector<TConvertedFile> rows;
  QStringList incomplete;
  for (int row = 0; row < lvFiles->rowCount(); ++row)
    if (lvFiles->selectionModel()->isRowSelected(row, QModelIndex())) {
      rows.push_back(FFiles[static_cast<size_t>(row)]);
      if (!rows.back().Finished)
        incomplete << OneLine(Text(rows.back().Name));
    }
  // A part of a video would play on the PSP as if it were the whole: only when asked for.
  bool takeIncomplete = incomplete.isEmpty();
  AAsked = !incomplete.isEmpty();
  if (AAsked) {
    const QString question =
        tr("%n of the selected files did not finish converting (stopped or cut off before "
           "the end):",
           nullptr, static_cast<int>(incomplete.size())) +
        "\n" + incomplete.join('\n') + "\n\n" +
        tr("Copy them to the PSP all the same? No leaves them out.", nullptr,
           static_cast<int>(incomplete.size()));
    takeIncomplete = FConfirm ? FConfirm(question)
                              : QMessageBox::question(window(), QString::fromUtf8(ApplicationTitle),
                                                      question) == QMessageBox::Yes;
  }
  std::vector<TCopySource> selected;
  for (const TConvertedFile &file : rows)
    if (file.Finished || takeIncomplete)
      selected.push_back({file.Path, file.Format});
  return selected;
}

void TFoldersPage::CopyToDevice() {
  if (CopyRunning() || !StickStillThere())
    return;
  bool asked = false;
  // Taken before the question: the rows are not read again after it.
  std::vector<TCopySource> selected = SelectedForCopy(asked);
  if (asked && selected.empty())
    return; // only unfinished ones were chosen, and left out
  // The question may have been open while the stick was pulled out; the job checks again.
  if (asked && (CopyRunning() || !StickStillThere()))
    return;

  OpenCopyDialog([this] { FCopyJob->Cancel(); });
  FCopyJob->Start(DeviceFolder, std::move(selected), DeviceDrive);
}

void TFoldersPage::OpenCopyDialog(const std::function<void()> &ACancel) {
  FCopyDialog = new QProgressDialog(tr("Copying to the PSP\u2026"), tr("Cancel"), 0,
                                    CopyDialogSteps, window());
  FCopyDialog->setWindowTitle(QString::fromUtf8(ApplicationTitle));
  FCopyDialog->setWindowModality(Qt::WindowModal);
  FCopyDialog->setMinimumDuration(CopyDialogDelay);
  FCopyDialog->setAutoClose(false);
  FCopyDialog->setAutoReset(false);
  FCopyDialog->setMinimumWidth(420);
  FCopyDialog->setValue(0);
  connect(FCopyDialog, &QProgressDialog::canceled, this, [this, ACancel] {
    FCopyDialog->setLabelText(tr("Cancelling\u2026"));
    ACancel();
  });
  btnCopy->setEnabled(false);
  btnSendToPSP->setEnabled(false);
}

void TFoldersPage::CopyProgress(const TCopyProgress &AProgress) {
  if (!FCopyDialog || FCopyDialog->wasCanceled())
    return;
  FCopyDialog->setLabelText(
      tr("Copying %1 to %2 (file %3 of %4)\n%5 of %6")
          .arg(OneLine(QFileInfo(Text(AProgress.Source)).fileName()),
               QFileInfo(Text(AProgress.Target)).fileName())
          .arg(AProgress.FileIndex + 1)
          .arg(AProgress.FileCount)
          .arg(Text(FormatSizeKB(AProgress.BytesDone)), Text(FormatSizeKB(AProgress.BytesTotal))));
  if (AProgress.BytesTotal > 0)
    FCopyDialog->setValue(
        static_cast<int>(CopyDialogSteps * AProgress.BytesDone / AProgress.BytesTotal));
}

void TFoldersPage::CloseCopyDialog() {
  if (FCopyDialog) {
    FCopyDialog->hide();
    FCopyDialog->deleteLater();
    FCopyDialog = nullptr;
  }
  btnCopy->setEnabled(true);
  btnSendToPSP->setEnabled(true);
}

void TFoldersPage::CopyDone(const TCopyResult &AResult) {
  CloseCopyDialog();
  for (const std::string &message : AResult.Messages) {
    QString text = Text(Translate(message.c_str())); // the core's fixed messages are catalogued
    // Why it failed, and what is on the stick whole from before the failure.
    if (message == MsgCopyFailed && AResult.Outcome == TCopyOutcome::coFailed)
      text += "\n\n" + OneLine(Text(CopyFailureDetails(DeviceFolder, AResult)));
    // Where each video went, so that it can be found on the PSP.
    if (message == MsgCopied) {
      QStringList lines;
      for (const std::string &line : CopiedLines(DeviceFolder, AResult))
        lines << OneLine(Text(line));
      if (!lines.isEmpty())
        text += "\n\n" + lines.join('\n');
    }
    PostMessage(window(), text,
                message == MsgCopied ? QMessageBox::Information : QMessageBox::Warning);
  }
  LookForPSP(); // the stick's list and its free room have changed: the scan shows both
}

namespace {

// The sends' work on their own thread: the outputs checked as PSP videos, sent, and the stick
// ejected when asked.
TFoldersPage::TSendResult SendAndEject(const std::string &ADevice, const std::string &ADrive,
                                       const std::vector<TFoldersPage::TSendItem> &AItems,
                                       bool AEject, const TCopyProgressFunction &AProgress) {
  std::vector<TErrandVideo> videos;
  for (const TFoldersPage::TSendItem &item : AItems) {
    TErrandVideo video;
    if (item.Why.empty())
      video = ConvertedErrandVideo(item.Name, item.Output);
    video.Name = item.Name;
    if (!item.Why.empty())
      video.Why = item.Why;
    videos.push_back(video);
  }
  TFoldersPage::TSendResult result;
  result.Report = SendToStick(ADevice, videos, AProgress, ADrive);
  result.EjectAsked = AEject;
  if (AEject && !DeviceFolderGone(ADevice, ADrive)) {
    TQtUDisks2Bus udisks;
    const TEjectResult eject = EjectStick(ADrive.empty() ? ADevice : ADrive, udisks);
    result.Ejected = eject.Ejected;
    result.EjectMessage = eject.Message;
  }
  return result;
}

} // namespace

bool TFoldersPage::EjectWhenDone() const { return chkEjectWhenDone->isChecked(); }

bool TFoldersPage::StickReady() {
  if (!DeviceFolder.empty())
    return StickStillThere();
  ShowMessage(window(), tr("Choose the PSP memory stick first: the device folder is not set."));
  emit PageWanted();
  return false;
}

bool TFoldersPage::SendToStick(std::vector<TSendItem> AItems,
                               std::function<void(const TSendResult &)> ADone) {
  if (CopyRunning() || FEjectThread.joinable() || !StickReady())
    return false;
  FSendCancel = false;
  OpenCopyDialog([this] { FSendCancel = true; });
  FSendThread = std::thread([this, items = std::move(AItems), done = std::move(ADone),
                             device = DeviceFolder, drive = DeviceDrive, eject = EjectWhenDone()] {
    using Clock = std::chrono::steady_clock;
    Clock::time_point last{};
    size_t lastFile = static_cast<size_t>(-1);
    // As the copy job does: once per file, and at most every interval within one.
    auto progress = [&](const TCopyProgress &AProgress) {
      const Clock::time_point now = Clock::now();
      if (AProgress.FileIndex != lastFile ||
          now - last >= std::chrono::milliseconds(TDeviceCopyJob::ProgressInterval)) {
        lastFile = AProgress.FileIndex;
        last = now;
        QMetaObject::invokeMethod(
            this, [this, AProgress] { CopyProgress(AProgress); }, Qt::QueuedConnection);
      }
      return !FSendCancel;
    };
    const TSendResult result = SendAndEject(device, drive, items, eject, progress);
    QMetaObject::invokeMethod(
        this,
        [this, result, done] {
          FSendThread.join();
          CloseCopyDialog();
          LookForPSP(); // the stick's list and free room have changed
          if (done)
            done(result);
        },
        Qt::QueuedConnection);
  });
  return true;
}
