// What 'nametree import-plcopen' and 'nametree lint PROJECT.xml' share: how a
// project is judged and how its refusals are worded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "nametree/plcopen_import.h"
#include "nametree/plcopen_rules.h"
#include "output.h"

namespace nametree::cli {

class Args;

// The profile (--profile, IEC 61131-3 unless told) and the reserved words
// (--keyword-set, else the config's edition; the config's words and
// --keywords besides) a project is judged by.
struct Judging {
  plcopen::ImportOptions options;
  std::vector<std::string> sets;
  std::vector<CString> words;
};
int ReadJudging(const Args& args, Judging* judging, const plcopen::NamingConfig& config);

// Imports the project into the empty server with the judging's keywords;
// exit 2 with the message when it is no PLCopen project.
int Import(const Reporter& report, const Judging& judging, const std::string& project, CNameServer& server,
           plcopen::ImportReport* out);

std::string Reason(const Judging& judging, const plcopen::Refusal& r);
// The lint check a refusal corresponds to ("invalid", "keyword", "twice", ...).
std::string_view Check(const plcopen::Refusal& r);
Json RefusalJson(const Judging& judging, const plcopen::Refusal& r);
Json SkippedJson(const plcopen::ImportReport& report);

}  // namespace nametree::cli
