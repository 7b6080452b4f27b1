#pragma once

// The application's end of the simulated board, on the bare terminal device: open raw, write
// commands, read replies with generous time-outs.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

class PtyLink
{
public:
    explicit PtyLink(const std::string &path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return;
        termios tio {};
        tcgetattr(m_fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~PtyLink() { close(); }
    PtyLink(const PtyLink &) = delete;
    PtyLink &operator=(const PtyLink &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    bool write(const Bytes &bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return false;
            done += std::size_t(n);
        }
        return true;
    }

    // Reads until n bytes have arrived, the time-out passes or the line is hung up.
    Bytes read(std::size_t n, std::chrono::milliseconds timeout = 10s)
    {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + timeout;
        std::uint8_t buffer[1024];
        while (out.size() < n && !m_hungUp) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd fd { m_fd, POLLIN, 0 };
            if (::poll(&fd, 1, int(left.count())) <= 0)
                continue;
            const std::size_t want = std::min(sizeof buffer, n - out.size());
            const ssize_t got = ::read(m_fd, buffer, want);
            if (got > 0)
                out.insert(out.end(), buffer, buffer + got);
            else if (got == 0 || (errno != EAGAIN && errno != EINTR))
                m_hungUp = true;
            else if (fd.revents & POLLHUP)
                m_hungUp = true;
        }
        return out;
    }

    // Everything that arrives within the window (used to show that nothing more comes).
    Bytes readFor(std::chrono::milliseconds window) { return read(1 << 20, window); }

    bool hungUp() const { return m_hungUp; }

private:
    int m_fd = -1;
    bool m_hungUp = false;
};

// A start frame with its checksum; d1, d2 of 256 travel as 0x00.
inline Bytes startFrame(std::uint8_t code, std::uint8_t mask, int d1, int d2, int blocks)
{
    Bytes frame { code, mask, std::uint8_t(d1 & 0xFF), std::uint8_t(d2 & 0xFF),
        std::uint8_t((8 - blocks) * 32) };
    unsigned sum = 0;
    for (auto b : frame)
        sum += b;
    frame.push_back(std::uint8_t(sum & 0xFF));
    return frame;
}

inline Bytes transferCommand(bool averaged, std::uint8_t mask, int blocks)
{
    return { std::uint8_t(averaged ? 0x90 : 0x80), mask, 0x00, 0x00,
        std::uint8_t((8 - blocks) * 32) };
}

} // namespace simtest
