// The archive stream on the simulated tape drive through TSCSITape: the SCSI commands a
// whole archive costs, the archive reading back from the drive's records, and the opening
// failures as the stream reports them.

#include "archive_test_support.h"
#include "aspi_sim.h"
#include "backup/archive_stream.h"
#include "backup/backup_errors.h"
#include "backup/scsi_tape.h"

#include <gtest/gtest.h>

using namespace keldo::backup;
using namespace keldo::backup::sim;
using keldo::backup::testing::patternBytes;
using keldo::backup::testing::TestOwner;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Opcode and byte 1 (fixed / immediate) of each command, with the block length a MODE
// SELECT carried, so that a whole sequence reads at a glance.
std::vector<std::string> summary(const std::vector<SimCommand>& commands) {
    std::vector<std::string> out;
    for (const SimCommand& c : commands) {
        switch (c.opcode()) {
        case kScsiInquiry:
            out.push_back("inquiry " + std::to_string(c.target));
            break;
        case kScsiModeSelect6:
            out.push_back("block " + std::to_string((c.dataOut[9] << 16) | (c.dataOut[10] << 8) |
                                                    c.dataOut[11]));
            break;
        case kScsiRewind:
            out.push_back(c.cdb[1] ? "rewind" : "rewind wait");
            break;
        case kScsiWrite6:
            out.push_back("write " + std::to_string(c.dataLength));
            break;
        case kScsiRead6:
            out.push_back("read " + std::to_string(c.dataLength));
            break;
        default:
            out.push_back("opcode " + std::to_string(c.opcode()));
        }
    }
    return out;
}

} // namespace

TEST(TapeStream, ArchiveWrittenAndReadOnTheDrive) {
    auto bus = std::make_shared<SimScsiBus>();
    auto tape = std::make_shared<SimTapeDrive>();
    bus->attach(0, 0, std::make_shared<SimDisk>());
    bus->attach(0, 2, tape);
    TestOwner owner;
    owner.tape = true;
    owner.onCreateTape = [&] { return std::make_unique<TSCSITape>(bus); };

    const Bytes archive = patternBytes(2 * kRecordSize + 263);
    {
        TArchiveStream writer(owner, true, "");
        for (std::size_t at = 0; at < archive.size(); at += 1000)
            writer.write(archive.data() + at, std::min<std::size_t>(1000, archive.size() - at));
        writer.close();
    }
    const std::vector<std::string> opening = {"inquiry 0",  "inquiry 1",   "inquiry 2",
                                              "block 8192", "rewind wait", "block 4096"};
    std::vector<std::string> expected = opening;
    expected.insert(expected.end(), {"write 4096", "write 4096", "write 4096", "rewind"});
    EXPECT_EQ(summary(bus->commands()), expected);
    const std::vector<Bytes> records = tape->records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(tape->blockLength(), 4096u);
    EXPECT_EQ(Bytes(records[2].begin(), records[2].begin() + 263),
              Bytes(archive.end() - 263, archive.end()));

    bus->clearCommands();
    {
        TArchiveStream reader(owner, false, "");
        Bytes back(archive.size());
        for (std::size_t at = 0; at < back.size(); at += 1000)
            reader.read(back.data() + at, std::min<std::size_t>(1000, back.size() - at));
        EXPECT_EQ(back, archive);
    }
    expected = opening;
    expected.insert(expected.end(), {"read 4096", "read 4096", "read 4096", "rewind"});
    EXPECT_EQ(summary(bus->commands()), expected);
}

TEST(TapeStream, OpeningFailuresRaiseTapeErrors) {
    struct Case {
        std::uint8_t supportStatus;
        int adapters;
        const char* message;
    };
    const std::vector<Case> cases = {
        {kSsFailedInit, 1, "ASPI-Manager not found"},
        {kSsComp, 0, "No SCSI host adapter found"},
        {kSsComp, 1, "No SCSI tape drive found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        auto bus = std::make_shared<SimScsiBus>(c.adapters);
        bus->setSupportStatus(c.supportStatus);
        bus->attach(0, 0, std::make_shared<SimDisk>());
        TestOwner owner;
        owner.tape = true;
        owner.onCreateTape = [&] { return std::make_unique<TSCSITape>(bus); };
        try {
            TArchiveStream writer(owner, true, "");
            ADD_FAILURE() << "the stream opened";
        } catch (const EUB_TapeError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        for (const SimCommand& cmd : bus->commands())
            EXPECT_EQ(cmd.opcode(), kScsiInquiry); // nothing reached a drive
    }
}
