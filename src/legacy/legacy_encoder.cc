// The one writer of the earlier format's stream: the reader's sections in
// the reader's order, so that whatever it writes LoadOldVersion reads back.
#include <utility>

#include "nametree/legacy_stream.h"

namespace nametree {
namespace {

struct Bytes {
  void U32(std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
  }
  void Text(const CString& text) {
    // mutate: legacy-empty-text-counted
    U32(text.empty() ? 0 : static_cast<std::uint32_t>(text.size() * 2 + 2));
    // mutate: legacy-empty-text-counted
    if (text.empty()) return;
    for (char16_t c : text) {
      out.push_back(static_cast<std::uint8_t>(c));
      out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    out.insert(out.end(), {0, 0});
  }
  void Ids(const std::vector<std::uint32_t>& ids) {
    U32(static_cast<std::uint32_t>(ids.size()));
    for (std::uint32_t id : ids) U32(id);
  }
  // How every record starts: version, text, its ID and the one it belongs to.
  void Head(std::uint32_t version, const CString& name, std::uint32_t id, std::uint32_t owner) {
    U32(version);
    Text(name);
    U32(id);
    U32(owner);
  }
  void Filler(std::uint32_t count) {
    U32(count);
    for (std::uint32_t i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(0xA0 + i));
  }
  std::vector<std::uint8_t> out;
};

}  // namespace

std::vector<std::uint8_t> EncodeLegacyStream(const LegacyDocument& doc, LegacyLayout* layout) {
  LegacyLayout local;
  LegacyLayout& at = layout ? *layout : local;
  at = LegacyLayout{};
  Bytes b;
  b.U32(doc.formatWord);
  b.U32(doc.lastIssuedID);
  at.counterEnd = b.out.size();
  b.U32(static_cast<std::uint32_t>(doc.objects.size()));
  for (const LegacyNameObject& r : doc.objects) {
    b.Head(r.version, r.name, r.id, r.container);
    b.U32(r.unexamined);
    if (r.version == 1) {
      b.U32(r.f);
      if (r.f != 0) b.Ids(r.fWords);
      b.Filler(r.skipBytes);
    }
    at.objectEnds.push_back(b.out.size());
  }
  b.U32(static_cast<std::uint32_t>(doc.bags.size()));
  for (const LegacyBag& r : doc.bags) {
    b.Head(static_cast<std::uint32_t>(r.version), r.name, r.id, r.parent);
    at.bagParentEnds.push_back(b.out.size());
    b.Ids(r.members);
    b.Filler(r.skipBytes);
    // mutate: legacy-bag-flag-dropped
    if (r.version >= 2) b.out.push_back(r.flag);
    at.bagEnds.push_back(b.out.size());
  }
  b.U32(static_cast<std::uint32_t>(doc.containers.size()));
  for (const LegacyBagContainer& r : doc.containers) {
    b.Head(static_cast<std::uint32_t>(r.version), r.name, r.id, r.parent);
    b.Ids(r.subs);
    b.U32(r.type);
    at.containerTypeEnds.push_back(b.out.size());
    if (r.version >= 2) {
      b.U32(r.jWords);
      for (std::uint32_t i = 0; i < r.jWords; ++i) b.U32(0x11110000 + i);
    }
    b.Filler(r.skipBytes);
    if (r.version >= 3) b.U32(0x33333333);
  }
  b.Filler(doc.trailingBytes);
  return std::move(b.out);
}

}  // namespace nametree
