// Why a file or folder cannot be used, in words a person can act on: the messages that say
// only "Error while opening file" or "can not be written" get the reason after them.
#pragma once

#include <string>

// Why AFile cannot be read ("a symbolic link that leads back to itself", "permission denied");
// empty when it opens for reading.
// AMissingIsFine: a file that is not there (a first start's settings) is no fault.
std::string WhyNotReadable(const std::string &AFile, bool AMissingIsFine = false);

// Why no converted files can be written into AFolder's AVC and MPEG4 folders ("… is a file, not
// a folder", "on a read-only disk"); empty when nothing stands in the way that can be seen.
std::string WhyNotWritableFolder(const std::string &AFolder);
