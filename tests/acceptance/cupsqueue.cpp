#include "tests/acceptance/cupsqueue.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace acceptance {

namespace {

// The PDF writer reads its settings from this folder only; a file named after the queue
// holds the settings of that queue alone.
const QString WriterSettingsFolder = QStringLiteral("/etc/cups");
const QString WriterBackend = QStringLiteral("/usr/lib/cups/backend/cups-pdf");
const QString WriterModel = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_noopt.ppd");
const QString QueuePrefix = QStringLiteral("ferrun-acceptance-");

// Administration programs live in sbin, which a user's PATH may leave out.
QString findProgram(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
            name, { QStringLiteral("/usr/sbin"), QStringLiteral("/sbin") });
    return path;
}

// Settings left behind by a run that was killed: their queue's process is gone.
void removeStaleWriterSettings()
{
    const QDir folder(WriterSettingsFolder);
    const QStringList stale = folder.entryList(
        { QStringLiteral("cups-pdf-") + QueuePrefix + QStringLiteral("*.conf") }, QDir::Files);
    for (const QString &name : stale) {
        bool ok = false;
        const qint64 pid
            = name.section(QLatin1Char('-'), -1).section(QLatin1Char('.'), 0, 0).toLongLong(&ok);
        if (ok && (::kill(pid_t(pid), 0) != 0 && errno == ESRCH))
            QFile::remove(folder.filePath(name));
    }
}

} // namespace

CupsQueue::CupsQueue()
    : m_name(QueuePrefix + QString::number(QCoreApplication::applicationPid()))
{
}

CupsQueue::~CupsQueue()
{
    stop();
}

QString CupsQueue::unavailableReason()
{
    QStringList missing;
    for (const char *program : { "cupsd", "lpadmin", "lpstat", "pdftoppm" })
        if (findProgram(QString::fromLatin1(program)).isEmpty())
            missing << QString::fromLatin1(program);
    if (!QFileInfo::exists(WriterBackend))
        missing << WriterBackend;
    if (!QFileInfo::exists(WriterModel))
        missing << WriterModel;
    if (!missing.isEmpty())
        return QStringLiteral("missing %1 (Debian packages cups, printer-driver-cups-pdf, "
                              "poppler-utils; scripts/install-deps.sh installs them)")
            .arg(missing.join(QStringLiteral(", ")));
    // The PDF writer is a back end that the daemon runs only as root, and it reads its
    // settings from the system's CUPS folder.
    if (::geteuid() != 0)
        return QStringLiteral("the PDF-writing CUPS back end runs only under a daemon started "
                              "by root");
    return {};
}

QString CupsQueue::errorLog() const
{
    QFile file(m_dir.filePath(QStringLiteral("log/error_log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(4000))
                                          : QString();
}

bool CupsQueue::writeFile(const QString &path, const QByteArray &bytes, QString *error) const
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size())
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

std::optional<QByteArray> CupsQueue::client(
    const QString &program, const QStringList &arguments, QString *error) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CUPS_SERVER"), socketPath());
    process.setProcessEnvironment(environment);
    process.start(findProgram(program), arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
        if (error)
            *error = QStringLiteral("%1 %2: %3")
                         .arg(program, arguments.join(QLatin1Char(' ')),
                             QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

bool CupsQueue::start(QString *error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    // The daemon's filters run as the print system's own user and must reach the spool.
    QFile::setPermissions(m_dir.path(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
            | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
            | QFileDevice::ExeOther);
    const QString root = m_dir.path();
    QDir(root).mkpath(QStringLiteral("log"));
    QDir(root).mkpath(QStringLiteral("pdf"));

    const QByteArray files = QStringLiteral("ServerRoot %1\n"
                                            "RequestRoot %1/spool\n"
                                            "CacheDir %1/cache\n"
                                            "StateDir %1/state\n"
                                            "Printcap %1/printcap\n"
                                            "ErrorLog %1/log/error_log\n"
                                            "AccessLog %1/log/access_log\n"
                                            "PageLog %1/log/page_log\n"
                                            "ServerBin /usr/lib/cups\n"
                                            "DataDir /usr/share/cups\n"
                                            "FileDevice No\n")
                                 .arg(root)
                                 .toUtf8();
    // Only the local socket, no sharing or browsing; every operation allowed to the
    // clients of this machine.
    const QByteArray daemon = QStringLiteral("Listen %1\n"
                                             "LogLevel info\n"
                                             "Browsing No\n"
                                             "WebInterface No\n"
                                             "DefaultAuthType None\n"
                                             "<Location />\n  Order allow,deny\n  Allow all\n"
                                             "</Location>\n"
                                             "<Location /admin>\n  Order allow,deny\n"
                                             "  Allow all\n</Location>\n"
                                             "<Policy default>\n  <Limit All>\n"
                                             "    Order deny,allow\n  </Limit>\n</Policy>\n")
                                  .arg(socketPath())
                                  .toUtf8();
    // The writer puts each job into pdf/, named after the job's title.
    const QByteArray writer = QStringLiteral("Out %1/pdf\n"
                                             "AnonDirName %1/pdf\n"
                                             "Spool %1/writer-spool\n"
                                             "Log %1/log\n"
                                             "LogType 1\n"
                                             "Label 0\n"
                                             "Grp root\n")
                                  .arg(root)
                                  .toUtf8();
    removeStaleWriterSettings();
    m_writerSettings
        = WriterSettingsFolder + QStringLiteral("/cups-pdf-") + m_name + QStringLiteral(".conf");
    if (!writeFile(m_dir.filePath(QStringLiteral("cups-files.conf")), files, error)
        || !writeFile(m_dir.filePath(QStringLiteral("cupsd.conf")), daemon, error)
        || !writeFile(m_writerSettings, writer, error)) {
        stop();
        return false;
    }

    // The daemon ends with this process, also when the test is killed or crashes.
    m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon.start(findProgram(QStringLiteral("cupsd")),
        { QStringLiteral("-f"), QStringLiteral("-c"), m_dir.filePath(QStringLiteral("cupsd.conf")),
            QStringLiteral("-s"), m_dir.filePath(QStringLiteral("cups-files.conf")) });
    if (!m_daemon.waitForStarted(5000)) {
        *error = QStringLiteral("cupsd did not start: ") + m_daemon.errorString();
        stop();
        return false;
    }
    QDeadlineTimer deadline(10000);
    // "lpstat -r" succeeds either way; it tells in words whether the daemon answered.
    const auto answering = [this] {
        const std::optional<QByteArray> out
            = client(QStringLiteral("lpstat"), { QStringLiteral("-r") });
        return out && out->trimmed() == "scheduler is running";
    };
    while (!answering()) {
        if (deadline.hasExpired() || m_daemon.state() == QProcess::NotRunning) {
            *error
                = QStringLiteral("cupsd does not answer on %1\n%2").arg(socketPath(), errorLog());
            stop();
            return false;
        }
        QThread::msleep(20);
    }
    if (!client(QStringLiteral("lpadmin"),
            { QStringLiteral("-p"), m_name, QStringLiteral("-E"), QStringLiteral("-v"),
                QStringLiteral("cups-pdf:/") + m_name, QStringLiteral("-P"), WriterModel },
            error)
        || !client(QStringLiteral("lpadmin"), { QStringLiteral("-d"), m_name }, error)) {
        stop();
        return false;
    }

    // This process's print clients (the toolkit's printer support) ask this daemon, and take
    // the queue as the default whatever the user's own printer options say.
    m_hadServer = qEnvironmentVariableIsSet("CUPS_SERVER");
    m_oldServer = qgetenv("CUPS_SERVER");
    m_hadDestination = qEnvironmentVariableIsSet("LPDEST");
    m_oldDestination = qgetenv("LPDEST");
    qputenv("CUPS_SERVER", socketPath().toLocal8Bit());
    qputenv("LPDEST", m_name.toLocal8Bit());
    m_environmentSet = true;
    return true;
}

void CupsQueue::stop()
{
    if (m_environmentSet) {
        if (m_hadServer)
            qputenv("CUPS_SERVER", m_oldServer);
        else
            qunsetenv("CUPS_SERVER");
        if (m_hadDestination)
            qputenv("LPDEST", m_oldDestination);
        else
            qunsetenv("LPDEST");
        m_environmentSet = false;
    }
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }
    if (!m_writerSettings.isEmpty()) {
        QFile::remove(m_writerSettings);
        m_writerSettings.clear();
    }
}

QStringList CupsQueue::jobs(bool completed) const
{
    const std::optional<QByteArray> out = client(QStringLiteral("lpstat"),
        { QStringLiteral("-W"),
            completed ? QStringLiteral("completed") : QStringLiteral("not-completed"),
            QStringLiteral("-o"), m_name });
    if (!out)
        return {};
    return QString::fromLocal8Bit(*out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace acceptance
