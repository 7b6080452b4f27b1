#pragma once

namespace sim {

// The output rate in bits per second the terminal behind fd is set to (standard constants and
// custom rates alike); -1 when it cannot be read.
long lineRate(int fd);

} // namespace sim
