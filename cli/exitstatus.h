#pragma once

// The exit statuses of ferrun-cli, in one table. 0, 1 and 2 mean the same for every command
// (ferrun-cli --help says so); 3 and 4 mean the same for the commands named. Each command's
// --help lists its statuses, with these meanings and its own words for what it made.
namespace cli {

// The command did what it was asked: written, printed, saved.
inline constexpr int ExitDone = 0;
// The output could not be written (also --help and --version); measure and cycle: a file
// could not be written, and what was recorded is kept in the recovery store.
inline constexpr int ExitOutputFailed = 1;
// Bad arguments: one line on standard error says which.
inline constexpr int ExitUsage = 2;

// info, export, stats, plot and catalog: the input cannot be read.
inline constexpr int ExitBadInput = 3;
// ... as export, stats and plot say it of a data file.
inline constexpr char BadDataFileExit[] = "FILE cannot be read, is not an instrument data file, "
                                          "or ends inside its header, titles or data";

// measure and cycle: no board to record on.
inline constexpr int ExitNoInstrument = 4;
inline constexpr char NoInstrumentExit[] = "no instrument found, or its port cannot be opened";

// plot: ferrun-cli cannot load the module that draws (3 stays a bad input file).
inline constexpr int ExitNoPlotModule = 4;
inline constexpr char NoPlotModuleExit[]
    = "the plot module of ferrun-cli is missing or cannot be loaded";

} // namespace cli
