// Filling a CNameRefusal where a server call decides. Every call that takes
// one leaves it kNone when it accepts and sets exactly one reason when it
// refuses; the HRESULT it returns stays the classic one, whatever the reason.
#pragma once

#include "nametree/name_container.h"
#include "nametree/name_server.h"

namespace nametree::outcome {

using Reason = CNameRefusal::Reason;

// Notes why a call refused, where it decided to, and returns its result.
inline HRESULT Refuse(CNameRefusal* why, HRESULT hr, Reason reason) {
  if (why) why->reason = reason;
  return hr;
}

// A refused draw of IDs (`needed` of them) is the counter's end when fewer
// remain; otherwise memory ran out.
inline Reason Exhausted(std::uint32_t needed) {
  return CNameContainer::GetRemainingNameIDs() < needed ? Reason::kOutOfIds : Reason::kOutOfMemory;
}

// The reason of a duplicate search that found `hit`: a hit that names no
// namespace is the search running out of memory.
inline Reason OfHit(const CDuplicateHit& hit) {
  switch (hit.where) {
    case CDuplicateHit::Where::kNone: return Reason::kOutOfMemory;
    // mutate: keyword-outcome-is-duplicate
    case CDuplicateHit::Where::kKeyword: return Reason::kKeyword;
    default: return Reason::kDuplicate;
  }
}

}  // namespace nametree::outcome
