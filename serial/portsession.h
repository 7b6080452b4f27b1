#pragma once

#include "serial/serialport.h"
#include "serial/ttydevice.h"

#include <QMetaMethod>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// What one open port shares between the owner thread, the event thread and the write thread.
// A session lives from Open to Close; Close stops and joins both threads before the device is
// closed, so no thread outlives its session or touches the device afterwards.
namespace serial::detail {

// A report handed to the owner thread ("run on the window thread"). Each background thread has
// one slot and hands over its next report only after the owner has finished the previous one.
struct WindowCall
{
    bool pending = false; // posted, not yet taken by the owner thread
    bool running = false; // the owner thread is running it
    bool done = false;
    quint32 events = 0;
};

// The fixed-capacity byte queue the write thread drains. Guarded by PortSession::mutex, except
// that the write thread sends the bytes it captured outside the lock: appends only go behind them
// and only the write thread itself removes bytes, so the captured range stays untouched.
class TSerialWriteQueue
{
public:
    // The block is not initialised: only the pages that are used get touched.
    explicit TSerialWriteQueue(int capacity)
        : m_data(new char[static_cast<size_t>(qMax(capacity, 0))])
        , m_capacity(qMax(capacity, 0))
    {
    }
    int Capacity() const { return m_capacity; }
    int Count() const { return m_count; }
    const char *Data() const { return m_data.get(); }
    void Append(const void *source, int n);
    void Consume(int n);
    void Clear() { m_count = 0; }

private:
    std::unique_ptr<char[]> m_data;
    int m_capacity;
    int m_count = 0;
};

class PortSession
{
public:
    PortSession(QObject *owner, int fd);
    ~PortSession();
    PortSession(const PortSession &) = delete;
    PortSession &operator=(const PortSession &) = delete;

    // Creates the wait descriptors and starts the event thread for these event bits. Returns 0
    // or errno.
    int startEventThread(quint32 eventMask, TThreadPriority priority);
    int startWriteThread(int capacity, TThreadPriority priority);
    bool hasWriteThread() const { return m_writeThread.joinable(); }
    // Asks both threads to stop, wakes every wait and joins them. Calls pending on the owner
    // thread are cancelled; a call that is running there finishes on its own.
    void stop();

    // Owner thread: queue bytes, waiting up to timeoutMs for room. False when they did not fit.
    // When the driver takes them all at once the queue drains right here, on the owner thread:
    // TX empty is then reported only if the owner has a handler (txEmptyHandler) at this
    // moment. A queue the write thread drains later is always reported.
    bool enqueue(const void *source, int n, int timeoutMs, bool txEmptyHandler);
    // Owner thread: have the write thread empty its queue; an aborted write removes nothing.
    // True when the write thread acknowledged within timeoutMs.
    bool purgeQueue(int timeoutMs);

    // Owner thread, from the wake-up event: takes a pending call, if any.
    bool takeCall(WindowCall *&call, quint32 &events);
    void finishCall(WindowCall *call);
    WindowCall *eventCall() { return &m_eventCall; }

    // The device went away: reported once as IoError through the line errors.
    void markGone();
    bool isGone();
    // IoError when the departure has not been reported yet.
    quint32 pendingGoneError();
    void setGoneReported();

    void setThreadPriority(bool eventThread, TThreadPriority priority);

    const int fd;
    ErrorCounters lastCounters; // owner thread only
    bool countersRead = false; // owner thread only

private:
    void runEventThread(quint32 eventMask);
    void runWriteThread();
    // One write attempt; returns the report bits it gives rise to (TX empty, write error).
    quint32 writePass(const char *data, int count);
    quint32 completeWrite(int written);
    // Hands the collected events to the owner thread unless a report of this thread is still
    // outstanding (under m_mutex). Each thread has at most one report outstanding, so reports
    // run one at a time and in order; events that come meanwhile are collected and handed over
    // once the owner has finished. Neither thread blocks on the owner meanwhile: the event
    // thread keeps waiting on the device, the write thread keeps draining the queue and
    // answering purges, and both answer a stop at once.
    bool handOver(WindowCall &call, quint32 &unposted, bool &outstanding);
    void answerPurgeLocked();
    void wake(int eventFd);

    // Queued invocation of the owner's runWindowCalls(): it carries no data (the call itself
    // sits in the session, under its mutex) and Qt allocates and frees the event itself.
    void wakeOwner();

    QObject *const m_owner;
    QMetaMethod m_ownerWake;
    std::mutex m_mutex; // the write lock: queue, flags and calls
    std::condition_variable m_cv;
    bool m_stopping = false;
    std::atomic<bool> m_gone { false }; // read without the lock on the write path
    bool m_goneReported = false;

    int m_epollFd = -1;
    int m_eventWakeFd = -1;
    std::thread m_eventThread;
    WindowCall m_eventCall;
    bool m_eventThreadWaitsForCall = false; // events collected, to be handed over when done

    int m_writeWakeFd = -1;
    std::thread m_writeThread;
    std::unique_ptr<TSerialWriteQueue> m_queue;
    bool m_dataEvent = false;
    bool m_purgeRequested = false;
    bool m_purgeDone = false;
    bool m_txEmptyDue = false; // the owner wrote everything itself: TX empty to report
    WindowCall m_writeCall;

    // Thread ids (0 until the thread runs) and priorities, under m_mutex.
    int m_eventTid = 0;
    int m_writeTid = 0;
    TThreadPriority m_eventPriority = tpNormal;
    TThreadPriority m_writePriority = tpHighest;
};

} // namespace serial::detail
