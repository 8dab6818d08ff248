// The files of a batch left unconverted when the window closed, each with the choices made for
// it, kept for the next start in the user's state folder ($XDG_STATE_HOME, by default
// ~/.local/state).
#pragma once

#include <string>
#include <vector>

#include "app/content_choice.h"

// One file waiting to convert, as its panel had it.
struct TRememberedJob {
  std::string FileName;
  int Profile = -1; // -1: the default profile
  TContentChoice Choice;
};

bool operator==(const TRememberedJob &A, const TRememberedJob &B);

// $XDG_STATE_HOME/korvelo-converter/waiting-files; empty when neither it nor $HOME is set.
std::string RememberedBatchPath();

// Writes AJobs, each entry once however often it is listed (an empty list removes the file), as
// a whole: written beside and renamed, so a failure keeps the last list. An empty APath writes
// nothing. False with the reason in AError.
bool WriteRememberedBatch(const std::string &APath, const std::vector<TRememberedJob> &AJobs,
                          std::string &AError);

// The jobs stored at APath whose files are still there, in their order, each once. A list of
// plain file names, as earlier versions wrote it, gives the files with the default choices.
std::vector<TRememberedJob> ReadRememberedBatch(const std::string &APath);
