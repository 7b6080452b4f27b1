// ferrun-board: the acquisition board behind a pseudo-terminal.
//
// Prints the device path as the first line of standard output, then serves the board until
// SIGINT or SIGTERM (or until the hang-up fault closed the pty). A line "trigger" on standard
// input fires the photodiode trigger. Events go to standard error unless --quiet.

#include "sim/boardsimulator.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr const char *kUsage
    = "usage: ferrun-board [--seed N] [--speed X] [--wire-rate BPS] [--chunk N] [--gap-us U]\n"
      "                    [--drop-reply K] [--garbage-after K] [--stall-after K]\n"
      "                    [--hangup-after K] [--extra-byte-after K] [--stray-byte-in K]\n"
      "                    [--stray-byte-at N] [--last-byte-delay MS] [--bridge-latency MS]\n"
      "                    [--bridge-packet BYTES] [--trigger-after SECONDS] [--record FILE]\n"
      "                    [--quiet]\n"
      "\n"
      "Plays the acquisition board on a pseudo-terminal whose path is printed first.\n"
      "  --seed N            signals and noise are a function of N (default 1)\n"
      "  --speed X           recording and tuning times are divided by X (default 1)\n"
      "  --wire-rate BPS     pace every reply at 11 bits a byte (default: unpaced)\n"
      "  --chunk N           send each reply in N pieces ...\n"
      "  --gap-us U          ... with U microseconds between pieces\n"
      "  --drop-reply K      never send reply K (replies count from 1)\n"
      "  --garbage-after K   send 13 unsolicited bytes after reply K\n"
      "  --stall-after K     ignore everything after reply K\n"
      "  --hangup-after K    close the pty in the middle of reply K\n"
      "  --extra-byte-after K  send reply K, a 501-byte block, as 502 bytes\n"
      "  --stray-byte-in K   send reply K, a 501-byte block, as its bytes 0..499 with a stray\n"
      "                      byte 0x5A inserted (501 bytes), then its last byte ...\n"
      "  --stray-byte-at N   ... with the stray byte at offset N, 0..500 (default 250) ...\n"
      "  --last-byte-delay MS  ... MS milliseconds later (default 0); nothing else in between\n"
      "  --bridge-latency MS  USB bridge: bytes reach the pty in packets, a packet as soon as\n"
      "                      it is full or once its first byte has waited MS ms; what it\n"
      "                      holds at a hang-up is lost (default 0: no bridge)\n"
      "  --bridge-packet BYTES  the bridge's packet size (default 64)\n"
      "  --trigger-after S   photodiode trigger S seconds after a 0x33/0x34 command\n"
      "                      (default: a line \"trigger\" on standard input)\n"
      "  --record FILE       append every byte sent to FILE\n"
      "  --quiet             no event lines on standard error\n"
      "A reply is one end byte 0x0A, one 501-byte block or one status byte.\n"
      "Once the host sets a line rate other than 921600 bit/s, bytes are ignored (logged).\n"
      "A start frame with a wrong checksum is ignored (logged).\n";

struct Failure
{
    std::string text;
};

template <class T> T number(std::string_view option, std::string_view text)
{
    T value {};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        throw Failure { std::string(option) + ": not a number: " + std::string(text) };
    return value;
}

int count(std::string_view option, std::string_view text, int lowest)
{
    const long long value = number<long long>(option, text);
    if (value < lowest || value > 2147483647)
        throw Failure { std::string(option) + ": must be at least " + std::to_string(lowest) };
    return int(value);
}

double real(std::string_view option, std::string_view text)
{
    // from_chars for double is not in g++ 12's library on every target; strtod with a full
    // consumption check is equivalent here.
    const std::string copy(text);
    char *end = nullptr;
    errno = 0;
    const double value = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size() || errno == ERANGE || !(value == value))
        throw Failure { std::string(option) + ": not a number: " + copy };
    return value;
}

sim::BoardOptions parse(int argc, char **argv, bool &quiet, bool &help)
{
    sim::BoardOptions o;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
            continue;
        }
        if (arg == "--quiet") {
            quiet = true;
            continue;
        }
        static constexpr std::string_view withValue[]
            = { "--seed", "--speed", "--wire-rate", "--chunk", "--gap-us", "--drop-reply",
                  "--garbage-after", "--stall-after", "--hangup-after", "--extra-byte-after",
                  "--stray-byte-in", "--stray-byte-at", "--last-byte-delay", "--bridge-latency",
                  "--bridge-packet", "--trigger-after", "--record" };
        bool known = false;
        for (auto name : withValue)
            known = known || arg == name;
        if (!known)
            throw Failure { "unknown option: " + std::string(argv[i]) };
        if (!hasValue) {
            if (i + 1 >= argc)
                throw Failure { std::string(arg) + ": value missing" };
            value = argv[++i];
        }
        if (arg == "--seed") {
            o.seed = number<std::uint64_t>(arg, value);
        } else if (arg == "--speed") {
            o.speed = real(arg, value);
            if (!(o.speed > 0) || o.speed > 1e12)
                throw Failure { "--speed: must be above 0" };
        } else if (arg == "--wire-rate") {
            o.wireRate = count(arg, value, 0);
        } else if (arg == "--chunk") {
            o.chunks = count(arg, value, 1);
        } else if (arg == "--gap-us") {
            o.gapUs = count(arg, value, 0);
        } else if (arg == "--drop-reply") {
            o.dropReply = count(arg, value, 0);
        } else if (arg == "--garbage-after") {
            o.garbageAfter = count(arg, value, 0);
        } else if (arg == "--stall-after") {
            o.stallAfter = count(arg, value, 0);
        } else if (arg == "--hangup-after") {
            o.hangupAfter = count(arg, value, 0);
        } else if (arg == "--extra-byte-after") {
            o.extraByteAfter = count(arg, value, 0);
        } else if (arg == "--stray-byte-in") {
            o.strayByteInReply = count(arg, value, 0);
        } else if (arg == "--stray-byte-at") {
            o.strayByteAt = count(arg, value, 0);
            if (o.strayByteAt > 500)
                throw Failure { "--stray-byte-at: must be 0..500" };
        } else if (arg == "--last-byte-delay") {
            o.lastByteDelayMs = count(arg, value, 0);
        } else if (arg == "--bridge-latency") {
            o.bridgeLatencyMs = count(arg, value, 0);
        } else if (arg == "--bridge-packet") {
            o.bridgePacketBytes = count(arg, value, 1);
        } else if (arg == "--trigger-after") {
            o.triggerAfterSeconds = real(arg, value);
            if (o.triggerAfterSeconds < 0 || o.triggerAfterSeconds > 1e9)
                throw Failure { "--trigger-after: must be 0 or more seconds" };
        } else if (arg == "--record") {
            if (value.empty())
                throw Failure { "--record: file name missing" };
            o.recordFile = std::string(value);
        }
    }
    return o;
}

std::string trimmed(std::string line)
{
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = line.find_last_not_of(" \t\r\n");
    return line.substr(first, last - first + 1);
}

} // namespace

int main(int argc, char **argv)
{
    bool quiet = false;
    bool help = false;
    sim::BoardOptions options;
    try {
        options = parse(argc, argv, quiet, help);
    } catch (const Failure &failure) {
        std::fprintf(stderr, "ferrun-board: %s (see --help)\n", failure.text.c_str());
        return 2;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    // SIGINT and SIGTERM are taken through a signalfd; blocked before the board thread starts
    // so that it inherits the mask and never receives them itself.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a record file on a closed pipe must not kill the board
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::fprintf(stderr, "ferrun-board: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    sim::BoardSimulator board(options);
    board.setKeepHistory(false); // nobody reads them here; the record file keeps the bytes
    if (!quiet)
        board.setEventLog([](const std::string &line) {
            std::fprintf(stderr, "ferrun-board: %s\n", line.c_str());
        });
    std::string error;
    if (!board.start(&error)) {
        std::fprintf(stderr, "ferrun-board: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", board.devicePath().c_str());
    std::fflush(stdout);

    std::string input;
    bool stdinOpen = true;
    for (;;) {
        pollfd fds[2] = { { signalFd, POLLIN, 0 }, { stdinOpen ? 0 : -1, POLLIN, 0 } };
        const int ready = poll(fds, 2, 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            [[maybe_unused]] auto n = read(signalFd, &info, sizeof info);
            break;
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buffer[256];
            const ssize_t n = read(0, buffer, sizeof buffer);
            if (n <= 0) {
                stdinOpen = false;
            } else {
                input.append(buffer, std::size_t(n));
                for (auto eol = input.find('\n'); eol != std::string::npos;
                     eol = input.find('\n')) {
                    const std::string line = trimmed(input.substr(0, eol));
                    input.erase(0, eol + 1);
                    if (line == "trigger")
                        board.trigger();
                    else if (!line.empty())
                        std::fprintf(stderr,
                            "ferrun-board: unknown input \"%s\" (only \"trigger\")\n",
                            line.c_str());
                }
            }
        }
        if (board.state() == sim::BoardState::HungUp) {
            if (!quiet)
                std::fprintf(stderr, "ferrun-board: the pty is closed, exiting\n");
            break;
        }
    }
    board.stop();
    close(signalFd);
    return 0;
}
