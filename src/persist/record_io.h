// Reading and writing container records through the library's own streams
// in bulk, and through any other stream exactly as the format prescribes.
//
// Invariant: a host's stream (one that does not answer IID_IStreamBytes)
// sees the same sequence of Reads and Writes, with the same sizes, that the
// field-by-field encoders of stream_io.h issue, so every failing or short
// transfer lands where it always did. A stream of the library is read in
// place and written with one Write of the finished bytes at the end (and
// before a refusal, so a failed save leaves the same partial bytes); both
// yield the same bytes, values and error codes as the field-by-field way.
// The gathered bytes become the stream's own where it can adopt them.
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "nametree/storage.h"
#include "nametree/types.h"
#include "platform/byte_buffer.h"
#include "platform/stream_bytes.h"

namespace nametree {

class RecordReader {
 public:
  explicit RecordReader(IStream* stream);
  // Moves the stream past what was read, on success and on failure.
  ~RecordReader();
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  std::uint16_t U16();
  std::uint32_t U32();
  // A counted string into `text`, whose storage is reused.
  void Text(CString& text);

 private:
  const std::uint8_t* Take(std::size_t size);

  IStream* stream_;
  ComPtr<IStreamBytes> bytes_;  // none for a host's stream
  const std::uint8_t* at_ = nullptr;
  const std::uint8_t* end_ = nullptr;
  const std::uint8_t* begin_ = nullptr;
};

class RecordWriter {
 public:
  explicit RecordWriter(IStream* stream);
  ~RecordWriter();
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  void U16(std::uint16_t value) {
    if (std::uint8_t* p = FastRoom(2)) return Put(p, value, 2);
    SlowU16(value);
  }
  void U32(std::uint32_t value) {
    if (std::uint8_t* p = FastRoom(4)) return Put(p, value, 4);
    SlowU32(value);
  }
  // A counted string: the units up to the first zero unit, then a zero.
  void Text(std::u16string_view text) {
    // Room for the whole view is room for any part of it, so the units are
    // searched for a zero while they are copied, in one pass.
    if (gather_ && 6 + 2 * text.size() <= buffer_.capacity() - buffer_.size()) {
      buffer_.Claim(PutTextToZero(buffer_.data() + buffer_.size(), text));
      return;
    }
    SlowText(text.substr(0, std::min(text.size(), text.find(u'\0'))));
  }
  // Room for `bytes` more without growing, when gathering; out of memory
  // it throws and the bytes gathered so far stay.
  void Reserve(std::size_t bytes);
  // How much is gathered, and dropping what was gathered after such a
  // mark: a caller that fails part-way hands on only whole records, as a
  // field-by-field writer would have written them before the failure.
  std::size_t Mark() const { return buffer_.size(); }
  void Rewind(std::size_t mark) {
    if (mark < buffer_.size()) buffer_.Resize(mark);
  }
  // Hands what is gathered to the stream: the buffer itself where the
  // stream can take it, else in Writes.
  void Flush();

 private:
  std::uint8_t* Room(std::size_t size);
  // Room already there while gathering, else none.
  std::uint8_t* FastRoom(std::size_t size) {
    if (!gather_ || size > buffer_.capacity() - buffer_.size()) return nullptr;
    return buffer_.Claim(size);
  }
  static void Put(std::uint8_t* p, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  // The counted string of text's units up to the first zero unit at p;
  // returns the bytes put, at most 6 + 2 * text.size().
  static std::size_t PutTextToZero(std::uint8_t* p, std::u16string_view text);
  void SlowText(std::u16string_view text);
  void SlowU16(std::uint16_t value);
  void SlowU32(std::uint32_t value);

  IStream* stream_;
  ComPtr<IStreamBytes> own_;  // none for a host's stream
  bool gather_ = false;
  ByteBuffer buffer_;
};

}  // namespace nametree
