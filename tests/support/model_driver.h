// Feeds one random sequence of classic-API calls to the library and to the
// naive model of support/classic_model.h, and compares after every step the
// result codes, out-values, lists, posted notifications, the dirty flag, the
// ID counter, both sides' whole trees and the library's own invariant check.
// A failing sequence shrinks to a short one that prints as API calls.
//
// Commands hold random selectors, not IDs: each is resolved against the
// model's state when it runs, so dropping commands while shrinking keeps the
// rest meaningful.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace nametree::modeldiff {

struct Command {
  std::uint8_t op = 0;
  std::array<std::uint32_t, 6> r{};
};

// The classes of state a sequence reached, for the long run's summary.
struct Reached {
  bool sharedKey = false;       // two names of one container equal ignoring case
  bool caseOnlyRename = false;  // a rename that changed letter case only took effect
  bool ontoHeldKey = false;     // a rename took a key another ID of its container held
  bool loadedDuplicate = false; // a load left a container with a shared key or key-less ID
};

struct Outcome {
  int failedStep = -1;     // -1: the library and the model agreed throughout
  std::string difference;  // what disagreed, at failedStep
  std::string kind;        // the call and aspect that disagreed, as a class name
  Reached reached;
  std::vector<std::string> calls;  // with `log`: each step as an API call and its result
};

struct Options {
  // Compare both whole trees after every call. Without it a disagreement
  // shows only where a call's answer differs, which tells which calls a
  // broken state misleads.
  bool survey = true;
  bool log = false;
};

std::vector<Command> Generate(std::mt19937_64& rng, int length);

// Runs the sequence on a fresh library server and a fresh model, on a
// fresh ID counter. Stops at the first disagreement.
Outcome Run(const std::vector<Command>& commands, Options options = {});

// Drops commands while the sequence still disagrees in the same way; at
// most `budget` runs.
std::vector<Command> Shrink(std::vector<Command> commands, Options options = {}, int budget = 3000);

// A failing sequence printed as API calls, ending at the disagreement.
std::string Describe(const std::vector<Command>& commands, Options options = {});

// False, with the reason, when the library folds the model's non-ASCII
// letters otherwise than the model does.
bool LibraryFoldsLikeModel(std::string* why);

}  // namespace nametree::modeldiff
