// The files of a batch left unconverted when the window closed, kept for the next start in the
// user's state folder ($XDG_STATE_HOME, by default ~/.local/state).
#pragma once

#include <string>
#include <vector>

// $XDG_STATE_HOME/korvelo-converter/waiting-files; empty when neither it nor $HOME is set.
std::string RememberedBatchPath();

// Writes AFiles (an empty list removes the file). False when it could not be written.
bool WriteRememberedBatch(const std::string &APath, const std::vector<std::string> &AFiles);

// The files stored at APath that are still there, in their order; a file that has gone since
// is left out.
std::vector<std::string> ReadRememberedBatch(const std::string &APath);
