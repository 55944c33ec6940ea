// The last part of 'nametree demo': a document of the earlier format,
// stated as records, imported and saved in the current format.
#include <cstdio>
#include <filesystem>

#include "demo.h"
#include "cli.h"
#include "document.h"
#include "nametree/legacy_stream.h"
#include "nametree/utf8.h"
#include "tree_view.h"

namespace nametree::cli {

namespace {

// A plant of the earlier format: a global bag container with the bags
// "Devices" and "Drivers", a target with one sub-container and a bag of
// tags, and one name object that points at no container at all.
std::vector<std::uint8_t> EarlierPlant() {
  LegacyDocument plant{.formatWord = 1, .lastIssuedID = 200};
  plant.objects = {{.name = u"Pump1", .id = 100},       {.name = u"Pump2", .id = 101},
                   {.name = u"Valve1", .id = 102},      {.name = u"Profibus1", .id = 110},
                   {.name = u"Level", .id = 120},       {.name = u"Flow", .id = 121},
                   {.name = u"StationAlarm", .id = 130, .container = 31},
                   {.name = u"Orphan", .id = 140, .container = 99}};
  plant.bags = {{.name = u"Devices", .id = 20, .parent = 10, .members = {100, 101, 102}},
                {.name = u"Drivers", .id = 21, .parent = 10, .members = {110}},
                {.name = u"Tags", .id = 40, .parent = 30, .members = {120, 121}}};
  plant.containers = {{.name = u"Plant", .id = 10, .type = 2},
                      {.name = u"Station", .id = 30, .subs = {31}, .type = 3}};
  return EncodeLegacyStream(plant);
}

}  // namespace

int DemoLegacyImport(Reporter& report, const std::string& dir) {
  DemoHeading(6, "A document of the earlier format, imported");
  const std::string legacyPath = dir + "/earlier.doc";
  const std::string convertedPath = dir + "/earlier.nt";
  const std::vector<std::uint8_t> stream = EarlierPlant();
  if (int rc = WriteLegacyDocument(report, legacyPath, stream)) return rc;
  std::printf("wrote earlier.doc: storage \"QXTNameServer\", element \"NameService\" (%zu bytes)\n",
              stream.size());

  Document converted = Document::InMemory();
  if (int rc = ImportLegacyDocument(report, legacyPath, converted)) return rc;
  if (int rc = CreateDocument(report, converted, convertedPath)) return rc;
  if (int rc = SaveDocument(report, converted)) return rc;
  const CNameServer& server = converted.Server();
  const TreeCounts counts = CountTree(converted);
  std::printf("imported and saved as earlier.nt: %d containers, %d names with their old IDs\n",
              counts.containers, counts.names);
  std::printf("bags became containers: \"Devices\" of container 10 is container %u\n",
              server.GetBagbyName(10, u"Devices"));
  std::printf("\"Orphan\" named container 99, which does not exist, and was dropped\n");
  const DemoCaptions captions = {{10, "was bag container \"Plant\""},
                                 {20, "was bag \"Devices\""},
                                 {21, "was bag \"Drivers\""},
                                 {30, "was bag container \"Station\""},
                                 {31, "listed by \"Station\""},
                                 {40, "was bag \"Tags\""}};
  TreeOptions options;
  options.caption = CaptionsOf(captions);
  PrintTree(converted, options);
  return kExitOk;
}

}  // namespace nametree::cli
