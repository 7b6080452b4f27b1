#pragma once

#include "files/recording.h"
#include "files/recoverystore.h"

#include <QString>

namespace files {

// The recording a front end holds as its document, with the rule that none is lost without
// the user's word: a recording that needs saving (measured or short read, not faulty, not
// saved) goes to the recovery folder, with the comment typed for it, before another replaces
// it. Cycles are not held here: the cycle run's stores keep them.
class RecordingDocument
{
public:
    explicit RecordingDocument(RecoveryStore recovery);

    const Recording &recording() const { return m_recording; }
    // For the values a chart build writes into the header.
    Recording &recording() { return m_recording; }
    const RecoveryStore &recovery() const { return m_recovery; }

    // Replaces the recording held. The one held, when it needs saving, is kept in the recovery
    // folder first with `commentOfHeld`. Returns the file it was kept in; empty when nothing
    // needed keeping, or when keeping failed (`error` set: the recording is replaced anyway,
    // for the new one has arrived, but the caller must say so).
    QString replace(Recording next, const QString &commentOfHeld, QString *error = nullptr);

    // Keeps the recording held in the recovery folder, with `comment`, if it needs saving (a
    // close nobody can answer). Returns the file; empty when nothing needed keeping or on
    // failure (`error` set).
    QString keepInRecovery(const QString &comment, QString *error = nullptr);

    // The recording was written to `path` with `comment`: it is saved now. Its copy in the
    // recovery folder, if it was reopened from there, is no longer needed and is removed.
    void setSaved(const QString &path, const QString &comment);

private:
    Recording m_recording;
    RecoveryStore m_recovery;
};

} // namespace files
