// The SCSI generic backend without hardware: the sg_io_hdr it fills, how SG_IO outcomes
// become request statuses and command results, and how sysfs is read into adapter 0's
// targets. On a machine with a SCSI tape, the drive is found through /dev/sg*.

#include "backup/aspi32.h"
#include "backup/aspi_sg.h"
#include "backup/scsi_tape.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace keldo::backup;
namespace fs = std::filesystem;

namespace {

SrbExecScsiCmd request(std::vector<std::uint8_t> cdb, std::uint8_t flags, std::uint32_t length,
                       std::uint8_t* data) {
    SrbExecScsiCmd srb;
    srb.flags = flags;
    srb.dataLength = length;
    srb.data = data;
    srb.senseLength = 14;
    srb.cdbLength = static_cast<std::uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), srb.cdb.begin());
    return srb;
}

} // namespace

TEST(SgIoHeader, FilledFromTheRequest) {
    std::uint8_t buffer[4096];
    struct Case {
        const char* name;
        std::vector<std::uint8_t> cdb;
        std::uint8_t flags;
        std::uint32_t length;
        int direction;
        unsigned timeout;
    };
    const std::vector<Case> cases = {
        {"inquiry", {0x12, 0, 0, 0, 32, 0}, kSrbDirIn, 32, SG_DXFER_FROM_DEV, kSgShortTimeoutMs},
        {"mode select", {0x15, 0, 0, 0, 12, 0}, kSrbDirOut, 12, SG_DXFER_TO_DEV, kSgShortTimeoutMs},
        {"write", {0x0A, 1, 0, 0, 1, 0}, kSrbDirOut, 4096, SG_DXFER_TO_DEV, kSgTapeMotionTimeoutMs},
        {"read", {0x08, 1, 0, 0, 1, 0}, kSrbDirIn, 4096, SG_DXFER_FROM_DEV, kSgTapeMotionTimeoutMs},
        {"rewind (data-in flag, no data)",
         {0x01, 1, 0, 0, 0, 0},
         kSrbDirIn,
         0,
         SG_DXFER_NONE,
         kSgTapeMotionTimeoutMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SrbExecScsiCmd srb = request(c.cdb, c.flags, c.length, c.length ? buffer : nullptr);
        const sg_io_hdr h = buildSgIoHeader(srb);
        EXPECT_EQ(h.interface_id, 'S');
        EXPECT_EQ(h.dxfer_direction, c.direction);
        EXPECT_EQ(h.cmd_len, 6);
        EXPECT_EQ(h.mx_sb_len, 14);
        EXPECT_EQ(h.dxfer_len, c.length);
        EXPECT_EQ(h.dxferp, c.length ? buffer : nullptr);
        EXPECT_EQ(h.cmdp, srb.cdb.data());
        EXPECT_EQ(h.sbp, srb.sense.data());
        EXPECT_EQ(h.timeout, c.timeout);
        EXPECT_EQ(h.iovec_count, 0);
        EXPECT_EQ(h.flags, 0u);
    }
}

namespace {

// Plays SG_IO: builds the header as the backend does and completes the request with a
// scripted outcome, as the kernel would have returned it.
class ScriptedSgIo : public AspiLibrary {
public:
    int ioctlErrno = 0;
    unsigned char status = 0;
    unsigned short hostStatus = 0;
    unsigned short driverStatus = 0;
    std::vector<std::uint8_t> sense;

    std::uint32_t getSupportInfo() override { return 0x0101; }
    std::uint8_t sendCommand(SrbExecScsiCmd& srb) override {
        sg_io_hdr h = buildSgIoHeader(srb);
        auto* sbp = static_cast<std::uint8_t*>(h.sbp);
        std::fill(sbp, sbp + h.mx_sb_len, 0xEE); // what was there before stays beyond sb_len_wr
        std::copy(sense.begin(), sense.end(), sbp);
        h.status = status;
        h.masked_status = status >> 1;
        h.host_status = hostStatus;
        h.driver_status = driverStatus;
        h.sb_len_wr = static_cast<unsigned char>(sense.size());
        return completeFromSgIo(h, ioctlErrno, srb);
    }
};

std::vector<std::uint8_t> fixedSense(std::uint8_t keyByte) {
    return {0x70, 0, keyByte, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0};
}

} // namespace

TEST(SgIoOutcome, MapsToRequestStatusAndCommandResult) {
    struct Case {
        const char* name;
        int ioctlErrno;
        unsigned char status;
        unsigned short host, driver;
        std::vector<std::uint8_t> sense;
        std::uint8_t requestStatus;
        std::int32_t result;
    };
    const std::vector<Case> cases = {
        {"good", 0, 0x00, 0, 0, {}, kSsComp, 0},
        {"medium error", 0, 0x02, 0, 0x08, fixedSense(0x03), kSsErr, 3},
        {"filemark", 0, 0x02, 0, 0x08, fixedSense(0x80), kSsErr, 0x80},
        {"sense flagged by the driver only", 0, 0x00, 0, 0x08, fixedSense(0x48), kSsErr, 0x48},
        {"check condition without sense", 0, 0x02, 0, 0, {}, kSsErr, 9},
        {"busy", 0, 0x08, 0, 0, {}, kSsErr, 9},
        {"no connection", 0, 0x00, 0x01, 0, {}, kSsErr, 9},
        {"bad target", 0, 0x00, 0x04, 0, {}, kSsErr, 9},
        {"bus reset", 0, 0x00, 0x08, 0, {}, kSsErr, 9},
        {"host time-out", 0, 0x00, 0x03, 0, {}, kSsAborted, 8},
        {"driver time-out", 0, 0x00, 0, 0x06, {}, kSsAborted, 8},
        {"device gone", ENODEV, 0, 0, 0, {}, kSsNoDevice, 9},
        {"ioctl refused", EINVAL, 0, 0, 0, {}, kSsInvalidSrb, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto sg = std::make_shared<ScriptedSgIo>();
        sg->ioctlErrno = c.ioctlErrno;
        sg->status = c.status;
        sg->hostStatus = c.host;
        sg->driverStatus = c.driver;
        sg->sense = c.sense;

        SrbExecScsiCmd srb = request({0x01, 0, 0, 0, 0, 0}, kSrbDirIn, 0, nullptr);
        EXPECT_EQ(sg->sendCommand(srb), c.requestStatus);
        EXPECT_EQ(srb.status, c.requestStatus);
        if (!c.sense.empty()) {
            EXPECT_EQ(srb.sense[14], 0) << "sense beyond what the device wrote is cleared";
        }

        TASPI32 aspi(sg);
        EXPECT_EQ(aspi.sendCommand(0, nullptr, {0x01, 0, 0, 0, 0, 0}, TDataDirection::In, 0),
                  c.result);
    }
}

TEST(ScsiAddress, Parsing) {
    EXPECT_EQ(parseScsiAddress("2:0:4:0"), (ScsiAddress{2, 0, 4, 0}));
    EXPECT_EQ(parseScsiAddress("10:1:15:3"), (ScsiAddress{10, 1, 15, 3}));
    for (const char* bad : {"", "2:0:4", "2:0:4:0:1", "a:0:0:0", "1:0:0:0x", "1::0:0", "-1:0:0:0"})
        EXPECT_FALSE(parseScsiAddress(bad)) << bad;
}

namespace {

// A sysfs and a /dev of our own: SCSI hosts, and SCSI generic nodes at given addresses.
class FakeSysfs {
public:
    FakeSysfs() {
        std::string pattern = (fs::temp_directory_path() / "keldo-sg-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        fs::create_directories(root_ / "dev");
    }
    ~FakeSysfs() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    void addGenericDriver() { fs::create_directories(root_ / "sys/class/scsi_generic"); }
    void addHost(int n) {
        fs::create_directories(root_ / "sys/class/scsi_host" / ("host" + std::to_string(n)));
    }
    void addNode(const std::string& name, const std::string& address, bool withDevNode = true) {
        const fs::path device = root_ / "sys/devices" / address;
        fs::create_directories(device);
        const fs::path node = root_ / "sys/class/scsi_generic" / name;
        fs::create_directories(node);
        fs::create_directory_symlink(device, node / "device");
        if (withDevNode)
            std::ofstream(root_ / "dev" / name).put('\0');
    }
    SgLocation location() const { return {root_ / "sys", root_ / "dev"}; }
    fs::path dev(const std::string& name) const { return root_ / "dev" / name; }

private:
    fs::path root_;
};

} // namespace

TEST(SgAspiLibrary, FirstHostIsAdapterZeroAndItsTargetsAreItsNodes) {
    FakeSysfs sys;
    sys.addGenericDriver();
    sys.addHost(3);
    sys.addHost(1);
    sys.addNode("sg0", "1:0:0:0");
    sys.addNode("sg1", "1:0:4:0", false);
    sys.addNode("sg2", "3:0:2:0");
    sys.addNode("sg3", "1:1:5:0");
    sys.addNode("sg4", "1:0:6:1");

    SgAspiLibrary sg(sys.location());
    EXPECT_EQ(sg.getSupportInfo(), 0x0102u);
    EXPECT_EQ(sg.firstHost(), 1);
    EXPECT_EQ(sg.nodeOf(0), sys.dev("sg0"));
    EXPECT_EQ(sg.nodeOf(4), sys.dev("sg1"));
    EXPECT_EQ(sg.nodeOf(2), fs::path()); // on the second host
    EXPECT_EQ(sg.nodeOf(5), fs::path()); // another channel
    EXPECT_EQ(sg.nodeOf(6), fs::path()); // only logical unit 0 is a target's device

    std::uint8_t inquiry[32];
    for (std::uint8_t target : {2, 4}) { // no node; a node that cannot be opened
        SrbExecScsiCmd srb = request({0x12, 0, 0, 0, 32, 0}, kSrbDirIn, 32, inquiry);
        srb.target = target;
        EXPECT_EQ(sg.sendCommand(srb), kSsNoDevice) << int(target);
    }
    SrbExecScsiCmd second = request({0x12, 0, 0, 0, 32, 0}, kSrbDirIn, 32, inquiry);
    second.hostAdapter = 1;
    EXPECT_EQ(sg.sendCommand(second), kSsInvalidHa);
}

TEST(SgAspiLibrary, TapeOpenResultsWithoutATape) {
    struct Case {
        const char* name;
        bool driver;
        bool host;
        std::uint32_t supportInfo;
        std::int32_t open;
    };
    const std::vector<Case> cases = {
        {"no SCSI generic driver", false, true, 0xE400, -1},
        {"no SCSI host", true, false, 0xE800, -2},
        {"a host with no tape node", true, true, 0x0101, -3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSysfs sys;
        if (c.driver)
            sys.addGenericDriver();
        if (c.host)
            sys.addHost(0);
        auto sg = std::make_shared<SgAspiLibrary>(sys.location());
        EXPECT_EQ(sg->getSupportInfo(), c.supportInfo);
        TSCSITape tape(sg);
        EXPECT_EQ(tape.open(), c.open);
    }
}

TEST(SgAspiLibrary, FindsARealTapeDrive) {
    // Only the probes are sent: a real cartridge is never written by the test suite.
    std::error_code ec;
    bool tapePresent = false;
    for (fs::directory_iterator it("/sys/class/scsi_generic", ec), end; !ec && it != end;
         it.increment(ec)) {
        std::ifstream type(it->path() / "device" / "type");
        int t = -1;
        if (type >> t && t == 1)
            tapePresent = true;
    }
    if (!tapePresent)
        GTEST_SKIP() << "no SCSI tape drive behind /dev/sg*";
    auto sg = std::make_shared<SgAspiLibrary>();
    TASPI32 aspi(sg);
    ASSERT_TRUE(aspi.aspiAvailable());
    const std::int32_t target = aspi.findTape();
    if (target < 0)
        GTEST_SKIP() << "the tape drive is not on the first SCSI host, or cannot be opened";
    EXPECT_EQ(aspi.deviceType(target), 1);
}
