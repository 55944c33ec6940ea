// The container tree of a name server as text or JSON: each container with
// its ID and type, every entry of its names (by ID) and its sub-containers
// (by ID).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "nametree/name_server.h"
#include "output.h"

namespace nametree::cli {

struct TreeOptions {
  int maxNamesShown = -1;  // per container; -1 shows all, the rest is counted
  // An optional caption after a container's line (the demo names its containers).
  std::function<std::string(std::uint32_t)> caption;
};

void PrintTree(const CNameServer& server, const TreeOptions& options);
Json TreeJson(const CNameServer& server);

struct TreeCounts {
  int containers = 0;
  int names = 0;
};
TreeCounts CountTree(const CNameServer& server);

}  // namespace nametree::cli
