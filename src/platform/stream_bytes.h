// The library's own streams (memory storage, compound files) answer
// IID_IStreamBytes with this interface: their bytes from the current
// position on, read in place, so that a record is parsed without a Read per
// field. No host stream knows the identity, so a host's stream is always
// read through Read, field by field.
//
// Invariant: a view handed out holds exactly the bytes that Reads from the
// same position would deliver, in order, up to the stream's end; Advance
// moves the position as Reads of that many bytes would have; an adopted
// buffer leaves the stream's bytes and position as one Write of it would.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nametree/storage.h"
#include "nametree/unknown.h"
#include "platform/byte_buffer.h"
#include "platform/counted.h"

namespace nametree {

extern const IID IID_IStreamBytes;

class IStreamBytes : public IUnknown {
 public:
  // The bytes from the position to the end; valid until the next call on
  // the stream. A failure (a damaged file, no memory) leaves the position
  // where it was, so the caller can still read the ordinary way.
  virtual HRESULT Rest(const std::uint8_t** data, std::size_t* size) = 0;
  // Moves the position forward by `count`, at most the size Rest told.
  virtual void Advance(std::size_t count) = 0;
  // Takes `bytes` whole as the stream's contents, leaving `bytes` empty,
  // where that is what a Write of them would leave: at position 0, over no
  // more bytes than they are. False, with nothing changed, where the
  // stream cannot; the caller then writes them.
  virtual bool Adopt(ByteBuffer& /*bytes*/) { return false; }

 protected:
  ~IStreamBytes() = default;
};

// The counting and the two identities of a stream of this library.
class OwnStream : public Counted<IStream>, public IStreamBytes {
 public:
  using Counted<IStream>::Counted;

  HRESULT QueryInterface(const IID& iid, void** ppv) override {
    if (ppv && iid == IID_IStreamBytes) {
      AddRef();
      *ppv = static_cast<IStreamBytes*>(this);
      return S_OK;
    }
    return Answer(iid, IID_IStream, ppv);
  }
  std::uint32_t AddRef() override { return Counted::AddRef(); }
  std::uint32_t Release() override { return Counted::Release(); }
};

}  // namespace nametree
