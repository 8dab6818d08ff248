// Output files being written whose index is not written yet: an MP4 cut off there does not play,
// so a program that has to end without waiting for its conversions removes them rather than
// leave them under their real names. Process-wide, as the files are.
#pragma once

#include <cstdint>

// Notes APath (device ADevice, inode AInode, as it was opened) as being written. Returns the
// note to hand to ForgetUnfinishedOutput, or -1 when the table is full or the name too long.
int NoteUnfinishedOutput(const char *APath, uint64_t ADevice, uint64_t AInode);

// The file of ANote has its index (or its writer's caller takes it over): no longer noted.
void ForgetUnfinishedOutput(int ANote);

// Removes every noted file that is still the one noted, calling AOnRemoved (when given) with
// each path removed; returns how many were removed. Uses only what a signal handler may (no
// locks, no allocation, stat and unlink), so that it can run in one just before the end.
int RemoveUnfinishedOutputs(void (*AOnRemoved)(const char *APath) = nullptr);
