// The media libraries as the front ends see them: loaded once for the process, their own
// messages silenced, and the engine's failures told from other errors. The front ends use this
// instead of the layers below the app core.
#pragma once

#include <exception>
#include <string>

// Loads the libraries (from AFolder first, then the system's places); false with the reason.
// Safe from several threads: one loads, the others wait for it.
bool LoadMediaLibraries(const std::string &AFolder, std::string &AError);

// The libraries' messages would interleave with the program's: they are dropped.
void SilenceMediaLibraries();

// Whether AError is a failure of the conversion engine (a media problem rather than a fault).
bool IsEngineError(const std::exception &AError);
