#include "persist/stream_io.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace nametree {
namespace {
// A counted string is read in pieces no larger than this, so that a hostile
// length costs no more memory than the bytes that actually arrive.
constexpr std::uint32_t kStringChunk = 64 * 1024;
constexpr std::uint32_t kSmallString = 256;
}  // namespace

void ReadExact(IStream* stream, void* buffer, std::uint32_t size) {
  std::uint32_t got = 0;
  HRESULT hr = stream->Read(buffer, size, &got);
  if (Failed(hr)) throw STREAM_READ_FAILED;
  // mutate: short-read-accepted
  if (got != size) throw STREAM_SHORT_TRANSFER;
}

void WriteExact(IStream* stream, const void* buffer, std::uint32_t size) {
  std::uint32_t put = 0;
  HRESULT hr = stream->Write(buffer, size, &put);
  // mutate: write-failure-ignored
  if (Failed(hr)) throw STREAM_WRITE_FAILED;
  if (put != size) throw STREAM_SHORT_TRANSFER;
}

std::uint8_t ReadU8(IStream* stream) {
  std::uint8_t b = 0;
  ReadExact(stream, &b, 1);
  return b;
}

std::uint16_t ReadU16(IStream* stream) {
  std::uint8_t b[2];
  ReadExact(stream, b, 2);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t ReadU32(IStream* stream) {
  std::uint8_t b[4];
  ReadExact(stream, b, 4);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

void WriteU16(IStream* stream, std::uint16_t value) {
  const std::uint8_t b[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
  WriteExact(stream, b, 2);
}

void WriteU32(IStream* stream, std::uint32_t value) {
  const std::uint8_t b[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                             static_cast<std::uint8_t>(value >> 16),
                             static_cast<std::uint8_t>(value >> 24)};
  WriteExact(stream, b, 4);
}

void SkipBytesSingly(IStream* stream, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) ReadU8(stream);
}

CString ReadCountedString(IStream* stream) {
  std::uint8_t lb[4];
  HRESULT hr = stream->Read(lb, 4, nullptr);
  if (hr != S_OK) throw STREAM_READ_FAILED;
  const std::uint32_t length = static_cast<std::uint32_t>(lb[0]) | (static_cast<std::uint32_t>(lb[1]) << 8) |
                               (static_cast<std::uint32_t>(lb[2]) << 16) |
                               (static_cast<std::uint32_t>(lb[3]) << 24);
  if (length == 0) return CString();
  // Shorter than the terminating zero unit: no room can be made for it.
  if (length < 2) throw STREAM_READ_FAILED;

  // Names are short: those arrive in one read into the stack, without a
  // heap buffer per string.
  std::uint8_t small[kSmallString];
  std::vector<std::uint8_t> large;
  std::uint8_t* bytes = small;
  if (length <= kSmallString) {
    // A stream may deliver less than asked without failing; what did not arrive reads as zero.
    std::memset(small, 0, length);
    hr = stream->Read(small, length, nullptr);
    if (hr != S_OK) throw STREAM_READ_FAILED;
  } else {
    std::uint32_t done = 0;
    while (done < length) {
      const std::uint32_t piece = std::min(kStringChunk, length - done);
      large.resize(static_cast<std::size_t>(done) + piece);
      hr = stream->Read(large.data() + done, piece, nullptr);
      if (hr != S_OK) throw STREAM_READ_FAILED;
      done += piece;
    }
    bytes = large.data();
  }
  std::size_t units = 0;
  while (units < length / 2 && (bytes[2 * units] | bytes[2 * units + 1]) != 0) ++units;
  CString text(units, u'\0');
  for (std::size_t i = 0; i < units; ++i)
    text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return text;
}

void WriteCountedString(IStream* stream, std::u16string_view text) {
  // Only the units up to the first zero unit are written.
  const std::size_t units = std::min(text.size(), text.find(u'\0'));
  const std::size_t size = units * 2 + 2;
  std::uint8_t small[kSmallString];
  std::vector<std::uint8_t> large;
  std::uint8_t* bytes = small;
  if (size > kSmallString) {
    large.resize(size);
    bytes = large.data();
  }
  for (std::size_t i = 0; i < units; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(text[i]);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
  }
  bytes[size - 2] = 0;
  bytes[size - 1] = 0;
  const std::uint32_t length = static_cast<std::uint32_t>(size);
  const std::uint8_t lb[4] = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                              static_cast<std::uint8_t>(length >> 16),
                              static_cast<std::uint8_t>(length >> 24)};
  // The counts moved are deliberately not compared for counted strings.
  if (Failed(stream->Write(lb, 4, nullptr))) throw STREAM_WRITE_FAILED;
  if (Failed(stream->Write(bytes, length, nullptr))) throw STREAM_WRITE_FAILED;
}

}  // namespace nametree
