// The on-disk layout of a compound file: a header, sectors chained through
// the FAT, small streams in 64-byte mini sectors chained through the mini
// FAT, and a directory of 128-byte entries linked as red-black trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "nametree/types.h"

namespace nametree::cfb {

inline constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

inline constexpr std::size_t kHeaderSize = 512;  // the fields; a v4 header sector is padded to 4096
inline constexpr std::size_t kHeaderDifatEntries = 109;
inline constexpr std::uint16_t kMinorVersion = 0x003E;
inline constexpr std::uint16_t kByteOrderMark = 0xFFFE;
inline constexpr std::uint16_t kSectorShiftV3 = 9;
inline constexpr std::uint16_t kSectorShiftV4 = 12;
inline constexpr std::uint16_t kMiniSectorShift = 6;
inline constexpr std::uint32_t kMiniSectorSize = 64;
inline constexpr std::uint32_t kMiniStreamCutoff = 4096;

// Header field offsets.
inline constexpr std::size_t kOffMinorVersion = 24;
inline constexpr std::size_t kOffMajorVersion = 26;
inline constexpr std::size_t kOffByteOrder = 28;
inline constexpr std::size_t kOffSectorShift = 30;
inline constexpr std::size_t kOffMiniSectorShift = 32;
inline constexpr std::size_t kOffDirectorySectors = 40;
inline constexpr std::size_t kOffFatSectors = 44;
inline constexpr std::size_t kOffFirstDirectorySector = 48;
inline constexpr std::size_t kOffTransaction = 52;
inline constexpr std::size_t kOffMiniStreamCutoff = 56;
inline constexpr std::size_t kOffFirstMiniFatSector = 60;
inline constexpr std::size_t kOffMiniFatSectors = 64;
inline constexpr std::size_t kOffFirstDifatSector = 68;
inline constexpr std::size_t kOffDifatSectors = 72;
inline constexpr std::size_t kOffHeaderDifat = 76;

// Sector numbers with a meaning of their own.
inline constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
inline constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
inline constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;

// Directory entries.
inline constexpr std::size_t kEntrySize = 128;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
inline constexpr std::size_t kMaxNameUnits = 31;  // plus the terminating zero in 64 bytes
inline constexpr std::size_t kOffEntryNameLength = 64;
inline constexpr std::size_t kOffEntryType = 66;
inline constexpr std::size_t kOffEntryColor = 67;
inline constexpr std::size_t kOffEntryLeft = 68;
inline constexpr std::size_t kOffEntryRight = 72;
inline constexpr std::size_t kOffEntryChild = 76;
inline constexpr std::size_t kOffEntryClsid = 80;
inline constexpr std::size_t kOffEntryState = 96;
inline constexpr std::size_t kOffEntryCreated = 100;
inline constexpr std::size_t kOffEntryModified = 108;
inline constexpr std::size_t kOffEntryStart = 116;
inline constexpr std::size_t kOffEntrySize = 120;

enum class EntryType : std::uint8_t { kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5 };
enum class EntryColor : std::uint8_t { kRed = 0, kBlack = 1 };

// Storages nest no deeper than this; deeper trees are refused rather than
// walked, so that hostile files cannot exhaust the stack.
inline constexpr int kMaxNesting = 256;

// What an entry carries besides its name, links and data; kept as read.
struct EntryMetadata {
  std::uint8_t clsid[16] = {};
  std::uint32_t stateBits = 0;
  std::uint64_t created = 0;
  std::uint64_t modified = 0;

  friend bool operator==(const EntryMetadata&, const EntryMetadata&) = default;
};

struct DirectoryEntry {
  CString name;
  std::uint16_t nameLength = 0;  // the stored byte count, terminator included
  EntryType type = EntryType::kUnused;
  EntryColor color = EntryColor::kBlack;
  std::uint32_t left = kNoStream;
  std::uint32_t right = kNoStream;
  std::uint32_t child = kNoStream;
  std::uint32_t start = kEndOfChain;
  std::uint64_t size = 0;
  EntryMetadata metadata;
};

inline std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t Get64(const std::uint8_t* p) {
  return Get32(p) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}
inline void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put64(std::uint8_t* p, std::uint64_t v) {
  Put32(p, static_cast<std::uint32_t>(v));
  Put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// The order of siblings in a directory tree: shorter names first, names of
// equal length by their upper-cased code units.
int CompareEntryNames(const CString& a, const CString& b);

// Whether `name` may name an entry: at most 31 code units, none of them
// zero or one of / \ : ! (an empty name is read in real files and kept)
bool IsValidEntryName(const CString& name);

}  // namespace nametree::cfb
