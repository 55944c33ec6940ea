// The last part of 'nametree demo': a document of the earlier format,
// written here byte by byte, imported and saved in the current format.
#include <cstdio>
#include <filesystem>

#include "demo.h"
#include "cli.h"
#include "document.h"
#include "legacy_writer.h"
#include "nametree/utf8.h"
#include "tree_view.h"

namespace nametree::cli {

namespace {

// A plant of the earlier format: a global bag container with the bags
// "Devices" and "Drivers", a target with one sub-container and a bag of
// tags, and one name object that points at no container at all.
std::vector<std::uint8_t> EarlierPlant() {
  LegacyStreamWriter w;
  w.AddNameObject(u"Pump1", 100, 0);
  w.AddNameObject(u"Pump2", 101, 0);
  w.AddNameObject(u"Valve1", 102, 0);
  w.AddNameObject(u"Profibus1", 110, 0);
  w.AddNameObject(u"Level", 120, 0);
  w.AddNameObject(u"Flow", 121, 0);
  w.AddNameObject(u"StationAlarm", 130, 31);
  w.AddNameObject(u"Orphan", 140, 99);
  w.AddBag(u"Devices", 20, 10, {100, 101, 102});
  w.AddBag(u"Drivers", 21, 10, {110});
  w.AddBag(u"Tags", 40, 30, {120, 121});
  w.AddBagContainer(u"Plant", 10, 0, {}, 2);
  w.AddBagContainer(u"Station", 30, 0, {31}, 3);
  return w.Finish(200);
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

  Document converted;
  if (int rc = ImportLegacyDocument(report, legacyPath, converted.Server())) return rc;
  if (int rc = CreateDocument(report, converted, convertedPath)) return rc;
  if (int rc = SaveDocument(report, converted)) return rc;
  const CNameServer& server = converted.Server();
  const TreeCounts counts = CountTree(server);
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
  PrintTree(server, options);
  return kExitOk;
}

}  // namespace nametree::cli
