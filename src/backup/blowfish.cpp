#include "backup/blowfish.h"

#include "backup/backup_errors.h"
#include "backup/blowfish_tables.h"

#include <algorithm>
#include <cstring>

namespace keldo::backup {

namespace {

constexpr int kRounds = 16;

// Zeroing through a volatile pointer, so the compiler cannot drop it as a dead store.
void wipe(void* data, std::size_t size) {
    volatile auto* bytes = static_cast<volatile std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

std::uint32_t loadBigEndian(const std::uint8_t* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
           (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
}

void storeBigEndian(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

} // namespace

TBlowfish::TBlowfish() {
    resetTables();
}

TBlowfish::~TBlowfish() {
    wipe(key_.data(), key_.size());
    wipe(p_.data(), sizeof p_);
    wipe(s_.data(), sizeof s_);
}

void TBlowfish::resetTables() {
    std::copy(std::begin(blowfish_tables::kInitialP), std::end(blowfish_tables::kInitialP),
              p_.begin());
    std::copy(std::begin(blowfish_tables::kInitialS0), std::end(blowfish_tables::kInitialS0),
              s_[0].begin());
    std::copy(std::begin(blowfish_tables::kInitialS1), std::end(blowfish_tables::kInitialS1),
              s_[1].begin());
    std::copy(std::begin(blowfish_tables::kInitialS2), std::end(blowfish_tables::kInitialS2),
              s_[2].begin());
    std::copy(std::begin(blowfish_tables::kInitialS3), std::end(blowfish_tables::kInitialS3),
              s_[3].begin());
}

void TBlowfish::setKey(std::string_view key) {
    wipe(key_.data(), key_.size());
    key_.assign(key.begin(), key.end());
    resetTables();
    // Keys outside 8..65 characters were always ignored by the archive's cipher; archives
    // written with such keys must stay readable, so the rule stays as it is.
    scheduled_ = key_.size() >= kMinKeyLength && key_.size() <= kMaxKeyLength;
    if (!scheduled_) {
        return;
    }
    std::size_t k = 0;
    for (auto& word : p_) {
        std::uint32_t data = 0;
        for (int i = 0; i < 4; ++i) {
            data = (data << 8) | static_cast<std::uint8_t>(key_[k]);
            k = (k + 1) % key_.size();
        }
        word ^= data;
    }
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    for (std::size_t i = 0; i < p_.size(); i += 2) {
        encryptBlock(left, right);
        p_[i] = left;
        p_[i + 1] = right;
    }
    for (auto& box : s_) {
        for (std::size_t i = 0; i < box.size(); i += 2) {
            encryptBlock(left, right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
}

std::uint32_t TBlowfish::f(std::uint32_t x) const {
    return ((s_[0][x >> 24] + s_[1][(x >> 16) & 0xFF]) ^ s_[2][(x >> 8) & 0xFF]) + s_[3][x & 0xFF];
}

void TBlowfish::encryptBlock(std::uint32_t& left, std::uint32_t& right) const {
    std::uint32_t l = left;
    std::uint32_t r = right;
    for (int i = 0; i < kRounds; ++i) {
        l ^= p_[i];
        r ^= f(l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= p_[kRounds];
    l ^= p_[kRounds + 1];
    left = l;
    right = r;
}

void TBlowfish::decryptBlock(std::uint32_t& left, std::uint32_t& right) const {
    std::uint32_t l = left;
    std::uint32_t r = right;
    for (int i = kRounds + 1; i > 1; --i) {
        l ^= p_[i];
        r ^= f(l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= p_[1];
    l ^= p_[0];
    left = l;
    right = r;
}

void TBlowfish::encryptECB(std::uint8_t* data, std::size_t size) const {
    if (size % kBlockSize != 0) {
        throw EAssertionFailed("Blowfish: " + std::to_string(size) + " bytes is not whole blocks");
    }
    for (std::size_t at = 0; at < size; at += kBlockSize) {
        std::uint32_t l = loadBigEndian(data + at);
        std::uint32_t r = loadBigEndian(data + at + 4);
        encryptBlock(l, r);
        storeBigEndian(data + at, l);
        storeBigEndian(data + at + 4, r);
    }
}

void TBlowfish::decryptECB(std::uint8_t* data, std::size_t size) const {
    if (size % kBlockSize != 0) {
        throw EAssertionFailed("Blowfish: " + std::to_string(size) + " bytes is not whole blocks");
    }
    for (std::size_t at = 0; at < size; at += kBlockSize) {
        std::uint32_t l = loadBigEndian(data + at);
        std::uint32_t r = loadBigEndian(data + at + 4);
        decryptBlock(l, r);
        storeBigEndian(data + at, l);
        storeBigEndian(data + at + 4, r);
    }
}

} // namespace keldo::backup
