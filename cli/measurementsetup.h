#pragma once

#include "acquisition/measurementsession.h"
#include "acquisition/samplingplan.h"
#include "files/channels.h"
#include "files/outputfile.h"
#include "files/recoverystore.h"

#include <QString>
#include <optional>

namespace acquisition {
class Instrument;
class TerminationSignals;
} // namespace acquisition

// What the commands that record on the board (measure, cycle) share: the options read the
// same way by both, the sampling plan and the request they give, the words for a failed
// exchange, the connection to the instrument, the care of a target's leftover save and the
// recovery store.
namespace cli {

class CommandLine;

// The options both commands define (each with its own help texts and limits).
struct MeasurementOptions
{
    QString output;
    QString device;
    bool simulator = false;
    std::optional<int> frequency;
    std::optional<int> time;
    quint8 channels = files::ThermocoupleBits;
    int rangeIndex = 0;
    int launchType = 0; // 0 from the computer, 1 on the photodiode signal
    QString comment;
    // --quiet: no progress and no notes, only what went wrong and where a recording went.
    bool quiet = false;
};

// -o, --device, --simulator, --comment and --quiet, and that --freq and --time do not come
// together. Nothing when the command goes on; else the status, the message printed.
std::optional<int> readTarget(const CommandLine &line, MeasurementOptions &o);
// --channels, --range and --launch.
std::optional<int> readChannelsRangeLaunch(const CommandLine &line, MeasurementOptions &o);

// A limit of the board a request lies beyond, in English: "below the board's lowest frequency,
// 75 Hz", "above the longest time for 30000 samples, 401674 ms".
QString limitText(const acquisition::SamplingLimit &limit, int samples);

// The sampling plan of the options for `samples` samples: --freq, else --time, else the
// frequency of a first run. Nothing, with the refusal printed (naming the board's limit),
// when the request lies beyond the board's limits (the commands check their options'
// ranges first; this is what keeps a plan beyond them from ever reaching the board).
std::optional<acquisition::SamplingPlan> planOf(
    const CommandLine &line, const MeasurementOptions &o, int samples, bool averaging);
// The measurement of the options with that plan, titled as the window titles a first run's.
acquisition::MeasurementRequest requestOf(
    const MeasurementOptions &o, const acquisition::SamplingPlan &plan);

// What ended an exchange, in English: "no reply from the instrument", ... `triggerTimeoutS`
// names the wait for a photodiode trigger.
QString failureText(acquisition::SessionFailure failure, std::optional<int> triggerTimeoutS = {});

// Connects the instrument; false, with the reason printed, when no instrument was found or
// its port cannot be opened.
bool connectInstrument(acquisition::Instrument &instrument);

// Clears away what killed saves of `target` left (files::clearLeftoverSaves) and says what
// was done on standard error. A whole recording left that could not be kept under a name of
// its own stays where it is, named.
void clearLeftoverSaves(const QString &target);

// Whether the target of a recording can be written, checked before the board records
// anything: nothing when it can, else the status to exit with, the message printed (the
// status as outputStatus gives it). "-" is standard output, refused when it is a terminal.
std::optional<int> checkTarget(const QString &target);

// What goes into every output of a recording: an open or write that waits on a stream (a
// FIFO without a reader, a pipe that takes no more) ends on a signal; with `waitsEnded` such
// a wait ends at once (the run was told to stop). "-" is standard output.
files::OutputOptions recordingOutput(
    const acquisition::TerminationSignals &termination, bool waitsEnded = false);

// The signal a wait ended on (an output that failed with EINTR): the event loop takes it in.
int signalThatInterrupted(const acquisition::TerminationSignals &termination);

// The recovery store of the user (where a program keeps what it cannot deliver).
files::RecoveryStore recoveryStore();
// Names the runs of cycles a crash or a kill ended, brought back whole in the store.
void reportInterruptedRuns(const files::RecoveryStore &store);

} // namespace cli
