#pragma once

// The board behind BoardSimulator: its state, shared with the owning threads under a mutex,
// and the board thread's own state. Used by the files that implement it only.

#include "sim/boardsimulator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;

// A wait of this many seconds on the steady clock. Saturated at a century, far beyond any
// session: a very slow speed would otherwise overflow the clock's 64-bit count and end the
// wait at once.
inline Clock::duration span(double s)
{
    constexpr double longest = 100.0 * 365 * 24 * 3600;
    if (!(s > 0))
        return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::min(s, longest)));
}

class BoardSimulator::Board
{
public:
    explicit Board(BoardOptions o)
        : options(std::move(o))
    {
    }
    ~Board()
    {
        shutDown();
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    bool start(std::string *error);
    void shutDown();
    void requestTrigger();

    // Shared with other threads, under mutex.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    BoardState state = BoardState::NotStarted;
    BoardCounters counters;
    std::vector<std::uint8_t> receivedBytes;
    std::vector<std::uint8_t> sentBytes;
    Recording memory;
    double lastRecordingSeconds = 0;
    bool keepHistory = true;

    BoardOptions options;
    std::function<void(const std::string &)> log;
    std::string path;

private:
    enum class Action { None, WaitTrigger, Record, Tune };

    void run();
    void onBytes(const std::uint8_t *data, std::size_t n);
    void execute(const std::vector<std::uint8_t> &cmd);
    void processTimers();
    void onTrigger();
    void beginRecording();
    void sendShortRead(bool onTrigger);
    void sendBlock(bool averaged);
    void abandonAction();
    void setState(BoardState s);
    template <class F> void count(F f)
    {
        {
            std::lock_guard lock(mutex);
            f(counters);
        }
        changed.notify_all();
    }
    void note(const std::string &line)
    {
        if (log)
            log(line);
    }
    bool busy() const { return action == Action::WaitTrigger || action == Action::Record; }

    enum class ReplyKind { End, Block, Status };
    void sendReply(const std::uint8_t *data, std::size_t n, ReplyKind kind);
    bool writeBytes(const std::uint8_t *data, std::size_t n, bool chunked);
    bool writePaced(const std::uint8_t *data, std::size_t n);
    // Bytes leaving the board's UART: to the bridge buffer if there is a bridge, else to the pty.
    // The first byte was complete on the wire at firstAt (default now), each next one
    // byteSeconds later.
    bool emit(const std::uint8_t *data, std::size_t n,
        std::optional<Clock::time_point> firstAt = std::nullopt, double byteSeconds = 0);
    bool flushBridge(); // the bridge buffer to the pty, one packet
    bool serviceBridge(); // flushBridge() once the latency of the waiting bytes has passed
    std::optional<Clock::time_point> bridgeDeadline() const;
    bool writeRaw(const std::uint8_t *data, std::size_t n);
    bool writeRecord(const std::uint8_t *data, std::size_t n);
    bool waitUntil(Clock::time_point when);
    void hangUp();
    void closeFds();

    int master = -1;
    int slave = -1;
    int wakeFd = -1;
    int recordFd = -1;
    std::thread thread;
    std::atomic<bool> stopping { false };
    std::atomic<bool> triggerRequested { false };

    // Board thread only.
    std::vector<std::uint8_t> pending;
    Clock::time_point pendingSince;
    Action action = Action::None;
    Clock::time_point actionDeadline;
    std::optional<Clock::time_point> triggerDeadline;
    bool waitingShortRead = false;
    std::uint8_t armedMask = 0;
    int armedPeriodCycles = 0;
    std::int64_t armedSamples = 0;
    std::uint64_t acquisitionNumber = 0;
    bool transferActive = false;
    std::int64_t nextBlock = 0;
    bool stalled = false;
    bool hungUp = false;
    int replyNumber = 0;
    std::vector<std::uint8_t> bridge; // bytes in the USB bridge, fewer than a packet
    Clock::time_point bridgeSince; // when the first byte now in the bridge entered it
    long initialRate = -1; // the pty's rate before the host set one
    long refusedRate = 0; // the wrong rate last logged
};

} // namespace sim
