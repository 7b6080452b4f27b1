#include "sim/board.h"
#include "sim/linerate.h"

#include <cstdio>
#include <string>

namespace sim {

namespace {

// Bytes of the command that starts with this byte; unknown bytes are one-byte commands.
std::size_t commandLength(std::uint8_t first)
{
    switch (first) {
    case command::StartNow:
    case command::StartOnTrigger:
        return 6;
    case command::Transfer:
    case command::TransferAveraged:
        return 5;
    case command::ShortRead:
    case command::ShortReadOnTrigger:
        return 3;
    case command::ReRead:
        return 2;
    default:
        return 1;
    }
}

std::string hex(std::uint8_t b)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

std::string seconds(double s)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", s);
    return text;
}

} // namespace

void BoardSimulator::Board::onBytes(const std::uint8_t *data, std::size_t n)
{
    {
        std::lock_guard lock(mutex);
        if (keepHistory)
            receivedBytes.insert(receivedBytes.end(), data, data + n);
        counters.bytesReceived += std::int64_t(n);
        if (stalled)
            counters.ignoredBytes += int(n);
    }
    changed.notify_all();
    if (stalled)
        return;
    // A UART at another rate would see only framing errors: the bytes mean nothing.
    const long rate = lineRate(slave);
    if (rate != initialRate && rate != kLineRate) {
        count([&](BoardCounters &c) {
            c.wrongRateBytes += int(n);
            c.ignoredBytes += int(n);
        });
        if (rate != refusedRate)
            note("line rate " + std::to_string(rate) + " bit/s refused: the board talks at "
                + std::to_string(kLineRate) + " bit/s only; bytes ignored");
        refusedRate = rate;
        pending.clear();
        return;
    }
    refusedRate = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (stalled) {
            count([&](BoardCounters &c) { c.ignoredBytes += int(n - i); });
            return;
        }
        if (pending.empty())
            pendingSince = Clock::now();
        pending.push_back(data[i]);
        if (pending.size() == commandLength(pending[0])) {
            const std::vector<std::uint8_t> cmd = std::move(pending);
            pending.clear();
            execute(cmd);
            if (hungUp || stopping)
                return;
        }
    }
}

void BoardSimulator::Board::abandonAction()
{
    action = Action::None;
    triggerDeadline.reset();
    waitingShortRead = false;
    setState(BoardState::Idle);
}

void BoardSimulator::Board::execute(const std::vector<std::uint8_t> &cmd)
{
    const std::uint8_t code = cmd[0];
    switch (code) {
    case command::Probe:
        count([](BoardCounters &c) { ++c.probes; });
        return;

    case command::StartNow:
    case command::StartOnTrigger: {
        unsigned sum = 0;
        for (int i = 0; i < 5; ++i)
            sum += cmd[std::size_t(i)];
        if ((sum & 0xFF) != cmd[5]) {
            count([](BoardCounters &c) {
                ++c.badChecksums;
                c.ignoredBytes += 6;
            });
            note("start frame ignored: checksum " + hex(cmd[5]) + ", expected "
                + hex(std::uint8_t(sum)));
            return;
        }
        abandonAction();
        transferActive = false;
        const int d1 = cmd[2] ? cmd[2] : 256;
        const int d2 = cmd[3] ? cmd[3] : 256;
        const int blocks = blocksFromCode(cmd[4]);
        armedMask = cmd[1];
        armedPeriodCycles = samplePeriodCycles(d1, d2);
        armedSamples = std::int64_t(blocks) * kBlockSamples;
        const double trueSeconds = recordingSeconds(d1, d2, blocks);
        {
            std::lock_guard lock(mutex);
            ++counters.startFrames;
            lastRecordingSeconds = trueSeconds;
        }
        changed.notify_all();
        note("start frame " + hex(code) + ": mask " + hex(cmd[1]) + ", d1 " + std::to_string(d1)
            + ", d2 " + std::to_string(d2) + ", " + std::to_string(blocks)
            + " blocks; recording time " + seconds(trueSeconds));
        if (code == command::StartNow) {
            beginRecording();
        } else {
            action = Action::WaitTrigger;
            waitingShortRead = false;
            if (options.triggerAfterSeconds >= 0)
                triggerDeadline = Clock::now() + span(options.triggerAfterSeconds);
            setState(BoardState::WaitingForTrigger);
            note("waiting for the photodiode trigger");
        }
        return;
    }

    case command::ShortRead:
    case command::ShortReadOnTrigger:
        count([](BoardCounters &c) { ++c.shortReads; });
        abandonAction();
        armedMask = cmd[1];
        if (code == command::ShortRead) {
            sendShortRead(false);
        } else {
            action = Action::WaitTrigger;
            waitingShortRead = true;
            if (options.triggerAfterSeconds >= 0)
                triggerDeadline = Clock::now() + span(options.triggerAfterSeconds);
            setState(BoardState::WaitingForTrigger);
            note("short read waiting for the photodiode trigger");
        }
        return;

    case command::ReRead: {
        count([&](BoardCounters &c) {
            ++c.reReads;
            if (busy())
                c.ignoredBytes += 2;
        });
        if (busy())
            return;
        std::uint8_t block[kBlockReplyBytes];
        Recording copy;
        {
            std::lock_guard lock(mutex);
            copy = memory;
        }
        copy.fillBlock(false, 0, block);
        sendReply(block, sizeof block, ReplyKind::Block);
        return;
    }

    case command::Transfer:
    case command::TransferAveraged:
        count([&](BoardCounters &c) {
            ++c.transfers;
            if (busy())
                c.ignoredBytes += 5;
        });
        if (busy())
            return;
        transferActive = true;
        nextBlock = 0;
        sendBlock(code == command::TransferAveraged);
        return;

    case command::NextBlock:
    case command::NextBlockAveraged: {
        const bool ignored = busy() || !transferActive;
        count([&](BoardCounters &c) {
            ++c.blockRequests;
            if (ignored)
                c.ignoredBytes += 1;
        });
        if (!ignored)
            sendBlock(code == command::NextBlockAveraged);
        return;
    }

    case command::TuneBegin: {
        count([](BoardCounters &c) { ++c.tuneBegins; });
        abandonAction();
        action = Action::Tune;
        actionDeadline = Clock::now() + span(kTuningSeconds / options.speed);
        setState(BoardState::Tuning);
        const std::uint8_t status = kStatusTuning;
        sendReply(&status, 1, ReplyKind::Status);
        return;
    }

    case command::TuneEnd: {
        const bool tuning = action == Action::Tune;
        count([&](BoardCounters &c) {
            ++c.tuneEnds;
            if (!tuning)
                c.ignoredBytes += 1;
        });
        if (!tuning)
            return;
        abandonAction();
        const std::uint8_t status = kStatusTuned;
        sendReply(&status, 1, ReplyKind::Status);
        return;
    }

    default:
        count([](BoardCounters &c) { c.ignoredBytes += 1; });
        return;
    }
}

void BoardSimulator::Board::processTimers()
{
    if (stalled)
        return;
    const auto now = Clock::now();
    if (!pending.empty() && now - pendingSince >= std::chrono::milliseconds(kCommandTimeoutMs)) {
        const int dropped = int(pending.size());
        count([&](BoardCounters &c) {
            ++c.incompleteCommands;
            c.ignoredBytes += dropped;
        });
        note("incomplete command " + hex(pending[0]) + " dropped");
        pending.clear();
    }
    if (action == Action::WaitTrigger && triggerDeadline && now >= *triggerDeadline) {
        triggerDeadline.reset();
        onTrigger();
    }
    if (action == Action::Record && now >= actionDeadline) {
        abandonAction();
        count([](BoardCounters &c) { ++c.recordingsDone; });
        note("recording done");
        const std::uint8_t end = kEndOfRecording;
        sendReply(&end, 1, ReplyKind::End);
    } else if (action == Action::Tune && now >= actionDeadline) {
        abandonAction();
        const std::uint8_t status = kStatusTuned;
        sendReply(&status, 1, ReplyKind::Status);
    }
}

void BoardSimulator::Board::onTrigger()
{
    if (stalled || action != Action::WaitTrigger) {
        count([](BoardCounters &c) { ++c.ignoredTriggers; });
        return;
    }
    count([](BoardCounters &c) { ++c.triggers; });
    note("photodiode trigger");
    if (waitingShortRead) {
        abandonAction();
        sendShortRead(true);
    } else {
        beginRecording();
    }
}

void BoardSimulator::Board::beginRecording()
{
    const Recording recording(options.seed, ++acquisitionNumber, armedMask, armedPeriodCycles,
        armedSamples, action == Action::WaitTrigger);
    {
        std::lock_guard lock(mutex);
        memory = recording;
    }
    action = Action::Record;
    triggerDeadline.reset();
    actionDeadline = Clock::now() + span(recording.durationSeconds() / options.speed);
    setState(BoardState::Recording);
}

void BoardSimulator::Board::sendShortRead(bool onTrigger)
{
    const Recording fresh(options.seed, ++acquisitionNumber, armedMask, kFastPeriodCycles,
        kBlockWireSamples, onTrigger, kShortReadTimeScaleSeconds);
    std::uint8_t block[kBlockReplyBytes];
    fresh.fillBlock(false, 0, block);
    sendReply(block, sizeof block, ReplyKind::Block);
}

void BoardSimulator::Board::sendBlock(bool averaged)
{
    Recording copy;
    {
        std::lock_guard lock(mutex);
        copy = memory;
    }
    std::uint8_t block[kBlockReplyBytes];
    copy.fillBlock(averaged, nextBlock++, block);
    sendReply(block, sizeof block, ReplyKind::Block);
}

} // namespace sim
