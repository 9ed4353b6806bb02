// Restore and ReadCatalog of the engine on arbitrary archive bytes, plain or encrypted.
// Every archive lives on an in-memory disk and so do the restored files, so no input can
// write anywhere real. Any outcome is fine except a crash, a hang, a sanitizer report or an
// exception outside the backup family (zlib's own error is one of it).
//
// First input byte: bit 0 key (discarded "" or a scheduled one), bit 1 EncryptData,
// bits 2-3 restore mode, bit 4 redirect, bit 5 redirect below the common folder; the rest
// is the archive file. A redirected restore must open nothing for writing outside its
// target folder, one to stored paths nothing outside the drive folders, and no temporary
// file may be left behind.

#include "backup/backup_engine.h"
#include "backup/backup_errors.h"
#include "memory_disk.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace keldo::backup;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Windows-form paths map under KELDO_ROOT; make sure that is nowhere that matters.
    ::setenv("KELDO_ROOT", "/nonexistent/keldo-fuzz-root", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    sim::TMemoryDisk disk;
    disk.put("/fuzz/set.arc", sim::TMemoryDisk::Bytes(data + 1, data + size));

    for (int operation = 0; operation < 2; ++operation) {
        TUBackPro e;
        e.DiskMedium = &disk;
        e.BackupDestination = "/fuzz";
        e.ArchiveBaseName = "set.arc";
        e.EncryptKey = (flags & 1) ? "chave comprida" : "";
        e.EncryptData = (flags & 2) != 0 && !e.EncryptKey.empty();
        e.RestoreMode = static_cast<TRestoreMode>(((flags >> 2) & 3) % 3);
        e.RedirectRestore = (flags & 16) != 0;
        e.RedirectBelowCommonFolder = (flags & 32) != 0;
        e.RestoreTo = "/fuzz/out";
        e.IncludeNames = {"*"};
        e.RecurseSubDir = true;
        try {
            if (operation == 0) {
                (void)e.ReadCatalog();
            } else {
                (void)e.Restore();
            }
        } catch (const Exception&) {
            // Unclassified errors (result 99) are raised again by design.
        }
    }
    const std::string under = (flags & 16) ? "/fuzz/out/" : "/nonexistent/keldo-fuzz-root/";
    for (const std::filesystem::path& p : disk.created)
        if (p.string().compare(0, under.size(), under) != 0)
            std::abort(); // a restore wrote outside where it may
    // A file the restore created that is still there under that name must
    // be one that some entry was put in place as; otherwise it is a
    // temporary file that survived its entry.
    for (const std::filesystem::path& p : disk.created)
        if (disk.contains(p) &&
            std::find(disk.replaced.begin(), disk.replaced.end(), p) == disk.replaced.end())
            std::abort();
    return 0;
}
