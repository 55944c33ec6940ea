// A stream wrapper that fails, or comes short at, the k-th Read or Write,
// and a storage wrapper that hands out such streams: for proving that every
// failure path gives its result code and releases what it took.
#pragma once

#include <cstdint>
#include <vector>

#include "nametree/storage.h"

namespace nametree::test {

enum class Fault { kNone, kFail, kShort };

struct FaultPlan {
  Fault readFault = Fault::kNone;
  int readIndex = -1;  // 0-based index of the Read call to spoil
  Fault writeFault = Fault::kNone;
  int writeIndex = -1;
};

struct FaultCounters {
  int reads = 0;
  int writes = 0;
  std::vector<std::uint32_t> readSizes;  // bytes asked for by each Read, in order
};

// Wraps `inner` (taking a reference). A failing call returns
// STG_E_READFAULT / STG_E_WRITEFAULT and moves nothing; a short one moves
// one byte less than asked (none for a 1-byte call) and returns S_FALSE on
// Read, S_OK on Write. Counters, when given, count calls made.
ComPtr<IStream> WrapStream(IStream* inner, FaultPlan plan, FaultCounters* counters = nullptr);

// A storage whose streams (and its child storages' streams) are wrapped
// with `plan`; OpenStream and CreateStream can also be refused.
struct StorageFaults {
  FaultPlan plan;
  bool refuseOpen = false;
  bool refuseCreate = false;
};
ComPtr<IStorage> WrapStorage(IStorage* inner, StorageFaults faults, FaultCounters* counters = nullptr);

}  // namespace nametree::test
