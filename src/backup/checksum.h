#pragma once

// The file checksum stored in every catalogue entry: the reflected CRC-32 of the IEEE 802.3
// polynomial, started from 0xFFFFFFFF and never inverted at the end, i.e. the bitwise
// complement of the common CRC-32. An empty file gives 0xFFFFFFFF, "abc" gives 0xCADBBE3D.
//
// Usage: std::uint32_t sum = kChecksumStart;
//        while (n = read(piece)) sum = checksumUpdate(sum, piece, n);

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace keldo::backup {

inline constexpr std::uint32_t kChecksumStart = 0xFFFFFFFFu;

// Continues a running checksum over the next size bytes; pieces may have any length.
std::uint32_t checksumUpdate(std::uint32_t running, const void* data, std::size_t size);

// The checksum of a whole byte string.
std::uint32_t checksumOf(std::string_view bytes);

} // namespace keldo::backup
