#pragma once

#include <QString>

namespace files {

// What was done with the temporary file an interrupted save of a data file left behind.
struct LeftoverSave
{
    enum class Outcome {
        None, // nothing was left (or something that is not a regular file, which is left alone)
        Removed, // a partial file, removed
        Recovered, // a whole recording, kept under `path`
        NotRecovered, // a whole recording that could not be renamed: left where it was
    };
    Outcome outcome = Outcome::None;
    QString path;
    QString reason; // NotRecovered: why
};

// The temporary file of a save of `fileName` (temporarySaveName) that a killed or crashed
// program left behind. A save that got as far as writing every byte left a whole recording in
// it, possibly the only copy: when it reads as a whole data file it is renamed to
// "NAME.recovered.kdx" beside the target (NAME: the target's name without ".kdx"), or, when
// that is taken, "NAME.recovered-2.kdx", "-3", ...; nothing is ever replaced. A partial file
// holds no recording and is removed. Anything that is not a regular file is left alone.
LeftoverSave clearLeftoverSave(const QString &fileName);

} // namespace files
