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

}  // namespace nametree::document
