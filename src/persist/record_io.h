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
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "nametree/storage.h"
#include "nametree/types.h"
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

  void U16(std::uint16_t value);
  void U32(std::uint32_t value);
  void Text(std::u16string_view text);  // a counted string
  // Hands what is gathered to the stream.
  void Flush();

 private:
  std::uint8_t* Room(std::size_t size);

  IStream* stream_;
  bool gather_ = false;
  std::uint8_t* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace nametree
