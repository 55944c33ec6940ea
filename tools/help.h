// Help for people and for shells: the help CLI11 prints, wrapped to the
// terminal; a manual page; completion scripts. All of them are made from the
// one command table, so none can name a command or option the parser lacks.
// Wrapping only moves line breaks: text whose lines fit stays byte for byte.
#pragma once

#include <CLI/CLI.hpp>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"

namespace nametree::cli {

inline constexpr char kProgramAbout[] =
    "Keeps the names of a document valid and unique across its namespaces: a tree of\n"
    "containers whose top-level global containers no name may repeat and whose target\n"
    "containers must not collide with the global ones.";

inline constexpr char kProgramFooter[] =
    "Run 'nametree COMMAND --help' for the arguments of one command. Names are UTF-8.\n"
    "Try 'nametree demo' for a tour.";

// kProgramFooter and the exit codes, for the global help.
std::string GlobalFooter();

// Narrower than this, option descriptions would be a word or two a line.
inline constexpr std::size_t kMinHelpWidth = 50;

// The columns help may fill: the terminal's when stdout is one, else
// $COLUMNS, else 80; never fewer than kMinHelpWidth.
std::size_t HelpWidth();

// `text` with each paragraph that has a line wider than `width` refilled to
// it. A paragraph is a run of lines that begin with no space; an indented
// line (an example) stands alone and keeps its indent when it must break.
std::string Wrap(std::string_view text, std::size_t width);

// CLI11's layout, with prose and descriptions wrapped to `width`.
std::shared_ptr<CLI::Formatter> MakeHelpFormatter(std::size_t width);

// roff for man(1).
std::string ManPage(const std::vector<CommandSpec>& table);
// A script for `shell` (bash or zsh); nullopt for another shell.
std::optional<std::string> CompletionScript(std::string_view shell, const std::vector<CommandSpec>& table);

void AddCompletionCommand(std::vector<CommandSpec>& table);

}  // namespace nametree::cli
