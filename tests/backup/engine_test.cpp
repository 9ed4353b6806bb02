#include "backup/backup_engine.h"
#include "backup/backup_errors.h"
#include "platform/file_attributes.h"
#include "platform/temp_root.h"

#include <system_error>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace keldo::backup {
namespace {

using platform::testing::TempRoot;

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// Moves a file's modification time, so that date comparisons do not depend on the clock.
void setModified(const fs::path& file, std::chrono::seconds fromNow) {
    fs::last_write_time(file, fs::file_time_type::clock::now() + fromNow);
}

std::vector<std::string> paths(const TUBackPro& engine) {
    std::vector<std::string> out;
    for (const TCatalogueEntry& e : engine.FileList()) {
        out.push_back(e.path);
    }
    return out;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(c()); }
    fs::path c() const { return root_.path() / "c"; }
    fs::path data() const { return c() / "DATA"; }

    // A backup of spec into C:\BACKUP\<name>, logged into C:\backup.log.
    void prepareBackup(TUBackPro& e, std::vector<std::string> include,
                       const std::string& name = "set.arc") {
        e.IncludeNames = std::move(include);
        e.BackupDestination = "C:\\BACKUP";
        e.ArchiveBaseName = name;
        e.LogFileMode = TLogFileMode::LFM_CreateNew;
        e.LogFileName = "C:\\backup.log";
        e.HandleOpenError = TReaction::AW_IGNORE;
    }
    void prepareRestore(TUBackPro& e, const std::string& name = "set.arc") {
        e.BackupDestination = "C:\\BACKUP";
        e.ArchiveBaseName = name;
        e.LogFileMode = TLogFileMode::LFM_CreateNew;
        e.LogFileName = "C:\\restore.log";
    }
    std::string backupLog() const { return readAll(c() / "backup.log"); }
    std::string restoreLog() const { return readAll(c() / "restore.log"); }

    TempRoot root_;
};

TEST(EngineText, ErrorTexts) {
    EXPECT_EQ(TUBackPro::ErrorText(9), "Error during read of a backup archive");
    EXPECT_EQ(TUBackPro::ErrorText(98), "Error during verification of files");
    EXPECT_EQ(TUBackPro::ErrorText(42), "Other error (Error code 42)");
    TUBackPro e;
    e.BackupDestination = "A:\\";
    EXPECT_EQ(e.DiskPromptText(2),
              "Please insert the Disk No. 2 into drive A:\\ and press OK or ABORT to stop "
              "processing");
    e.Messages = {"100%% disco %d %s %s %x"}; // a changed text cannot read missing arguments
    EXPECT_EQ(e.DiskPromptText(3), "100% disco 3 A:\\ %s %x");
}

TEST_F(EngineTest, ParameterErrorsComeBeforeTheScan) {
    TUBackPro e;
    int scans = 0;
    e.OnStartFileScan = [&](const std::string&, TReaction&) { ++scans; };
    prepareBackup(e, {"C:\\DATA\\*.*"}, "set.x");
    e.SpanDisks = true;
    EXPECT_EQ(e.Backup(), kResultParameter);
    e.SpanDisks = false;
    e.IncludeNames.clear();
    EXPECT_EQ(e.Backup(), kResultParameter);
    EXPECT_EQ(scans, 0);
    EXPECT_NE(backupLog().find("Backup aborted due to Error due to illegal values of parameters"),
              std::string::npos);
}

TEST_F(EngineTest, ScanWithSubfoldersWarningAndSummaryFirst) {
    writeFile(data() / "a.db", "alpha");
    writeFile(data() / "SUB" / "b.DB", "beta");
    writeFile(data() / "SUB" / "c.txt", "gamma");
    writeFile(data() / ".hidden.db", "h");
    TUBackPro e;
    prepareBackup(e, {"C:\\NOWHERE\\*.db", "C:\\DATA\\*.DB/S"});
    ASSERT_EQ(e.Backup(), kResultOk);
    EXPECT_EQ(paths(e), (std::vector<std::string>{"C:\\DATA\\a.db", "C:\\DATA\\SUB\\b.DB"}));
    EXPECT_EQ(e.WarningCount(), 1);
    const std::string log = backupLog();
    const auto summary = log.find("Start backup to C:\\BACKUP\\set.arc at ");
    const auto warning = log.find("WARNING #1: C:\\NOWHERE\\*.db was not found\r\n");
    const auto perFile = log.find("File C:\\DATA\\a.db backed up successfully\r\n");
    ASSERT_NE(summary, std::string::npos);
    ASSERT_NE(warning, std::string::npos);
    ASSERT_NE(perFile, std::string::npos);
    EXPECT_EQ(summary, 0u);
    EXPECT_LT(summary, warning);
    EXPECT_NE(log.find("Warnings during backup: 1\r\n"), std::string::npos);
    EXPECT_NE(log.find("Backed up 2 files\r\n"), std::string::npos);
    EXPECT_NE(log.find("     9 read\r\n"), std::string::npos);

    // Appending keeps the first run's lines and puts the second summary after them.
    e.LogFileMode = TLogFileMode::LFM_Append;
    e.IncludeNames = {"C:\\DATA\\a.db"};
    ASSERT_EQ(e.Backup(), kResultOk);
    const std::string both = backupLog();
    EXPECT_EQ(both.compare(0, log.size(), log), 0);
    EXPECT_LT(both.find("Backed up 1 files", log.size()),
              both.find("File C:\\DATA\\a.db backed up", log.size()));
}

TEST_F(EngineTest, ExcludeRulesWithAndWithoutFolder) {
    writeFile(data() / "keep.db", "k");
    writeFile(data() / "x.tmp", "t");
    writeFile(data() / "SUB" / "y.tmp", "t");
    writeFile(data() / "SUB" / "keep2.db", "k");
    struct {
        std::vector<std::string> exclude;
        bool recurse;
        std::vector<std::string> left;
    } cases[] = {
        {{"*.TMP"}, false, {"C:\\DATA\\keep.db", "C:\\DATA\\SUB\\keep2.db"}},
        {{"C:\\DATA\\*.TMP"},
         false,
         {"C:\\DATA\\keep.db", "C:\\DATA\\SUB\\keep2.db", "C:\\DATA\\SUB\\y.tmp"}},
        {{"C:\\DATA\\*.TMP/S"}, false, {"C:\\DATA\\keep.db", "C:\\DATA\\SUB\\keep2.db"}},
        {{"c:\\data\\*.tmp"}, true, {"C:\\DATA\\keep.db", "C:\\DATA\\SUB\\keep2.db"}},
    };
    for (const auto& tc : cases) {
        TUBackPro e;
        prepareBackup(e, {"C:\\DATA\\*.*/S"});
        e.ExcludeNames = tc.exclude;
        e.RecurseSubDir = tc.recurse;
        e.KeepArchiveFlags = true;
        ASSERT_EQ(e.Backup(), kResultOk);
        EXPECT_EQ(paths(e), tc.left) << tc.exclude.front();
    }
}

TEST_F(EngineTest, EmptySelectionWritesNoArchive) {
    TUBackPro e;
    prepareBackup(e, {"C:\\DATA\\*.none"});
    fs::create_directories(data());
    ASSERT_EQ(e.Backup(), kResultOk);
    EXPECT_FALSE(fs::exists(c() / "BACKUP" / "set.arc"));
    EXPECT_NE(backupLog().find("Backed up 0 files"), std::string::npos);
}

TEST_F(EngineTest, IncrementalThenDifferentialSelection) {
    writeFile(data() / "a.db", "1");
    writeFile(data() / "b.db", "2");
    TUBackPro e;
    prepareBackup(e, {"C:\\DATA\\*.db"});
    e.BackupMode = TBackupMode::BM_Incremental;
    ASSERT_EQ(e.Backup(), kResultOk);
    EXPECT_EQ(e.FileCount(), 2u);
    ASSERT_EQ(e.Backup(), kResultOk); // attributes cleared by the first run
    EXPECT_EQ(e.FileCount(), 0u);

    writeFile(data() / "b.db", "22");
    e.BackupMode = TBackupMode::BM_Differential;
    for (int run = 0; run < 2; ++run) { // never clears, so b.db stays selected
        ASSERT_EQ(e.Backup(), kResultOk);
        EXPECT_EQ(paths(e), std::vector<std::string>{"C:\\DATA\\b.db"}) << run;
    }
    e.BackupMode = TBackupMode::BM_Incremental;
    ASSERT_EQ(e.Backup(), kResultOk);
    EXPECT_EQ(e.FileCount(), 1u);
    ASSERT_EQ(e.Backup(), kResultOk);
    EXPECT_EQ(e.FileCount(), 0u);

    // Special: by date only.
    setModified(data() / "a.db", std::chrono::hours(-48));
    e.BackupMode = TBackupMode::BM_Special;
    e.SpecialBackupDate = platform::dateTimeFromTimeT(std::time(nullptr) - 24 * 3600);
    ASSERT_EQ(e.Backup(), kResultOk);
    EXPECT_EQ(paths(e), std::vector<std::string>{"C:\\DATA\\b.db"});
}

TEST_F(EngineTest, RoundTripEncryptedAndCompressed) {
    std::string big;
    for (int i = 0; i < 3000; ++i) {
        big += "funciona;" + std::to_string(i * 7919 % 1000) + ";registro\r\n";
    }
    writeFile(data() / "big.db", big);
    writeFile(data() / "empty.db", "");
    writeFile(data() / "Ação.db", "acentos");
    TUBackPro e;
    prepareBackup(e, {"C:\\DATA\\*.db"});
    e.CompressData = TCompressData::CDM_MaxCompression;
    e.EncryptData = true;
    e.EncryptKey = "uma chave longa";
    e.VerifyDuringBackup = true;
    int files = 0;
    e.OnStatistic = [&](TBackupStatistic& s, bool&) {
        ++files;
        EXPECT_EQ(s.BytesVerified, s.BytesWritten);
    };
    ASSERT_EQ(e.Backup(), kResultOk);
    EXPECT_EQ(files, 3);
    EXPECT_NE(backupLog().find("backed up and verified successfully"), std::string::npos);
    EXPECT_NE(backupLog().find("Compression : 1:"), std::string::npos);

    fs::remove_all(data());
    TUBackPro r;
    prepareRestore(r);
    r.EncryptKey = "uma chave longa"; // EncryptData false: the header decides
    r.IncludeNames = {"big.db", "empty.db", "ação.db"};
    ASSERT_EQ(r.Restore(), kResultOk) << restoreLog();
    EXPECT_EQ(readAll(data() / "big.db"), big);
    EXPECT_TRUE(fs::exists(data() / "empty.db"));
    EXPECT_EQ(readAll(data() / "Ação.db"), "acentos");
    EXPECT_EQ(r.Statistic().FilesDone, 3);
    EXPECT_EQ(r.Statistic().PercentDone, 100);

    // The wrong key decrypts into garbage, which never passes as the file.
    fs::remove_all(data());
    r.EncryptKey = "outra chave longa";
    const std::int32_t code = [&]() -> std::int32_t {
        try {
            return r.Restore();
        } catch (const std::exception&) {
            return kResultOther; // zlib's own error on the garbage
        }
    }();
    EXPECT_NE(code, kResultOk);
    EXPECT_NE(readAll(data() / "big.db"), big);
}

TEST_F(EngineTest, FileChangedAfterScanGivesCrcErrorAndTheRestGoesOn) {
    writeFile(data() / "a.db", "original");
    writeFile(data() / "b.db", "second");
    TUBackPro e;
    prepareBackup(e, {"C:\\DATA\\*.db"});
    e.OnEndFileScan = [&](const std::string&, TReaction&) {
        writeFile(data() / "a.db", "changed!"); // after its checksum, before its data
    };
    ASSERT_EQ(e.Backup(), kResultOk);

    fs::remove_all(data());
    TUBackPro r;
    prepareRestore(r);
    r.IncludeNames = {"*.db"};
    ASSERT_EQ(r.Restore(), kResultOk);
    const std::string log = restoreLog();
    EXPECT_NE(log.find("Error (CRC checksum is different from original file and data most likely "
                       "damaged) occured during restore of C:\\DATA\\a.db"),
              std::string::npos)
        << log;
    EXPECT_EQ(readAll(data() / "a.db"), "changed!"); // left in place
    ASSERT_EQ(r.RestoreFailures().size(), 1u);
    EXPECT_EQ(r.RestoreFailures()[0].path, "C:\\DATA\\a.db");
    EXPECT_NE(log.find("C:\\DATA\\b.db successfully restored to C:\\DATA\\b.db"),
              std::string::npos);
    EXPECT_EQ(readAll(data() / "b.db"), "second");
}

// A redirected restore never writes outside its target: an entry with fewer
// folders than the target has goes into the target by its name.
TEST_F(EngineTest, RedirectCutsTheFirstKSeparators) {
    writeFile(data() / "SUB" / "A.DB", "sub");
    writeFile(c() / "A.DB", "top");
    TUBackPro e;
    prepareBackup(e, {"C:\\DATA\\SUB\\A.DB", "C:\\A.DB"});
    ASSERT_EQ(e.Backup(), kResultOk);
    fs::remove(c() / "A.DB");

    TUBackPro r;
    prepareRestore(r);
    r.IncludeNames = {"A.DB"};
    r.RedirectRestore = true;
    r.RestoreTo = "D:\\REST"; // K = 2 once the trailing backslash is added
    ASSERT_EQ(r.Restore(), kResultOk);
    EXPECT_EQ(readAll(root_.path() / "d" / "REST" / "SUB" / "A.DB"), "sub");
    EXPECT_EQ(readAll(root_.path() / "d" / "REST" / "A.DB"), "top");
    EXPECT_FALSE(fs::exists(c() / "A.DB")); // never its stored place
    EXPECT_NE(restoreLog().find("Restore to D:\\REST instead of original locations"),
              std::string::npos);
    EXPECT_NE(restoreLog().find("C:\\A.DB successfully restored to D:\\REST\\A.DB (fewer "
                                "folders than the target: written into it by name)"),
              std::string::npos)
        << restoreLog();

    r.RedirectRestore = true;
    r.RestoreTo.clear();
    EXPECT_EQ(r.Restore(), kResultParameter);
}

// A target deeper than every stored path: everything lands under it, the
// files at their stored places stay as they were, to the byte and the time.
// Below the common folder, a backup of one folder restores straight into
// the target and two folders stay apart.
TEST_F(EngineTest, RedirectedRestoreWritesOnlyUnderItsTarget) {
    writeFile(data() / "LIVE.DB", "live");
    writeFile(data() / "SUB" / "B.DB", "b");
    TUBackPro e;
    prepareBackup(e, {"C:\\DATA\\*.*/S"});
    ASSERT_EQ(e.Backup(), kResultOk);
    writeFile(data() / "LIVE.DB", "newer live");
    const auto liveTime = fs::last_write_time(data() / "LIVE.DB");

    for (const bool common : {false, true}) {
        SCOPED_TRACE(common);
        const fs::path to = root_.path() / (common ? "common" : "deep") / "a" / "b" / "c" / "d";
        TUBackPro r;
        prepareRestore(r);
        ASSERT_EQ(r.ReadCatalog(), kResultOk);
        for (const TCatalogueEntry& entry : r.FileList())
            r.IncludeNames.push_back(entry.path);
        ASSERT_EQ(r.IncludeNames.size(), 2u);
        r.RedirectRestore = true;
        r.RedirectBelowCommonFolder = common;
        r.RestoreTo = to.string();
        ASSERT_EQ(r.Restore(), kResultOk) << restoreLog();
        EXPECT_EQ(readAll(to / "LIVE.DB"), "live");
        EXPECT_EQ(readAll(to / (common ? "SUB/B.DB" : "B.DB")), "b");
        EXPECT_EQ(readAll(data() / "LIVE.DB"), "newer live");
        EXPECT_EQ(fs::last_write_time(data() / "LIVE.DB"), liveTime);
    }
}

TEST_F(EngineTest, RestoreModes) {
    writeFile(data() / "old.db", "archived");
    writeFile(data() / "new.db", "archived");
    writeFile(data() / "gone.db", "archived");
    for (const char* f : {"old.db", "new.db", "gone.db"}) {
        setModified(data() / f, std::chrono::hours(-1));
    }
    TUBackPro e;
    prepareBackup(e, {"C:\\DATA\\*.db"});
    ASSERT_EQ(e.Backup(), kResultOk);

    struct {
        TRestoreMode mode;
        const char* old;  // target older than the archive copy
        const char* same; // target as new as the archive copy
        bool gone;        // missing target created
    } cases[] = {
        {TRestoreMode::RM_All, "archived", "archived", true},
        {TRestoreMode::RM_Newer, "archived", "local", false},
        {TRestoreMode::RM_NewerAndNew, "archived", "local", true},
    };
    for (const auto& tc : cases) {
        writeFile(data() / "old.db", "local");
        setModified(data() / "old.db", std::chrono::hours(-3));
        writeFile(data() / "new.db", "local");
        setModified(data() / "new.db", std::chrono::hours(-1));
        fs::remove(data() / "gone.db");
        TUBackPro r;
        prepareRestore(r);
        r.IncludeNames = {"*.db"};
        r.RestoreMode = tc.mode;
        ASSERT_EQ(r.Restore(), kResultOk);
        EXPECT_EQ(readAll(data() / "old.db"), tc.old) << static_cast<int>(tc.mode);
        EXPECT_EQ(readAll(data() / "new.db"), tc.same) << static_cast<int>(tc.mode);
        EXPECT_EQ(fs::exists(data() / "gone.db"), tc.gone) << static_cast<int>(tc.mode);
        EXPECT_EQ(r.Statistic().FilesDone, 3); // dealt with, written or not
    }

    // No include lines: everything is read past, nothing written.
    fs::remove_all(data());
    TUBackPro r;
    prepareRestore(r);
    ASSERT_EQ(r.Restore(), kResultOk);
    EXPECT_FALSE(fs::exists(data()));
}

TEST_F(EngineTest, ReadCatalogResults) {
    fs::create_directories(c() / "BACKUP");
    writeFile(c() / "BACKUP" / "big.arc", std::string(4096, 'x'));
    writeFile(c() / "BACKUP" / "short.arc", std::string(4095, 'x'));
    struct {
        const char* name;
        std::int32_t code;
    } cases[] = {{"missing.arc", kResultCreateStream},
                 {"big.arc", kResultNoProperBackup},
                 {"short.arc", kResultBackupRead}};
    for (const auto& tc : cases) {
        TUBackPro e;
        e.BackupDestination = "C:\\BACKUP";
        e.ArchiveBaseName = tc.name;
        EXPECT_EQ(e.ReadCatalog(), tc.code) << tc.name;
    }
    TUBackPro e;
    e.ArchiveBaseName = "x";
    EXPECT_EQ(e.ReadCatalog(), kResultParameter);
    // Waiting for a first volume that never comes: the prompt's Abort reaches the caller.
    e.BackupDestination = "C:\\BACKUP";
    e.SpanDisks = true;
    int prompts = 0;
    e.DiskPrompt = [&](const std::string&) {
        ++prompts;
        return prompts < 3 ? TReaction::AW_IGNORE : TReaction::AW_ABORT;
    };
    EXPECT_THROW(e.ReadCatalog(), EUB_WrongMedium);
    EXPECT_EQ(prompts, 3);
}

TEST_F(EngineTest, OneEmptyFileMakesOneRecord) {
    writeFile(data() / "empty.db", "");
    TUBackPro e;
    prepareBackup(e, {"C:\\DATA\\empty.db"});
    ASSERT_EQ(e.Backup(), kResultOk);
    EXPECT_EQ(fs::file_size(c() / "BACKUP" / "set.arc"), 4096u);
    TUBackPro r;
    prepareRestore(r);
    ASSERT_EQ(r.ReadCatalog(), kResultOk);
    ASSERT_EQ(r.FileCount(), 1u);
    EXPECT_EQ(r.FileEntry(0).size, 0);
    EXPECT_EQ(r.FileEntry(0).checksum, 0xFFFFFFFFu);
}

TEST_F(EngineTest, ParentComponentEntryIsSkipped) {
    writeFile(data() / "ab" / "x.db", "escape");
    writeFile(data() / "y.db", "fine");
    TUBackPro e;
    prepareBackup(e, {"C:\\DATA\\ab\\x.db", "C:\\DATA\\y.db"});
    ASSERT_EQ(e.Backup(), kResultOk);
    // Turn the stored "C:\DATA\ab\x.db" into "C:\DATA\..\x.db" (same length).
    std::string archive = readAll(c() / "BACKUP" / "set.arc");
    const auto at = archive.find("C:\\DATA\\ab\\x.db");
    ASSERT_NE(at, std::string::npos);
    archive.replace(at + 8, 2, "..");
    writeFile(c() / "BACKUP" / "set.arc", archive);
    fs::remove_all(data());

    TUBackPro r;
    prepareRestore(r);
    r.IncludeNames = {"*.db"};
    ASSERT_EQ(r.Restore(), kResultOk);
    EXPECT_FALSE(fs::exists(c() / "x.db"));
    EXPECT_EQ(readAll(data() / "y.db"), "fine");
    EXPECT_NE(restoreLog().find("occured during restore of C:\\DATA\\..\\x.db"), std::string::npos);
}

// Rewrites the stored name `from` (its length byte and text) as `to`, which
// must not be longer: what a crafted archive holds.
void craftName(std::string& archive, const std::string& from, const std::string& to) {
    const auto at = archive.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    ASSERT_GT(at, 0u);
    ASSERT_LE(to.size(), from.size());
    ASSERT_EQ(static_cast<unsigned char>(archive[at - 1]), from.size());
    archive[at - 1] = static_cast<char>(to.size());
    archive.replace(at, to.size(), to);
}

// Names no restore may write where they point: to stored paths only what
// lies in the drive folders is written, to a target folder everything lands
// inside it; each refusal is an error line and a failure of the run.
TEST_F(EngineTest, CraftedNamesStayInsideTheTargetOrAreRefused) {
    const std::string stored = "C:\\DATA\\" + std::string(90, 'n') + ".txt";
    writeFile(data() / (std::string(90, 'n') + ".txt"), "payload");
    writeFile(data() / "ok.txt", "fine");
    TUBackPro e;
    prepareBackup(e, {stored, "C:\\DATA\\ok.txt"});
    ASSERT_EQ(e.Backup(), kResultOk);
    const std::string original = readAll(c() / "BACKUP" / "set.arc");
    const fs::path outside = root_.path() / "outside";
    fs::create_directories(outside);
    const fs::path cwd = fs::current_path();
    fs::current_path(outside); // where a folderless name would otherwise land

    const struct {
        std::string name;
        bool refusedToStoredPaths;
    } cases[] = {
        {(outside / "abs.txt").string(), true},        {"bare.txt", true},
        {std::string("C:\\DATA\\a\0b.txt", 15), true}, {"", true},
        {"C:\\DATA\\SUB\\crafted.txt", false},
    };
    for (const auto& c : cases) {
        for (const bool redirect : {false, true}) {
            SCOPED_TRACE(c.name + (redirect ? " to a target" : " to stored paths"));
            std::string archive = original;
            craftName(archive, stored, c.name);
            writeFile(this->c() / "BACKUP" / "set.arc", archive);
            const fs::path to = root_.path() / "target";
            fs::remove_all(to);
            TUBackPro r;
            prepareRestore(r);
            ASSERT_EQ(r.ReadCatalog(), kResultOk);
            for (const TCatalogueEntry& entry : r.FileList())
                r.IncludeNames.push_back(entry.path.empty() ? "*" : entry.path);
            r.RedirectRestore = redirect;
            r.RedirectBelowCommonFolder = true;
            r.RestoreTo = to.string();
            ASSERT_EQ(r.Restore(), kResultOk) << restoreLog();
            EXPECT_TRUE(fs::is_empty(outside));
            // An empty name is selected by no include line; any other refused
            // name is an error line and a failure of the run.
            const bool refused = !c.name.empty() && (c.name.find('\0') != std::string::npos ||
                                                     (!redirect && c.refusedToStoredPaths));
            ASSERT_EQ(r.RestoreFailures().size(), refused ? 1u : 0u) << restoreLog();
            if (refused) {
                EXPECT_EQ(r.RestoreFailures()[0].path, c.name);
                EXPECT_NE(restoreLog().find("Error ("), std::string::npos);
            }
            // Whatever was written is below the target (to stored paths, in
            // the drive folder).
            const fs::path allowed = redirect ? to : this->c();
            for (const auto& f : fs::recursive_directory_iterator(root_.path())) {
                const std::string bytes = f.is_regular_file() ? readAll(f.path()) : "";
                if ((bytes == "payload" || bytes == "fine") &&
                    f.path().string().rfind(allowed.string(), 0) != 0 &&
                    f.path().parent_path() != data())
                    ADD_FAILURE() << "written outside: " << f.path();
            }
            fs::remove_all(data() / "SUB");
        }
    }
    fs::current_path(cwd);
}

// A link at the final path is replaced, never written through; one at the
// temporary name is passed over; a linked folder inside the target that
// leads out of it is refused.
TEST_F(EngineTest, LinksNeverLeadARestoreOutside) {
    writeFile(data() / "a.db", "archived a");
    writeFile(data() / "SUB" / "b.db", "archived b");
    TUBackPro e;
    prepareBackup(e, {"C:\\DATA\\*.db/S"});
    ASSERT_EQ(e.Backup(), kResultOk);
    const fs::path outside = root_.path() / "outside";
    writeFile(outside / "victim", "keep me");
    writeFile(outside / "victim2", "keep me too");

    fs::remove(data() / "a.db");
    fs::create_symlink(outside / "victim", data() / "a.db");
    fs::create_symlink(outside / "victim2", data() / "SUB" / "b.db.keldo-parcial");
    TUBackPro r;
    prepareRestore(r);
    r.IncludeNames = {"*.db"};
    r.RecurseSubDir = true;
    ASSERT_EQ(r.Restore(), kResultOk) << restoreLog();
    EXPECT_TRUE(r.RestoreFailures().empty()) << restoreLog();
    EXPECT_EQ(readAll(outside / "victim"), "keep me");
    EXPECT_EQ(readAll(outside / "victim2"), "keep me too");
    EXPECT_FALSE(fs::is_symlink(data() / "a.db"));
    EXPECT_EQ(readAll(data() / "a.db"), "archived a");
    EXPECT_EQ(readAll(data() / "SUB" / "b.db"), "archived b");

    const fs::path to = root_.path() / "target";
    fs::create_directories(to);
    fs::create_symlink(outside, to / "SUB");
    TUBackPro t;
    prepareRestore(t);
    t.IncludeNames = {"*.db"};
    t.RecurseSubDir = true;
    t.RedirectRestore = true;
    t.RedirectBelowCommonFolder = true;
    t.RestoreTo = to.string();
    ASSERT_EQ(t.Restore(), kResultOk) << restoreLog();
    EXPECT_EQ(readAll(to / "a.db"), "archived a");
    EXPECT_FALSE(fs::exists(outside / "b.db"));
    ASSERT_EQ(t.RestoreFailures().size(), 1u);
    EXPECT_EQ(t.RestoreFailures()[0].path, "C:\\DATA\\SUB\\b.db");
}

TEST_F(EngineTest, TruncatedArchiveEndsInReadError) {
    std::string bytes(20000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    writeFile(data() / "a.db", bytes);
    writeFile(data() / "b.db", bytes);
    TUBackPro e;
    prepareBackup(e, {"C:\\DATA\\*.db"});
    ASSERT_EQ(e.Backup(), kResultOk);
    fs::resize_file(c() / "BACKUP" / "set.arc", 3 * 4096 + 100);
    fs::remove_all(data());

    TUBackPro r;
    prepareRestore(r);
    r.IncludeNames = {"*.db"};
    EXPECT_EQ(r.Restore(), kResultBackupRead);
    const std::string log = restoreLog();
    EXPECT_NE(log.find("Error (Early end of file detected) occured during restore of "
                       "C:\\DATA\\a.db"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Error during read of a backup archive\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(data() / "b.db")); // stopped, not carried on
}

TEST_F(EngineTest, OpenErrorsFollowTheReaction) {
    writeFile(data() / "ro.db", "locked");
    writeFile(data() / "ok.db", "fine");
    fs::permissions(data() / "ro.db", fs::perms::owner_write, fs::perm_options::remove);
    {
        TUBackPro e;
        prepareBackup(e, {"C:\\DATA\\*.db"});
        int asked = 0;
        e.OnCantOpenFile = [&](const std::string& name, TReaction& reaction) {
            EXPECT_EQ(name, "C:\\DATA\\ro.db");
            reaction = ++asked < 2 ? TReaction::AW_RETRY : TReaction::AW_IGNORE;
        };
        ASSERT_EQ(e.Backup(), kResultOk);
        EXPECT_EQ(asked, 2);
        EXPECT_EQ(e.ErrorCount(), 1);
        EXPECT_EQ(e.Statistic().FilesDone, 1);
        EXPECT_NE(backupLog().find("ERROR #1: File C:\\DATA\\ro.db not backed up due to open "
                                   "error"),
                  std::string::npos);
    }
    {
        TUBackPro e;
        prepareBackup(e, {"C:\\DATA\\*.db"});
        e.HandleOpenError = TReaction::AW_ABORT;
        EXPECT_EQ(e.Backup(), kResultFileOpen);
        e.BackupOpenFiles = true; // read-only files are read all the same
        ASSERT_EQ(e.Backup(), kResultOk);
        EXPECT_EQ(e.Statistic().FilesDone, 2);
    }
}

TEST_F(EngineTest, AbortsGiveTwelve) {
    writeFile(data() / "a.db", "a");
    TUBackPro e;
    prepareBackup(e, {"C:\\DATA\\*.db"});
    e.OnScanNextFile = [](const std::string&, TReaction& r) { r = TReaction::AW_ABORT; };
    EXPECT_EQ(e.Backup(), kResultUserAbortion);
    e.OnScanNextFile = nullptr;
    e.OnStatistic = [](TBackupStatistic&, bool& cancel) { cancel = true; };
    EXPECT_EQ(e.Backup(), kResultUserAbortion);
    e.OnStatistic = nullptr;
    ASSERT_EQ(e.Backup(), kResultOk);
    TUBackPro r;
    prepareRestore(r);
    r.IncludeNames = {"*.db"};
    r.OnStatistic = [](TBackupStatistic&, bool& cancel) { cancel = true; };
    EXPECT_EQ(r.Restore(), kResultUserAbortion);
    EXPECT_NE(restoreLog().find("Abortion by the calling application / user"), std::string::npos);
}

TEST_F(EngineTest, LogThatCannotBeOpenedRaises) {
    TUBackPro e;
    e.LogFileMode = TLogFileMode::LFM_CreateNew;
    e.LogFileName = (root_.path() / "no" / "such" / "folder" / "x.log").string();
    EXPECT_THROW(e.Backup(), std::system_error);
    EXPECT_THROW(e.Restore(), std::system_error);
}

} // namespace
} // namespace keldo::backup
