#pragma once

#include "files/outputfile.h"

namespace app {

// How the window writes every file (data files, cycle files, CSV, PDF): a new file, or a
// regular file replaced whole. A device or FIFO is refused: the window counts what it wrote
// as kept, and must not hang waiting for a FIFO's reader.
inline const files::OutputOptions WindowOutput = [] {
    files::OutputOptions options;
    options.regularFileOnly = true;
    return options;
}();

} // namespace app
