// The panel's choices of what goes into the file: the sound track, the subtitles burned in,
// the part of the input (from the preview's position), shown in a word on the Output group's
// title line.
#include <QActionGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QStyle>
#include <QStyleOptionGroupBox>

#include "app/profiles.h"
#include "ui/convert_item.h"
#include "ui/messages.h"

namespace {

QString FromStd(const std::string &AText) { return QString::fromStdString(AText); }

// "00:01:30 – 00:21:05"; an open end is the input's end.
QString RangeText(const TContentChoice &AChoice, int64_t ADurationUs) {
  const int64_t start = std::max<int64_t>(AChoice.StartMs, 0);
  const int64_t end = AChoice.EndMs >= 0 ? AChoice.EndMs : ADurationUs / 1000;
  return FromStd(FormatClockTime(start)) + QStringLiteral(" \u2013 ") +
         (end >= 0 ? FromStd(FormatClockTime(end))
                   : QCoreApplication::translate("TfrmConvertItem", "end"));
}

} // namespace

void TfrmConvertItem::SetContentChoice(const TContentChoice &AChoice) {
  FContent = AChoice;
  FQueue.SetChoice(FJob.Id, FProfile, FContent);
  ShowContent();
}

void TfrmConvertItem::SetRangeStart() {
  if (FState != isWaiting || Duration() <= 0)
    return;
  TContentChoice choice = FContent;
  choice.StartMs = FPreviewTimeUs / 1000;
  // A start at or after the end moves the end out of the way.
  if (choice.EndMs >= 0 && choice.EndMs <= choice.StartMs)
    choice.EndMs = -1;
  SetContentChoice(choice);
}

void TfrmConvertItem::SetRangeEnd() {
  if (FState != isWaiting || Duration() <= 0)
    return;
  TContentChoice choice = FContent;
  choice.EndMs = FPreviewTimeUs / 1000;
  SetContentChoice(choice);
}

void TfrmConvertItem::AddContentActions(QMenu &AMenu) {
  const bool waiting = FState == isWaiting && FJob.Ready;

  QMenu *sound = AMenu.addMenu(tr("Sound"));
  auto *soundGroup = new QActionGroup(sound);
  for (size_t i = 0; i < FJob.Loaded.SoundTracks.size(); ++i) {
    QAction *action = sound->addAction(FromStd(FJob.Loaded.SoundTracks[i].Label));
    action->setCheckable(true);
    action->setActionGroup(soundGroup);
    const std::string number = std::to_string(i + 1);
    action->setChecked(FContent.AudioTrack == number || (FContent.AudioTrack.empty() && i == 0));
    connect(action, &QAction::triggered, this, [this, number] {
      TContentChoice choice = FContent;
      choice.AudioTrack = number == "1" ? std::string() : number;
      SetContentChoice(choice);
    });
  }
  sound->setEnabled(waiting && FJob.Loaded.SoundTracks.size() > 1);

  QMenu *subtitles = AMenu.addMenu(tr("Subtitles"));
  auto *subtitleGroup = new QActionGroup(subtitles);
  const std::string chosen = FJob.Loaded.Content.Subtitle.Label;
  auto addSubtitle = [&](const QString &AText, const std::string &AValue, bool AChecked) {
    QAction *action = subtitles->addAction(AText);
    action->setCheckable(true);
    action->setActionGroup(subtitleGroup);
    action->setChecked(AChecked);
    connect(action, &QAction::triggered, this, [this, AValue] {
      TContentChoice choice = FContent;
      choice.Subtitles = AValue;
      SetContentChoice(choice);
    });
  };
  addSubtitle(tr("None"), "none", FJob.Loaded.Content.Subtitle.Kind == TSubtitleKind::skNone);
  for (size_t i = 0; i < FJob.Loaded.Subtitles.size(); ++i) {
    const bool isChosen =
        FJob.Loaded.Content.Subtitle.Kind != TSubtitleKind::skNone &&
        (FJob.Loaded.Subtitles[i].StreamIndex >= 0
             ? FJob.Loaded.Content.Subtitle.StreamIndex == FJob.Loaded.Subtitles[i].StreamIndex
             : FJob.Loaded.Content.Subtitle.FileName == FJob.Loaded.Subtitles[i].FileName);
    addSubtitle(FromStd(FJob.Loaded.Subtitles[i].Label), std::to_string(i + 1), isChosen);
  }
  subtitles->addSeparator();
  QAction *other = subtitles->addAction(tr("Subtitle file..."));
  connect(other, &QAction::triggered, this, [this] {
    const QString file = QFileDialog::getOpenFileName(
        window(), tr("Subtitles to burn into the picture"),
        QFileInfo(FromStd(FJob.InputFile)).absolutePath(),
        tr("Subtitles (*.srt *.ass *.ssa *.vtt *.SRT *.ASS *.SSA *.VTT)"));
    if (file.isEmpty())
      return;
    TContentChoice choice = FContent;
    choice.Subtitles = file.toStdString();
    SetContentChoice(choice);
  });
  subtitles->setEnabled(waiting);

  AMenu.addSeparator();
  const bool timed = waiting && Duration() > 0 && !FJob.Loaded.Content.Still;
  const QString at = FromStd(FormatClockTime(FPreviewTimeUs / 1000));
  QAction *start = AMenu.addAction(tr("Set start (%1)").arg(at), this, [this] { SetRangeStart(); });
  start->setShortcut(QKeySequence(Qt::Key_BracketLeft));
  start->setEnabled(timed);
  QAction *end = AMenu.addAction(tr("Set end (%1)").arg(at), this, [this] { SetRangeEnd(); });
  end->setShortcut(QKeySequence(Qt::Key_BracketRight));
  end->setEnabled(timed && FPreviewTimeUs / 1000 > std::max<int64_t>(FContent.StartMs, 0));
  QAction *whole = AMenu.addAction(tr("Whole file"), this, [this] {
    TContentChoice choice = FContent;
    choice.StartMs = choice.EndMs = -1;
    SetContentChoice(choice);
  });
  whole->setEnabled(timed && (FContent.StartMs > 0 || FContent.EndMs >= 0));
}

// The content entries head the panel's context menu, made afresh from what the file offers
// each time it opens.
void TfrmConvertItem::RefreshContentActions() {
  if (FContentHolder) {
    for (QAction *action : FContentHolder->actions())
      mnuPanel->removeAction(action);
    delete FContentHolder;
  }
  FContentHolder = new QMenu(this);
  AddContentActions(*FContentHolder);
  FContentHolder->addSeparator();
  const QList<QAction *> existing = mnuPanel->actions();
  mnuPanel->insertActions(existing.isEmpty() ? nullptr : existing.first(),
                          FContentHolder->actions());
}

void TfrmConvertItem::ShowContent() {
  if (!lbContent)
    return;
  QStringList parts;
  const TResolvedContent &content = FJob.Loaded.Content;
  if (content.Still)
    parts << tr("%1 s still").arg(content.StillSeconds);
  else if (FContent.StartMs > 0 || FContent.EndMs >= 0)
    parts << RangeText(FContent, Duration());
  if (FJob.Loaded.SoundTracks.size() > 1) {
    int track = 0;
    for (size_t i = 0; i < FJob.Loaded.SoundTracks.size(); ++i)
      if (FJob.Loaded.SoundTracks[i].StreamIndex == content.AudioStream)
        track = static_cast<int>(i);
    parts << tr("Sound %1").arg(FromStd(FJob.Loaded.SoundTracks[track].Label));
  }
  // The line names a subtitle stream by its language alone (the codec says little to a
  // person); the tooltip says all.
  QStringList full = parts;
  if (content.Subtitle.Kind != TSubtitleKind::skNone) {
    QString name = FromStd(content.Subtitle.Label);
    full << tr("Subtitles %1").arg(name);
    for (const TTrackEntry &track : FJob.Loaded.Subtitles)
      if (content.Subtitle.Kind == TSubtitleKind::skStream &&
          track.StreamIndex == content.Subtitle.StreamIndex && !track.Language.empty())
        name =
            track.Forced ? tr("%1 (forced)").arg(FromStd(track.Language)) : FromStd(track.Language);
    parts << tr("Subtitles %1").arg(name);
  }
  const QString text = parts.join(QStringLiteral(", "));
  lbContent->setToolTip(text.isEmpty() ? QString()
                                       : full.join(QStringLiteral(", ")) +
                                             tr("\n(right-click the panel to choose)"));
  lbContent->setText(
      lbContent->fontMetrics().elidedText(text, Qt::ElideRight, std::max(lbContent->width(), 40)));
}

// After the group's title and a gap of two letters, to the group's right margin.
void TfrmConvertItem::PlaceContentLine() {
  QStyleOptionGroupBox option;
  option.initFrom(gbOutput);
  option.text = gbOutput->title();
  option.textAlignment = gbOutput->alignment();
  option.lineWidth = 1;
  option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  const QRect title = gbOutput->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                        QStyle::SC_GroupBoxLabel, gbOutput);
  const int left = title.right() + 1 + 2 * gbOutput->fontMetrics().averageCharWidth();
  const int right = gbOutput->width() - gbOutput->layout()->contentsMargins().right();
  lbContent->setGeometry(left, title.top(), std::max(0, right - left), title.height());
}
