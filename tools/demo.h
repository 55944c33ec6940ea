// Pieces of 'nametree demo' shared between its files.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "output.h"

namespace nametree::cli {

void DemoHeading(int number, const char* title);

// Captions for the containers the demo made, for the tree printer.
using DemoCaptions = std::map<std::uint32_t, std::string>;
std::function<std::string(std::uint32_t)> CaptionsOf(const DemoCaptions& captions);

// Writes a document of the earlier format into dir, imports it, saves the
// result in the current format and prints it; returns an exit code.
int DemoLegacyImport(Reporter& report, const std::string& dir);

}  // namespace nametree::cli
