// What goes into a panel's file besides the profile (the sound track, the subtitles burned in,
// the part of the input): the menu entries that choose it and the line that tells it.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "app/conversion_queue.h"

class QMenu;
class QWidget;

struct TContentFacts {
  const TConversionJob &Job;    // what its load found
  const TContentChoice &Choice; // what the person chose last
  bool Waiting = false;         // loaded and not converting: the choice may change
  int64_t PictureUs = 0;        // the preview's picture: where Set start and Set end mark
};
using TChooseContent = std::function<void(const TContentChoice &AChoice)>;

// Sound, Subtitles, Set start, Set end, Whole file, added to AMenu; AParent: the subtitle file
// dialog's.
void AddContentActions(QMenu &AMenu, const TContentFacts &AFacts, const TChooseContent &AChoose,
                       QWidget *AParent);
// The content in a few words ("00:01:30 – 00:21:05, Sound fre, Subtitles eng"); AFull gets it
// all, for the tooltip.
QString ContentLine(const TContentFacts &AFacts, QString &AFull);
// The choice with the part's start (AStart) or end at the preview's picture; a start at or
// after the end moves the end out of the way.
TContentChoice MarkedAt(const TContentChoice &AChoice, int64_t APictureUs, bool AStart);
