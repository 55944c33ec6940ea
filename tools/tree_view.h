// The container tree of a name server as text or JSON: each container with
// its ID and type, every entry of its names (by ID) and its sub-containers
// (by ID).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "nametree/document.h"
#include "nametree/tree_walk.h"
#include "output.h"

namespace nametree::cli {

struct TreeOptions {
  int maxNamesShown = -1;  // per container; -1 shows all, the rest is counted
  // An optional caption after a container's line (the demo names its containers).
  std::function<std::string(std::uint32_t)> caption;
  // The sub-tree of this container alone (0: the whole tree), and at most
  // this many levels below it (-1: all).
  std::uint32_t root = 0;
  int maxDepth = -1;
  // A container's label, empty when it has none; shown as " @LABEL" after its type.
  std::function<CString(std::uint32_t)> label;
};

void PrintTree(const Document& doc, const TreeOptions& options);
// Each container of the tree (or of the options' sub-tree, to their depth)
// before those below it, sub-containers by ID; with its depth below the
// first level and whether those below it are visited.
void VisitTreeByID(const Document& doc, const TreeOptions& options,
                   const std::function<void(const ContainerRef&, int, bool)>& visit);
// A container's names sorted by ID; the texts are views, good until the
// container changes.
std::vector<std::pair<std::uint32_t, std::u16string_view>> NamesByID(const ContainerRef& c);
Json TreeJson(const Document& doc, const TreeOptions& options = {});

struct TreeCounts {
  int containers = 0;
  int names = 0;
};
TreeCounts CountTree(const Document& doc);

}  // namespace nametree::cli
