// Imports a small project from memory under the IEC 61131-3 keywords and
// prints what the library refused and why.
#include <cstdio>
#include <string>

#include "nametree/keyword_sets.h"
#include "nametree/name_server.h"
#include "nametree/plcopen_import.h"

using namespace nametree;

int main() {
  const std::string project = R"(<?xml version="1.0"?>
<project xmlns="http://www.plcopen.org/xml/tc6_0201">
  <types><pous><pou name="Mixer" pouType="program"><interface><localVars>
    <variable name="Speed"><type><INT/></type></variable>
    <variable name="speed"><type><INT/></type></variable>
    <variable name="WHILE"><type><INT/></type></variable>
  </localVars></interface></pou></pous></types>
</project>)";

  CNameServer server;
  for (std::u16string_view word : KeywordSet("iec61131-3")) server.AddKeyword(CString(word));
  plcopen::ImportReport report;
  const plcopen::ImportFailure failure = plcopen::ImportPlcopenBuffer(project, server, &report);
  if (failure.status != plcopen::ImportStatus::kOk) {
    std::fprintf(stderr, "line %zu: %s\n", failure.line, failure.message.c_str());
    return 1;
  }
  std::printf("named %zu, accepted %zu, containers %zu\n", report.named, report.accepted, report.containers);
  for (const plcopen::Refusal& r : report.refused)
    std::printf("refused %s (line %zu): %s\n", r.name.c_str(), r.line, StatusName(r.result).c_str());
  return report.accepted == 2 && report.refused.size() == 2 ? 0 : 1;
}
