#pragma once

#include "signal/chartdecoder.h"

#include <optional>

namespace files {
struct DataFileHeader;
}

namespace cli {

class CommandLine;

// The display options that mirror the window's controls, shared by the commands that
// draw a data file (export, plot): --mode, --unit, --range, --integrate, --skip,
// --photodiode.
void addDisplayOptions(CommandLine &line);

// The options' values as the decoder reads them. Nothing when one is out of range (the
// message, naming the allowed range, is printed). The channels, the averaging and the
// interval are the file's: see applyHeader.
std::optional<sig::DisplaySettings> displayOptions(const CommandLine &line);

// What the window takes from a loaded file: the checked channels and the averaging from
// its channel bits, and the interval between frames. The file's own scale is not used:
// like the window, the commands draw with the range they are given.
void applyHeader(sig::DisplaySettings &settings, const files::DataFileHeader &header);

} // namespace cli
