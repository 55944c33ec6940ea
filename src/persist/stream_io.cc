#include "persist/stream_io.h"

#include <algorithm>
#include <vector>

namespace nametree {
namespace {
// A counted string is read in pieces no larger than this, so that a hostile
// length costs no more memory than the bytes that actually arrive.
constexpr std::uint32_t kStringChunk = 64 * 1024;
}  // namespace

void ReadExact(IStream* stream, void* buffer, std::uint32_t size) {
  std::uint32_t got = 0;
  HRESULT hr = stream->Read(buffer, size, &got);
  if (Failed(hr)) throw STREAM_READ_FAILED;
  if (got != size) throw STREAM_SHORT_TRANSFER;
}

void WriteExact(IStream* stream, const void* buffer, std::uint32_t size) {
  std::uint32_t put = 0;
  HRESULT hr = stream->Write(buffer, size, &put);
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

  std::vector<std::uint8_t> bytes;
  std::uint32_t done = 0;
  while (done < length) {
    const std::uint32_t piece = std::min(kStringChunk, length - done);
    bytes.resize(static_cast<std::size_t>(done) + piece);
    hr = stream->Read(bytes.data() + done, piece, nullptr);
    if (hr != S_OK) throw STREAM_READ_FAILED;
    done += piece;
  }
  CString text;
  text.reserve(length / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

void WriteCountedString(IStream* stream, const CString& text) {
  // Only the units up to the first zero unit are written.
  const std::size_t units = std::min(text.size(), text.find(u'\0'));
  std::vector<std::uint8_t> bytes;
  bytes.reserve(units * 2 + 2);
  for (std::size_t i = 0; i < units; ++i) {
    bytes.push_back(static_cast<std::uint8_t>(text[i]));
    bytes.push_back(static_cast<std::uint8_t>(text[i] >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  const std::uint32_t length = static_cast<std::uint32_t>(bytes.size());
  const std::uint8_t lb[4] = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                              static_cast<std::uint8_t>(length >> 16),
                              static_cast<std::uint8_t>(length >> 24)};
  // The counts moved are deliberately not compared for counted strings.
  if (Failed(stream->Write(lb, 4, nullptr))) throw STREAM_WRITE_FAILED;
  if (Failed(stream->Write(bytes.data(), length, nullptr))) throw STREAM_WRITE_FAILED;
}

}  // namespace nametree
