#pragma once

#include "files/recoverystore.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The work on the files of the recovery store that the store and the cycle store share: the
// texts of their notes, and descriptor-level steps that report the system's error number, for
// messages that name the cause.
namespace files::storeio {

// "3 cycles" (and "1 cycle").
QString cyclesText(qint64 count);
// The detail of a journal's note while its run goes: "3 cycles, 10500 bytes". After a crash
// it tells how many cycles the data ahead of the note hold.
QString journalDetail(qint64 cycles, qint64 bytes);
// The note line and, on the lines after it, the user's comment.
QString noteAndComment(
    RecoveryKind kind, RecoveryKeeper keeper, const QString &detail, const QString &comment);

// The system's text for an error number.
QString systemText(int error);

// Creates `folder` and its missing parents. False with the error number in `*error`.
bool makeFolder(const QString &folder, int *error);

// Writes all of `bytes` at `offset` (pwrite, again after a short write or EINTR).
bool writeAt(int fd, qint64 offset, const QByteArray &bytes);
// Reads `count` bytes at `offset` whole; false on an error or a short file.
bool readAt(int fd, qint64 offset, char *buffer, qint64 count);
// fdatasync, again after EINTR.
bool syncData(int fd);
// Makes a new or removed name in `folder` durable (fsync of the folder); failures are ignored,
// since what the name holds is already on disk.
void syncFolder(const QString &folder);

// An exclusive flock of `fd` without waiting: false when another open file description holds
// one (a program running a journal), or on an error.
bool tryLockExclusive(int fd);
// Whether a program holds the lock on the file at `path` (false when it cannot be opened).
bool lockedByAnother(const QString &path);

// Whether `path` names a file directly in `folder` (both resolved through their links; the
// file itself may be missing).
bool isInFolder(const QString &path, const QString &folder);

// Sets the file's modification time (its access time is left alone).
void setModificationTime(int fd, const QDateTime &time);

} // namespace files::storeio
