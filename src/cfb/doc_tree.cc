#include "cfb/doc_tree.h"

#include <algorithm>
#include <cstring>

namespace nametree::cfb {
namespace {

class BytesSource final : public ByteSource {
 public:
  explicit BytesSource(Bytes bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size, std::string* error) override {
    if (offset > bytes_.size() || size > bytes_.size() - offset) {
      if (error) *error = "a read reaches past the end of the file";
      return false;
    }
    if (size) std::memcpy(data, bytes_.data() + offset, size);
    return true;
  }

 private:
  Bytes bytes_;
};

bool Broken(std::string* error) {
  if (error) *error = "a stream's chain no longer fits the file";
  return false;
}

}  // namespace

std::shared_ptr<ByteSource> MemorySource(Bytes bytes) { return std::make_shared<BytesSource>(std::move(bytes)); }

ChainReader::ChainReader(std::shared_ptr<const FileLayout> layout, std::uint32_t start, std::uint64_t size)
    : layout_(std::move(layout)),
      mini_(size < kMiniStreamCutoff),
      unitSize_(mini_ ? kMiniSectorSize : layout_->sectorSize),
      remaining_(size),
      unit_(start) {}

std::uint64_t ChainReader::UnitOffset(std::uint32_t unit) const {
  if (!mini_) return (std::uint64_t{unit} + 1) * layout_->sectorSize;
  const std::uint64_t at = std::uint64_t{unit} * kMiniSectorSize;
  const std::uint64_t sector = at / layout_->sectorSize;
  if (sector >= layout_->miniChain.size()) return ~std::uint64_t{0};
  return (std::uint64_t{layout_->miniChain[sector]} + 1) * layout_->sectorSize + at % layout_->sectorSize;
}

bool ChainReader::NextRun(std::uint64_t limit, std::uint64_t* offset, std::uint64_t* length,
                          std::string* error) {
  const std::vector<std::uint32_t>& table = mini_ ? layout_->miniFat : layout_->fat;
  *length = 0;
  limit = std::min(limit, remaining_);
  while (*length < limit) {
    const std::uint64_t at = UnitOffset(unit_);
    if (at == ~std::uint64_t{0}) return Broken(error);
    if (*length == 0) *offset = at + intoUnit_;
    else if (at != *offset + *length) break;
    const std::uint64_t take = std::min<std::uint64_t>(unitSize_ - intoUnit_, limit - *length);
    *length += take;
    intoUnit_ += static_cast<std::uint32_t>(take);
    if (intoUnit_ == unitSize_) {
      intoUnit_ = 0;
      if (remaining_ > *length) {
        if (unit_ >= table.size()) return Broken(error);
        unit_ = table[unit_];
      }
    }
  }
  remaining_ -= *length;
  return true;
}

bool ChainReader::Read(std::uint8_t* data, std::size_t size, std::string* error) {
  if (size > remaining_) return Broken(error);
  while (size > 0) {
    std::uint64_t offset = 0, length = 0;
    if (!NextRun(size, &offset, &length, error)) return false;
    if (length == 0) return Broken(error);
    if (!layout_->source->ReadAt(offset, data, static_cast<std::size_t>(length), error)) return false;
    data += length;
    size -= static_cast<std::size_t>(length);
  }
  return true;
}

bool LoadStream(const std::shared_ptr<const FileLayout>& layout, const DocNode& node, Bytes* out,
                std::string* error) {
  if (node.data) {
    *out = *node.data;
    return true;
  }
  out->resize(node.size);
  if (node.size == 0) return true;
  ChainReader reader(layout, node.start, node.size);
  return reader.Read(out->data(), out->size(), error);
}

}  // namespace nametree::cfb
