// Feeds one random sequence of classic-API calls to the library and to the
// naive model of support/classic_model.h, and compares after every step the
// result codes, out-values, lists, posted notifications, the dirty flag, the
// ID counter, both sides' whole trees and the library's own invariant check.
// A failing sequence prints as the calls it made, ending at the disagreement.
//
// Commands hold random selectors, not IDs: each is resolved against the
// model's state when it runs.
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
  std::vector<std::string> calls;  // each step as a call
};

std::vector<Command> Generate(std::mt19937_64& rng, int length);

// Runs the sequence on a fresh library server and a fresh model, on a
// fresh ID counter. Stops at the first disagreement. Without `survey` the
// whole trees are not compared after each call, so that a disagreement
// shows only where a call's answer differs, which tells which calls a broken
// state misleads.
Outcome Run(const std::vector<Command>& commands, bool survey = true);

// The calls of a failing run and what disagreed.
std::string Describe(const Outcome& outcome);

// False, with the reason, when the library folds the model's non-ASCII
// letters otherwise than the model does.
bool LibraryFoldsLikeModel(std::string* why);

}  // namespace nametree::modeldiff
