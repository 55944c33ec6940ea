#include "nametree/name_container.h"

namespace nametree {
namespace {
// Shared by every container and server of the process; the host has one
// thread, so nothing guards it.
std::uint32_t g_lastIssuedNameID = 0;
}  // namespace

std::uint32_t CNameContainer::GetNextNameID() { return ++g_lastIssuedNameID; }
std::uint32_t CNameContainer::GetLastIssuedNameID() { return g_lastIssuedNameID; }
void CNameContainer::SetLastIssuedNameID(std::uint32_t value) { g_lastIssuedNameID = value; }
std::uint32_t CNameContainer::GetRemainingNameIDs() { return 0xFFFFFFFFu - g_lastIssuedNameID; }

}  // namespace nametree
