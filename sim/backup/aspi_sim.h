#pragma once

// A simulated SCSI bus behind the ASPI-shaped interface, for the tape tests: host adapters
// with targets 0-7, a disk and a tape drive to put on them, and a record of every request
// the bus receives (probes of empty targets included).
//
// The tape drive keeps what is written: a sequence of records and filemarks and a position,
// so that what a backup writes a restore reads back. It answers INQUIRY, MODE SELECT(6)
// (block descriptor → fixed block length), WRITE(6) and READ(6) in fixed or variable mode,
// WRITE FILEMARKS and REWIND, with the sense data a drive gives (filemark, end of data,
// incorrect length, medium error, illegal request).
//
// Usage:
//   auto bus = std::make_shared<SimScsiBus>();
//   auto tape = std::make_shared<SimTapeDrive>();
//   bus->attach(0, 4, tape);
//   TSCSITape drive(bus);  drive.open();  ...  bus->commands() / tape->records()

#include "backup/aspi.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace keldo::backup::sim {

// One request as the bus saw it.
struct SimCommand {
    std::uint8_t hostAdapter = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    std::uint8_t flags = 0;
    std::uint32_t dataLength = 0;
    std::uint8_t senseLength = 0;
    std::vector<std::uint8_t> cdb;     // cdbLength bytes
    std::vector<std::uint8_t> dataOut; // the bytes sent, for data-out requests

    std::uint8_t opcode() const { return cdb.empty() ? 0 : cdb[0]; }
};

// A device on the bus. execute() carries out one request that reached it and sets
// srb.status, targetStatus and sense.
class SimScsiTarget {
public:
    SimScsiTarget(std::uint8_t deviceType, std::string vendor, std::string product);
    virtual ~SimScsiTarget() = default;
    void execute(SrbExecScsiCmd& srb);
    std::uint8_t deviceType() const { return deviceType_; }

protected:
    // Everything but INQUIRY.
    virtual void executeCommand(SrbExecScsiCmd& srb);

private:
    void inquiry(SrbExecScsiCmd& srb);
    std::uint8_t deviceType_;
    std::string vendor_;
    std::string product_;
};

// A direct-access device: answers INQUIRY only.
class SimDisk : public SimScsiTarget {
public:
    SimDisk() : SimScsiTarget(0x00, "KELDO", "SIMDISK") {}
};

// Fault injection by countdown: the Nth command of a kind (1 = the next) fails with a
// medium error, once or from then on.
struct SimFault {
    int countdown = 0; // 0 = no fault armed
    bool persistent = false;
    bool fire(); // counts one command; true when this one fails
};

class SimTapeDrive : public SimScsiTarget {
public:
    struct Item {
        bool filemark = false;
        std::vector<std::uint8_t> data; // a record's bytes; empty for a filemark
    };

    SimTapeDrive() : SimScsiTarget(0x01, "KELDO", "SIMTAPE") {}

    const std::vector<Item>& items() const { return items_; }
    // The records only (filemarks left out), in tape order.
    std::vector<std::vector<std::uint8_t>> records() const;
    std::size_t position() const { return position_; }
    std::uint32_t blockLength() const { return blockLength_; } // 0 = variable mode
    std::uint8_t bufferedMode() const { return bufferedMode_; }
    // Replaces the tape's contents (a cartridge written elsewhere); position 0.
    void load(std::vector<Item> items);

    SimFault writeFault;
    SimFault readFault;

protected:
    void executeCommand(SrbExecScsiCmd& srb) override;

private:
    void modeSelect(SrbExecScsiCmd& srb);
    // The records of a READ or WRITE and their size, once its lengths agree
    // with the data buffer; false when the command was answered with an error.
    bool admitTransfer(SrbExecScsiCmd& srb, std::uint32_t& records, std::size_t& size);
    void write(SrbExecScsiCmd& srb);
    void read(SrbExecScsiCmd& srb);
    void writeFilemarks(SrbExecScsiCmd& srb);

    std::vector<Item> items_;
    std::size_t position_ = 0;
    std::uint32_t blockLength_ = 0;
    std::uint8_t bufferedMode_ = 0;
};

class SimScsiBus : public AspiLibrary {
public:
    // adapterCount host adapters, each with eight empty targets.
    explicit SimScsiBus(int adapterCount = 1) : adapterCount_(adapterCount) {}

    // Puts device at target 0-7 of adapter (replacing what was there).
    void attach(int adapter, int target, std::shared_ptr<SimScsiTarget> device);

    // The status byte of the support info; kSsFailedInit plays a library that cannot start.
    void setSupportStatus(std::uint8_t status) { supportStatus_ = status; }
    // Every following request is left pending and completes after polls reads of its status.
    void setPendingPolls(int polls) { pendingPolls_ = polls; }

    const std::vector<SimCommand>& commands() const { return commands_; }
    void clearCommands() { commands_.clear(); }
    // How many times a pending request's status was read.
    int pollCount() const { return pollCount_; }

    std::uint32_t getSupportInfo() override;
    std::uint8_t sendCommand(SrbExecScsiCmd& srb) override;
    std::uint8_t pollStatus(SrbExecScsiCmd& srb) override;

private:
    int adapterCount_;
    std::uint8_t supportStatus_ = kSsComp;
    int pendingPolls_ = 0;
    int pollCount_ = 0;
    std::map<std::pair<int, int>, std::shared_ptr<SimScsiTarget>> devices_;
    std::vector<SimCommand> commands_;
    struct Pending {
        int pollsLeft;
        std::uint8_t finalStatus;
    };
    std::map<const SrbExecScsiCmd*, Pending> pending_;
};

// Fixed-format sense data as the simulated devices give it.
inline constexpr std::uint8_t kSenseKeyNoSense = 0x00;
inline constexpr std::uint8_t kSenseKeyMediumError = 0x03;
inline constexpr std::uint8_t kSenseKeyIllegalRequest = 0x05;
inline constexpr std::uint8_t kSenseKeyBlankCheck = 0x08;
inline constexpr std::uint8_t kSenseFilemark = 0x80;
inline constexpr std::uint8_t kSenseEndOfMedium = 0x40;
inline constexpr std::uint8_t kSenseIncorrectLength = 0x20;

} // namespace keldo::backup::sim
