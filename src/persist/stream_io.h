// The two encodings every stream of the library is made of: exact transfers
// of little-endian integers, and counted strings (a 32-bit byte length that
// includes a terminating zero unit, then UTF-16LE units and the zero).
//
// Failures raise eSTREAM_ERROR_CODE; every load or save entry point catches
// it and turns it into its result code, so nothing leaves the library.
#pragma once

#include <cstdint>
#include <new>
#include <string_view>

#include "nametree/storage.h"
#include "nametree/types.h"

namespace nametree {

enum eSTREAM_ERROR_CODE : int {
  STREAM_WRITE_FAILED = 1,  // a Write returned a negative status
  STREAM_READ_FAILED = 2,   // a Read failed, a counted string came short, or no room for it
  STREAM_SHORT_TRANSFER = 3,  // an exact transfer moved a different number of bytes
};

void ReadExact(IStream* stream, void* buffer, std::uint32_t size);
void WriteExact(IStream* stream, const void* buffer, std::uint32_t size);

std::uint8_t ReadU8(IStream* stream);
std::uint16_t ReadU16(IStream* stream);
std::uint32_t ReadU32(IStream* stream);
void WriteU16(IStream* stream, std::uint16_t value);
void WriteU32(IStream* stream, std::uint32_t value);

// Reads and discards `count` bytes one at a time, as the legacy format asks.
void SkipBytesSingly(IStream* stream, std::uint32_t count);

CString ReadCountedString(IStream* stream);
void WriteCountedString(IStream* stream, std::u16string_view text);

// What a load or save step answers: E_FAIL when the stream fails or memory
// runs out inside `step`, else what `step` returns.
template <class Step>
HRESULT FailOnStreamError(Step step) {
  try {
    return step();
  } catch (eSTREAM_ERROR_CODE) {
    return E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_FAIL;
  }
}

}  // namespace nametree
