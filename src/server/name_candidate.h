// The text of a proposal: a cleaned base name and a counter value in the
// form a digit count asks for, cut to the longest name the rules accept.
// Shared by the proposal calls so that they propose the same candidates.
#pragma once

#include <cstddef>

#include "nametree/name_server.h"

namespace nametree::candidate {

// The number part as "%d", "%0Nd" or "%0-Nd" writes it ("-" wins over "0":
// left-aligned, filled with spaces).
enum class Fill { kNone, kZeros, kSpacesAfter };

struct NumberFormat {
  Fill fill = Fill::kNone;
  std::size_t width = 0;
};

NumberFormat FormatForDigits(int digits);

// The candidate for `count` under the length rule. Where even the unpadded
// number does not fit, the base loses its last code units until the padded
// form fits, and stays shortened for the rest of the request. False when the
// base runs out first.
bool MakeCandidate(CString& base, int count, NumberFormat format, CString& candidate);

}  // namespace nametree::candidate
