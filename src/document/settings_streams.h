// The program's settings kept beside "NameServer": reserved words,
// container labels and the name profile, each a stream of its own. The bytes are little-endian:
// a version word (1), a count, then per entry (the container ID of a label,)
// a 16-bit length in UTF-16 units and the units. Decoding never trusts a
// count or length beyond the bytes that are there, so a damaged stream is
// refused, never read past or allocated for.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "document/document_file.h"
#include "nametree/identifier_profile.h"
#include "nametree/types.h"

namespace nametree::document {

inline constexpr char16_t kKeywordStream[] = u"NametreeKeywords";
inline constexpr char16_t kLabelStream[] = u"NametreeLabels";
// One entry, the profile's name; a document without the stream keeps the
// classic rule.
inline constexpr char16_t kProfileStream[] = u"NametreeProfile";

// The origins of imported names: the source file, then per entry its ID,
// a flag byte (1: a container), the 16-byte key, line, column, width and
// two UTF-8 texts (globalId, path), each a 16-bit byte count and the bytes.
inline constexpr char16_t kOriginStream[] = u"NametreeOrigins";

using Bytes = std::vector<std::uint8_t>;
using LabelMap = std::map<std::uint32_t, CString>;

Bytes EncodeKeywords(const std::vector<CString>& keywords);
std::optional<std::vector<CString>> DecodeKeywords(const Bytes& bytes);

Bytes EncodeLabels(const LabelMap& labels);
std::optional<LabelMap> DecodeLabels(const Bytes& bytes);

Bytes EncodeProfile(NameProfile profile);
// None for anything but one entry naming a known profile.
std::optional<NameProfile> DecodeProfile(const Bytes& bytes);

Bytes EncodeOrigins(const ImportOrigins& origins);
std::optional<ImportOrigins> DecodeOrigins(const Bytes& bytes);

}  // namespace nametree::document
