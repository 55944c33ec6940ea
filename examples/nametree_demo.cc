// Builds a small tree of namespaces and prints it: what a host does first.
#include <cstdio>
#include <vector>

#include "nametree/name_server.h"
#include "nametree/utf8.h"

using namespace nametree;

static void Print(const CNameContainer& c, int depth) {
  std::printf("%*scontainer %u (type %d)\n", depth * 2, "", c.GetID(), c.GetContainerType());
  std::vector<CString> names(static_cast<std::size_t>(c.GetNumNames()));
  std::vector<std::uint32_t> ids(names.size());
  c.GetAllNameAndIDsInContainer(names.data(), ids.data());
  for (std::size_t i = 0; i < names.size(); ++i)
    std::printf("%*s%s = %u\n", depth * 2 + 2, "", ToUtf8(names[i]).c_str(), ids[i]);
  std::vector<std::uint32_t> subs(static_cast<std::size_t>(c.GetNumSubContainers()));
  c.GetSubContainerIDs(subs.data());
  for (std::uint32_t id : subs) Print(*c.FindContainer(id), depth + 1);
}

int main() {
  CNameServer server;
  const std::uint32_t global = server.AddContainer(0, kGlobalContainer);
  const std::uint32_t devices = server.AddContainer(global, kOrdinaryContainer);
  const std::uint32_t target = server.AddContainer(0, kTargetContainer);
  for (const char16_t* n : {u"Pump1", u"Pump2", u"Valve1"}) server.GetContainer(devices)->AddName(n);
  server.GetContainer(global)->AddName(u"Plant");
  server.GetContainer(target)->AddName(u"Controller");
  for (std::uint32_t id : server.GetTopLevelContainerIDs()) Print(*server.GetContainer(id), 0);
  return 0;
}
