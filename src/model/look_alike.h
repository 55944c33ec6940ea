// When two names look alike: the same key after ignoring letter case (as
// names compare), dropping default-ignorable code points and variation
// selectors (which render as nothing or only restyle the character before
// them), and mapping the rest to the confusable skeleton of Unicode TR 39.
// Where ICU's spoof checker cannot be opened, the key is the NFC form of
// the same text (still without the invisible code points).
//
// Text of ASCII alone takes a table: the skeleton maps code point by code
// point and normalization leaves ASCII as it is, so the key of such a text
// is the keys of its characters put together, wherever those are ASCII too.
//
// Also which characters hide in a name: bidi controls, default-ignorable
// code points and line or paragraph separators show as nothing or move
// what follows.
#pragma once

#include <memory>

#include "nametree/types.h"
#include "platform/text.h"

struct USpoofChecker;
struct UNormalizer2;

namespace nametree {

class LookAlikeKey {
 public:
  LookAlikeKey();
  ~LookAlikeKey();
  LookAlikeKey(const LookAlikeKey&) = delete;
  LookAlikeKey& operator=(const LookAlikeKey&) = delete;

  // The key of a text already upper-cased.
  CString operator()(const CString& upper) const;
  // The same without the table, for any text.
  CString Computed(const CString& upper) const;
  // The key of one upper-cased ASCII character, or null where it leaves
  // ASCII (then only the whole text has a key).
  const CString* AsciiKey(char16_t c) const {
    if (c < 128 && known_[c]) return ascii_[c].empty() ? nullptr : &ascii_[c];
    return FirstAsciiKey(c);
  }
  bool UsesSkeleton() const { return checker_ != nullptr; }

 private:
  struct Closer {
    void operator()(USpoofChecker* c) const;
  };
  const CString* FirstAsciiKey(char16_t c) const;
  std::unique_ptr<USpoofChecker, Closer> checker_;
  const UNormalizer2* nfc_ = nullptr;
  // Keys of the ASCII characters, filled as met; empty where a key leaves
  // ASCII.
  mutable CString ascii_[128];
  mutable bool known_[128] = {};
};

// Dropped from look-alike keys: default-ignorable code points and variation selectors.
bool IsInvisibleCodePoint(char32_t cp);

// The first hidden code point of the text and its UTF-16 index; false when none.
bool FindHiddenCodePoint(const CString& text, char32_t* cp, int* index);

}  // namespace nametree
