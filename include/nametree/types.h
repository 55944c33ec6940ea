// Basic vocabulary shared by every part of the library: wide strings,
// status codes and IDs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "nametree/export.h"

namespace nametree {

// Names are sequences of UTF-16 code units.
using CString = std::u16string;

// Status values follow the HRESULT convention: negative means failure.
using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_NAME_INVALID = static_cast<HRESULT>(0x800A03EAu);
inline constexpr HRESULT E_NAME_DUPLICATE = static_cast<HRESULT>(0x800A03EBu);

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

// Container types the library gives a meaning to; any other value is stored as is.
inline constexpr std::int16_t kOrdinaryContainer = 0;
inline constexpr std::int16_t kGlobalContainer = 2;
inline constexpr std::int16_t kTargetContainer = 3;
inline constexpr std::int16_t kLocalCheckContainer = 4;

// A container's type as the modern faces carry it. Its values are the
// classic numbers, and a number the library gives no meaning to is kept as
// it is, so the two convert both ways without loss.
enum class ContainerType : std::int16_t {
  kPlain = kOrdinaryContainer,
  kGlobal = kGlobalContainer,    // its names are unique across the whole document
  kTarget = kTargetContainer,    // apart from the global namespace
  kOwn = kLocalCheckContainer,   // may keep its duplicate check inside itself
};

// The classic number of a type (the classic API's int16_t, the stream's
// field, the number JSON prints), and the type of a classic number.
constexpr std::int16_t ContainerTypeNumber(ContainerType type) { return static_cast<std::int16_t>(type); }
constexpr ContainerType ContainerTypeOfNumber(std::int16_t number) {
  // mutate: type-number-misread
  return static_cast<ContainerType>(number);
}

// The types that have a word of their own, in the order help lists them.
inline constexpr ContainerType kNamedContainerTypes[] = {ContainerType::kGlobal, ContainerType::kTarget,
                                                         ContainerType::kOwn, ContainerType::kPlain};

// "global", "target", "own", "plain", or "type N" for any other value.
NAMETREE_API std::string ContainerTypeName(ContainerType type);
inline std::string ContainerTypeName(std::int16_t number) { return ContainerTypeName(ContainerTypeOfNumber(number)); }
// A named type by its word (as ContainerTypeName gives it); none for other text.
NAMETREE_API std::optional<ContainerType> ContainerTypeByName(std::string_view word);
// A type written as its word or as a number from -32768 to 32767; none for
// anything else.
NAMETREE_API std::optional<ContainerType> ParseContainerType(std::string_view text);

// Whether a search that descends from a container goes on into a
// sub-container of this type; any other type is passed over with its subtree.
constexpr bool SearchEntersType(std::int16_t type) {
  // mutate: recursion-skips-type-4
  return type == kGlobalContainer || type == kTargetContainer || type == kLocalCheckContainer;
}

// Returns a short symbolic name for a status ("S_OK", "E_NAME_DUPLICATE", ...),
// or "0x........" for values the library does not define.
NAMETREE_API std::string StatusName(HRESULT hr);

}  // namespace nametree
