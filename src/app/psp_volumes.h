// Finding the PSP's memory stick among the mounted volumes: a person plugs the PSP in and does
// not know where the desktop mounted it.
#pragma once

#include <string>
#include <vector>

// Mount points of a mounts table in the format of /proc/self/mounts, in its order. Virtual
// file systems are left out, and so are network ones: looking into a mount whose server is
// gone can block for minutes.
std::vector<std::string> ParseMountPoints(const std::string &AMountsTable);
// The mount points of the volumes mounted now (empty when the table cannot be read).
std::vector<std::string> MountedVolumes();

// The first of AVolumes that holds a folder named "PSP" at its root, in any letter case, as a
// folder ending with "/"; empty when none does.
std::string FindPSPVolume(const std::vector<std::string> &AVolumes);

// The memory stick to offer as the device folder: only while ADeviceFolder is empty or does not
// exist, so a working choice is never questioned. Empty when there is nothing to offer.
std::string SuggestDeviceFolder(const std::string &ADeviceFolder,
                                const std::vector<std::string> &AVolumes);

// The memory stick's top folder when AFolder lies inside its "PSP", "MP_ROOT" or "VIDEO" folder
// (any letter case) — where a person looking for the videos' place tends to point — as a folder
// ending with "/"; empty otherwise. The stick's top folder is the one holding "PSP"; the videos
// are written under its MP_ROOT, which the PSP reads nowhere else.
std::string StickRootAbove(const std::string &AFolder);
