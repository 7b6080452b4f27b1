#include "sim/board.h"
#include "sim/linerate.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace sim {

const char *boardStateName(BoardState state)
{
    switch (state) {
    case BoardState::NotStarted:
        return "not started";
    case BoardState::Idle:
        return "idle";
    case BoardState::WaitingForTrigger:
        return "waiting for trigger";
    case BoardState::Recording:
        return "recording";
    case BoardState::Tuning:
        return "tuning";
    case BoardState::Stalled:
        return "stalled";
    case BoardState::HungUp:
        return "hung up";
    case BoardState::Stopped:
        return "stopped";
    }
    return "?";
}

namespace {

std::string errnoText(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

bool BoardSimulator::Board::start(std::string *error)
{
    auto fail = [&](const std::string &text) {
        if (!thread.joinable())
            closeFds();
        if (error)
            *error = text;
        return false;
    };
    {
        std::lock_guard lock(mutex);
        if (state != BoardState::NotStarted)
            return fail("the board simulator was already started");
    }
    if (!(options.speed > 0) || !std::isfinite(options.speed))
        return fail("speed must be above 0");
    if (options.wireRate < 0 || options.chunks < 1 || options.gapUs < 0 || options.dropReply < 0
        || options.garbageAfter < 0 || options.stallAfter < 0 || options.hangupAfter < 0
        || options.extraByteAfter < 0)
        return fail("wire rate, gap and fault numbers must not be negative, chunks at least 1");
    if (options.strayByteInReply < 0 || options.strayByteAt < 0
        || options.strayByteAt > kBlockDataBytes || options.lastByteDelayMs < 0)
        return fail("the stray byte's reply and delay must not be negative, its offset 0..500");
    if (options.bridgeLatencyMs < 0 || options.bridgePacketBytes < 1)
        return fail("the bridge latency must not be negative, its packet at least 1 byte");

    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return fail(errnoText("posix_openpt"));
    if (grantpt(master) != 0)
        return fail(errnoText("grantpt"));
    if (unlockpt(master) != 0)
        return fail(errnoText("unlockpt"));
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0)
        return fail(errnoText("ptsname_r"));
    path = name;
    // Our own descriptor of the terminal side: raw before anyone else opens it, and held open so
    // that the application's close and reopen never hang up the master.
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return fail(errnoText("open terminal side"));
    termios tio {};
    if (tcgetattr(slave, &tio) != 0)
        return fail(errnoText("tcgetattr"));
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(slave, TCSANOW, &tio) != 0)
        return fail(errnoText("tcsetattr"));
    initialRate = lineRate(slave);
    const int flags = fcntl(master, F_GETFL);
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail(errnoText("fcntl"));
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0)
        return fail(errnoText("eventfd"));
    if (!options.recordFile.empty()) {
        recordFd
            = ::open(options.recordFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (recordFd < 0)
            return fail(errnoText(("record file " + options.recordFile).c_str()));
    }
    setState(BoardState::Idle);
    thread = std::thread([this] { run(); });
    return true;
}

void BoardSimulator::Board::shutDown()
{
    stopping = true;
    if (wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
    }
    if (thread.joinable())
        thread.join();
    // The wake-up descriptor stays open until destruction so that a late trigger() is harmless.
    for (int *fd : { &master, &slave, &recordFd }) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    std::lock_guard lock(mutex);
    if (state != BoardState::HungUp && state != BoardState::NotStarted)
        state = BoardState::Stopped;
    changed.notify_all();
}

void BoardSimulator::Board::requestTrigger()
{
    triggerRequested = true;
    if (wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
    }
}

void BoardSimulator::Board::closeFds()
{
    for (int *fd : { &master, &slave, &wakeFd, &recordFd }) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void BoardSimulator::Board::setState(BoardState s)
{
    {
        std::lock_guard lock(mutex);
        state = s;
    }
    changed.notify_all();
}

void BoardSimulator::Board::run()
{
    // The timed waits stand for a UART that sends the bytes of a reply back to back: they end
    // as close to their moment as the kernel allows. The default timer slack (50 us) would
    // stretch every paced reply and the board's answer to every request.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::uint8_t buffer[4096];
    while (!stopping && !hungUp) {
        if (triggerRequested.exchange(false))
            onTrigger();
        processTimers();
        if (hungUp)
            break;
        serviceBridge();

        std::optional<Clock::time_point> deadline;
        auto consider = [&](Clock::time_point t) {
            if (!deadline || t < *deadline)
                deadline = t;
        };
        if (action == Action::Record || action == Action::Tune)
            consider(actionDeadline);
        if (action == Action::WaitTrigger && triggerDeadline)
            consider(*triggerDeadline);
        if (!pending.empty())
            consider(pendingSince + std::chrono::milliseconds(kCommandTimeoutMs));
        if (const auto due = bridgeDeadline())
            consider(*due);

        timespec ts {};
        if (deadline) {
            const auto left = std::max(Clock::duration::zero(), *deadline - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            ts.tv_sec = ns / 1000000000;
            ts.tv_nsec = ns % 1000000000;
        }
        pollfd fds[2] = { { wakeFd, POLLIN, 0 }, { master, POLLIN, 0 } };
        const int ready = ppoll(fds, 2, deadline ? &ts : nullptr, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            note(errnoText("poll"));
            break;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t value;
            [[maybe_unused]] auto n = ::read(wakeFd, &value, sizeof value);
        }
        if (stopping)
            break;
        if (fds[1].revents & POLLIN) {
            for (;;) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                onBytes(buffer, std::size_t(n));
                if (hungUp || stopping)
                    break;
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            // Only possible if the terminal side lost every descriptor; ours is held open, so
            // this does not happen in practice. Avoid spinning if it does.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

void BoardSimulator::Board::sendReply(const std::uint8_t *data, std::size_t n, ReplyKind kind)
{
    if (stalled || hungUp)
        return;
    const int k = ++replyNumber;
    count([&](BoardCounters &c) { c.replies = k; });
    if (k == options.hangupAfter) {
        note("hang-up during reply " + std::to_string(k));
        writeBytes(data, n / 2, true);
        hangUp();
        return;
    }
    if (k == options.dropReply) {
        count([](BoardCounters &c) { ++c.droppedReplies; });
        note("reply " + std::to_string(k) + " dropped");
    } else {
        // Counted before the bytes go out, so that whoever has read the reply sees it counted.
        count([&](BoardCounters &c) {
            switch (kind) {
            case ReplyKind::End:
                ++c.endBytes;
                break;
            case ReplyKind::Block:
                ++c.blocks;
                break;
            case ReplyKind::Status:
                ++c.statusBytes;
                break;
            }
        });
        std::vector<std::uint8_t> reply(data, data + n);
        if (kind == ReplyKind::Block && k == options.extraByteAfter) {
            // The block and one byte more, in one piece as a confused controller would send.
            reply.push_back(data[n - 1]);
            note("reply " + std::to_string(k) + " sent with one byte too many");
            count([](BoardCounters &c) { ++c.extraBytes; });
        }
        if (kind == ReplyKind::Block && k == options.strayByteInReply) {
            // A stray byte inside the block makes 501 bytes before the block's last byte, which
            // follows after the delay; the board sends nothing else in between.
            std::vector<std::uint8_t> early(reply.begin(), reply.begin() + kBlockDataBytes);
            early.insert(early.begin() + options.strayByteAt, kStrayByte);
            note("reply " + std::to_string(k) + " sent with a stray byte at offset "
                + std::to_string(options.strayByteAt) + ", its last byte "
                + std::to_string(options.lastByteDelayMs) + " ms later");
            count([](BoardCounters &c) { ++c.strayBytes; });
            if (!writeBytes(early.data(), early.size(), true)
                || !waitUntil(Clock::now() + std::chrono::milliseconds(options.lastByteDelayMs))
                || !writeBytes(
                    reply.data() + kBlockDataBytes, reply.size() - kBlockDataBytes, false))
                return;
        } else if (!writeBytes(reply.data(), reply.size(), true)) {
            return;
        }
    }
    if (k == options.garbageAfter) {
        std::uint8_t garbage[kGarbageBytes];
        std::uint64_t word = mix64(options.seed ^ 0x6A7BA6E);
        for (int i = 0; i < kGarbageBytes; ++i) {
            if (i % 8 == 0)
                word = mix64(word);
            garbage[i] = std::uint8_t(word >> (8 * (i % 8)));
        }
        note("garbage after reply " + std::to_string(k));
        count([](BoardCounters &c) { c.garbageBytes += kGarbageBytes; });
        if (!writeBytes(garbage, sizeof garbage, false))
            return;
    }
    if (k == options.stallAfter) {
        note("stalled after reply " + std::to_string(k));
        stalled = true;
        action = Action::None;
        triggerDeadline.reset();
        pending.clear();
        setState(BoardState::Stalled);
    }
}

bool BoardSimulator::Board::writeBytes(const std::uint8_t *data, std::size_t n, bool chunked)
{
    const std::size_t pieces = chunked ? std::min<std::size_t>(std::size_t(options.chunks), n) : 1;
    std::size_t offset = 0;
    for (std::size_t p = 0; p < pieces; ++p) {
        const std::size_t size = n / pieces + (p < n % pieces ? 1 : 0);
        if (p > 0 && options.gapUs > 0
            && !waitUntil(Clock::now() + std::chrono::microseconds(options.gapUs)))
            return false;
        const bool ok
            = options.wireRate > 0 ? writePaced(data + offset, size) : emit(data + offset, size);
        if (!ok)
            return false;
        offset += size;
    }
    return true;
}

bool BoardSimulator::Board::writePaced(const std::uint8_t *data, std::size_t n)
{
    // Byte i is complete on the wire (i + 1) byte times after the start: 11 bits a byte
    // (start, 8 data, parity, stop).
    const double byteSeconds = 11.0 / options.wireRate;
    const auto start = Clock::now();
    std::size_t done = 0;
    while (done < n) {
        const auto due = start + span(byteSeconds * double(done + 1));
        if (!waitUntil(due))
            return false;
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const std::size_t ready
            = std::min(n, std::max(done + 1, std::size_t(elapsed / byteSeconds)));
        if (!emit(data + done, ready - done, start + span(byteSeconds * double(done + 1)),
                byteSeconds))
            return false;
        done = ready;
    }
    return true;
}

bool BoardSimulator::Board::emit(const std::uint8_t *data, std::size_t n,
    std::optional<Clock::time_point> firstAt, double byteSeconds)
{
    if (options.bridgeLatencyMs <= 0)
        return writeRaw(data, n);
    // A packet filled goes out at once; the bytes after it wait from the moment the first of
    // them entered, which a late board thread may have left in the past.
    const std::size_t packet = std::size_t(options.bridgePacketBytes);
    const auto first = firstAt.value_or(Clock::now());
    std::size_t done = 0;
    while (done < n) {
        if (bridge.empty())
            bridgeSince = first + span(byteSeconds * double(done));
        const std::size_t take = std::min(n - done, packet - bridge.size());
        bridge.insert(bridge.end(), data + done, data + done + take);
        done += take;
        if (bridge.size() == packet && !flushBridge())
            return false;
    }
    return true;
}

bool BoardSimulator::Board::flushBridge()
{
    // Taken out first: bytes a failed write leaves behind are lost, as over a broken USB link.
    std::vector<std::uint8_t> out;
    out.swap(bridge);
    return out.empty() || writeRaw(out.data(), out.size());
}

bool BoardSimulator::Board::serviceBridge()
{
    const auto due = bridgeDeadline();
    if (!due || Clock::now() < *due)
        return true;
    return flushBridge();
}

std::optional<Clock::time_point> BoardSimulator::Board::bridgeDeadline() const
{
    if (bridge.empty())
        return std::nullopt;
    return bridgeSince + std::chrono::milliseconds(options.bridgeLatencyMs);
}

bool BoardSimulator::Board::writeRaw(const std::uint8_t *data, std::size_t n)
{
    while (n > 0) {
        // The lock is held from the write to the pty until the history, the counters and the
        // record file hold the bytes, so whoever has read them and then asks sent(), counters()
        // or (after either) the record file finds them there.
        ssize_t w;
        std::string recordError;
        {
            std::lock_guard lock(mutex);
            w = ::write(master, data, n);
            if (w > 0) {
                if (recordFd >= 0 && !writeRecord(data, std::size_t(w))) {
                    recordError = errnoText("record file");
                    ::close(recordFd);
                    recordFd = -1;
                }
                if (keepHistory)
                    sentBytes.insert(sentBytes.end(), data, data + w);
                counters.bytesSent += w;
                ++counters.writes;
            }
        }
        if (w > 0) {
            changed.notify_all();
            if (!recordError.empty())
                note(recordError);
            data += w;
            n -= std::size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno == EAGAIN) {
            // The terminal side's queue is full: wait for the application to read.
            pollfd fds[2] = { { wakeFd, POLLIN, 0 }, { master, POLLOUT, 0 } };
            if (ppoll(fds, 2, nullptr, nullptr) < 0 && errno != EINTR)
                return false;
            if (fds[0].revents & POLLIN) {
                std::uint64_t value;
                [[maybe_unused]] auto r = ::read(wakeFd, &value, sizeof value);
            }
            if (stopping)
                return false;
            continue;
        }
        note(errnoText("write"));
        return false;
    }
    return true;
}

bool BoardSimulator::Board::writeRecord(const std::uint8_t *data, std::size_t n)
{
    while (n > 0) {
        const ssize_t r = ::write(recordFd, data, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        data += r;
        n -= std::size_t(r);
    }
    return true;
}

bool BoardSimulator::Board::waitUntil(Clock::time_point when)
{
    for (;;) {
        if (stopping)
            return false;
        // The bridge goes on delivering while the board waits.
        serviceBridge();
        auto next = when;
        if (const auto due = bridgeDeadline(); due && *due < next)
            next = *due;
        const auto now = Clock::now();
        if (now >= when)
            return true;
        const auto left = next - now;
        if (left <= Clock::duration::zero())
            continue;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec ts { ns / 1000000000, ns % 1000000000 };
        pollfd fd { wakeFd, POLLIN, 0 };
        if (ppoll(&fd, 1, &ts, nullptr) > 0 && (fd.revents & POLLIN)) {
            // A trigger wake-up stays noted in triggerRequested for the main loop.
            std::uint64_t value;
            [[maybe_unused]] auto r = ::read(wakeFd, &value, sizeof value);
        }
    }
}

void BoardSimulator::Board::hangUp()
{
    // Closing the master discards whatever the terminal side has not read yet, so first let the
    // application take the partial reply (the input queue is shared with our own descriptor).
    // Written bytes reach that queue a moment later, hence the short first wait. The bridge
    // goes on delivering meanwhile; what it still holds at the close is lost.
    const auto giveUp = Clock::now() + std::chrono::milliseconds(kHangupDrainMs);
    waitUntil(Clock::now() + std::chrono::milliseconds(20));
    for (;;) {
        int queued = 0;
        if (ioctl(slave, TIOCINQ, &queued) != 0 || queued == 0 || Clock::now() >= giveUp)
            break;
        if (!waitUntil(Clock::now() + std::chrono::milliseconds(2)))
            break;
    }
    hungUp = true;
    for (int *fd : { &master, &slave }) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (!bridge.empty()) {
        // Unplugged: what the bridge still held never reaches the host.
        note(std::to_string(bridge.size()) + " bytes in the USB bridge lost");
        bridge.clear();
    }
    action = Action::None;
    setState(BoardState::HungUp);
}

BoardSimulator::BoardSimulator(BoardOptions options)
    : m_board(std::make_unique<Board>(std::move(options)))
{
}

BoardSimulator::~BoardSimulator() = default;

bool BoardSimulator::start(std::string *error)
{
    return m_board->start(error);
}

std::string BoardSimulator::devicePath() const
{
    return m_board->path;
}

void BoardSimulator::trigger()
{
    m_board->requestTrigger();
}

void BoardSimulator::stop()
{
    m_board->shutDown();
}

std::vector<std::uint8_t> BoardSimulator::received() const
{
    std::lock_guard lock(m_board->mutex);
    return m_board->receivedBytes;
}

std::vector<std::uint8_t> BoardSimulator::sent() const
{
    std::lock_guard lock(m_board->mutex);
    return m_board->sentBytes;
}

BoardState BoardSimulator::state() const
{
    std::lock_guard lock(m_board->mutex);
    return m_board->state;
}

BoardCounters BoardSimulator::counters() const
{
    std::lock_guard lock(m_board->mutex);
    return m_board->counters;
}

Recording BoardSimulator::memory() const
{
    std::lock_guard lock(m_board->mutex);
    return m_board->memory;
}

double BoardSimulator::lastRecordingSeconds() const
{
    std::lock_guard lock(m_board->mutex);
    return m_board->lastRecordingSeconds;
}

bool BoardSimulator::waitFor(const std::function<bool(const BoardCounters &)> &predicate,
    std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_board->mutex);
    return m_board->changed.wait_for(lock, timeout, [&] { return predicate(m_board->counters); });
}

bool BoardSimulator::waitForState(BoardState state, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_board->mutex);
    return m_board->changed.wait_for(lock, timeout, [&] { return m_board->state == state; });
}

void BoardSimulator::setKeepHistory(bool keep)
{
    std::lock_guard lock(m_board->mutex);
    m_board->keepHistory = keep;
}

void BoardSimulator::setEventLog(std::function<void(const std::string &)> log)
{
    m_board->log = std::move(log);
}

} // namespace sim
