#include "persist/name_batch.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "container/container_tables.h"
#include "persist/record_io.h"
#include "platform/text.h"

namespace nametree {

void NameBatch::Read(RecordReader& in, int count) {
  ids_.clear();
  ends_.clear();
  texts_.clear();
  for (int i = 0; i < count; ++i) {
    ids_.push_back(in.U32());
    in.Text(read_);
    texts_.insert(texts_.end(), read_.begin(), read_.end());
    ends_.push_back(texts_.size());
  }
  keys_.assign(texts_.begin(), texts_.end());
  for (std::size_t i = 0, from = 0; i < size(); from = ends_[i++]) MakeUpper(keys_.data() + from, ends_[i] - from);
}

void NameBatch::Enter(ContainerTables& tables) {
  const std::size_t n = size();
  std::size_t units = 0;
  for (std::size_t i = 0; i < n; ++i) {
    units += NameUnitStore::UnitsInArray(TextAt(i).size());
    // Keys equal to their texts share their units.
    if (KeyAt(i) != TextAt(i)) units += NameUnitStore::UnitsInArray(KeyAt(i).size());
  }
  tables.ReserveNames(n, units);
  const std::size_t before = tables.Names().size();
  texts_at_.resize(n);
  for (std::size_t i = 0; i < n; ++i) texts_at_[i] = tables.EnterName(ids_[i], TextAt(i));
  // Only when every ID was new does each text's slot stay as it was made.
  // mutate: batch-text-slots-after-repeated-id
  const bool allNew = tables.Names().size() == before + n;
  order_.resize(n);
  // mutate: batch-keys-reversed-in-bucket
  for (std::size_t i = 0; i < n; ++i) order_[i] = std::uint64_t{tables.Keys().BucketOf(KeyAt(i))} << 32 | i;
  SortByBucket();
  for (const std::uint64_t o : order_) {
    const auto i = static_cast<std::size_t>(o & 0xFFFFFFFFu);
    tables.EnterKeyOfName(KeyAt(i), ids_[i], allNew ? &texts_at_[i] : nullptr);
  }
}

// The same order as std::sort gives, since every position differs: a
// stable radix sort by the bucket's two low bytes when buckets fit them.
void NameBatch::SortByBucket() {
  const std::size_t n = order_.size();
  if (n < kRadixFrom || (order_.empty() ? 0 : *std::max_element(order_.begin(), order_.end())) >> 48) {
    std::sort(order_.begin(), order_.end());
    return;
  }
  scratch_.resize(n);
  for (const int shift : {32, 40}) {
    std::size_t at[257] = {};
    // mutate: batch-radix-offsets-unshifted
    for (const std::uint64_t o : order_) ++at[((o >> shift) & 0xFF) + 1];
    for (std::size_t d = 1; d <= 256; ++d) at[d] += at[d - 1];
    for (const std::uint64_t o : order_) scratch_[at[(o >> shift) & 0xFF]++] = o;
    order_.swap(scratch_);
  }
}

bool NameBatch::MatchesOneByOne(const ContainerTables& tables) const {
  NameUnitStore units;
  NameByIdTable names(units, tables.Names().BucketCount());
  IdByNameTable keys(units);
  keys.InitHashTable(tables.Keys().BucketCount());
  for (std::size_t i = 0; i < size(); ++i) {
    names.SetAt(ids_[i], TextAt(i));
    keys.SetAt(KeyAt(i), ids_[i]);
  }
  std::vector<std::pair<std::uint32_t, std::u16string_view>> want, have;
  auto add = [](auto& list) {
    return [&list](auto a, auto b) {
      if constexpr (std::is_same_v<decltype(a), std::uint32_t>) {
        list.emplace_back(a, b);
      } else {
        list.emplace_back(b, a);
      }
      return true;
    };
  };
  names.Walk(add(want));
  tables.Names().Walk(add(have));
  if (want != have) return false;
  want.clear();
  have.clear();
  keys.Walk(add(want));
  tables.Keys().Walk(add(have));
  return want == have;
}

}  // namespace nametree
