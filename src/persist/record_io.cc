#include "persist/record_io.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "persist/stream_io.h"

namespace nametree {
namespace {
constexpr std::size_t kFirstBuffer = 64 * 1024;
// One Write moves at most this much; its count is 32-bit.
constexpr std::size_t kLargestWrite = std::size_t{1} << 30;

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, static_cast<std::uint16_t>(v));
  Put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}
}  // namespace

RecordReader::RecordReader(IStream* stream) : stream_(stream) {
  void* found = nullptr;
  if (stream->QueryInterface(IID_IStreamBytes, &found) != S_OK || !found) return;
  bytes_ = ComPtr<IStreamBytes>::Attach(static_cast<IStreamBytes*>(found));
  std::size_t size = 0;
  if (Failed(bytes_->Rest(&begin_, &size))) {
    bytes_.Reset();  // read the ordinary way, which meets the failure where it lies
    return;
  }
  at_ = begin_;
  end_ = begin_ + size;
}

RecordReader::~RecordReader() {
  // mutate: in-place-read-not-advanced
  if (bytes_) bytes_->Advance(static_cast<std::size_t>(at_ - begin_));
}

// As a Read of `size` bytes that came short: what there was is consumed.
const std::uint8_t* RecordReader::Take(std::size_t size) {
  if (static_cast<std::size_t>(end_ - at_) < size) {
    at_ = end_;
    return nullptr;
  }
  const std::uint8_t* p = at_;
  at_ += size;
  return p;
}

std::uint16_t RecordReader::U16() {
  if (!bytes_) return ReadU16(stream_);
  const std::uint8_t* p = Take(2);
  if (!p) throw STREAM_SHORT_TRANSFER;
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t RecordReader::U32() {
  if (!bytes_) return ReadU32(stream_);
  const std::uint8_t* p = Take(4);
  if (!p) throw STREAM_SHORT_TRANSFER;
  return Get32(p);
}

void RecordReader::Text(CString& text) {
  if (!bytes_) {
    text = ReadCountedString(stream_);
    return;
  }
  const std::uint8_t* lb = Take(4);
  if (!lb) throw STREAM_READ_FAILED;
  const std::uint32_t length = Get32(lb);
  if (length == 0) {
    text.clear();
    return;
  }
  if (length < 2) throw STREAM_READ_FAILED;
  const std::uint8_t* p = Take(length);
  if (!p) throw STREAM_READ_FAILED;
  std::size_t units = 0;
  while (units < length / 2 && (p[2 * units] | p[2 * units + 1]) != 0) ++units;
  text.resize(units);
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(text.data(), p, units * 2);
  } else {
    for (std::size_t i = 0; i < units; ++i) text[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  }
}

RecordWriter::RecordWriter(IStream* stream) : stream_(stream) {
  void* found = nullptr;
  if (stream->QueryInterface(IID_IStreamBytes, &found) == S_OK && found) {
    own_ = ComPtr<IStreamBytes>::Attach(static_cast<IStreamBytes*>(found));
    gather_ = true;
  }
}

RecordWriter::~RecordWriter() = default;

void RecordWriter::Reserve(std::size_t bytes) {
  const std::size_t size = buffer_.size(), capacity = buffer_.capacity();
  if (!gather_ || bytes <= capacity - size) return;
  // By half again at least, so that many records in a row grow the buffer
  // a few times only; the first record of a stream gets exactly its room.
  buffer_.Reserve(std::max(size + bytes, capacity + capacity / 2));
}

std::uint8_t* RecordWriter::Room(std::size_t size) {
  return buffer_.Extend(size, kFirstBuffer);
}

void RecordWriter::SlowU16(std::uint16_t value) {
  if (!gather_) return WriteU16(stream_, value);
  Put16(Room(2), value);
}

void RecordWriter::SlowU32(std::uint32_t value) {
  if (!gather_) return WriteU32(stream_, value);
  Put32(Room(4), value);
}

std::size_t RecordWriter::PutTextToZero(std::uint8_t* p, std::u16string_view text) {
  std::uint8_t* out = p + 4;
  const char16_t* in = text.data();
  const std::size_t n = text.size();
  std::size_t units = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Four units at a time while none of them is zero.
    for (; units + 4 <= n; units += 4) {
      std::uint64_t four;
      std::memcpy(&four, in + units, 8);
      // mutate: gathered-text-copied-past-zero
      if ((four - 0x0001000100010001u) & ~four & 0x8000800080008000u) break;
      std::memcpy(out + 2 * units, &four, 8);
    }
  }
  for (; units < n && in[units] != 0; ++units) Put16(out + 2 * units, static_cast<std::uint16_t>(in[units]));
  // mutate: gathered-text-without-terminator-length
  Put32(p, static_cast<std::uint32_t>(units * 2 + 2));
  out[2 * units] = 0;
  out[2 * units + 1] = 0;
  return 6 + 2 * units;
}

void RecordWriter::SlowText(std::u16string_view text) {
  if (!gather_) return WriteCountedString(stream_, text);
  PutTextToZero(Room(6 + 2 * text.size()), text);
}

void RecordWriter::Flush() {
#ifndef NDEBUG
  if (!buffer_.Check()) std::abort();
#endif
  if (own_ && own_->Adopt(buffer_)) return;
  for (std::size_t done = 0; done < buffer_.size();) {
    const std::size_t piece = std::min(kLargestWrite, buffer_.size() - done);
    // mutate: gathered-save-never-written
    WriteExact(stream_, buffer_.data() + done, static_cast<std::uint32_t>(piece));
    done += piece;
  }
  buffer_.Resize(0);
}

}  // namespace nametree
