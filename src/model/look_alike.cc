#include "model/look_alike.h"

#include <algorithm>

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/uspoof.h>
#include <unicode/utf16.h>

namespace nametree {

namespace {

// Calls f(code point, index of its first unit) over UTF-16 text; a lone
// surrogate is a code point of its own.
template <class F>
void ForEachCodePoint(const CString& text, F&& f) {
  const auto n = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < n;) {
    const int32_t at = i;
    UChar32 cp = 0;
    U16_NEXT(text.data(), i, n, cp);
    if (!f(static_cast<char32_t>(cp), at)) return;
  }
}

}  // namespace

bool IsInvisibleCodePoint(char32_t cp) {
  const auto c = static_cast<UChar32>(cp);
  return u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT) ||
         u_hasBinaryProperty(c, UCHAR_VARIATION_SELECTOR);
}

bool FindHiddenCodePoint(const CString& text, char32_t* cp, int* index) {
  bool found = false;
  ForEachCodePoint(text, [&](char32_t c, int32_t at) {
    if (!IsHiddenCodePoint(c)) return true;
    *cp = c;
    *index = at;
    found = true;
    return false;
  });
  return found;
}

void LookAlikeKey::Closer::operator()(USpoofChecker* c) const { uspoof_close(c); }

LookAlikeKey::LookAlikeKey() {
  UErrorCode status = U_ZERO_ERROR;
  checker_.reset(uspoof_open(&status));
  if (U_FAILURE(status)) checker_.reset();
  status = U_ZERO_ERROR;
  nfc_ = unorm2_getNFCInstance(&status);
  if (U_FAILURE(status)) nfc_ = nullptr;
}

LookAlikeKey::~LookAlikeKey() = default;

CString LookAlikeKey::operator()(const CString& upper) const {
  CString key;
  key.reserve(upper.size());
  for (char16_t c : upper) {
    const CString* one = AsciiKey(c);
    if (!one) return Computed(upper);
    key += *one;
  }
  return key;
}

const CString* LookAlikeKey::FirstAsciiKey(char16_t c) const {
  if (c >= 128) return nullptr;
  if (!known_[c]) {
    known_[c] = true;
    CString one = Computed(CString(1, c));
    if (!one.empty() && std::all_of(one.begin(), one.end(), [](char16_t k) { return k < 128; }))
      // mutate: look-alike-ascii-identity
      ascii_[c] = std::move(one);
  }
  return ascii_[c].empty() ? nullptr : &ascii_[c];
}

CString LookAlikeKey::Computed(const CString& upper) const {
  CString visible;
  visible.reserve(upper.size());
  ForEachCodePoint(upper, [&](char32_t c, int32_t at) {
    // mutate: skeleton-keeps-invisible
    if (IsInvisibleCodePoint(c)) return true;
    visible.push_back(upper[static_cast<std::size_t>(at)]);
    if (c > 0xFFFF && U_IS_LEAD(upper[static_cast<std::size_t>(at)]))
      visible.push_back(upper[static_cast<std::size_t>(at) + 1]);
    return true;
  });
  const auto* src = reinterpret_cast<const UChar*>(visible.data());
  const auto length = static_cast<int32_t>(visible.size());
  CString out(visible.size() * 2 + 8, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    status = U_ZERO_ERROR;
    auto* dest = reinterpret_cast<UChar*>(out.data());
    const auto capacity = static_cast<int32_t>(out.size());
    n = checker_ ? uspoof_getSkeleton(checker_.get(), 0, src, length, dest, capacity, &status)
        : nfc_   ? unorm2_normalize(nfc_, src, length, dest, capacity, &status)
                 : 0;
    if (status != U_BUFFER_OVERFLOW_ERROR) break;
    out.assign(static_cast<std::size_t>(n) + 1, u'\0');
  }
  if (U_FAILURE(status) || (!checker_ && !nfc_)) return visible;
  out.resize(static_cast<std::size_t>(n));
  return out;
}

}  // namespace nametree
