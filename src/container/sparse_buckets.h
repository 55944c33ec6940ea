// The non-empty buckets of a large, lightly used table: bucket index to
// chain head (an entry's place in the table's pool, kEmpty for none), in
// index order. Kept in short sorted runs, so that a new
// bucket moves at most one run instead of every bucket above it.
//
// Invariant: runs are non-empty, their buckets strictly ascending within
// and across runs; ends_[i] is the last bucket of runs_[i], so that a
// search over runs reads one contiguous array instead of a heap block per
// step. CheckRuns verifies it.
#pragma once

#include <algorithm>
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
      ends_.reserve(1);
      runs_.push_back(Run{Slot{b, kEmpty}});
      ends_.push_back(b);
      ++size_;
      return runs_[0][0].head;
    }
    if (p.run == runs_.size()) p = {runs_.size() - 1, runs_.back().size()};
    Run& run = runs_[p.run];
    run.insert(run.begin() + static_cast<std::ptrdiff_t>(p.slot), Slot{b, kEmpty});
    // mutate: sparse-run-end-kept-after-insert
    ends_[p.run] = run.back().bucket;
    ++size_;
    if (run.size() > kRunLimit) {
      // Room first: a run left long when memory runs out is still in order.
      try {
        if (runs_.size() == runs_.capacity()) runs_.reserve(2 * runs_.size());
        if (ends_.size() == ends_.capacity()) ends_.reserve(2 * ends_.size());
        Run& full = runs_[p.run];  // the reserve may have moved it
        Run upper(full.begin() + kRunLimit / 2, full.end());
        full.resize(kRunLimit / 2);
        ends_[p.run] = full.back().bucket;
        ends_.insert(ends_.begin() + static_cast<std::ptrdiff_t>(p.run) + 1, upper.back().bucket);
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
    if (run.empty()) {
      runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(p.run));
      ends_.erase(ends_.begin() + static_cast<std::ptrdiff_t>(p.run));
    } else {
      // mutate: sparse-run-end-kept-after-erase
      ends_[p.run] = run.back().bucket;
    }
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
    ends_.clear();
    ends_.shrink_to_fit();
    size_ = 0;
  }

  // Whether the invariant above holds.
  bool CheckRuns() const {
    if (ends_.size() != runs_.size()) return false;
    std::size_t count = 0;
    std::uint32_t previous = 0;
    for (std::size_t r = 0; r < runs_.size(); ++r) {
      if (runs_[r].empty() || ends_[r] != runs_[r].back().bucket) return false;
      for (const Slot& slot : runs_[r]) {
        if (count > 0 && slot.bucket <= previous) return false;
        previous = slot.bucket;
        ++count;
      }
    }
    return count == size_;
  }

  std::size_t MemoryUsage() const {
    std::size_t bytes = runs_.capacity() * sizeof(Run) + ends_.capacity() * sizeof(std::uint32_t);
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
    if (const std::uint32_t last = ends_.back(); last <= b) {
      // mutate: sparse-last-bucket-missed
      return last == b ? Pos{runs_.size() - 1, runs_.back().size() - 1} : Pos{runs_.size(), 0};
    }
    // Below the last end, so some run ends at b or above.
    const std::size_t lo = static_cast<std::size_t>(std::lower_bound(ends_.begin(), ends_.end(), b) - ends_.begin());
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
  std::vector<std::uint32_t> ends_;
  std::size_t size_ = 0;
};

}  // namespace nametree
