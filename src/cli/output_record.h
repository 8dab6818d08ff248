// The converter's output record for a PSP profile, filled from the settings a conversion panel
// computes for it.
#pragma once

#include "app/output_options.h"
#include "converter/option_records.h"

// AOptions must come from InitOutputOptions; every field the settings leave unset stays unset.
void FillOutputOptions(const TPSPOutputSettings &ASettings, TOutputOptions &AOptions);
