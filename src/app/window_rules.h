// Rules the application window applies to what it shows, kept here without Qt so that they
// are tested on their own: percentages, the conversion list's scroll offset, the batch's time
// left and the text of an unexpected error.
#pragma once

#include <cstdint>
#include <string>

// A panel's own percentage of ACurrentMs out of ATotalMs, truncated; -1 when the total is
// unknown (0 or less), so the bar stays where it is.
int PanelPercent(int64_t ACurrentMs, int64_t ATotalMs);

// Whether a conversion that finished having reached AReachedMs of the ATotalMs its input states
// ended clearly short of it: the input was cut or damaged. Streams may end a little apart and a
// stated duration can be an estimate, so a small shortfall does not count.
bool EndedShort(int64_t AReachedMs, int64_t ATotalMs);

// The whole list's percentage when panel AIndex of ACount reports ACurrentMs of ATotalMs: the
// panels before it count as done, those after it as not started. -1 when the total is unknown.
int OverallPercent(int AIndex, int ACount, int64_t ACurrentMs, int64_t ATotalMs);

// How far the list's panels (AItemHeight high, AGap apart) are scrolled up, in pixels: APosition
// thousandths (0..1000) of the height that does not fit, never past the last panel's bottom
// and 0 when everything fits. The gaps count, so the last panel is never cut off.
int ListScrollOffset(int ACount, int AItemHeight, int AGap, int AClientHeight, int APosition);

// Time left for a batch that has converted ADoneMs of ATotalMs media time in AElapsedMs of
// (unpaused) wall time; -1 while there is too little to go on (under 2 s, unless half is done).
// The window's status line and korvelo-convert's overall bar both tell it.
int64_t EstimateTimeLeftMs(int64_t ADoneMs, int64_t ATotalMs, int64_t AElapsedMs);
// "about 45 s left", "about 3 min 05 s left", "about 1 h 12 min left".
std::string FormatTimeLeft(int64_t AMs);

// An error message as the window shows it: a full stop appended when the last character's code
// is above that of ".".
std::string WithFullStop(const std::string &AMessage);
