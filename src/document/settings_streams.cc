#include "document/settings_streams.h"

#include <algorithm>

namespace nametree::document {

namespace {

constexpr std::uint32_t kVersion = 1;

void Put32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutText(Bytes& out, const CString& text) {
  const std::size_t n = std::min<std::size_t>(text.size(), 0xFFFF);
  out.push_back(static_cast<std::uint8_t>(n));
  out.push_back(static_cast<std::uint8_t>(n >> 8));
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(static_cast<std::uint8_t>(text[i]));
    out.push_back(static_cast<std::uint8_t>(text[i] >> 8));
  }
}

void Put64(Bytes& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// UTF-8 text kept as bytes: a file name need not be valid UTF-8.
void PutUtf8(Bytes& out, const std::string& text) {
  const std::size_t n = std::min<std::size_t>(text.size(), 0xFFFF);
  out.push_back(static_cast<std::uint8_t>(n));
  out.push_back(static_cast<std::uint8_t>(n >> 8));
  out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
}

class Reader {
 public:
  explicit Reader(const Bytes& bytes) : bytes_(bytes) {}
  bool Get32(std::uint32_t* v) {
    if (bytes_.size() - at_ < 4) return false;
    *v = 0;
    for (int i = 0; i < 4; ++i) *v |= static_cast<std::uint32_t>(bytes_[at_++]) << (8 * i);
    return true;
  }
  bool GetText(CString* text) {
    if (bytes_.size() - at_ < 2) return false;
    const std::size_t n = bytes_[at_] | (bytes_[at_ + 1] << 8);
    at_ += 2;
    if ((bytes_.size() - at_) / 2 < n) return false;
    text->resize(n);
    for (std::size_t i = 0; i < n; ++i, at_ += 2)
      (*text)[i] = static_cast<char16_t>(bytes_[at_] | (bytes_[at_ + 1] << 8));
    return true;
  }
  bool Get64(std::uint64_t* v) {
    std::uint32_t low = 0, high = 0;
    if (!Get32(&low) || !Get32(&high)) return false;
    *v = low | (static_cast<std::uint64_t>(high) << 32);
    return true;
  }
  bool GetByte(std::uint8_t* v) {
    if (at_ == bytes_.size()) return false;
    *v = bytes_[at_++];
    return true;
  }
  bool GetUtf8(std::string* text) {
    if (bytes_.size() - at_ < 2) return false;
    const std::size_t n = bytes_[at_] | (bytes_[at_ + 1] << 8);
    at_ += 2;
    if (bytes_.size() - at_ < n) return false;
    text->assign(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + n));
    at_ += n;
    return true;
  }
  // The header; the count is at most what the remaining bytes can hold.
  bool Header(std::uint32_t* count, std::size_t entryBytes) {
    std::uint32_t version = 0;
    return Get32(&version) && version == kVersion && Get32(count) && *count <= (bytes_.size() - at_) / entryBytes;
  }
  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  const Bytes& bytes_;
  std::size_t at_ = 0;
};

}  // namespace

Bytes EncodeKeywords(const std::vector<CString>& keywords) {
  Bytes out;
  Put32(out, kVersion);
  Put32(out, static_cast<std::uint32_t>(keywords.size()));
  for (const CString& k : keywords) PutText(out, k);
  return out;
}

std::optional<std::vector<CString>> DecodeKeywords(const Bytes& bytes) {
  Reader in(bytes);
  std::uint32_t count = 0;
  if (!in.Header(&count, 2)) return std::nullopt;
  std::vector<CString> keywords(count);
  for (CString& k : keywords)
    if (!in.GetText(&k)) return std::nullopt;
  if (!in.AtEnd()) return std::nullopt;
  return keywords;
}

Bytes EncodeLabels(const LabelMap& labels) {
  Bytes out;
  Put32(out, kVersion);
  Put32(out, static_cast<std::uint32_t>(labels.size()));
  for (const auto& [id, label] : labels) {
    Put32(out, id);
    PutText(out, label);
  }
  return out;
}

std::optional<LabelMap> DecodeLabels(const Bytes& bytes) {
  Reader in(bytes);
  std::uint32_t count = 0;
  if (!in.Header(&count, 6)) return std::nullopt;
  LabelMap labels;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t id = 0;
    CString label;
    if (!in.Get32(&id) || !in.GetText(&label) || !labels.emplace(id, std::move(label)).second) return std::nullopt;
  }
  if (!in.AtEnd()) return std::nullopt;
  return labels;
}

Bytes EncodeProfile(NameProfile profile) {
  const std::string_view name = NameProfileName(profile);
  return EncodeKeywords({CString(name.begin(), name.end())});
}

std::optional<NameProfile> DecodeProfile(const Bytes& bytes) {
  const std::optional<std::vector<CString>> entries = DecodeKeywords(bytes);
  if (!entries || entries->size() != 1) return std::nullopt;
  std::string name;
  for (char16_t c : entries->front()) {
    if (c > 0x7F) return std::nullopt;
    name.push_back(static_cast<char>(c));
  }
  return NameProfileNamed(name);
}

namespace {
constexpr std::size_t kOriginEntryBytes = 4 + 1 + 16 + 12 + 2 + 2;
}  // namespace

Bytes EncodeOrigins(const ImportOrigins& origins) {
  Bytes out;
  Put32(out, kVersion);
  PutUtf8(out, origins.source);
  Put32(out, static_cast<std::uint32_t>(origins.entries.size()));
  for (const ElementOrigin& e : origins.entries) {
    Put32(out, e.id);
    out.push_back(e.container ? 1 : 0);
    Put64(out, e.key[0]);
    Put64(out, e.key[1]);
    Put32(out, e.line);
    Put32(out, e.column);
    Put32(out, e.width);
    PutUtf8(out, e.globalId);
    PutUtf8(out, e.path);
  }
  return out;
}

std::optional<ImportOrigins> DecodeOrigins(const Bytes& bytes) {
  Reader in(bytes);
  ImportOrigins origins;
  std::uint32_t version = 0, count = 0;
  if (!in.Get32(&version) || version != kVersion || !in.GetUtf8(&origins.source) || !in.Get32(&count) ||
      count > bytes.size() / kOriginEntryBytes)
    return std::nullopt;
  origins.entries.resize(count);
  for (ElementOrigin& e : origins.entries) {
    std::uint8_t flags = 0;
    if (!in.Get32(&e.id) || !in.GetByte(&flags) || flags > 1 || !in.Get64(&e.key[0]) || !in.Get64(&e.key[1]) ||
        !in.Get32(&e.line) || !in.Get32(&e.column) || !in.Get32(&e.width) || !in.GetUtf8(&e.globalId) ||
        !in.GetUtf8(&e.path))
      return std::nullopt;
    e.container = flags == 1;
  }
  if (!in.AtEnd()) return std::nullopt;
  return origins;
}

}  // namespace nametree::document
