// The matchers of 'find'. Letter case follows the library's compare key, so
// that find agrees with what add calls the same name; only the regular
// expression folds case its own (ICU's) way.
#include <unicode/regex.h>

#include "navigate.h"
#include "nametree/name_glob.h"
#include "nametree/tree_walk.h"

namespace nametree::cli {

namespace {

class KeyMatcher : public NameMatcher {
 public:
  KeyMatcher(Mode mode, const CString& text) : mode_(mode), key_(NameCompareKey(text)) {}
  bool Matches(const CString& name) override {
    // mutate: prefix-as-exact
    if (name.size() < key_.size() || (mode_ == Mode::kExact && name.size() != key_.size())) return false;
    return NameCompareKey(name.substr(0, key_.size())) == key_;
  }

 private:
  Mode mode_;
  CString key_;
};

// '[' is a unit of its own here, as find has always taken it.
class GlobMatcher : public NameMatcher {
 public:
  explicit GlobMatcher(const CString& text)
      : glob_(*NameGlob::Make(text, NameGlob::Case::kAsNamesCompare, NameGlob::Sets::kLiteral)) {}
  bool Matches(const CString& name) override { return glob_.Matches(name); }

 private:
  NameGlob glob_;
};

class RegexMatcher : public NameMatcher {
 public:
  RegexMatcher(std::unique_ptr<icu::RegexPattern> p, std::unique_ptr<icu::RegexMatcher> m)
      : pattern_(std::move(p)), matcher_(std::move(m)) {}
  bool Matches(const CString& name) override {
    const icu::UnicodeString text(false, name.data(), static_cast<int32_t>(name.size()));
    matcher_->reset(text);
    UErrorCode status = U_ZERO_ERROR;
    return matcher_->find(0, status) && U_SUCCESS(status);
  }

 private:
  std::unique_ptr<icu::RegexPattern> pattern_;  // the matcher refers to it
  std::unique_ptr<icu::RegexMatcher> matcher_;
};

}  // namespace

std::unique_ptr<NameMatcher> NameMatcher::Make(Mode mode, const CString& text, std::string* error) {
  if (mode == Mode::kGlob) return std::make_unique<GlobMatcher>(text);
  if (mode != Mode::kRegex) return std::make_unique<KeyMatcher>(mode, text);
  UErrorCode status = U_ZERO_ERROR;
  UParseError where{};
  const icu::UnicodeString pattern(text.data(), static_cast<int32_t>(text.size()));
  std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(pattern, UREGEX_CASE_INSENSITIVE, where, status));
  std::unique_ptr<icu::RegexMatcher> m(U_SUCCESS(status) ? compiled->matcher(status) : nullptr);
  if (U_FAILURE(status) || !m) {
    *error = "the regular expression does not compile: " + std::string(u_errorName(status)) + " at offset " +
             std::to_string(where.offset + 1);
    return nullptr;
  }
  return std::make_unique<RegexMatcher>(std::move(compiled), std::move(m));
}

}  // namespace nametree::cli
