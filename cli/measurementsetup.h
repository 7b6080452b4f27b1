#pragma once

#include "acquisition/measurementsession.h"
#include "acquisition/samplingplan.h"
#include "files/recoverystore.h"
#include "files/channels.h"

#include <QString>
#include <optional>

namespace acquisition {
class Instrument;
}

// What the commands that record on the board (measure, cycle) share: the options read the
// same way by both, the sampling plan and the request they give, the words for a failed
// exchange, the connection to the instrument, the care of a target's leftover save and the
// recovery store.
namespace cli {

class CommandLine;

// "ferrun-cli: <message>" on standard error, control characters escaped.
void printError(const QString &message);

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
};

// -o, --device, --simulator and --comment, and that --freq and --time do not come together.
// Nothing when the command goes on; else the status, the message printed.
std::optional<int> readTarget(const CommandLine &line, MeasurementOptions &o);
// --channels, --range and --launch.
std::optional<int> readChannelsRangeLaunch(const CommandLine &line, MeasurementOptions &o);

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

// Clears away what an interrupted save of `target` left (files::clearLeftoverSave) and says
// what was done on standard error. False when a whole recording was left that could not be
// kept under a name of its own: the target cannot be written then.
bool clearLeftoverSave(const QString &target);

// The recovery store of the user (where a program keeps what it cannot deliver).
files::RecoveryStore recoveryStore();
// Names the runs of cycles a crash or a kill ended, brought back whole in the store.
void reportInterruptedRuns(const files::RecoveryStore &store);

} // namespace cli
