#pragma once

// Small enumerations shared by the archive stream and the backup engine.

namespace keldo::backup {

// The answer to a question the engine or the archive stream asks its caller (a disk change,
// a file that cannot be opened or read). Questions are always asked with AW_IGNORE preset.
enum class TReaction { AW_RETRY, AW_IGNORE, AW_ABORT };

// Block compression of a backup: none, zlib level 1, zlib level 9.
enum class TCompressData { CDM_NoCompression, CDM_QuickCompression, CDM_MaxCompression };

} // namespace keldo::backup
