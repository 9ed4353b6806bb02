#pragma once

// Whole-file reads and crash-safe whole-file replacement, for the small configuration
// files that several programs share (the INI file, the engine's alias configuration),
// and the output file through which exports and reports write what they produce.
//
// Usage: if (auto bytes = keldo::platform::readWholeFile(p)) { ... }
//        keldo::platform::replaceFileAtomically(p, newBytes);
//        keldo::platform::OutputFile f(p); f.write(bytes); ...; f.commit();

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace keldo::platform {

// The bytes of file; nullopt when it does not exist (ENOENT, or a parent that is not a
// folder). Throws std::system_error when it exists but cannot be read: a folder, no read
// permission, an I/O error.
std::optional<std::string> readWholeFile(const std::filesystem::path& file);

// Replaces the contents of file with bytes so that a reader sees either the old or the new
// file, never a mix, even after a crash: the bytes go to a temporary file in the same folder,
// are flushed to disk, and the temporary file is renamed over the original. The missing
// folders are created. An existing file keeps its permissions (and owner, where the process
// may set it); a symbolic link is followed and its target replaced. A file whose permissions
// forbid writing is refused, as Windows refuses a read-only file, even for the superuser.
// Throws std::system_error on any failure; the original file is then untouched.
void replaceFileAtomically(const std::filesystem::path& file, std::string_view bytes);

// Where a file that the program writes whole ends up, links resolved.
struct OutputTarget {
    // The file that receives the bytes: every symbolic link of the name and of its
    // folders followed, so that a temporary file lies beside the real file and the
    // rename lands on it, never on a link.
    std::filesystem::path file;
    // True when the name stands for something that is not a file to replace: a
    // character or block device, a FIFO, a terminal, or an open descriptor of this
    // process (/dev/stdout, /dev/fd/N, /proc/self/fd/N). Those are written in place
    // and never replaced.
    bool inPlace = false;
};

// Follows the name's links as described above; the name need not exist. Throws
// std::system_error when a folder of the name does not exist or the links loop.
OutputTarget resolveOutputTarget(const std::filesystem::path& name);

// A file that an export or a report writes from the first byte to the last. A regular
// file, or a name that names nothing yet, gets its bytes through a temporary file beside
// the real target, renamed over it by commit(): until then an existing file stays as it
// was, and an abandoned or failed write leaves nothing behind. An existing file keeps its
// permissions; one that may not be written is refused. A device, a FIFO, a terminal or an
// open descriptor is opened and written in place (a FIFO's open waits for its reader);
// an open descriptor that is a regular file is appended to, as the shell's redirection
// left it. A folder is refused.
//
// Every failure throws std::system_error whose code is the system's; the target is then
// unchanged (in place: what was written stays written).
class OutputFile {
public:
    explicit OutputFile(const std::filesystem::path& name);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Without commit(): the temporary file is removed; the target is untouched.
    ~OutputFile();

    void write(std::string_view bytes);
    // Makes the bytes the target's: flushed to disk and renamed over the target, or,
    // in place, the descriptor closed. Nothing may be written afterwards.
    void commit();

    const OutputTarget& target() const { return target_; }

private:
    void discard() noexcept;

    OutputTarget target_;
    std::filesystem::path temporary_; // empty when written in place
    int fd_ = -1;
};

} // namespace keldo::platform
