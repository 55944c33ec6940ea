#include "legacy_writer.h"

namespace nametree::cli {

namespace {

constexpr std::uint32_t kFormatWord = 1;

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// Byte length (text and terminating zero unit), then UTF-16LE units and the zero unit.
void PutCountedString(std::vector<std::uint8_t>& out, const CString& text) {
  Put32(out, static_cast<std::uint32_t>(text.size() * 2 + 2));
  for (char16_t c : text) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

void PutIDs(std::vector<std::uint8_t>& out, const std::vector<std::uint32_t>& ids) {
  Put32(out, static_cast<std::uint32_t>(ids.size()));
  for (std::uint32_t id : ids) Put32(out, id);
}

}  // namespace

void LegacyStreamWriter::AddNameObject(const CString& name, std::uint32_t nameID,
                                       std::uint32_t containerID) {
  auto& b = objects_.bytes;
  Put32(b, 2);  // version
  PutCountedString(b, name);
  Put32(b, nameID);
  Put32(b, containerID);
  Put32(b, 0);  // a word the reader passes over
  ++objects_.count;
}

void LegacyStreamWriter::AddBag(const CString& name, std::uint32_t bagID, std::uint32_t parentID,
                                const std::vector<std::uint32_t>& memberIDs) {
  auto& b = bags_.bytes;
  Put32(b, 2);  // version
  PutCountedString(b, name);
  Put32(b, bagID);
  Put32(b, parentID);
  PutIDs(b, memberIDs);
  Put32(b, 0);     // no skipped bytes
  b.push_back(0);  // flag
  ++bags_.count;
}

void LegacyStreamWriter::AddBagContainer(const CString& name, std::uint32_t id,
                                         std::uint32_t parentID,
                                         const std::vector<std::uint32_t>& subContainerIDs,
                                         std::uint32_t type) {
  auto& b = containers_.bytes;
  Put32(b, 1);  // version
  PutCountedString(b, name);
  Put32(b, id);
  Put32(b, parentID);
  PutIDs(b, subContainerIDs);
  Put32(b, type);
  Put32(b, 0);  // no skipped bytes
  ++containers_.count;
}

std::vector<std::uint8_t> LegacyStreamWriter::Finish(std::uint32_t lastIssuedID) const {
  std::vector<std::uint8_t> out;
  Put32(out, kFormatWord);
  Put32(out, lastIssuedID);
  for (const Section* s : {&objects_, &bags_, &containers_}) {
    Put32(out, s->count);
    out.insert(out.end(), s->bytes.begin(), s->bytes.end());
  }
  Put32(out, 0);  // empty trailing block
  return out;
}

}  // namespace nametree::cli
