// The frame of a database benchmark program: one measurement taken on a
// small and on a large installation, the medians compared.
//
// Run without arguments, the program prepares both installations (see
// installation.h) and then starts itself once per size and round, so that
// each measurement runs in a process that did nothing else: its peak memory
// is its own, and data generation never counts. It prints the figures and a
// PASS or FAIL line per target and exits 1 when a target fails, 2 when it
// could not measure.
//
//   bench_x [--small N] [--large N] [--employees N] [--rounds N] [--runs N]
//
// The children are started as
//   bench_x --prepare ROOT PUNCHES EMPLOYEES
//   bench_x --measure ROOT RUNS
#pragma once

#include "installation.h"

#include <functional>
#include <vector>

namespace keldo::bench {

struct Comparison {
    const char* title; // what one run does, for the report
    // One run on the installation of the current KELDO_ROOT: returns its
    // time in milliseconds; throws std::exception when it did not work.
    std::function<double()> measureOnce;
    // The large installation's median over the small one's must stay at or
    // under this (or under it, when `strictRatio`).
    double ratioLimit = 1.0;
    bool strictRatio = false;
    // The peak memory of a process measuring the large installation, in
    // megabytes of 10^6 bytes; 0 reports it without a target.
    double peakLimitMb = 0;
    // The large installation's median must stay under this many
    // milliseconds; 0 sets no such target.
    double timeLimitMs = 0;
    // The program made its application object itself (a widget benchmark
    // needs a QApplication); otherwise a child makes a QCoreApplication.
    bool ownApplication = false;
};

int benchMain(int argc, char** argv, const Comparison& comparison);

// What every benchmark program of this kind reads from its command line:
// "--small N --large N --employees N --rounds N --runs N", each a positive
// number. False on anything else.
struct BenchOptions {
    InstallationSize small{20'000};
    InstallationSize large{2'000'000};
    int rounds = 3; // children per size, started small, large, small, large...
    int runs = 5;   // measured runs per child, after one warm-up run
};
bool parseBenchOptions(int argc, char** argv, BenchOptions* o);

double median(std::vector<double> v);
// Kilobytes as getrusage gives them, in megabytes of 10^6 bytes.
double megabytes(long kb);

} // namespace keldo::bench
