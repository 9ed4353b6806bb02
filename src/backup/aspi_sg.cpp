#include "backup/aspi_sg.h"

#include "backup/aspi32.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>
#include <system_error>

namespace keldo::backup {

namespace fs = std::filesystem;

namespace {

// Host byte values of sg_io_hdr.host_status.
constexpr unsigned short kDidOk = 0x00;
constexpr unsigned short kDidNoConnect = 0x01;
constexpr unsigned short kDidTimeOut = 0x03;
constexpr unsigned short kDidBadTarget = 0x04;
constexpr unsigned short kDidAbort = 0x05;
constexpr unsigned short kDidReset = 0x08;
// Driver byte values of sg_io_hdr.driver_status (low nibble).
constexpr unsigned short kDriverTimeout = 0x06;
constexpr unsigned short kDriverSense = 0x08;
constexpr unsigned short kDriverByteMask = 0x0F;

constexpr std::uint8_t kHaStatBusReset = 0x0E;
constexpr std::uint8_t kHaStatPhaseError = 0x14;

bool movesTape(std::uint8_t opcode) {
    return opcode == kScsiRead6 || opcode == kScsiWrite6 || opcode == kScsiRewind ||
           opcode == kScsiWriteFilemarks;
}

std::optional<int> hostNumber(const std::string& name) {
    constexpr std::string_view prefix = "host";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    int n = 0;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    auto [end, ec] = std::from_chars(first, last, n);
    if (ec != std::errc() || end != last || n < 0)
        return std::nullopt;
    return n;
}

} // namespace

std::optional<ScsiAddress> parseScsiAddress(const std::string& text) {
    ScsiAddress a;
    int* parts[] = {&a.host, &a.channel, &a.target, &a.lun};
    const char* p = text.data();
    const char* last = text.data() + text.size();
    for (int i = 0; i < 4; ++i) {
        auto [end, ec] = std::from_chars(p, last, *parts[i]);
        if (ec != std::errc() || *parts[i] < 0)
            return std::nullopt;
        p = end;
        if (i < 3) {
            if (p == last || *p != ':')
                return std::nullopt;
            ++p;
        }
    }
    if (p != last)
        return std::nullopt;
    return a;
}

sg_io_hdr buildSgIoHeader(SrbExecScsiCmd& srb) {
    sg_io_hdr h;
    std::memset(&h, 0, sizeof h);
    h.interface_id = 'S';
    if (srb.dataLength == 0 || srb.data == nullptr)
        h.dxfer_direction = SG_DXFER_NONE;
    else if (srb.flags & kSrbDirOut)
        h.dxfer_direction = SG_DXFER_TO_DEV;
    else
        h.dxfer_direction = SG_DXFER_FROM_DEV;
    h.cmd_len = std::min<std::uint8_t>(srb.cdbLength, kSrbCdbCapacity);
    h.mx_sb_len = std::min<std::uint8_t>(srb.senseLength, kSrbSenseCapacity);
    h.dxfer_len = h.dxfer_direction == SG_DXFER_NONE ? 0 : srb.dataLength;
    h.dxferp = h.dxfer_direction == SG_DXFER_NONE ? nullptr : srb.data;
    h.cmdp = srb.cdb.data();
    h.sbp = srb.sense.data();
    h.timeout = movesTape(srb.cdb[0]) ? kSgTapeMotionTimeoutMs : kSgShortTimeoutMs;
    return h;
}

std::uint8_t completeFromSgIo(const sg_io_hdr& header, int ioctlErrno, SrbExecScsiCmd& srb) {
    srb.hostStatus = kHaStatOk;
    srb.targetStatus = 0;
    if (ioctlErrno != 0) {
        if (ioctlErrno == ENODEV || ioctlErrno == ENXIO)
            srb.status = kSsNoDevice;
        else if (ioctlErrno == ETIMEDOUT)
            srb.status = kSsAborted;
        else
            srb.status = kSsInvalidSrb;
        return srb.status;
    }

    srb.targetStatus = header.status;
    const unsigned short driver = header.driver_status & kDriverByteMask;
    if (header.host_status == kDidTimeOut || driver == kDriverTimeout) {
        srb.hostStatus = kHaStatTimeout;
        srb.status = kSsAborted;
        return srb.status;
    }
    switch (header.host_status) {
    case kDidOk:
        break;
    case kDidNoConnect:
    case kDidBadTarget:
        srb.hostStatus = kHaStatSelectionTimeout;
        break;
    case kDidAbort:
        srb.status = kSsAborted;
        srb.hostStatus = kHaStatTimeout;
        return srb.status;
    case kDidReset:
        srb.hostStatus = kHaStatBusReset;
        break;
    default:
        srb.hostStatus = kHaStatPhaseError;
        break;
    }
    if (srb.hostStatus != kHaStatOk) {
        srb.status = kSsErr;
        return srb.status;
    }

    const bool haveSense = header.sb_len_wr > 0;
    if (header.status == kScsiStatusCheckCondition || (driver == kDriverSense && haveSense)) {
        // A check condition whose sense could not be fetched tells nothing about what
        // went wrong; leaving the sense area zero would read as "no sense", so say the
        // transport failed instead.
        if (!haveSense) {
            srb.hostStatus = kHaStatPhaseError;
        } else {
            const std::size_t written = std::min<std::size_t>(header.sb_len_wr, kSrbSenseCapacity);
            std::fill(srb.sense.begin() + static_cast<std::ptrdiff_t>(written), srb.sense.end(), 0);
            srb.targetStatus = kScsiStatusCheckCondition;
        }
        srb.status = kSsErr;
        return srb.status;
    }
    srb.status = header.status == 0 ? kSsComp : kSsErr;
    return srb.status;
}

SgAspiLibrary::SgAspiLibrary(SgLocation location) : location_(std::move(location)) {}

SgAspiLibrary::~SgAspiLibrary() {
    for (auto& [path, fd] : openNodes_)
        ::close(fd);
}

void SgAspiLibrary::scan() {
    scanned_ = true;
    driverPresent_ = false;
    hostCount_ = 0;
    firstHost_ = -1;
    nodes_.clear();
    std::error_code ec;

    const fs::path generic = location_.sysfsRoot / "class" / "scsi_generic";
    driverPresent_ = fs::is_directory(generic, ec);

    for (fs::directory_iterator it(location_.sysfsRoot / "class" / "scsi_host", ec), end;
         !ec && it != end; it.increment(ec)) {
        if (auto n = hostNumber(it->path().filename().string())) {
            ++hostCount_;
            if (firstHost_ < 0 || *n < firstHost_)
                firstHost_ = *n;
        }
    }

    if (!driverPresent_)
        return;
    ec.clear();
    for (fs::directory_iterator it(generic, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkEc;
        // "device" links to the SCSI device, whose folder is named after its address.
        const fs::path device = fs::canonical(it->path() / "device", linkEc);
        if (linkEc)
            continue;
        if (auto address = parseScsiAddress(device.filename().string()))
            nodes_.emplace(*address, location_.devRoot / it->path().filename());
    }
}

std::uint32_t SgAspiLibrary::getSupportInfo() {
    std::lock_guard lock(mutex_);
    scan();
    if (!driverPresent_)
        return std::uint32_t{kSsFailedInit} << 8;
    if (hostCount_ == 0)
        return std::uint32_t{kSsNoAdapters} << 8;
    return (std::uint32_t{kSsComp} << 8) | static_cast<std::uint32_t>(std::min(hostCount_, 255));
}

fs::path SgAspiLibrary::nodeOf(int target) {
    std::lock_guard lock(mutex_);
    if (!scanned_)
        scan();
    auto it = nodes_.find(ScsiAddress{firstHost_, 0, target, 0});
    return it == nodes_.end() ? fs::path() : it->second;
}

int SgAspiLibrary::firstHost() {
    std::lock_guard lock(mutex_);
    if (!scanned_)
        scan();
    return firstHost_;
}

std::uint8_t SgAspiLibrary::sendCommand(SrbExecScsiCmd& srb) {
    srb.hostStatus = kHaStatOk;
    srb.targetStatus = 0;
    srb.sense.fill(0);
    if (srb.command != kScExecScsiCmd)
        return srb.status = kSsInvalidCmd;
    if (srb.cdbLength == 0 || srb.cdbLength > kSrbCdbCapacity ||
        (srb.dataLength > 0 && srb.data == nullptr))
        return srb.status = kSsInvalidSrb;

    std::lock_guard lock(mutex_);
    if (!scanned_)
        scan();
    if (srb.hostAdapter != 0 || firstHost_ < 0)
        return srb.status = kSsInvalidHa;
    auto node = nodes_.find(ScsiAddress{firstHost_, 0, srb.target, srb.lun});
    if (node == nodes_.end())
        return srb.status = kSsNoDevice;

    int fd = -1;
    if (auto open = openNodes_.find(node->second); open != openNodes_.end()) {
        fd = open->second;
    } else {
        // O_NONBLOCK keeps open() from waiting on a drive another program holds; SG_IO
        // itself always waits for the command.
        fd = ::open(node->second.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return srb.status = kSsNoDevice;
        openNodes_.emplace(node->second, fd);
    }

    sg_io_hdr header = buildSgIoHeader(srb);
    // No retry after EINTR: the command may already have run, and a WRITE sent twice
    // would put a record on the tape twice.
    const int error = ::ioctl(fd, SG_IO, &header) < 0 ? errno : 0;
    return completeFromSgIo(header, error, srb);
}

std::shared_ptr<AspiLibrary> systemAspiLibrary() {
    static std::mutex mutex;
    static std::weak_ptr<AspiLibrary> shared;
    std::lock_guard lock(mutex);
    auto library = shared.lock();
    if (!library) {
        library = std::make_shared<SgAspiLibrary>();
        shared = library;
    }
    return library;
}

} // namespace keldo::backup
