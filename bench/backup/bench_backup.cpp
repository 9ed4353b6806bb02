// keldoctl backup --level max against `tar -cf - DIR | gzip -9`, and keldoctl restore
// against `gzip -dc | tar -xf -`, on the same 200 MB of files: database-like records and
// already-compressed data, from many small files up to one of 80 MB. Targets: backup at
// most 1.3 times tar+gzip's time, restore at most 1.5 times, and keldoctl's peak memory
// under 32 MB in both. One run each; the files are generated once and kept beside the
// binary. Exit 1 when a target is missed or a run fails.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr double kBackupFactor = 1.3;
constexpr double kRestoreFactor = 1.5;
constexpr long kPeakMemoryKiB = 32 * 1024;

struct Run {
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
};

// Runs argv and measures its wall time and its peak
// resident memory (the largest of the process and its children).
Run run(const std::vector<std::string>& argv) {
    Run r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only the figures below are the benchmark's output.
        if (const int null = ::open("/dev/null", O_WRONLY); null >= 0)
            ::dup2(null, STDOUT_FILENO);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::_Exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakKiB = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return r;
}

Run shell(const std::string& command) {
    return run({"/bin/sh", "-c", command});
}

void writeFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// Rows like the punch and employee tables: repetitive text with varying numbers.
std::string databaseLike(std::size_t size, std::mt19937& rng) {
    std::string out;
    out.reserve(size + 128);
    std::uniform_int_distribution<int> matricula(1, 5000), minute(0, 1439), day(1, 28);
    char row[128];
    while (out.size() < size) {
        const int m = minute(rng);
        std::snprintf(row, sizeof row, "%06d;%02d/11/2026;%02d:%02d;REL01;0;Funcionario %d\r\n",
                      matricula(rng), day(rng), m / 60, m % 60, matricula(rng));
        out += row;
    }
    out.resize(size);
    return out;
}

// Photos, fingerprints, earlier archives: bytes deflate cannot shrink.
std::string compressedLike(std::size_t size, std::mt19937& rng) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; i += 4) {
        const std::uint32_t x = rng();
        for (std::size_t k = 0; k < 4 && i + k < size; ++k)
            out[i + k] = static_cast<char>(x >> (8 * k));
    }
    return out;
}

void generate(const fs::path& dir) {
    if (fs::exists(dir / ".complete"))
        return;
    fs::remove_all(dir);
    fs::create_directories(dir / "fotos");
    std::mt19937 rng(2026);
    const std::size_t mb = 1024 * 1024;
    writeFile(dir / "registro.db", databaseLike(80 * mb, rng)); // one large file
    writeFile(dir / "funciona.db", databaseLike(30 * mb, rng));
    for (int i = 0; i < 200; ++i) // small tables and indexes
        writeFile(dir / ("tab" + std::to_string(i) + ".px"), databaseLike(50 * 1024, rng));
    writeFile(dir / "backup_antigo.zip", compressedLike(40 * mb, rng));
    for (int i = 0; i < 80; ++i) // photos
        writeFile(dir / "fotos" / ("foto" + std::to_string(i) + ".jpg"),
                  compressedLike(500 * 1024, rng));
    writeFile(dir / ".complete", "");
}

std::uint64_t folderBytes(const fs::path& dir) {
    std::uint64_t total = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            total += e.file_size();
    return total;
}

bool sameTree(const fs::path& a, const fs::path& b) {
    return shell("diff -r -q -x .complete '" + a.string() + "' '" + b.string() + "' >/dev/null")
               .status == 0;
}

} // namespace

int main() {
    const fs::path data = BENCH_DATA_DIR;
    generate(data);
    char pattern[] = "/tmp/bench_backup.XXXXXX";
    const fs::path work = ::mkdtemp(pattern);
    ::setenv("KELDO_ROOT", (work / "root").c_str(), 1);
    fs::create_directories(work / "root");
    const std::string keldoctl = KELDOCTL_PATH;
    const std::uint64_t input = folderBytes(data);

    // Same page-cache state for both sides: read everything once first.
    shell("cat $(find '" + data.string() + "' -type f) > /dev/null");

    const fs::path tgz = work / "ref.tar.gz";
    const Run gzipBackup = shell("tar -cf - -C '" + data.parent_path().string() + "' '" +
                                 data.filename().string() + "' | gzip -9 > '" + tgz.string() + "'");
    const Run ours = run({keldoctl, "backup", "--dest", (work / "bk").string(), "--name",
                          "bench.arc", "--include", (data / "*.*/S").string(), "--level", "max"});
    const fs::path refOut = work / "ref-out";
    fs::create_directories(refOut);
    const Run gzipRestore =
        shell("gzip -dc '" + tgz.string() + "' | tar -xf - -C '" + refOut.string() + "'");
    const fs::path ourOut = work / "our-out";
    const Run oursRestore = run({keldoctl, "restore", "--archive",
                                 (work / "bk" / "bench.arc").string(), "--to", ourOut.string()});

    bool ok = gzipBackup.status == 0 && ours.status == 0 && gzipRestore.status == 0 &&
              oursRestore.status == 0;
    // A redirected restore cuts as many leading separators from each stored path as
    // "--to" (with its trailing one) holds, and puts the rest below it.
    const std::string restoreTo = ourOut.string() + "/";
    const auto k = std::count(restoreTo.begin(), restoreTo.end(), '/');
    const std::string stored = data.string() + "/";
    fs::path restored = data;
    for (std::size_t i = 0, seen = 0; i < stored.size(); ++i) {
        if (stored[i] == '/' && static_cast<long>(++seen) == k) {
            restored = restoreTo + stored.substr(i + 1);
            break;
        }
    }
    const bool identical = ok && sameTree(data, restored);

    const double archive = fs::exists(work / "bk" / "bench.arc")
                               ? static_cast<double>(fs::file_size(work / "bk" / "bench.arc"))
                               : 0;
    const double gz = fs::exists(tgz) ? static_cast<double>(fs::file_size(tgz)) : 0;
    std::printf("input: %.1f MB in %s\n", input / 1048576.0, data.c_str());
    std::printf("backup : keldoctl %.2f s (%.1f MB, peak %ld KiB) | tar+gzip -9 %.2f s (%.1f MB)"
                " | ratio %.2f (target <= %.1f)\n",
                ours.seconds, archive / 1048576.0, ours.peakKiB, gzipBackup.seconds, gz / 1048576.0,
                ours.seconds / gzipBackup.seconds, kBackupFactor);
    std::printf("restore: keldoctl %.2f s (peak %ld KiB) | gzip -dc + tar -x %.2f s | ratio %.2f "
                "(target <= %.1f); restored tree %s\n",
                oursRestore.seconds, oursRestore.peakKiB, gzipRestore.seconds,
                oursRestore.seconds / gzipRestore.seconds, kRestoreFactor,
                identical ? "identical" : "DIFFERENT");

    bool pass = ok && identical;
    pass = pass && ours.seconds <= kBackupFactor * gzipBackup.seconds;
    pass = pass && oursRestore.seconds <= kRestoreFactor * gzipRestore.seconds;
    pass = pass && ours.peakKiB < kPeakMemoryKiB && oursRestore.peakKiB < kPeakMemoryKiB;
    std::printf("%s\n", pass ? "PASS" : "FAIL");
    fs::remove_all(work);
    return pass ? 0 : 1;
}
