#include "nametree/name_glob.h"

#include "nametree/tree_walk.h"

namespace nametree {

std::optional<NameGlob> NameGlob::Make(std::u16string_view pattern, Case letterCase, Sets sets) {
  if (sets == Sets::kBracketed)
    for (std::size_t at = pattern.find(u'['); at != std::u16string_view::npos; at = pattern.find(u'[', at + 1)) {
      // The first unit of a set is a member even when it is ']'.
      const std::size_t close = at + 2 <= pattern.size() ? pattern.find(u']', at + 2) : std::u16string_view::npos;
      // mutate: glob-set-unclosed-accepted
      if (close == std::u16string_view::npos) return std::nullopt;
      at = close;
    }
  CString kept(pattern);
  return NameGlob(letterCase == Case::kKept ? std::move(kept) : NameCompareKey(kept), letterCase, sets);
}

bool NameGlob::Matches(std::u16string_view name) const {
  if (case_ == Case::kKept) return MatchesKey(name);
  return MatchesKey(NameCompareKey(CString(name)));
}

bool NameGlob::MatchesOne(char16_t c, std::size_t at, std::size_t* next) const {
  const std::u16string_view p = pattern_;
  if (sets_ == Sets::kLiteral || p[at] != u'[') return *next = at + 1, p[at] == u'?' || p[at] == c;
  bool in = false;
  std::size_t i = at + 1;
  for (bool first = true; i < p.size() && (first || p[i] != u']'); first = false) {
    if (i + 2 < p.size() && p[i + 1] == u'-' && p[i + 2] != u']') {
      // mutate: glob-range-end-excluded
      in = in || (p[i] <= c && c <= p[i + 2]);
      i += 3;
    } else {
      in = in || p[i] == c;
      ++i;
    }
  }
  *next = i + 1;
  return in;
}

bool NameGlob::MatchesKey(std::u16string_view name) const {
  const std::u16string_view p = pattern_;
  // A star that failed is retried one unit further on.
  std::size_t n = 0, at = 0, star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    std::size_t next = 0;
    if (at < p.size() && p[at] == u'*') {
      star = at++;
      resume = n;
    } else if (at < p.size() && MatchesOne(name[n], at, &next)) {
      at = next;
      ++n;
    // mutate: glob-star-no-backtrack
    } else if (star != std::u16string_view::npos) {
      at = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (at < p.size() && p[at] == u'*') ++at;
  return at == p.size();
}

}  // namespace nametree
