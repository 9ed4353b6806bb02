#pragma once

// Blowfish, 16 rounds, in ECB mode, as the archive uses it: each 8-byte block is two 32-bit
// halves in big-endian byte order (bytes 0-3 the left half) and is stored back the same way.
//
// Key rule of the archive: the key bytes are the 8-bit (Windows-1252) characters of the
// engine's key. A key of 8 to 65 bytes runs the published key schedule; any other key,
// the empty key included, is discarded and the cipher runs with the initial P-array and
// S-boxes, so all such keys give one and the same transformation.
//
// Usage: TBlowfish bf; bf.setKey(key); bf.encryptECB(buf, 16); bf.decryptECB(buf, 16);

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace keldo::backup {

class TBlowfish {
public:
    static constexpr std::size_t kBlockSize = 8;
    static constexpr std::size_t kMinKeyLength = 8;
    static constexpr std::size_t kMaxKeyLength = 65;

    // Starts with no key: the initial P-array and S-boxes.
    TBlowfish();
    // Overwrites its copy of the key (and the key-dependent tables) with zero bytes.
    ~TBlowfish();
    TBlowfish(const TBlowfish&) = delete;
    TBlowfish& operator=(const TBlowfish&) = delete;

    // Resets the tables and, when the key's length is within the key rule above, runs the
    // key schedule with it.
    void setKey(std::string_view key);
    // True when the last setKey ran the key schedule (false for a discarded key).
    bool keyScheduled() const { return scheduled_; }

    // Encrypt or decrypt size bytes in place, block by block. size must be a multiple of 8;
    // anything else raises EAssertionFailed.
    void encryptECB(std::uint8_t* data, std::size_t size) const;
    void decryptECB(std::uint8_t* data, std::size_t size) const;

    // One block as two halves, for the published test vectors.
    void encryptBlock(std::uint32_t& left, std::uint32_t& right) const;
    void decryptBlock(std::uint32_t& left, std::uint32_t& right) const;

private:
    void resetTables();
    std::uint32_t f(std::uint32_t x) const;

    std::array<std::uint32_t, 18> p_{};
    std::array<std::array<std::uint32_t, 256>, 4> s_{};
    std::string key_;
    bool scheduled_ = false;
};

} // namespace keldo::backup
