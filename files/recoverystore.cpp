// Temporary stand-in while the store is written elsewhere; replaced at merge.
#include "files/recoverystore.h"
#include "files/cyclestore.h"
#include "files/unsavedwork.h"
namespace files {
QString recoveryNoteLine(RecoveryKind, RecoveryKeeper, const QString &) { return {}; }
std::optional<RecoveryNote> parseRecoveryNote(const QString &) { return {}; }
QString commentWithoutNote(const QString &c) { return c; }
RecoveryStore::RecoveryStore(QString folder) : m_folder(std::move(folder)) {}
QString RecoveryStore::defaultFolder() { return {}; }
QString RecoveryStore::keep(const Recording &, RecoveryKind, RecoveryKeeper, const QString &, const QString &, QString *) const { return {}; }
QString RecoveryStore::newEntryPath(RecoveryKind, const QDateTime &) const { return {}; }
QList<RecoveryEntry> RecoveryStore::entries() const { return {}; }
DataFileStatus RecoveryStore::reopen(const QString &, Recording *, QString *) { return DataFileStatus::CannotOpen; }
QList<RecoveryEntry> RecoveryStore::repairInterruptedRuns() const { return {}; }
void RecoveryStore::prune() const {}
struct CycleStore::Journal {};
CycleStore::CycleStore(RecoveryStore store, RecoveryKeeper keeper) : m_store(std::move(store)), m_keeper(keeper) {}
CycleStore::~CycleStore() = default;
void CycleStore::beginRun() {}
void CycleStore::endRun() {}
bool CycleStore::append(const DataFileHeader &, const QByteArray &, QString *) { return true; }
QByteArray CycleStore::retractLast() { return {}; }
QByteArray CycleStore::cycle(int) const { return {}; }
DataFileHeader CycleStore::cycleHeader(int) const { return {}; }
DataFileHeader CycleStore::header() const { return {}; }
QStringList CycleStore::journals() const { return {}; }
bool CycleStore::hasUnsaved() const { return false; }
bool CycleStore::saveOneFile(const QString &, const QString &, QString *, QString *, const OutputOptions &, SaveFailure *) { return false; }
CycleSaveResult CycleStore::savePerCycle(const QString &, const QString &, const OutputOptions &) { return {}; }
void CycleStore::discard() {}
bool CycleStore::setComment(const QString &, QString *) { return true; }
UnsavedWork::UnsavedWork(RecoveryStore store, RecoveryKeeper keeper) : m_store(store), m_keeper(keeper), m_cycles(store, keeper) {}
QString UnsavedWork::replace(Recording next, const QString &comment, QString *) { m_recording = next; m_comment = comment; return {}; }
bool UnsavedWork::recordingUnsaved() const { return false; }
void UnsavedWork::recordingSaved(const QString &) {}
bool UnsavedWork::exchangeOutOfStep(quint64) { return false; }
QString UnsavedWork::keepFailed(const Recording &, const QString &, const QString &, QString *) { return {}; }
QString UnsavedWork::keepUndelivered(const Recording &, const QString &, const QString &, QString *) { return {}; }
bool UnsavedWork::keepAll(bool, QString *) { return true; }
QString faultyName(const QString &, int) { return {}; }
}
