#include "backup/checksum.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace keldo::backup {

std::uint32_t checksumUpdate(std::uint32_t running, const void* data, std::size_t size) {
    // zlib keeps the register inverted between calls; ours is the plain register, so the
    // value goes in and comes out complemented.
    uLong crc = ~running & 0xFFFFFFFFu;
    const auto* bytes = static_cast<const Bytef*>(data);
    while (size > 0) {
        const auto piece =
            static_cast<uInt>(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
        crc = crc32(crc, bytes, piece);
        bytes += piece;
        size -= piece;
    }
    return ~static_cast<std::uint32_t>(crc);
}

std::uint32_t checksumOf(std::string_view bytes) {
    return checksumUpdate(kChecksumStart, bytes.data(), bytes.size());
}

} // namespace keldo::backup
