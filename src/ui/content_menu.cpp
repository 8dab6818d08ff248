#include "ui/content_menu.h"

#include <QActionGroup>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <algorithm>

#include "app/format_line.h"
#include "ui/convert_item.h"

namespace {

QString FromStd(const std::string &AText) { return QString::fromStdString(AText); }

// "00:01:30 – 00:21:05"; an open end is the input's end.
QString RangeText(const TContentChoice &AChoice, int64_t ADurationUs) {
  const int64_t start = std::max<int64_t>(AChoice.StartMs, 0);
  const int64_t end = AChoice.EndMs >= 0 ? AChoice.EndMs : ADurationUs / 1000;
  return FromStd(FormatClockTime(start)) + QStringLiteral(" \u2013 ") +
         (end >= 0 ? FromStd(FormatClockTime(end)) : TfrmConvertItem::tr("end"));
}

void AddSoundMenu(QMenu &AMenu, const TContentFacts &AFacts, const TChooseContent &AChoose) {
  const std::vector<TTrackEntry> &tracks = AFacts.Job.Loaded.SoundTracks;
  QMenu *sound = AMenu.addMenu(TfrmConvertItem::tr("Sound"));
  auto *group = new QActionGroup(sound);
  for (size_t i = 0; i < tracks.size(); ++i) {
    QAction *action = sound->addAction(FromStd(tracks[i].Label));
    action->setCheckable(true);
    action->setActionGroup(group);
    const std::string number = std::to_string(i + 1);
    const std::string &chosen = AFacts.Choice.AudioTrack;
    action->setChecked(chosen == number || (chosen.empty() && i == 0));
    QObject::connect(action, &QAction::triggered, sound,
                     [choice = AFacts.Choice, number, AChoose]() mutable {
                       choice.AudioTrack = number == "1" ? std::string() : number;
                       AChoose(choice);
                     });
  }
  sound->setEnabled(AFacts.Waiting && tracks.size() > 1);
}

void AddSubtitleMenu(QMenu &AMenu, const TContentFacts &AFacts, const TChooseContent &AChoose,
                     QWidget *AParent) {
  const TLoadedConversion &loaded = AFacts.Job.Loaded;
  const TSubtitleSource &shown = loaded.Content.Subtitle;
  QMenu *subtitles = AMenu.addMenu(TfrmConvertItem::tr("Subtitles"));
  auto *group = new QActionGroup(subtitles);
  auto add = [&](const QString &AText, const std::string &AValue, bool AChecked) {
    QAction *action = subtitles->addAction(AText);
    action->setCheckable(true);
    action->setActionGroup(group);
    action->setChecked(AChecked);
    QObject::connect(action, &QAction::triggered, subtitles,
                     [choice = AFacts.Choice, AValue, AChoose]() mutable {
                       choice.Subtitles = AValue;
                       AChoose(choice);
                     });
  };
  add(TfrmConvertItem::tr("None"), "none", shown.Kind == TSubtitleKind::skNone);
  for (size_t i = 0; i < loaded.Subtitles.size(); ++i) {
    const TTrackEntry &track = loaded.Subtitles[i];
    const bool isChosen = shown.Kind != TSubtitleKind::skNone &&
                          (track.StreamIndex >= 0 ? shown.StreamIndex == track.StreamIndex
                                                  : shown.FileName == track.FileName);
    add(FromStd(track.Label), std::to_string(i + 1), isChosen);
  }
  subtitles->addSeparator();
  QAction *other = subtitles->addAction(TfrmConvertItem::tr("Subtitle file..."));
  const QString folder = QFileInfo(FromStd(AFacts.Job.InputFile)).absolutePath();
  QObject::connect(
      other, &QAction::triggered, subtitles,
      [choice = AFacts.Choice, folder, AChoose, AParent]() mutable {
        const QString file = QFileDialog::getOpenFileName(
            AParent, TfrmConvertItem::tr("Subtitles to burn into the picture"), folder,
            TfrmConvertItem::tr("Subtitles (*.srt *.ass *.ssa *.vtt *.SRT *.ASS *.SSA *.VTT)"));
        if (file.isEmpty())
          return;
        choice.Subtitles = file.toStdString();
        AChoose(choice);
      });
  subtitles->setEnabled(AFacts.Waiting);
}

} // namespace

TContentChoice MarkedAt(const TContentChoice &AChoice, int64_t APictureUs, bool AStart) {
  TContentChoice choice = AChoice;
  (AStart ? choice.StartMs : choice.EndMs) = APictureUs / 1000;
  if (AStart && choice.EndMs >= 0 && choice.EndMs <= choice.StartMs)
    choice.EndMs = -1;
  return choice;
}

void AddContentActions(QMenu &AMenu, const TContentFacts &AFacts, const TChooseContent &AChoose,
                       QWidget *AParent) {
  AddSoundMenu(AMenu, AFacts, AChoose);
  AddSubtitleMenu(AMenu, AFacts, AChoose, AParent);
  AMenu.addSeparator();
  const TContentChoice &choice = AFacts.Choice;
  const bool timed =
      AFacts.Waiting && AFacts.Job.Loaded.DurationUs > 0 && !AFacts.Job.Loaded.Content.Still;
  const QString at = FromStd(FormatClockTime(AFacts.PictureUs / 1000));
  const int64_t pictureUs = AFacts.PictureUs;
  QAction *start = AMenu.addAction(TfrmConvertItem::tr("Set start (%1)").arg(at), &AMenu,
                                   [=] { AChoose(MarkedAt(choice, pictureUs, true)); });
  start->setShortcut(QKeySequence(Qt::Key_BracketLeft));
  start->setEnabled(timed);
  QAction *end = AMenu.addAction(TfrmConvertItem::tr("Set end (%1)").arg(at), &AMenu,
                                 [=] { AChoose(MarkedAt(choice, pictureUs, false)); });
  end->setShortcut(QKeySequence(Qt::Key_BracketRight));
  end->setEnabled(timed && pictureUs / 1000 > std::max<int64_t>(choice.StartMs, 0));
  QAction *whole = AMenu.addAction(TfrmConvertItem::tr("Whole file"), &AMenu, [=] {
    TContentChoice all = choice;
    all.StartMs = all.EndMs = -1;
    AChoose(all);
  });
  whole->setEnabled(timed && (choice.StartMs > 0 || choice.EndMs >= 0));
}

QString ContentLine(const TContentFacts &AFacts, QString &AFull) {
  const TLoadedConversion &loaded = AFacts.Job.Loaded;
  const TResolvedContent &content = loaded.Content;
  QStringList parts;
  if (content.Still)
    parts << TfrmConvertItem::tr("%1 s still").arg(content.StillSeconds);
  else if (AFacts.Choice.StartMs > 0 || AFacts.Choice.EndMs >= 0)
    parts << RangeText(AFacts.Choice, loaded.DurationUs);
  if (loaded.SoundTracks.size() > 1) {
    size_t track = 0;
    for (size_t i = 0; i < loaded.SoundTracks.size(); ++i)
      if (loaded.SoundTracks[i].StreamIndex == content.AudioStream)
        track = i;
    parts << TfrmConvertItem::tr("Sound %1").arg(FromStd(loaded.SoundTracks[track].Label));
  }
  // The line names a subtitle stream by its language alone (the codec says little to a
  // person); the tooltip says all.
  QStringList full = parts;
  if (content.Subtitle.Kind != TSubtitleKind::skNone) {
    QString name = FromStd(content.Subtitle.Label);
    full << TfrmConvertItem::tr("Subtitles %1").arg(name);
    for (const TTrackEntry &track : loaded.Subtitles)
      if (content.Subtitle.Kind == TSubtitleKind::skStream &&
          track.StreamIndex == content.Subtitle.StreamIndex && !track.Language.empty())
        name = track.Forced ? TfrmConvertItem::tr("%1 (forced)").arg(FromStd(track.Language))
                            : FromStd(track.Language);
    parts << TfrmConvertItem::tr("Subtitles %1").arg(name);
  }
  const QString text = parts.join(QStringLiteral(", "));
  AFull = text.isEmpty() ? QString()
                         : full.join(QStringLiteral(", ")) +
                               TfrmConvertItem::tr("\n(right-click the panel to choose)");
  return text;
}
