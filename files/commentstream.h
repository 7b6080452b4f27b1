#pragma once

#include "files/datafile.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

// The comment of a data file read from the file in chunks, so that memory stays bounded by the
// chunk whatever the comment's length: the catalogue lists and searches comments of hundreds
// of megabytes this way.
namespace files {

// A piece of a comment line. A line comes as one or more pieces; the last has `endsLine` set
// (the line break itself is not in the text). Only the last piece of a line may be empty.
struct CommentPiece
{
    QString text;
    bool endsLine = false;
    // Where the piece and its line begin, in bytes from the start of the comment (one byte is
    // one character: the comment is Windows-1251).
    qint64 offset = 0;
    qint64 lineStart = 0;
    // The number of its line in the comment, from 1.
    qint64 lineNumber = 0;
};

// Reads the comment of one data file piece by piece. The lines are those of splitLines(): split
// at CR LF, CR or LF, a final line without a break included, a final line break adding no
// empty line. A CR LF that falls across two chunks is one break.
//
//     CommentStream comment;
//     DataFileProblem problem;
//     if (comment.open(fileName, &problem) != DataFileStatus::Ok)
//         return dataFileProblemText(problem);
//     CommentPiece piece;
//     while (comment.next(&piece))
//         ...;
//     if (comment.failed())
//         ... comment.problem() ...;   // the file could not be read to the end of its comment
class CommentStream
{
public:
    static constexpr qint64 DefaultChunkBytes = qint64(64) * 1024;

    explicit CommentStream(qint64 chunkBytes = DefaultChunkBytes);
    ~CommentStream();
    CommentStream(const CommentStream &) = delete;
    CommentStream &operator=(const CommentStream &) = delete;

    // Opens the file and reads its header and titles (the data is seeked over). On a status
    // other than Ok nothing can be read and `problem` says why: the cause
    // dataFileProblemText() names (cannot be opened, a folder, a FIFO, not an instrument
    // data file, ends inside its header, titles or data).
    DataFileStatus open(const QString &fileName, DataFileProblem *problem = nullptr);

    // The header and titles read by open(), the comment's offset and size (no comment bytes).
    const DataFileSummary &summary() const { return m_summary; }
    qint64 commentSize() const { return m_summary.commentSize; }

    // Reads on from `offset` bytes into the comment, where a line begins; that line is number
    // `lineNumber`. A CR just before `offset` is not looked at: a LF at `offset` ends an empty
    // line.
    void seek(qint64 offset, qint64 lineNumber);
    // Reads as if the comment ended after its first `bytes` bytes (the line cut there is a
    // final line without a break).
    void setLimit(qint64 bytes);

    // The next piece; false at the end of the comment, or when the file could not be read
    // (failed() then says so).
    bool next(CommentPiece *piece);
    // The bytes of the comment taken by the pieces and line breaks handed over so far.
    qint64 position() const;

    // Reads [offset, offset + count) of the comment as text, without looking for line breaks.
    // False when the file cannot be read there.
    bool readText(qint64 offset, qint64 count, QString *text);

    // True when a read of the comment failed or it ended early (the file shrank): problem()
    // then holds the cause.
    bool failed() const { return m_failed; }
    DataFileProblem problem() const { return m_problem; }

private:
    void reset();
    bool fill();
    bool fail(int systemError);

    qint64 m_chunkBytes;
    int m_fd = -1;
    DataFileSummary m_summary;
    qint64 m_end = 0;
    // The chunk held and where in the comment it begins; m_used bytes of it are taken.
    QByteArray m_chunk;
    qint64 m_chunkOffset = 0;
    qsizetype m_used = 0;
    // A CR ended the last line: a LF right after it belongs to that break.
    bool m_afterCr = false;
    // Where the current line began and its number; whether a piece of it has been handed over.
    qint64 m_lineStart = 0;
    qint64 m_lineNumber = 1;
    bool m_lineOpen = false;
    bool m_failed = false;
    DataFileProblem m_problem;
};

// Finds a text in a line handed over piece by piece, as lineContains() does on the whole line:
// exactly, or both in upper case (Cyrillic letters fold too). A match across two pieces is
// found; only the last length-1 characters of the line are kept between pieces.
class LineMatcher
{
public:
    LineMatcher(const QString &text, bool matchCase);

    // Searches the line with `piece` appended. Returns the position in the line where the first
    // match that ends after `minEnd` characters of the line begins, or -1 when the line so far
    // holds none (or the text is empty).
    qsizetype feed(QStringView piece, qsizetype minEnd = 0);
    // The next piece begins a new line.
    void endLine();

private:
    QString m_wanted;
    bool m_matchCase;
    // The end of the line so far (in upper case unless case is matched) and where it begins.
    QString m_tail;
    qsizetype m_tailStart = 0;
};

} // namespace files
