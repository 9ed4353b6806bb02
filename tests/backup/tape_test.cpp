// TASPI32 and TSCSITape on the simulated SCSI bus: the commands the drive receives, in
// order and field by field, what reads back, and the results of failing commands.

#include "aspi_sim.h"
#include "backup/aspi32.h"
#include "backup/scsi_tape.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using namespace keldo::backup;
using namespace keldo::backup::sim;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes modeSelectData(std::uint32_t blockLength) {
    return {0,
            0,
            0x10,
            8,
            0,
            0,
            0,
            0,
            0,
            static_cast<std::uint8_t>(blockLength >> 16),
            static_cast<std::uint8_t>(blockLength >> 8),
            static_cast<std::uint8_t>(blockLength)};
}

Bytes record(std::uint8_t seed, std::size_t size = 4096) {
    Bytes r(size);
    std::iota(r.begin(), r.end(), seed);
    return r;
}

struct TapeBus {
    std::shared_ptr<SimScsiBus> bus = std::make_shared<SimScsiBus>();
    std::shared_ptr<SimTapeDrive> tape = std::make_shared<SimTapeDrive>();
    explicit TapeBus(int tapeTarget = 4) {
        bus->attach(0, 0, std::make_shared<SimDisk>());
        bus->attach(0, tapeTarget, tape);
    }
};

// What the archive stream does with the drive: open, rewind and wait, 4096-byte blocks.
void openLikeTheStream(TSCSITape& drive) {
    ASSERT_EQ(drive.open(), 0);
    drive.rewind(true);
    drive.setBlockLength(4096);
}

} // namespace

TEST(TapeCommands, BackupSendsProbesModeSelectsRewindsAndWritesInOrder) {
    TapeBus b;
    const Bytes r1 = record(1), r2 = record(2);
    {
        TSCSITape drive(b.bus);
        ASSERT_EQ(drive.open(), 0);
        EXPECT_EQ(drive.tapeTarget(), 4); // the disk at 0 and the empty 1-3 are passed over
        EXPECT_EQ(drive.blockLength(), 8192);
        EXPECT_EQ(b.tape->blockLength(), 8192u);
        drive.rewind(true);
        drive.setBlockLength(4096);
        EXPECT_EQ(drive.blockLength(), 4096);
        EXPECT_EQ(drive.writeBlock(r1.data(), 4096), 0);
        EXPECT_EQ(drive.writeBlock(r2.data(), 4096), 0);
    }

    struct Expected {
        std::uint8_t target;
        std::uint8_t flags;
        std::uint32_t dataLength;
        Bytes cdb;
        Bytes dataOut;
    };
    const std::vector<Expected> expected = {
        {0, 0x08, 32, {0x12, 0, 0, 0, 32, 0}, {}},
        {1, 0x08, 32, {0x12, 0, 0, 0, 32, 0}, {}},
        {2, 0x08, 32, {0x12, 0, 0, 0, 32, 0}, {}},
        {3, 0x08, 32, {0x12, 0, 0, 0, 32, 0}, {}},
        {4, 0x08, 32, {0x12, 0, 0, 0, 32, 0}, {}},
        {4, 0x10, 12, {0x15, 0, 0, 0, 12, 0}, modeSelectData(8192)},
        {4, 0x08, 0, {0x01, 0, 0, 0, 0, 0}, {}},
        {4, 0x10, 12, {0x15, 0, 0, 0, 12, 0}, modeSelectData(4096)},
        {4, 0x10, 4096, {0x0A, 1, 0, 0, 1, 0}, r1},
        {4, 0x10, 4096, {0x0A, 1, 0, 0, 1, 0}, r2},
        {4, 0x08, 0, {0x01, 1, 0, 0, 0, 0}, {}}, // released: rewind without waiting
    };
    const auto& seen = b.bus->commands();
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("command " + std::to_string(i));
        EXPECT_EQ(seen[i].hostAdapter, 0);
        EXPECT_EQ(seen[i].lun, 0);
        EXPECT_EQ(seen[i].senseLength, 14);
        EXPECT_EQ(seen[i].target, expected[i].target);
        EXPECT_EQ(seen[i].flags, expected[i].flags);
        EXPECT_EQ(seen[i].dataLength, expected[i].dataLength);
        EXPECT_EQ(seen[i].cdb, expected[i].cdb);
        EXPECT_EQ(seen[i].dataOut, expected[i].dataOut);
    }
    EXPECT_EQ(b.tape->records(), (std::vector<Bytes>{r1, r2}));
    EXPECT_EQ(b.tape->position(), 0u);
}

TEST(TapeCommands, WhatIsWrittenReadsBackAfterARewind) {
    TapeBus b(6);
    const std::vector<Bytes> written = {record(7), record(8), record(9)};
    {
        TSCSITape drive(b.bus);
        openLikeTheStream(drive);
        for (const Bytes& r : written)
            EXPECT_EQ(drive.writeBlock(r.data(), 4096), 0);
    }
    b.bus->clearCommands();

    TSCSITape drive(b.bus);
    openLikeTheStream(drive);
    for (const Bytes& r : written) {
        Bytes in(4096);
        std::int32_t delivered = 0;
        EXPECT_EQ(drive.readBlock(in.data(), 4096, delivered), 0);
        EXPECT_EQ(delivered, 4096);
        EXPECT_EQ(in, r);
    }
    const SimCommand& read = b.bus->commands().back();
    EXPECT_EQ(read.cdb, (Bytes{0x08, 1, 0, 0, 1, 0}));
    EXPECT_EQ(read.flags, 0x08);
    EXPECT_EQ(read.dataLength, 4096u);
    // Reading leaves the tape as it was.
    EXPECT_EQ(b.tape->records(), written);
}

TEST(TapeCommands, FailingTransfersGiveTheDrivesSenseByte) {
    // The stream never looks at these results, but they must say what happened: a failure
    // that reads as 0 would pass for a good block.
    struct Case {
        const char* name;
        std::vector<SimTapeDrive::Item> tape;
        bool write;
        int faultCountdown;
        std::int32_t expected;
    };
    const SimTapeDrive::Item full{false, record(1)};
    const SimTapeDrive::Item shortRecord{false, record(1, 100)};
    const SimTapeDrive::Item filemark{true, {}};
    const std::vector<Case> cases = {
        {"good read", {full}, false, 0, 0},
        {"end of data", {}, false, 0, 0x48},
        {"filemark", {filemark, full}, false, 0, 0x80},
        {"record of another length", {shortRecord}, false, 0, 0x20},
        {"unreadable block", {full}, false, 1, 0x03},
        {"write fails", {}, true, 1, 0x03},
        {"second write fails, first is good", {}, true, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TapeBus b;
        b.tape->load(c.tape);
        (c.write ? b.tape->writeFault : b.tape->readFault).countdown = c.faultCountdown;
        TSCSITape drive(b.bus);
        openLikeTheStream(drive);
        Bytes buffer = record(3);
        std::int32_t delivered = -5;
        const std::int32_t result = c.write ? drive.writeBlock(buffer.data(), 4096)
                                            : drive.readBlock(buffer.data(), 4096, delivered);
        EXPECT_EQ(result, c.expected);
        if (!c.write) {
            EXPECT_EQ(delivered, 4096);
        }
    }
}

TEST(TapeCommands, ABlockLargerThanTheBlockLengthIsRefusedWithoutACommand) {
    TapeBus b;
    TSCSITape drive(b.bus);
    openLikeTheStream(drive);
    const std::size_t before = b.bus->commands().size();
    const Bytes big = record(0, 4097);
    EXPECT_EQ(drive.writeBlock(big.data(), 4097), -1);
    EXPECT_EQ(b.bus->commands().size(), before);
    EXPECT_TRUE(b.tape->records().empty());
}

TEST(TapeOpen, FailuresByCause) {
    struct Case {
        const char* name;
        std::uint8_t supportStatus;
        int adapters;
        int tapeAdapter; // -1: no tape anywhere
        std::int32_t expected;
        std::size_t probes; // INQUIRY commands sent
    };
    const std::vector<Case> cases = {
        {"library cannot start", kSsFailedInit, 1, 0, -1, 0},
        {"no host adapter", kSsComp, 0, -1, -2, 0},
        {"only a disk", kSsComp, 1, -1, -3, 8},
        {"tape on the second adapter", kSsComp, 2, 1, -3, 8},
        {"tape on the first adapter", kSsComp, 2, 0, 0, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto bus = std::make_shared<SimScsiBus>(c.adapters);
        bus->setSupportStatus(c.supportStatus);
        bus->attach(0, 0, std::make_shared<SimDisk>());
        if (c.tapeAdapter >= 0)
            bus->attach(c.tapeAdapter, 5, std::make_shared<SimTapeDrive>());
        {
            TSCSITape drive(bus);
            EXPECT_EQ(drive.open(), c.expected);
            EXPECT_EQ(drive.tapeTarget(), c.expected == 0 ? 5 : -1);
        }
        std::size_t probes = 0;
        for (const SimCommand& cmd : bus->commands()) {
            EXPECT_EQ(cmd.hostAdapter, 0);
            probes += cmd.opcode() == kScsiInquiry;
        }
        EXPECT_EQ(probes, c.probes);
        if (c.expected != 0) { // nothing but probes reaches a bus without a tape drive
            EXPECT_EQ(bus->commands().size(), c.probes);
        }
    }
}

TEST(TapeCommands, PendingRequestsAreWaitedForWhileMessagesAreProcessed) {
    TapeBus b(1);
    b.bus->setPendingPolls(3);
    int messageRounds = 0;
    const Bytes r = record(5);
    {
        TSCSITape drive(b.bus, [&] { ++messageRounds; });
        ASSERT_EQ(drive.open(), 0);
        EXPECT_EQ(drive.tapeTarget(), 1);
        // The drive still wants 8192-byte blocks: the short transfer fails at the host
        // adapter and must not read as done.
        EXPECT_EQ(drive.writeBlock(r.data(), 4096), 9);
        drive.setBlockLength(4096);
        EXPECT_EQ(drive.writeBlock(r.data(), 4096), 0);
    }
    EXPECT_EQ(b.tape->records(), std::vector<Bytes>{r});
    // Every request was read three times, with the messages processed before each read.
    EXPECT_EQ(b.bus->pollCount(), static_cast<int>(3 * b.bus->commands().size()));
    EXPECT_EQ(messageRounds, b.bus->pollCount());
}

namespace {

// A library that completes every request with one scripted outcome.
class ScriptedLibrary : public AspiLibrary {
public:
    std::uint8_t status = kSsComp;
    std::uint8_t hostStatus = 0;
    std::uint8_t targetStatus = 0;
    std::uint8_t senseKeyByte = 0;

    std::uint32_t getSupportInfo() override { return 0x0101; }
    std::uint8_t sendCommand(SrbExecScsiCmd& srb) override {
        srb.hostStatus = hostStatus;
        srb.targetStatus = targetStatus;
        srb.sense[kSenseKeyByte] = senseKeyByte;
        return srb.status = status;
    }
};

} // namespace

TEST(Aspi32, RequestStatusMapsToTheCommandResult) {
    struct Case {
        const char* name;
        std::uint8_t status, hostStatus, targetStatus, senseKeyByte;
        std::int32_t expected;
    };
    const std::vector<Case> cases = {
        {"done", kSsComp, 0, 0, 0x03, 0},
        {"aborted", kSsAborted, 0, 0, 0, 8},
        {"abort failed", kSsAbortFail, 0, 0, 0, 9},
        {"check condition: medium error", kSsErr, 0, 0x02, 0x03, 3},
        {"check condition: filemark", kSsErr, 0, 0x02, 0x80, 0x80},
        {"selection time-out", kSsErr, kHaStatSelectionTimeout, 0, 0, 9},
        {"target busy", kSsErr, 0, 0x08, 0, 9},
        {"no device", kSsNoDevice, 0, 0, 0, 9},
        {"refused request", kSsInvalidSrb, 0, 0, 0, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto library = std::make_shared<ScriptedLibrary>();
        library->status = c.status;
        library->hostStatus = c.hostStatus;
        library->targetStatus = c.targetStatus;
        library->senseKeyByte = c.senseKeyByte;
        TASPI32 aspi(library);
        const ScsiCdb6 rewind{kScsiRewind, 0, 0, 0, 0, 0};
        EXPECT_EQ(aspi.sendCommand(0, nullptr, rewind, TDataDirection::In, 0), c.expected);
        EXPECT_EQ(aspi.deviceType(0), c.expected == 0 ? 0 : -1);
    }
}
