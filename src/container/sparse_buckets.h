// The non-empty buckets of a large, lightly used table: bucket index to
// chain head (an entry's place in the table's pool, kEmpty for none), in
// index order. Kept in short sorted runs, so that a new
// bucket moves at most one run instead of every bucket above it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace nametree {

class SparseBuckets {
 public:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

 private:
  struct Slot {
    std::uint32_t bucket;
    std::uint32_t head;
  };
  using Run = std::vector<Slot>;
  static constexpr std::size_t kRunLimit = 64;

 public:
  std::size_t size() const { return size_; }

  // The head of bucket b, or nullptr when b has no slot.
  std::uint32_t* Find(std::uint32_t b) const {
    const Pos p = Lower(b);
    if (!At(p, b)) return nullptr;
    return const_cast<std::uint32_t*>(&runs_[p.run][p.slot].head);
  }

  // The head of bucket b, made empty first when b has no slot.
  // Out of memory it throws with nothing changed.
  std::uint32_t& Insert(std::uint32_t b) {
    Pos p = Lower(b);
    if (At(p, b)) return runs_[p.run][p.slot].head;
    if (runs_.empty()) {
      runs_.push_back(Run{Slot{b, kEmpty}});
      ++size_;
      return runs_[0][0].head;
    }
    if (p.run == runs_.size()) p = {runs_.size() - 1, runs_.back().size()};
    Run& run = runs_[p.run];
    run.insert(run.begin() + static_cast<std::ptrdiff_t>(p.slot), Slot{b, kEmpty});
    ++size_;
    if (run.size() > kRunLimit) {
      // Room first: a run left long when memory runs out is still in order.
      try {
        if (runs_.size() == runs_.capacity()) runs_.reserve(2 * runs_.size());
        Run& full = runs_[p.run];  // the reserve may have moved it
        Run upper(full.begin() + kRunLimit / 2, full.end());
        full.resize(kRunLimit / 2);
        runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(p.run) + 1, std::move(upper));
      } catch (const std::bad_alloc&) {
        return runs_[p.run][p.slot].head;
      }
      // A run filled in bucket order, as Load fills them, gets no more slots.
      try {
        runs_[p.run].shrink_to_fit();
      } catch (const std::bad_alloc&) {
      }
      if (p.slot >= kRunLimit / 2) return runs_[p.run + 1][p.slot - kRunLimit / 2].head;
    }
    return runs_[p.run][p.slot].head;
  }

  // The head of the first slot at bucket b or above, its bucket in *at;
  // nullptr when there is none.
  const std::uint32_t* FirstFrom(std::uint32_t b, std::uint32_t* at) const {
    const Pos p = Lower(b);
    if (p.run == runs_.size()) return nullptr;
    *at = runs_[p.run][p.slot].bucket;
    return &runs_[p.run][p.slot].head;
  }

  void Erase(std::uint32_t b) {
    const Pos p = Lower(b);
    if (!At(p, b)) return;
    Run& run = runs_[p.run];
    run.erase(run.begin() + static_cast<std::ptrdiff_t>(p.slot));
    if (run.empty()) runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(p.run));
    --size_;
  }

  // Calls f(bucket, head) per slot in index order; f returns false to stop. f may
  // empty the slot it was given, which then vanishes.
  template <class F>
  bool Walk(F&& f) const {
    Pos p{0, 0};
    while (p.run < runs_.size()) {
      const std::uint32_t b = runs_[p.run][p.slot].bucket;
      if (!f(b, runs_[p.run][p.slot].head)) return false;
      if (At(p, b)) {
        if (++p.slot == runs_[p.run].size()) p = {p.run + 1, 0};
      } else {
        p = Lower(b + 1);
      }
    }
    return true;
  }

  void Clear() {
    runs_.clear();
    runs_.shrink_to_fit();
    size_ = 0;
  }

  std::size_t MemoryUsage() const {
    std::size_t bytes = runs_.capacity() * sizeof(Run);
    for (const Run& r : runs_) bytes += r.capacity() * sizeof(Slot);
    return bytes;
  }

 private:
  struct Pos {
    std::size_t run, slot;
  };

  bool At(Pos p, std::uint32_t b) const {
    return p.run < runs_.size() && p.slot < runs_[p.run].size() && runs_[p.run][p.slot].bucket == b;
  }

  // The first slot whose bucket is b or above; {runs, 0} when there is none.
  Pos Lower(std::uint32_t b) const {
    // Load fills tables in bucket order: most calls ask for the last bucket or past it.
    if (runs_.empty()) return {0, 0};
    if (const std::uint32_t last = runs_.back().back().bucket; last <= b) {
      return last == b ? Pos{runs_.size() - 1, runs_.back().size() - 1} : Pos{runs_.size(), 0};
    }
    std::size_t lo = 0, hi = runs_.size();
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if (runs_[mid].back().bucket < b) lo = mid + 1;
      else hi = mid;
    }
    if (lo == runs_.size()) return {lo, 0};
    const Run& run = runs_[lo];
    std::size_t l = 0, h = run.size();
    while (l < h) {
      const std::size_t mid = (l + h) / 2;
      if (run[mid].bucket < b) l = mid + 1;
      else h = mid;
    }
    return {lo, l};
  }

  std::vector<Run> runs_;
  std::size_t size_ = 0;
};

}  // namespace nametree
