// A backup and a restore through TUBackPro on the simulated tape drive: the files come
// back, each run costs the drive exactly the commands of one tape session, and tape
// failures end the run with the tape result.

#include "aspi_sim.h"
#include "backup/backup_engine.h"
#include "platform/temp_root.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fs = std::filesystem;
using namespace keldo::backup;
using namespace keldo::backup::sim;
using keldo::platform::testing::readBytes;
using keldo::platform::testing::TempRoot;
using keldo::platform::testing::writeBytes;

namespace {

std::string randomText(std::size_t size, std::uint32_t seed) {
    std::string s(size, '\0');
    for (char& ch : s) {
        seed = seed * 1664525u + 1013904223u;
        ch = static_cast<char>(seed >> 24);
    }
    return s;
}

// The commands of one tape session: the probes up to the tape target, the block length of
// 8192 the drive is opened with, rewind and wait, 4096, then the transfers, then the
// rewind that returns at once. Returns the transfers' opcodes, or fails.
std::vector<std::uint8_t> transfersOfOneSession(const std::vector<SimCommand>& commands,
                                                int tapeTarget) {
    std::vector<std::uint8_t> transfers;
    std::size_t i = 0;
    for (int t = 0; t <= tapeTarget; ++t, ++i) {
        EXPECT_LT(i, commands.size());
        if (i >= commands.size())
            return {};
        EXPECT_EQ(commands[i].opcode(), 0x12);
        EXPECT_EQ(commands[i].target, t);
    }
    const std::vector<std::vector<std::uint8_t>> opening = {
        {0x15, 0, 0, 0, 12, 0}, {0x01, 0, 0, 0, 0, 0}, {0x15, 0, 0, 0, 12, 0}};
    const std::vector<std::uint32_t> blockLengths = {8192, 0, 4096};
    for (std::size_t k = 0; k < opening.size(); ++k, ++i) {
        EXPECT_LT(i, commands.size());
        if (i >= commands.size())
            return {};
        EXPECT_EQ(commands[i].cdb, opening[k]);
        if (blockLengths[k] != 0) {
            const auto& d = commands[i].dataOut;
            EXPECT_EQ(d.size(), 12u);
            if (d.size() == 12) {
                EXPECT_EQ(std::uint32_t((d[9] << 16) | (d[10] << 8) | d[11]), blockLengths[k]);
            }
        }
    }
    for (; i + 1 < commands.size(); ++i) {
        EXPECT_EQ(commands[i].target, tapeTarget);
        EXPECT_EQ(commands[i].dataLength, 4096u);
        transfers.push_back(commands[i].opcode());
    }
    EXPECT_EQ(i + 1, commands.size());
    if (i < commands.size()) {
        EXPECT_EQ(commands[i].cdb, (std::vector<std::uint8_t>{0x01, 1, 0, 0, 0, 0}));
    }
    return transfers;
}

class TapeEngine : public ::testing::Test {
protected:
    TapeEngine() {
        bus->attach(0, 0, std::make_shared<SimDisk>());
        bus->attach(0, 3, tape);
    }
    fs::path data() const { return root.path() / "c" / "DATA"; }
    void onTape(TUBackPro& e) {
        e.BackupToTape = true;
        e.AspiManager = bus;
        e.LogFileMode = TLogFileMode::LFM_CreateNew;
        e.LogFileName = "C:\\tape.log";
    }
    std::string log() const { return readBytes(root.path() / "c" / "tape.log"); }

    TempRoot root;
    std::shared_ptr<SimScsiBus> bus = std::make_shared<SimScsiBus>();
    std::shared_ptr<SimTapeDrive> tape = std::make_shared<SimTapeDrive>();
};

} // namespace

TEST_F(TapeEngine, BackupAndRestoreRoundTrip) {
    const std::string big = randomText(9000, 7), text(5000, 'k');
    writeBytes(data() / "registro.db", big);
    writeBytes(data() / "funciona.db", text);
    writeBytes(data() / "vazio.db", "");

    TUBackPro backup;
    onTape(backup);
    backup.IncludeNames = {"C:\\DATA\\*.db"};
    backup.CompressData = TCompressData::CDM_QuickCompression;
    backup.EncryptData = true;
    backup.EncryptKey = "fita-de-sexta";
    ASSERT_EQ(backup.Backup(), kResultOk) << log();
    EXPECT_NE(log().find("Start backup to tape at "), std::string::npos);

    const std::vector<std::uint8_t> written = transfersOfOneSession(bus->commands(), 3);
    const std::size_t records = tape->records().size();
    EXPECT_GE(records, 3u); // more than 9000 random bytes, plus header and catalogue
    EXPECT_EQ(written, std::vector<std::uint8_t>(records, 0x0A));
    EXPECT_EQ(backup.Statistic().BytesWritten, static_cast<std::int64_t>(records * 4096));

    fs::remove_all(data());
    bus->clearCommands();
    TUBackPro restore;
    onTape(restore);
    restore.IncludeNames = {"*.*"};
    restore.EncryptKey = "fita-de-sexta";
    ASSERT_EQ(restore.Restore(), kResultOk) << log();
    EXPECT_NE(log().find("Start restore from tape at "), std::string::npos);
    EXPECT_EQ(readBytes(data() / "registro.db"), big);
    EXPECT_EQ(readBytes(data() / "funciona.db"), text);
    EXPECT_TRUE(fs::exists(data() / "vazio.db"));

    const std::vector<std::uint8_t> read = transfersOfOneSession(bus->commands(), 3);
    EXPECT_FALSE(read.empty());
    EXPECT_LE(read.size(), records);
    EXPECT_TRUE(std::all_of(read.begin(), read.end(), [](auto op) { return op == 0x08; }));
    EXPECT_EQ(tape->records().size(), records); // a restore writes nothing on the tape
}

TEST_F(TapeEngine, TapeFailuresEndTheRun) {
    writeBytes(data() / "registro.db", "0123456789");
    struct Case {
        const char* name;
        bool restore;
        int adapters;
        bool withTape;
        bool verify;
        std::int32_t result;
        bool commandsSent;
    };
    const std::vector<Case> cases = {
        {"backup, no host adapter", false, 0, true, false, kResultTape, false},
        {"restore, no host adapter", true, 0, true, false, kResultTape, false},
        {"backup, only a disk", false, 1, false, false, kResultTape, true},
        {"backup verified on tape", false, 1, true, true, kResultParameter, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto caseBus = std::make_shared<SimScsiBus>(c.adapters);
        caseBus->attach(0, 0, std::make_shared<SimDisk>());
        if (c.withTape)
            caseBus->attach(0, 3, tape);
        TUBackPro e;
        onTape(e);
        e.AspiManager = caseBus;
        e.IncludeNames = {c.restore ? "*.*" : "C:\\DATA\\*.*"};
        e.VerifyDuringBackup = c.verify;
        EXPECT_EQ(c.restore ? e.Restore() : e.Backup(), c.result);
        EXPECT_EQ(!caseBus->commands().empty(), c.commandsSent);
        for (const SimCommand& cmd : caseBus->commands())
            EXPECT_EQ(cmd.opcode(), 0x12);
        if (c.result == kResultTape && !c.restore) {
            EXPECT_NE(log().find("Backup aborted due to Error using the tape device"),
                      std::string::npos)
                << log();
        }
    }
    EXPECT_TRUE(tape->items().empty());
}

TEST_F(TapeEngine, RestoreFromAFailingTapeDoesNotSucceed) {
    // The tape's own read results are not looked at; the archive's checks must still stop
    // the run instead of letting it end as a good restore.
    writeBytes(data() / "registro.db", randomText(30000, 3));
    TUBackPro backup;
    onTape(backup);
    backup.IncludeNames = {"C:\\DATA\\*.db"};
    ASSERT_EQ(backup.Backup(), kResultOk);
    const std::vector<SimTapeDrive::Item> written = tape->items();
    ASSERT_GT(written.size(), 2u);

    struct Case {
        const char* name;
        std::size_t recordsKept;
        int readFaultAt; // 0: none; from then on
        std::int32_t result;
    };
    const std::vector<Case> cases = {
        {"tape ends before the archive", written.size() - 1, 0, kResultBackupRead},
        {"no block can be read", written.size(), 1, kResultNoProperBackup},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tape->load({written.begin(), written.begin() + static_cast<std::ptrdiff_t>(c.recordsKept)});
        tape->readFault = {c.readFaultAt, true};
        fs::remove_all(data());
        TUBackPro restore;
        onTape(restore);
        restore.IncludeNames = {"*.*"};
        EXPECT_EQ(restore.Restore(), c.result) << log();
    }
}
