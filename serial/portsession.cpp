#include "serial/portsession.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <poll.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace serial::detail {

namespace {

// Pause before a failed write is tried again, so that a persistent failure does not spin.
constexpr int writeRetryDelayMs = 100;

void drainEventFd(int fd)
{
    quint64 value;
    while (::read(fd, &value, sizeof value) > 0) { }
}

// Best effort: lowering a thread's priority always works, raising it needs CAP_SYS_NICE and
// otherwise leaves the thread where it is.
void applyPriority(int tid, TThreadPriority priority)
{
    if (tid <= 0)
        return;
    static constexpr int niceByPriority[] = { 19, 10, 5, 0, -5, -10, -15 };
    sched_param param;
    std::memset(&param, 0, sizeof param);
    if (priority == tpIdle) {
        sched_setscheduler(tid, SCHED_IDLE, &param);
        return;
    }
    sched_setscheduler(tid, SCHED_OTHER, &param);
    const int index = qBound(0, static_cast<int>(priority), 6);
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), niceByPriority[index]);
}

} // namespace

void TSerialWriteQueue::Append(const void *source, int n)
{
    if (n <= 0)
        return;
    std::memcpy(m_data.get() + m_count, source, static_cast<size_t>(n));
    m_count += n;
}

void TSerialWriteQueue::Consume(int n)
{
    if (n >= m_count) {
        m_count = 0;
        return;
    }
    if (n <= 0)
        return;
    std::memmove(m_data.get(), m_data.get() + n, static_cast<size_t>(m_count - n));
    m_count -= n;
}

PortSession::PortSession(QObject *owner, int fd)
    : fd(fd)
    , m_owner(owner)
{
    const QMetaObject *meta = owner->metaObject();
    m_ownerWake = meta->method(meta->indexOfMethod("runWindowCalls()"));
    Q_ASSERT(m_ownerWake.isValid());
}

void PortSession::wakeOwner()
{
    m_ownerWake.invoke(m_owner, Qt::QueuedConnection);
}

PortSession::~PortSession()
{
    stop();
    if (m_epollFd >= 0)
        ::close(m_epollFd);
    if (m_eventWakeFd >= 0)
        ::close(m_eventWakeFd);
    if (m_writeWakeFd >= 0)
        ::close(m_writeWakeFd);
}

int PortSession::startEventThread(quint32 eventMask, TThreadPriority priority)
{
    m_epollFd = epoll_create1(EPOLL_CLOEXEC);
    if (m_epollFd < 0)
        return errno;
    m_eventWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_eventWakeFd < 0)
        return errno;
    epoll_event wakeEvent;
    std::memset(&wakeEvent, 0, sizeof wakeEvent);
    wakeEvent.events = EPOLLIN;
    wakeEvent.data.fd = m_eventWakeFd;
    if (epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_eventWakeFd, &wakeEvent) < 0)
        return errno;
    // Edge-triggered: the device is reported each time new bytes arrive, not as long as bytes
    // wait. A handler that leaves bytes in the queue therefore hears of them again only when
    // more arrive, and the thread never spins on unread input.
    epoll_event deviceEvent;
    std::memset(&deviceEvent, 0, sizeof deviceEvent);
    deviceEvent.events = EPOLLIN | EPOLLET;
    deviceEvent.data.fd = fd;
    if (epoll_ctl(m_epollFd, EPOLL_CTL_ADD, fd, &deviceEvent) < 0)
        return errno;
    m_eventPriority = priority;
    try {
        m_eventThread = std::thread([this, eventMask] { runEventThread(eventMask); });
    } catch (const std::system_error &e) {
        return e.code().value();
    }
    return 0;
}

int PortSession::startWriteThread(int capacity, TThreadPriority priority)
{
    m_writeWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_writeWakeFd < 0)
        return errno;
    try {
        m_queue = std::make_unique<TSerialWriteQueue>(capacity);
    } catch (const std::bad_alloc &) {
        return ENOMEM;
    }
    m_writePriority = priority;
    try {
        m_writeThread = std::thread([this] { runWriteThread(); });
    } catch (const std::system_error &e) {
        return e.code().value();
    }
    return 0;
}

void PortSession::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (WindowCall *call : { &m_eventCall, &m_writeCall })
            if (!call->running)
                call->pending = false;
    }
    m_cv.notify_all();
    wake(m_eventWakeFd);
    wake(m_writeWakeFd);
    if (m_eventThread.joinable())
        m_eventThread.join();
    if (m_writeThread.joinable())
        m_writeThread.join();
}

void PortSession::wake(int eventFd)
{
    if (eventFd < 0)
        return;
    const quint64 one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) { }
}

bool PortSession::takeCall(WindowCall *&call, quint32 &events)
{
    std::lock_guard lock(m_mutex);
    for (WindowCall *candidate : { &m_eventCall, &m_writeCall }) {
        if (candidate->pending && !candidate->running && !candidate->done) {
            candidate->running = true;
            events = candidate->events;
            call = candidate;
            return true;
        }
    }
    return false;
}

void PortSession::finishCall(WindowCall *call)
{
    bool wakeEventThread = false;
    {
        std::lock_guard lock(m_mutex);
        call->running = false;
        call->pending = false;
        call->done = true;
        if (call == &m_eventCall) {
            wakeEventThread = m_eventThreadWaitsForCall;
            m_eventThreadWaitsForCall = false;
        }
    }
    m_cv.notify_all();
    if (call == &m_writeCall)
        wake(m_writeWakeFd);
    else if (wakeEventThread)
        wake(m_eventWakeFd);
}

bool PortSession::handOver(WindowCall &call, quint32 &unposted, bool &outstanding)
{
    if (outstanding && call.done)
        outstanding = false;
    if (!unposted || outstanding)
        return false;
    call.events = unposted;
    call.pending = true;
    call.running = false;
    call.done = false;
    outstanding = true;
    unposted = 0;
    return true;
}

void PortSession::markGone()
{
    std::lock_guard lock(m_mutex);
    m_gone = true;
}

bool PortSession::isGone()
{
    return m_gone.load();
}

quint32 PortSession::pendingGoneError()
{
    std::lock_guard lock(m_mutex);
    return (m_gone && !m_goneReported) ? quint32(IoError) : 0u;
}

void PortSession::setGoneReported()
{
    std::lock_guard lock(m_mutex);
    m_goneReported = true;
}

void PortSession::setThreadPriority(bool eventThread, TThreadPriority priority)
{
    // Under the lock, so that a change made while the thread starts up is not lost.
    std::lock_guard lock(m_mutex);
    (eventThread ? m_eventPriority : m_writePriority) = priority;
    applyPriority(eventThread ? m_eventTid : m_writeTid, priority);
}

void PortSession::runEventThread(quint32 eventMask)
{
    {
        std::lock_guard lock(m_mutex);
        m_eventTid = static_cast<int>(gettid());
        applyPriority(m_eventTid, m_eventPriority);
    }
    bool watchingDevice = true;
    quint32 unposted = 0; // events not yet handed to the owner thread
    bool outstanding = false; // a report was handed over and has not finished yet
    epoll_event ready[4];
    for (;;) {
        bool post = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                break;
            post = handOver(m_eventCall, unposted, outstanding);
            // Events that arrive while a report runs wait here until it has finished; the
            // owner wakes this thread for them when it finishes.
            m_eventThreadWaitsForCall = unposted != 0;
        }
        if (post)
            wakeOwner();
        const int n = epoll_wait(m_epollFd, ready, 4, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // The wait itself cannot be made: stay idle until stopped instead of spinning.
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [this] { return m_stopping; });
            break;
        }
        quint32 events = 0;
        bool hangUp = false;
        for (int i = 0; i < n; ++i) {
            if (ready[i].data.fd == m_eventWakeFd) {
                drainEventFd(m_eventWakeFd);
                continue;
            }
            if (ready[i].events & EPOLLIN)
                events |= ceRxChar;
            if (ready[i].events & (EPOLLHUP | EPOLLERR))
                hangUp = true;
        }
        events &= eventMask;
        if (hangUp && watchingDevice) {
            // The device went away (unplugged, other side closed). It stays readiness-signalled
            // for good, so it is no longer watched: one line-error report, then quiet.
            epoll_ctl(m_epollFd, EPOLL_CTL_DEL, fd, nullptr);
            watchingDevice = false;
            markGone();
            events |= ceError;
        }
        unposted |= events;
    }
}

void PortSession::runWriteThread()
{
    {
        std::lock_guard lock(m_mutex);
        m_writeTid = static_cast<int>(gettid());
        applyPriority(m_writeTid, m_writePriority);
    }
    using Clock = std::chrono::steady_clock;
    quint32 unposted = 0; // report bits not yet handed to the owner thread
    bool outstanding = false; // a report was handed over and has not finished yet
    Clock::time_point retryAt;
    for (;;) {
        drainEventFd(m_writeWakeFd);
        const char *data = nullptr;
        int count = 0;
        bool post = false;
        const bool mayWrite = Clock::now() >= retryAt;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                break;
            if (m_purgeRequested) {
                answerPurgeLocked();
                continue;
            }
            if (outstanding && m_writeCall.done)
                outstanding = false;
            if (m_txEmptyDue) {
                m_txEmptyDue = false;
                unposted |= ceTxEmpty;
            }
            if (m_dataEvent && !m_gone && mayWrite) {
                count = m_queue->Count();
                if (count > 0) {
                    data = m_queue->Data();
                    // The queue holds bytes again: a TX-empty report the owner has not taken
                    // yet is no longer true and is withdrawn.
                    unposted &= ~quint32(ceTxEmpty);
                    if (outstanding && m_writeCall.pending && !m_writeCall.running) {
                        m_writeCall.events &= ~quint32(ceTxEmpty);
                        if (m_writeCall.events == 0) {
                            m_writeCall.pending = false;
                            outstanding = false;
                        }
                    }
                } else {
                    m_dataEvent = false;
                }
            }
            if (!data)
                post = handOver(m_writeCall, unposted, outstanding);
        }
        if (post) {
            wakeOwner();
            continue;
        }
        if (data) {
            const quint32 report = writePass(data, count);
            if (report & ceError)
                retryAt = Clock::now() + std::chrono::milliseconds(writeRetryDelayMs);
            unposted |= report;
            continue;
        }
        // Idle: wait for data, a purge, stop, the end of a report or the next retry.
        int timeout = -1;
        if (!mayWrite)
            timeout = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(retryAt - Clock::now()).count());
        pollfd wait = { m_writeWakeFd, POLLIN, 0 };
        poll(&wait, 1, qMax(timeout, -1));
    }
}

quint32 PortSession::writePass(const char *data, int count)
{
    const ssize_t written = ::write(fd, data, static_cast<size_t>(count));
    if (written > 0)
        return completeWrite(static_cast<int>(written));
    int err = written < 0 ? errno : EAGAIN;
    if (err == EINTR)
        return 0;
    if (err == EAGAIN) {
        // The driver's queue is full: wait for room, or for stop, purge, more data or the end of
        // a report. Whatever was not written stays queued; a purge meanwhile drops it and
        // removes nothing else.
        pollfd waits[2] = { { fd, POLLOUT, 0 }, { m_writeWakeFd, POLLIN, 0 } };
        if (poll(waits, 2, -1) < 0 || (waits[0].revents & POLLOUT)
            || !(waits[0].revents & (POLLERR | POLLHUP | POLLNVAL)))
            return 0;
        err = EIO;
    }
    if (isDeviceGone(err))
        markGone();
    // The bytes stay queued; the owner hears of the failure as a line-error report.
    return ceError;
}

quint32 PortSession::completeWrite(int written)
{
    bool empty;
    {
        std::lock_guard lock(m_mutex);
        m_queue->Consume(written);
        empty = m_queue->Count() == 0;
        if (empty)
            m_dataEvent = false;
    }
    m_cv.notify_all();
    // Reported whenever the queue drains; the owner thread fires OnTxEmpty if it is assigned
    // when the report runs.
    return empty ? quint32(ceTxEmpty) : 0u;
}

void PortSession::answerPurgeLocked()
{
    // The write thread empties the queue itself, so that no pass can start on bytes that are
    // being discarded and no completion can remove bytes queued after the purge.
    m_queue->Clear();
    m_dataEvent = false;
    m_purgeRequested = false;
    m_purgeDone = true;
    m_cv.notify_all();
}

bool PortSession::enqueue(const void *source, int n, int timeoutMs, bool txEmptyHandler)
{
    std::unique_lock lock(m_mutex);
    auto fits = [&] { return qint64(m_queue->Count()) + n <= m_queue->Capacity(); };
    if (!fits()) {
        m_cv.wait_for(lock, std::chrono::milliseconds(qMax(timeoutMs, 0)),
            [&] { return fits() || m_stopping; });
        if (!fits() || m_stopping)
            return false;
    }
    const char *bytes = static_cast<const char *>(source);
    if (m_queue->Count() == 0 && !m_gone && !m_purgeRequested) {
        // Nothing queued and no pass in progress (a pass keeps its bytes queued until they are
        // written): the bytes go to the driver at once with a non-blocking write, which saves
        // the write thread's wake-up on the way out. What the driver does not take is queued.
        const ssize_t written = ::write(fd, bytes, static_cast<size_t>(n));
        if (written == n) {
            // The queue drained at once: the write thread reports TX empty if there is a
            // handler now to hear of it (a transfer's requests then cost no report).
            m_txEmptyDue = m_txEmptyDue || txEmptyHandler;
            lock.unlock();
            if (txEmptyHandler)
                wake(m_writeWakeFd);
            return true;
        }
        if (written > 0) {
            bytes += written;
            n -= static_cast<int>(written);
        }
    }
    m_queue->Append(bytes, n);
    m_dataEvent = true;
    lock.unlock();
    wake(m_writeWakeFd);
    return true;
}

bool PortSession::purgeQueue(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    m_purgeDone = false;
    m_purgeRequested = true;
    m_cv.notify_all();
    wake(m_writeWakeFd);
    const bool acknowledged = m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        return m_purgeDone || m_stopping;
    }) && m_purgeDone;
    // Not acknowledged in time: the request is withdrawn, so a late answer cannot discard bytes
    // queued after this purge.
    m_purgeRequested = false;
    return acknowledged;
}

} // namespace serial::detail
