#pragma once
// The analysis window's preferences that outlive the program: the size basis
// its views show ("Preferences/SizeBasis", "apparent" or "disk"). The unit
// and the chart start from their defaults in every run.

#include "base/SizeFormat.h"

class QSettings;

namespace corvina {

// Apparent when the key is absent or holds anything else.
SizeBasis ReadSizeBasis(QSettings& settings);
void WriteSizeBasis(QSettings& settings, SizeBasis basis);

}  // namespace corvina
