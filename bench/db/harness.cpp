#include "harness.h"

#include "installation.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace keldo::bench {
namespace {

namespace fs = std::filesystem;

using Options = BenchOptions;

struct Figures {
    std::vector<double> samples;
    long peakKb = 0;
};

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Starts this program again with `args` and collects what it reports on
// its standard output; its error output passes through. False when it
// failed.
bool runChild(const std::vector<std::string>& args, Figures* figures) {
    std::string command = shellQuote(fs::read_symlink("/proc/self/exe").string());
    for (const std::string& a : args)
        command += " " + shellQuote(a);
    std::fflush(stdout);
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return false;
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) {
        double ms;
        long kb;
        if (figures && std::sscanf(line, "sample %lf", &ms) == 1)
            figures->samples.push_back(ms);
        else if (figures && std::sscanf(line, "peak_rss_kb %ld", &kb) == 1)
            figures->peakKb = std::max(figures->peakKb, kb);
    }
    return pclose(pipe) == 0;
}

// --measure ROOT RUNS: one warm-up run, then RUNS measured ones.
int measure(const Comparison& c, const fs::path& root, int runs) {
    useRoot(root);
    const QFileInfo wal(aliasDatabaseFile() + QStringLiteral("-wal"));
    if (wal.exists() && wal.size() > 0) {
        std::fprintf(stderr, "%s has a write-ahead log of %lld bytes; prepare it first\n",
                     root.string().c_str(), (long long)wal.size());
        return 2;
    }
    c.measureOnce();
    for (int i = 0; i < runs; ++i)
        std::printf("sample %.4f\n", c.measureOnce());
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_kb %ld\n", usage.ru_maxrss);
    return 0;
}

void report(const char* label, const InstallationSize& size, const Figures& f) {
    const auto [lo, hi] = std::minmax_element(f.samples.begin(), f.samples.end());
    std::printf("  %-5s registro %9lld rows: median %9.3f ms  (%zu runs, min %.3f, max %.3f), "
                "peak memory %.1f MB\n",
                label, (long long)size.punches, median(f.samples), f.samples.size(), *lo, *hi,
                megabytes(f.peakKb));
}

int compare(const Comparison& c, const Options& o) {
    const fs::path smallRoot = cachedRoot(o.small), largeRoot = cachedRoot(o.large);
    for (const auto& [root, size] : {std::pair{smallRoot, o.small}, std::pair{largeRoot, o.large}})
        if (!runChild({"--prepare", root.string(), std::to_string(size.punches),
                       std::to_string(size.employees)},
                      nullptr)) {
            std::printf("FAIL: could not prepare the installation %s\n", root.string().c_str());
            return 2;
        }
    Figures small, large;
    for (int r = 0; r < o.rounds; ++r)
        for (auto [root, figures] : {std::pair{&smallRoot, &small}, std::pair{&largeRoot, &large}})
            if (!runChild({"--measure", root->string(), std::to_string(o.runs)}, figures)) {
                std::printf("FAIL: the measurement on %s did not complete\n",
                            root->string().c_str());
                return 2;
            }

    std::printf("%s\n  (%d employees; %d processes of %d runs per size; times are wall clock)\n",
                c.title, o.small.employees, o.rounds, o.runs);
    report("small", o.small, small);
    report("large", o.large, large);
    bool ok = true;
    const double ratio = median(large.samples) / median(small.samples);
    const bool ratioOk = c.strictRatio ? ratio < c.ratioLimit : ratio <= c.ratioLimit;
    std::printf("%s: large/small median ratio %.3f, limit %s %.2f\n", ratioOk ? "PASS" : "FAIL",
                ratio, c.strictRatio ? "under" : "at most", c.ratioLimit);
    ok = ok && ratioOk;
    if (c.peakLimitMb > 0) {
        const bool memOk = megabytes(large.peakKb) < c.peakLimitMb;
        std::printf("%s: peak memory with %lld punches %.1f MB, limit under %.0f MB\n",
                    memOk ? "PASS" : "FAIL", (long long)o.large.punches, megabytes(large.peakKb),
                    c.peakLimitMb);
        ok = ok && memOk;
    }
    if (c.timeLimitMs > 0) {
        const bool timeOk = median(large.samples) < c.timeLimitMs;
        std::printf("%s: median with %lld punches %.3f ms, limit under %.0f ms\n",
                    timeOk ? "PASS" : "FAIL", (long long)o.large.punches, median(large.samples),
                    c.timeLimitMs);
        ok = ok && timeOk;
    }
    return ok ? 0 : 1;
}

} // namespace

int benchMain(int argc, char** argv, const Comparison& c) {
    const bool child =
        argc > 1 && (!std::strcmp(argv[1], "--prepare") || !std::strcmp(argv[1], "--measure"));
    if (!child) {
        Options o;
        if (!parseBenchOptions(argc, argv, &o)) {
            std::fprintf(stderr,
                         "usage: %s [--small N] [--large N] [--employees N] [--rounds N] "
                         "[--runs N]\n",
                         argv[0]);
            return 2;
        }
        return compare(c, o);
    }
    // QtSql loads its drivers through the application object.
    std::unique_ptr<QCoreApplication> app;
    if (!c.ownApplication)
        app = std::make_unique<QCoreApplication>(argc, argv);
    try {
        if (!std::strcmp(argv[1], "--prepare") && argc == 5) {
            prepareInstallation(argv[2], {std::atoll(argv[3]), std::atoi(argv[4])});
            return 0;
        }
        if (!std::strcmp(argv[1], "--measure") && argc == 4)
            return measure(c, argv[2], std::max(1, std::atoi(argv[3])));
        std::fprintf(stderr, "%s: bad arguments for %s\n", argv[0], argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s %s: %s\n", argv[0], argv[1], e.what());
    }
    return 2;
}

bool parseBenchOptions(int argc, char** argv, BenchOptions* o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const long long v = std::atoll(argv[i + 1]);
        if (v <= 0)
            return false;
        if (!std::strcmp(argv[i], "--small"))
            o->small.punches = v;
        else if (!std::strcmp(argv[i], "--large"))
            o->large.punches = v;
        else if (!std::strcmp(argv[i], "--employees"))
            o->small.employees = o->large.employees = int(v);
        else if (!std::strcmp(argv[i], "--rounds"))
            o->rounds = int(v);
        else if (!std::strcmp(argv[i], "--runs"))
            o->runs = int(v);
        else
            return false;
    }
    return argc % 2 == 1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double megabytes(long kb) {
    return kb * 1024.0 / 1e6;
}

} // namespace keldo::bench
