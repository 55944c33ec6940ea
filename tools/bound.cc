#include "bound.h"

#include <cerrno>
#include <cstdlib>

#include "args.h"
#include "container_arg.h"
#include "keywords.h"
#include "nametree/keyword_sets.h"

namespace nametree::cli {

const OptionSpec kJsonOption{"json", "", "report as JSON (errors too, on stdout)"};
const OptionSpec kJsonObjectOption{"json", "", "report as one JSON object"};

std::string Convert(std::string_view, const Words& words, bool* out) {
  *out = !words.empty();
  return {};
}

std::string Convert(std::string_view, const Words& words, std::string* out) {
  if (!words.empty()) *out = words.back();
  return {};
}

std::string Convert(std::string_view, const Words& words, std::optional<std::string>* out) {
  if (!words.empty()) *out = words.back();
  return {};
}

std::string Convert(std::string_view, const Words& words, std::vector<std::string>* out) {
  *out = words;
  return {};
}

std::string Convert(std::string_view what, const Words& words, Kind* out) {
  if (words.empty()) return {};
  const std::optional<std::uint32_t> kind = ParseUnsigned(words.back());
  if (!kind) return std::string(what) + " must be a number, not \"" + Echo(words.back()) + "\"";
  out->value = *kind;
  return {};
}

std::string ConvertBounded(std::string_view what, const Words& words, std::uint32_t lo, std::uint32_t hi,
                           std::uint32_t* out) {
  if (words.empty()) return {};
  const std::optional<std::uint32_t> n = ParseUnsigned(words.back());
  // mutate: bounded-range-one-over
  if (!n || *n < lo || *n > hi)
    return std::string(what) + " must be a number from " + std::to_string(lo) + " to " + std::to_string(hi) +
           ", not \"" + Echo(words.back()) + "\"";
  *out = *n;
  return {};
}

std::string Convert(std::string_view what, const Words& words, ContainerWord* out) {
  if (words.empty()) return {};
  out->text = words.back();
  if (out->IsLabel()) return {};
  const std::optional<std::uint32_t> id = ParseUnsigned(out->text);
  if (!id) return std::string(what) + " must be a number or @LABEL, not \"" + Echo(out->text) + "\"";
  out->id = *id;
  return {};
}

std::string Convert(std::string_view, const Words& words, NameText* out) {
  if (words.empty()) return {};
  out->typed = words.back();
  std::optional<CString> name = ParseName(out->typed);
  if (!name) return "\"" + Echo(out->typed) + "\" is not valid UTF-8";
  out->value = std::move(*name);
  return {};
}

std::string Convert(std::string_view, const Words& words, WaitSeconds* out) {
  if (words.empty()) return {};
  // strtol, as ever: a leading blank or plus sign is taken.
  const std::string& text = words.back();
  char* end = nullptr;
  errno = 0;
  const long seconds = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || errno != 0 || seconds < 0 || seconds > 86400)
    return "--wait takes a whole number of seconds from 0 to 86400";
  out->value = static_cast<int>(seconds);
  return {};
}

std::string Convert(std::string_view, const Words& words, NameProfile* out) {
  if (words.empty()) return {};
  const std::optional<NameProfile> named = NameProfileNamed(words.back());
  if (!named) {
    std::string known;
    for (std::string_view n : NameProfileNames()) known += (known.empty() ? "" : ", ") + std::string(n);
    return "no name profile is called \"" + Echo(words.back()) + "\" (there is " + known + ")";
  }
  *out = *named;
  return {};
}

std::string ConvertKeywordSets(const Words& words, std::vector<std::string>* out) {
  for (const std::string& name : words)
    // mutate: keyword-set-name-unchecked
    if (KeywordSet(name).empty()) return UnknownKeywordSet(name);
  *out = words;
  return {};
}

bool ResolveLabel(const Document& doc, const char* what, ContainerWord* word, std::string* error) {
  if (!word->IsLabel()) return true;
  const std::optional<std::uint32_t> id = ContainerArg(doc, word->text, what, error);
  if (id) word->id = *id;
  return id.has_value();
}

}  // namespace nametree::cli
