// A print system of the test's own: a CUPS daemon with its configuration, spool, logs and
// socket in a temporary folder, and one queue that writes each job as a PDF file into that
// folder, made the default printer of this process.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

namespace acceptance {

class CupsQueue
{
public:
    CupsQueue();
    // Stops the daemon and removes the queue's PDF writer settings, whatever happened.
    ~CupsQueue();
    CupsQueue(const CupsQueue &) = delete;
    CupsQueue &operator=(const CupsQueue &) = delete;

    // Why this machine cannot run the queue (a program missing, not root); empty when it can.
    static QString unavailableReason();

    // Starts the daemon, adds the queue and makes it the default of this process's print
    // clients (CUPS_SERVER, LPDEST). False with `error` set when any step fails; stop() has
    // then already run.
    bool start(QString *error);
    // Ends the daemon (SIGTERM, then SIGKILL) and restores the environment. Safe to repeat.
    void stop();

    const QString &name() const { return m_name; }
    QString pdfFolder() const { return m_dir.filePath(QStringLiteral("pdf")); }
    QString socketPath() const { return m_dir.filePath(QStringLiteral("cups.sock")); }
    QString errorLog() const;

    // Jobs of the queue the daemon reports as completed, or not completed yet ("lpstat -W").
    QStringList jobs(bool completed) const;

    // Runs a client program against this daemon; its standard output, or nothing when it
    // fails (then `error` holds its standard error).
    std::optional<QByteArray> client(
        const QString &program, const QStringList &arguments, QString *error = nullptr) const;

private:
    bool writeFile(const QString &path, const QByteArray &bytes, QString *error) const;

    QTemporaryDir m_dir;
    QString m_name;
    QString m_writerSettings; // the PDF writer's settings for this queue, /etc/cups/...
    QProcess m_daemon;
    bool m_environmentSet = false;
    QByteArray m_oldServer, m_oldDestination;
    bool m_hadServer = false, m_hadDestination = false;
};

} // namespace acceptance
