#include "archive_test_support.h"

#include "aspi_sim.h"
#include "backup/backup_errors.h"
#include "backup/checksum.h"
#include "backup/scsi_tape.h"
#include "platform/paths.h"
#include "platform/temp_root.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace keldo::backup;
using namespace keldo::backup::testing;
using keldo::platform::testing::TempRoot;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;
namespace msg = archive_messages;

namespace {

// Writes bytes in the uneven pieces the engine uses (header, count, entries, blocks).
void writeInPieces(TArchiveStream& stream, const Bytes& bytes) {
    static const std::size_t pieces[] = {263, 4, 150, 10, 4096, 10, 1, 777};
    std::size_t at = 0;
    for (std::size_t i = 0; at < bytes.size(); ++i) {
        const std::size_t n = std::min(pieces[i % std::size(pieces)], bytes.size() - at);
        stream.write(bytes.data() + at, n);
        at += n;
    }
}

Bytes readInPieces(TArchiveStream& stream, std::size_t size) {
    Bytes out(size);
    std::size_t at = 0;
    for (std::size_t piece = 1; at < size; piece = piece * 3 % 5000 + 1) {
        const std::size_t n = std::min(piece, size - at);
        EXPECT_EQ(stream.read(out.data() + at, n), n);
        at += n;
    }
    return out;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t size) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + size));
}

Bytes fileBytes(const fs::path& file) {
    const std::string s = keldo::platform::testing::readBytes(file);
    return Bytes(s.begin(), s.end());
}

template <typename E> std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "(nothing raised)";
}

class StreamTest : public ::testing::Test {
protected:
    StreamTest() { owner.disk = &disk; }
    sim::TMemoryDisk disk;
    TestOwner owner;
};

} // namespace

TEST(ArchiveNames, VolumesAndExtensions) {
    const std::pair<std::int32_t, const char*> volumes[] = {
        {1, "Backup.001"}, {12, "Backup.012"}, {999, "Backup.999"}, {1000, "Backup.1000"}};
    for (const auto& [n, name] : volumes) {
        EXPECT_EQ(TArchiveStream::volumeName("Backup", n), name);
    }
    const std::pair<const char*, const char*> paths[] = {
        {"C:\\KELDORAN32\\BACKUP\\Backup.zip", "C:\\KELDORAN32\\BACKUP\\Backup"},
        {"C:\\dir.x\\Backup", "C:\\dir.x\\Backup"},
        {"/srv/copias.d/set", "/srv/copias.d/set"},
        {"set.tar.gz", "set.tar"},
        {"Backup", "Backup"}};
    for (const auto& [path, base] : paths) {
        EXPECT_EQ(TArchiveStream::removeExtension(path), base);
    }
}

// The smallest archive: one empty file. Header, count, entry and empty block fit in one
// record, and the record goes out whole.
TEST_F(StreamTest, OneEmptyFileMakesOneRecord) {
    TCatalogueEntry entry;
    entry.path = "C:\\DADOS\\vazio.db";
    entry.checksum = checksumOf("");
    {
        TArchiveStream stream(owner, true, "/mem/set.bak");
        const auto header = encodeHeader({});
        stream.write(header.data(), header.size());
        std::uint8_t count[kEntryCountSize];
        putInt32(count, 1);
        stream.write(count, sizeof count);
        stream.writeEntry(entry);
        TBlockWriter(stream, TCompressData::CDM_MaxCompression, nullptr).writeEndBlock();
        EXPECT_TRUE(stream.dirty());
        EXPECT_EQ(stream.fillPosition(),
                  kHeaderSize + kEntryCountSize + kCatalogueEntrySize + kBlockHeaderSize);
        stream.close();
    }
    EXPECT_EQ(disk.bytes("/mem/set.bak").size(), 4096u);
    EXPECT_EQ(owner.bytesWritten, 4096);

    TArchiveStream stream(owner, false, "/mem/set.bak");
    HeaderBytes header{};
    stream.read(header.data(), header.size());
    EXPECT_EQ(decodeHeader(header).magic, kArchiveMagic);
    std::uint8_t count[kEntryCountSize];
    stream.read(count, sizeof count);
    EXPECT_EQ(getInt32(count), 1);
    const TCatalogueEntry back = stream.readEntry();
    EXPECT_EQ(back.path, entry.path);
    EXPECT_EQ(back.size, 0);
    EXPECT_EQ(back.checksum, 0xFFFFFFFFu);
    EXPECT_TRUE(TBlockReader(stream, nullptr).readBlock().empty());
    EXPECT_EQ(owner.bytesRead, 427);
}

TEST_F(StreamTest, OversizedWriteIsAProgrammingError) {
    TArchiveStream stream(owner, true, "/mem/set.bak");
    const Bytes big(4097);
    EXPECT_EQ(messageOf<EAssertionFailed>([&] { stream.write(big.data(), big.size()); }),
              "Datenblock mit 4097 zu groß");
}

// A volume ends where its disk became full, in the middle of record 3 here; the next
// volume starts with all of record 3 and the reader joins them without gap or repetition.
// Played on the real file system with a volume size limit: the prompt's handler takes the
// full "disk" out of the drive folder onto a shelf.
TEST(SpannedArchive, DiskFullInTheMiddleOfARecordJoinsSeamlessly) {
    TempRoot root;
    const fs::path drive = root.path() / "a";
    const fs::path shelf = root.path() / "shelf";
    fs::create_directories(shelf);
    const std::size_t limit = 2 * kRecordSize + 1000;
    TLocalDisk smallDisks(limit);
    EXPECT_THROW(TLocalDisk{kRecordSize - 1}, std::invalid_argument); // never a whole record
    EXPECT_NO_THROW(TLocalDisk{kRecordSize});
    TestOwner owner;
    owner.span = true;
    owner.disk = &smallDisks;
    owner.onNextDisk = [&](std::int32_t n, TReaction& reaction) {
        const fs::path previous = TArchiveStream::volumeName((drive / "Backup").string(), n - 1);
        fs::rename(previous, shelf / previous.filename());
        reaction = TReaction::AW_IGNORE;
    };
    const Bytes stream = patternBytes(5 * kRecordSize - 300);
    {
        TArchiveStream writer(owner, true, (drive / "Backup.bak").string());
        EXPECT_EQ(writer.baseName(), (drive / "Backup").string());
        writeInPieces(writer, stream);
        writer.close();
        EXPECT_EQ(writer.volumeNumber(), 3);
    }
    EXPECT_EQ(owner.prompts, (std::vector<std::int32_t>{2, 3}));
    fs::rename(drive / "Backup.003", shelf / "Backup.003");

    const Bytes v1 = fileBytes(shelf / "Backup.001");
    const Bytes v2 = fileBytes(shelf / "Backup.002");
    const Bytes v3 = fileBytes(shelf / "Backup.003");
    ASSERT_EQ(v1.size(), limit);
    EXPECT_EQ(v1, slice(stream, 0, limit)); // records 1, 2 and the start of record 3
    ASSERT_EQ(v2.size(), limit);
    EXPECT_EQ(slice(v2, 0, 2 * kRecordSize), slice(stream, 2 * kRecordSize, 2 * kRecordSize));
    EXPECT_EQ(v3.size(), kRecordSize); // record 5, whole, its tail undefined
    EXPECT_EQ(owner.bytesWritten, static_cast<std::int64_t>(5 * kRecordSize));

    // Read back as from the disks: only the volume asked for is in the drive.
    fs::copy_file(shelf / "Backup.001", drive / "Backup.001");
    owner.onNextDisk = [&](std::int32_t n, TReaction& reaction) {
        fs::remove(TArchiveStream::volumeName((drive / "Backup").string(), n - 1));
        const std::string name = TArchiveStream::volumeName("Backup", n);
        fs::copy_file(shelf / name, drive / name);
        reaction = TReaction::AW_IGNORE;
    };
    owner.prompts.clear();
    {
        TArchiveStream reader(owner, false, (drive / "Backup").string());
        EXPECT_EQ(readInPieces(reader, stream.size()), stream);
    }
    EXPECT_EQ(owner.prompts, (std::vector<std::int32_t>{2, 3}));

    // A set copied from its disks into one folder reads straight through, with no prompt.
    fs::remove_all(drive);
    fs::copy(shelf, drive);
    owner.prompts.clear();
    owner.onNextDisk = nullptr;
    {
        TArchiveStream reader(owner, false, (drive / "Backup").string());
        EXPECT_EQ(readInPieces(reader, stream.size()), stream);
    }
    EXPECT_TRUE(owner.prompts.empty());
}

TEST_F(StreamTest, SameDiskStillInTheDriveIsAskedForAgain) {
    disk.setVolumeCapacity(kRecordSize + 100);
    owner.span = true;
    owner.erase = true; // must not empty the disk that is still in the drive
    Bytes firstVolume;
    owner.onNextDisk = [&](std::int32_t, TReaction& reaction) {
        if (owner.prompts.size() == 1) {
            firstVolume = disk.bytes("/mem/Backup.001");
            return; // AW_IGNORE with the same disk: asked again
        }
        EXPECT_EQ(disk.bytes("/mem/Backup.001"), firstVolume); // untouched meanwhile
        disk.remove("/mem/Backup.001");
        reaction = TReaction::AW_IGNORE;
    };
    const Bytes stream = patternBytes(2 * kRecordSize);
    {
        TArchiveStream writer(owner, true, "/mem/Backup");
        writeInPieces(writer, stream);
        writer.close();
    }
    EXPECT_EQ(owner.prompts, (std::vector<std::int32_t>{2, 2}));
    EXPECT_EQ(firstVolume.size(), kRecordSize + 100);
    EXPECT_EQ(disk.bytes("/mem/Backup.002"), slice(stream, kRecordSize, kRecordSize));
}

TEST_F(StreamTest, VolumeOneThousandHasFourDigits) {
    disk.setVolumeCapacity(kRecordSize); // one record per disk
    owner.span = true;
    std::map<std::int32_t, Bytes> shelf;
    owner.onNextDisk = [&](std::int32_t n, TReaction&) {
        const std::string previous = TArchiveStream::volumeName("/mem/Backup", n - 1);
        shelf[n - 1] = disk.bytes(previous);
        disk.remove(previous);
    };
    const Bytes stream = patternBytes(1000 * kRecordSize, 7);
    {
        TArchiveStream writer(owner, true, "/mem/Backup");
        writeInPieces(writer, stream);
        writer.close();
        EXPECT_EQ(writer.volumeNumber(), 1000);
    }
    EXPECT_EQ(disk.fileNames(), std::vector<fs::path>{"/mem/Backup.1000"});
    EXPECT_EQ(disk.bytes("/mem/Backup.1000"), slice(stream, 999 * kRecordSize, kRecordSize));
    EXPECT_EQ(shelf[999], slice(stream, 998 * kRecordSize, kRecordSize));
}

TEST_F(StreamTest, DiskChangeAnswers) {
    struct Case {
        const char* what;
        TReaction answer;
        TReaction onCreateFailure;
        bool failCreate;
        std::string expected; // message of the error, empty when the write goes through
    };
    const Case cases[] = {
        {"abort", TReaction::AW_ABORT, TReaction::AW_IGNORE, false, msg::kDiskChangeAborted},
        {"volume cannot be created, abort", TReaction::AW_IGNORE, TReaction::AW_ABORT, true,
         msg::kCreateStream},
        {"volume cannot be created, ask again", TReaction::AW_IGNORE, TReaction::AW_IGNORE, true,
         ""},
        {"retry asks again", TReaction::AW_RETRY, TReaction::AW_IGNORE, false, ""},
    };
    for (const auto& c : cases) {
        sim::TMemoryDisk media;
        media.setVolumeCapacity(kRecordSize + 10);
        TestOwner o;
        o.disk = &media;
        o.span = true;
        o.readErrorReaction = c.onCreateFailure;
        o.onNextDisk = [&](std::int32_t, TReaction& reaction) {
            media.remove("/mem/Backup.001");
            // The first answer is the case's; then an ordinary change.
            reaction = o.prompts.size() == 1 ? c.answer : TReaction::AW_IGNORE;
            if (c.failCreate && o.prompts.size() == 1) {
                media.failCreate.arm(1);
            }
        };
        const Bytes stream = patternBytes(2 * kRecordSize);
        std::string raised;
        try {
            TArchiveStream writer(o, true, "/mem/Backup");
            writeInPieces(writer, stream);
            writer.close();
        } catch (const Exception& e) {
            raised = e.what();
        }
        EXPECT_EQ(raised, c.expected) << c.what;
        if (c.expected.empty()) {
            EXPECT_EQ(o.prompts.size(), 2u) << c.what;
            EXPECT_EQ(media.bytes("/mem/Backup.002"), slice(stream, kRecordSize, kRecordSize))
                << c.what;
        } else {
            EXPECT_EQ(o.prompts.size(), 1u) << c.what;
            EXPECT_FALSE(media.contains("/mem/Backup.002")) << c.what;
        }
    }
}

TEST_F(StreamTest, ReadBackCatchesABadWrite) {
    struct Case {
        const char* what;
        std::function<void(sim::TMemoryDisk&)> fault;
        const char* expected;
    };
    const Case cases[] = {
        {"stored bytes differ", [](sim::TMemoryDisk& d) { d.corruptWrite.arm(2); },
         msg::kCheckreadDiffers},
        {"read-back fails", [](sim::TMemoryDisk& d) { d.failRead.arm(2); }, msg::kCheckreadLength},
    };
    for (const auto& c : cases) {
        sim::TMemoryDisk media;
        TestOwner o;
        o.disk = &media;
        c.fault(media);
        const Bytes stream = patternBytes(3 * kRecordSize);
        EXPECT_EQ(messageOf<EUB_VerificationFailed>([&] {
                      TArchiveStream writer(o, true, "/mem/set.bak");
                      writeInPieces(writer, stream);
                  }),
                  c.expected)
            << c.what;
    }
}

TEST_F(StreamTest, FullDiskWithoutSpanningLosesOnlyTheRecordThatDidNotFit) {
    disk.setVolumeCapacity(5000);
    const Bytes stream = patternBytes(3 * kRecordSize);
    {
        TArchiveStream writer(owner, true, "/mem/set.bak");
        EXPECT_EQ(messageOf<EUB_DiskFullError>([&] { writeInPieces(writer, stream); }),
                  msg::kDiskFull);
        EXPECT_FALSE(writer.dirty());
        writer.close(); // the record that did not fit is not tried again
    }
    EXPECT_EQ(disk.bytes("/mem/set.bak"), slice(stream, 0, 5000));
    EXPECT_TRUE(owner.prompts.empty());
}

TEST_F(StreamTest, ReadingErrors) {
    struct Case {
        const char* what;
        std::size_t fileSize; // 0: no file
        bool span;
        bool failRead;
        std::string expected;
    };
    const Case cases[] = {
        {"missing archive", 0, false, false, msg::kCreateStream},
        {"missing first volume", 0, true, false, msg::kCreateStream},
        {"file ends early", kRecordSize + 500, false, false, msg::kEarlyEnd},
        {"I/O error", 2 * kRecordSize, false, true, msg::kReadIoError},
        {"next volume never comes", kRecordSize + 500, true, false, msg::kDiskChangeAborted},
    };
    for (const auto& c : cases) {
        sim::TMemoryDisk media;
        TestOwner o;
        o.disk = &media;
        o.span = c.span;
        const std::string file = c.span ? "/mem/Backup.001" : "/mem/Backup";
        if (c.fileSize != 0) {
            media.put(file, patternBytes(c.fileSize));
        }
        if (c.failRead) {
            media.failRead.arm(2);
        }
        std::string raised;
        try {
            TArchiveStream reader(o, false, "/mem/Backup");
            Bytes buffer(2 * kRecordSize);
            reader.read(buffer.data(), kRecordSize);
            reader.read(buffer.data(), kRecordSize);
        } catch (const Exception& e) {
            raised = e.what();
        }
        EXPECT_EQ(raised, c.expected) << c.what;
    }
}

TEST(EraseTarget, EmptiesTheArchiveFolderButNeverTheDriveRoot) {
    TempRoot root;
    struct Case {
        const char* archive;
        const char* folder; // Windows form
        bool erased;
    };
    const Case cases[] = {
        {"C:\\KELDORAN32\\BACKUP\\Backup", "C:\\KELDORAN32\\BACKUP", true},
        {"c:\\Backup", "C:\\", false},
    };
    for (const auto& c : cases) {
        const fs::path folder = keldo::platform::ensureDirectory(c.folder);
        keldo::platform::testing::writeBytes(folder / "antigo.001", "x");
        keldo::platform::testing::writeBytes(folder / "protegido.txt", "x");
        fs::permissions(folder / "protegido.txt", fs::perms::owner_read);
        keldo::platform::testing::writeBytes(folder / "sub" / "fica.txt", "x");
        TestOwner o;
        o.span = true;
        o.erase = true;
        {
            TArchiveStream writer(o, true, c.archive);
            writer.close();
        }
        EXPECT_EQ(fs::exists(folder / "antigo.001"), !c.erased) << c.archive;
        EXPECT_EQ(fs::exists(folder / "protegido.txt"), !c.erased) << c.archive;
        EXPECT_TRUE(fs::exists(folder / "sub" / "fica.txt")) << c.archive;
        EXPECT_TRUE(fs::exists(keldo::platform::toNative(std::string(c.archive) + ".001")));
    }
}

namespace {

// A tape drive that records what the stream asks of it.
class FakeTape : public TTapeDevice {
public:
    FakeTape(std::vector<std::string>& log, std::vector<Bytes>& blocks, std::int32_t openResult)
        : log_(log), blocks_(blocks), openResult_(openResult) {}
    ~FakeTape() override { log_.push_back("release"); }
    std::int32_t open() override {
        log_.push_back("open");
        return openResult_;
    }
    void rewind(bool wait) override { log_.push_back(wait ? "rewind wait" : "rewind"); }
    void setBlockLength(std::int32_t n) override { log_.push_back("block " + std::to_string(n)); }
    std::int32_t writeBlock(const std::uint8_t* buffer, std::int32_t length) override {
        log_.push_back("write " + std::to_string(length));
        blocks_.emplace_back(buffer, buffer + length);
        return 0;
    }
    std::int32_t readBlock(std::uint8_t* buffer, std::int32_t length,
                           std::int32_t& delivered) override {
        log_.push_back("read " + std::to_string(length));
        if (next_ < blocks_.size()) {
            std::copy(blocks_[next_].begin(), blocks_[next_].end(), buffer);
            ++next_;
        }
        delivered = length;
        return 0;
    }

private:
    std::vector<std::string>& log_;
    std::vector<Bytes>& blocks_;
    std::int32_t openResult_;
    std::size_t next_ = 0;
};

} // namespace

TEST(TapeArchive, OpeningFailuresNameTheirCause) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {-1, msg::kNoAspiManager}, {-2, msg::kNoHostAdapter}, {-3, msg::kNoTapeDrive}};
    for (const auto& [result, text] : cases) {
        std::vector<std::string> log;
        std::vector<Bytes> blocks;
        TestOwner o;
        o.tape = true;
        o.onCreateTape = [&, r = result] { return std::make_unique<FakeTape>(log, blocks, r); };
        EXPECT_EQ(messageOf<EUB_TapeError>([&] { TArchiveStream s(o, true, ""); }), text);
        EXPECT_EQ(log, (std::vector<std::string>{"open", "release"}));
    }
}

TEST(TapeArchive, RecordsAreTapeBlocksInOrder) {
    std::vector<std::string> log;
    std::vector<Bytes> blocks;
    TestOwner o;
    o.tape = true;
    o.span = true; // no volumes on tape
    o.onCreateTape = [&] { return std::make_unique<FakeTape>(log, blocks, 0); };
    const Bytes stream = patternBytes(kRecordSize + 700);
    {
        TArchiveStream writer(o, true, "");
        writeInPieces(writer, stream);
        writer.close();
    }
    EXPECT_EQ(log, (std::vector<std::string>{"open", "rewind wait", "block 4096", "write 4096",
                                             "write 4096", "release"}));
    EXPECT_EQ(o.bytesWritten, static_cast<std::int64_t>(2 * kRecordSize));
    EXPECT_EQ(slice(blocks[1], 0, 700), slice(stream, kRecordSize, 700));

    log.clear();
    {
        TArchiveStream reader(o, false, "");
        EXPECT_EQ(readInPieces(reader, stream.size()), stream);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"open", "rewind wait", "block 4096", "read 4096",
                                             "read 4096", "release"}));
}

// The stream over the real tape class on the simulated bus: a backup's records are the
// tape's records, and a restore reads them back.
TEST(TapeArchive, RoundTripOverTheSimulatedDrive) {
    auto bus = std::make_shared<sim::SimScsiBus>();
    auto drive = std::make_shared<sim::SimTapeDrive>();
    bus->attach(0, 4, drive);
    TestOwner o;
    o.tape = true;
    o.onCreateTape = [&] { return std::make_unique<TSCSITape>(bus); };
    TBlowfish cipher;
    cipher.setKey("fita-de-segunda");
    const Bytes file = textBytes(9000);
    {
        TArchiveStream writer(o, true, "");
        TBlockWriter blocks(writer, TCompressData::CDM_QuickCompression, &cipher);
        for (std::size_t at = 0; at < file.size(); at += kMaxBlockData) {
            blocks.writeBlock(file.data() + at, std::min(kMaxBlockData, file.size() - at));
        }
        blocks.writeEndBlock();
        writer.close();
    }
    EXPECT_EQ(drive->blockLength(), kRecordSize);
    ASSERT_FALSE(drive->records().empty());
    for (const auto& record : drive->records()) {
        EXPECT_EQ(record.size(), kRecordSize);
    }
    EXPECT_EQ(drive->position(), 0u); // released with a rewind

    TArchiveStream reader(o, false, "");
    TBlockReader blocks(reader, &cipher);
    Bytes back;
    for (auto data = blocks.readBlock(); !data.empty(); data = blocks.readBlock()) {
        back.insert(back.end(), data.begin(), data.end());
    }
    EXPECT_EQ(back, file);
}
