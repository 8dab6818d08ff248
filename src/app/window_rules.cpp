#include "app/window_rules.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "app/i18n.h"

int PanelPercent(int64_t ACurrentMs, int64_t ATotalMs) {
  if (ATotalMs <= 0)
    return -1;
  return static_cast<int>(std::trunc(static_cast<double>(ACurrentMs) / ATotalMs * 100.0));
}

bool EndedShort(int64_t AReachedMs, int64_t ATotalMs) {
  return ATotalMs > 0 && AReachedMs >= 0 && AReachedMs * 10 < ATotalMs * 9 &&
         ATotalMs - AReachedMs >= 1000;
}

int OverallPercent(int AIndex, int ACount, int64_t ACurrentMs, int64_t ATotalMs) {
  const int part = PanelPercent(ACurrentMs, ATotalMs);
  if (ACount <= 0 || part < 0)
    return -1;
  return AIndex * 100 / ACount + part / ACount;
}

int ListScrollOffset(int ACount, int AItemHeight, int AGap, int AClientHeight, int APosition) {
  if (ACount <= 0)
    return 0;
  const int total = ACount * (AItemHeight + AGap) - AGap;
  if (total <= AClientHeight)
    return 0;
  int offset =
      static_cast<int>(std::trunc(static_cast<double>(total - AClientHeight) * APosition / 1000.0));
  if (AClientHeight >= total - offset)
    offset = total - AClientHeight;
  return offset;
}

int64_t EstimateTimeLeftMs(int64_t ADoneMs, int64_t ATotalMs, int64_t AElapsedMs) {
  // The first seconds of a run are mostly opening files and filling encoders: no estimate yet,
  // unless half of the work is done already (a short batch).
  if (ADoneMs <= 0 || ATotalMs <= 0 || (AElapsedMs < 2000 && 2 * ADoneMs < ATotalMs))
    return -1;
  const int64_t left = std::max<int64_t>(ATotalMs - ADoneMs, 0);
  return static_cast<int64_t>(static_cast<double>(left) * AElapsedMs / ADoneMs);
}

std::string FormatTimeLeft(int64_t AMs) {
  const int s = static_cast<int>(std::min<int64_t>((AMs + 999) / 1000, INT32_MAX));
  if (s < 60)
    return FormatText(_("about %d s left"), s);
  if (s < 3600)
    return FormatText(_("about %d min %02d s left"), s / 60, s % 60);
  return FormatText(_("about %d h %02d min left"), s / 3600, s % 3600 / 60);
}

std::string WithFullStop(const std::string &AMessage) {
  if (!AMessage.empty() && static_cast<unsigned char>(AMessage.back()) > '.')
    return AMessage + ".";
  return AMessage;
}
