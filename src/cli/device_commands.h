// The device library from the command line: listing the converted files of an output folder,
// and copying converted files to the PSP's memory stick.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

// Prints the converted files of ADir's "AVC" and "MPEG4" sub-folders as the device page lists
// them. Returns the exit status.
int ListCommand(const std::string &ADir, FILE *AOut, FILE *AErr);

// The format a converted file is copied as: the sub-folder it lies in ("AVC" or "MPEG4"), else
// its video codec (H.264 is AVC, anything else MPEG4); empty when the file cannot be read.
std::string FormatOfConvertedFile(const std::string &APath);

// Copies AFiles with their thumbnails to the device folder ADevice. ACancel, set from another
// thread, cancels the copy. Returns the exit status.
int CopyCommand(const std::string &ADevice, const std::vector<std::string> &AFiles,
                const std::atomic<int> &ACancel, FILE *AOut, FILE *AErr);
