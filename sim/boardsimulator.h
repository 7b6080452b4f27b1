#pragma once

#include "sim/recording.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// Command bytes the board understands (first byte of each command) and its reply bytes.
namespace command {
constexpr std::uint8_t StartNow = 0x13; // 6 bytes: code, mask, d1, d2, block code, sum
constexpr std::uint8_t StartOnTrigger = 0x33; // same frame, recording starts at the trigger
constexpr std::uint8_t ShortRead = 0x14; // 3 bytes: code, mask, 0x00
constexpr std::uint8_t ShortReadOnTrigger = 0x34;
constexpr std::uint8_t ReRead = 0x16; // 2 bytes: code, block code
constexpr std::uint8_t Transfer = 0x80; // 5 bytes: code, mask, 0x00, 0x00, block code
constexpr std::uint8_t TransferAveraged = 0x90;
constexpr std::uint8_t NextBlock = 0x81; // 1 byte
constexpr std::uint8_t NextBlockAveraged = 0x91; // 1 byte
constexpr std::uint8_t TuneBegin = 0x10; // 1 byte
constexpr std::uint8_t TuneEnd = 0x11; // 1 byte
constexpr std::uint8_t Probe = 0x29; // 1 byte, never answered
} // namespace command

constexpr std::uint8_t kEndOfRecording = 0x0A;
constexpr std::uint8_t kStatusTuning = 0x10;
constexpr std::uint8_t kStatusTuned = 0x11;
constexpr double kTuningSeconds = 1.0; // from 0x10 to the unsolicited 0x11, divided by speed
constexpr int kGarbageBytes = 13; // unsolicited bytes sent by the garbage fault
constexpr int kCommandTimeoutMs = 200; // a command left incomplete this long is dropped
constexpr double kShortReadTimeScaleSeconds = 1.0; // signal time scale of a short read
constexpr int kHangupDrainMs = 500; // the hang-up first lets the partial reply be read
constexpr long kLineRate = 921600; // the only line rate the board talks at
constexpr std::uint8_t kStrayByte = 0x5A; // the byte the stray-byte fault puts inside a block

// What counts as "a reply" for the fault options: every unit the board sends in answer to one
// command, and the unsolicited 0x11 that ends tuning. These are: the end byte 0x0A of a
// recording, one 501-byte block (transfer, next-block request, short read, re-read), and one
// status byte (0x10 or 0x11). Replies are numbered 1, 2, 3, … in the order the board starts to
// send them; a dropped reply keeps its number. Garbage bytes are not replies.
//
// The stray-byte fault: reply K, if it is a block, goes out as the block's bytes 0..499 with
// the byte kStrayByte (0x5A) inserted at offset strayByteAt (0..500), 501 bytes that a host
// takes for the whole block; lastByteDelayMs later the block's real last byte (byte 500)
// follows. The board does nothing else meanwhile: requests that arrive during the delay are
// answered after the late byte. Combined with the extra-byte fault on the same reply, the
// extra byte follows the late byte. If reply K is not a block, the option does nothing.
//
// The USB bridge: with bridgeLatencyMs above 0, the bytes the board sends (at the wire rate if
// wireRate is set, in pieces if chunks is) enter a bridge buffer instead of the pty; the bridge
// writes them to the pty in packets: a packet goes out as soon as it holds bridgePacketBytes
// bytes, or once bridgeLatencyMs have passed since the first byte now waiting in it entered,
// whichever comes first. So the tail of every reply short of a whole packet is held for up to
// the latency, never longer. The history, record file and byte counters follow the pty, not
// the buffer; bytes still in the buffer when the hang-up fault closes the pty are lost.
struct BoardOptions
{
    std::uint64_t seed = 1;
    double speed = 1.0; // recording time is divided by this
    int wireRate = 0; // bits per second, 11 bits a byte; 0 = unpaced
    int chunks = 1; // each reply goes out in this many pieces ...
    int gapUs = 0; // ... with this pause between pieces
    int dropReply = 0; // 1-based number of a reply that is never sent; 0 = none
    int garbageAfter = 0; // after reply K, send unsolicited garbage bytes; 0 = none
    int stallAfter = 0; // after reply K, ignore everything (silence); 0 = none
    int hangupAfter = 0; // close the pty during reply K; 0 = none
    int extraByteAfter = 0; // reply K, a 501-byte block, goes out with one byte too many
    int strayByteInReply = 0; // reply K, a 501-byte block, carries a stray byte; 0 = none
    int strayByteAt = 250; // ... at this offset of the block, 0..500 ...
    int lastByteDelayMs = 0; // ... and its real last byte follows this much later
    int bridgeLatencyMs = 0; // USB bridge latency; 0 = no bridge, bytes go straight to the pty
    int bridgePacketBytes = 64; // USB bridge packet size, at least 1
    // Photodiode trigger this long after a 0x33/0x34 command; <0: wait for trigger().
    double triggerAfterSeconds = -1;
    std::string recordFile; // every byte sent is appended here; empty = none
};

enum class BoardState {
    NotStarted,
    Idle,
    WaitingForTrigger, // a 0x33 start frame or a 0x34 short read waits for the photodiode
    Recording, // recording; the end byte follows after the recording time
    Tuning, // 0x10 answered; 0x11 follows
    Stalled, // the stall fault struck: everything is ignored
    HungUp, // the hang-up fault struck: the pty is closed
    Stopped,
};

const char *boardStateName(BoardState state);

// Counts of what the board has seen and done; a consistent snapshot is returned by counters().
// Replies and garbage are counted as they begin to go out (before their first byte), bytes and
// writes once written.
struct BoardCounters
{
    int probes = 0; // 0x29
    int startFrames = 0; // start frames accepted (0x13 and 0x33)
    int badChecksums = 0; // start frames ignored for a wrong checksum
    int transfers = 0; // 0x80 and 0x90
    int blockRequests = 0; // 0x81 and 0x91
    int shortReads = 0; // 0x14 and 0x34
    int reReads = 0; // 0x16
    int tuneBegins = 0; // 0x10
    int tuneEnds = 0; // 0x11
    int ignoredBytes = 0; // bytes of unknown or untimely commands, and all bytes once stalled
    int incompleteCommands = 0; // commands dropped after kCommandTimeoutMs without their rest
    int triggers = 0; // triggers that started an acquisition
    int ignoredTriggers = 0; // triggers while nothing waited for one
    int recordingsDone = 0; // recordings that ran to their end
    int replies = 0; // replies begun, dropped ones included
    int droppedReplies = 0;
    int endBytes = 0; // 0x0A sent
    int blocks = 0; // 501-byte blocks sent
    int statusBytes = 0; // 0x10 and 0x11 sent
    int garbageBytes = 0;
    int extraBytes = 0; // bytes sent beyond a block by the extra-byte fault
    int strayBytes = 0; // stray bytes put inside a block by the stray-byte fault
    int wrongRateBytes = 0; // bytes received while the host's line rate was not 921600
    int writes = 0; // write() calls that put at least one byte on the pty
    std::int64_t bytesReceived = 0;
    std::int64_t bytesSent = 0;
};

// The acquisition board behind a pseudo-terminal, served by its own thread.
//
// The application opens devicePath() as it would open the board's serial port. The board
// keeps a descriptor of the terminal side open itself (never read), so the application may
// close and reopen the port without the board noticing a hang-up.
//
// Protocol, from the board's side:
//   - start frame 0x13/0x33 with a correct checksum: records blocks × 30000 samples at the
//     sample period (3 × (d1 + 1) × d2 + 55) / 14745600 s (d1, d2 of 0 mean 256), i.e. stays
//     silent for the recording time divided by speed, then sends 0x0A. 0x33 first waits for the
//     photodiode trigger. A wrong checksum: the frame is ignored.
//   - transfer 0x80/0x90 starts block 0 of the memory; each 0x81/0x91 sends the next block. A
//     block's sample sequence is raw for 0x80/0x81 and averaged (16 samples) for 0x90/0x91.
//     Requests without a preceding transfer are ignored. The transfer's mask and block code are
//     not looked at: the memory holds what the last recording recorded, and blocks past its end
//     continue the same signals (the memory wraps after 240000 samples).
//   - the trigger-after option is wall-clock time, not divided by speed.
//   - short read 0x14/0x34: 250 fresh samples of the mask's channels at the fastest period
//     (21 cycles) in one block; 0x34 waits for the trigger first. The memory is not changed.
//   - re-read 0x16: block 0 of the memory, raw.
//   - tuning 0x10: status 0x10 at once, 0x11 after kTuningSeconds / speed; a 0x11 from the
//     application during tuning ends it at once with status 0x11; otherwise 0x11 is ignored.
//   - 0x29 and anything else: ignored.
//   - the line: once the host has set a line rate on the terminal side (any rate other than
//     the one the pty had when the board started), bytes that arrive while it is not 921600
//     bit/s are not understood: they are ignored, counted and logged.
//   - a start frame, short read or 0x10 abandons a recording, trigger wait or tuning in
//     progress; transfers, requests and re-reads during a recording or trigger wait are ignored.
class BoardSimulator
{
public:
    explicit BoardSimulator(BoardOptions options = {});
    ~BoardSimulator(); // stops and closes the pty
    bool start(std::string *error = nullptr); // opens the pty, starts the board thread
    std::string devicePath() const; // the path the application opens, e.g. /dev/pts/7
    void trigger(); // the photodiode trigger
    void stop();
    std::vector<std::uint8_t> received() const; // every byte received from the application so far
    std::vector<std::uint8_t> sent() const; // every byte sent so far

    BoardState state() const;
    BoardCounters counters() const;
    // The acquisition last made by a start frame (what transfers and re-reads send); empty
    // before the first one.
    Recording memory() const;
    // The true recording time of the last start frame, seconds (not divided by speed).
    double lastRecordingSeconds() const;
    // Waits until the predicate holds on the counters, or the time-out passes; true if it holds.
    bool waitFor(const std::function<bool(const BoardCounters &)> &predicate,
        std::chrono::milliseconds timeout) const;
    bool waitForState(BoardState state, std::chrono::milliseconds timeout) const;
    // Whether received() and sent() keep every byte (the default). A long-running session that
    // never looks at them, such as the application's built-in board, turns this off so that
    // memory does not grow with every transfer; the counters and the record file go on.
    void setKeepHistory(bool keep);
    // Called on the board thread with one line for each event (recording started, ended, …).
    // Set before start().
    void setEventLog(std::function<void(const std::string &)> log);

    BoardSimulator(const BoardSimulator &) = delete;
    BoardSimulator &operator=(const BoardSimulator &) = delete;

private:
    class Board;
    std::unique_ptr<Board> m_board;
};

} // namespace sim
