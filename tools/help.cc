#include "help.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "args.h"
#include "nametree/document_entries.h"
#include "nametree/utf8.h"
#include "nametree/version.h"

namespace nametree::cli {

namespace {

// Terminal columns of UTF-8 text, taking each code point as one.
std::size_t Columns(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return lines;
    start = end + 1;
  }
}

// The words of `lines` refilled to `width`, every line after `indent` spaces;
// a word wider than the room left gets a line of its own.
void Fill(const std::vector<std::string_view>& lines, std::size_t width, std::string& out) {
  const std::size_t indent = std::min(lines.front().find_first_not_of(' '), lines.front().size());
  std::string line(indent, ' ');
  std::size_t used = indent;
  for (std::string_view text : lines) {
    std::istringstream words{std::string(text)};
    for (std::string word; words >> word;) {
      const std::size_t w = Columns(word);
      if (used > indent && used + 1 + w > width) {
        out += line + '\n';
        line.assign(indent, ' ');
        used = indent;
      }
      if (used > indent) {
        line += ' ';
        ++used;
      }
      line += word;
      used += w;
    }
  }
  out += line;
}

class WrappingFormatter final : public CLI::Formatter {
 public:
  explicit WrappingFormatter(std::size_t width) : width_(width) {}

  std::string make_description(const CLI::App* app) const override {
    return Wrap(Formatter::make_description(app), width_);
  }
  std::string make_usage(const CLI::App* app, std::string name) const override {
    return Wrap(Formatter::make_usage(app, std::move(name)), width_);
  }
  std::string make_footer(const CLI::App* app) const override { return Wrap(Formatter::make_footer(app), width_); }
  std::string make_option_desc(const CLI::Option* opt) const override {
    return Wrap(opt->get_description(), DescriptionWidth());
  }
  std::string make_subcommand(const CLI::App* sub) const override {
    std::stringstream out;
    CLI::detail::format_help(out, sub->get_display_name(true), Wrap(sub->get_description(), DescriptionWidth()),
                             get_column_width());
    return out.str();
  }

 private:
  // Descriptions start at the column width; format_help indents their lines.
  std::size_t DescriptionWidth() const { return std::max(width_, get_column_width() + 20) - get_column_width(); }

  std::size_t width_;
};

// Words for roff: its escape character and hyphens (which it would print
// as typographic ones) escaped.
std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  return out;
}

// Prose for roff: a line that would read as a request is made plain, and an
// indented line, an example, keeps a line of its own.
std::string Roff(std::string_view text) {
  std::string out;
  for (std::string_view line : SplitLines(text)) {
    if (line.empty()) {
      out += ".PP\n";
      continue;
    }
    if (line[0] == '.' || line[0] == '\'') out += "\\&";
    out += Escaped(line) + (line[0] == ' ' ? "\n.br\n" : "\n");
  }
  return out;
}

// Each example: what it shows, and the lines to type. They run as they
// stand, one after the other, in an empty directory.
struct Example {
  std::string_view title;
  std::string_view lines;
};
constexpr Example kExamples[] = {
    {"A new document with a labelled global container and a name in it:",
     "nametree init plant.nt\n"
     "nametree add-container plant.nt 0 --type global --label area\n"
     "nametree add plant.nt @area Pump1\n"
     "nametree tree plant.nt"},
    {"Many edits in one run, saved only when every line succeeds:",
     "nametree batch plant.nt <<'END'\n"
     "add-container 0 --type target --as plc1\n"
     "add @plc1 Valve1\n"
     "keyword --set iec61131-3\n"
     "END"},
    {"A step of a CI job that fails on any error or warning in the document (exit 1), or when it cannot be "
     "read (exit 2):",
     "nametree lint --strict plant.nt"},
    {"Documents under git: 'git diff' shows what changed in a document as text, entry by entry:",
     "echo '*.nt diff=nametree' >> .gitattributes\n"
     "git config diff.nametree.textconv 'nametree dump --canonical'\n"
     "git diff plant.nt"},
};

std::string ExamplesSection() {
  std::string out = ".SH EXAMPLES\n";
  for (const Example& e : kExamples) {
    out += ".PP\n" + Roff(e.title) + ".PP\n.RS 4\n.nf\n";
    for (std::string_view line : SplitLines(e.lines)) out += (line[0] == '.' || line[0] == '\'' ? "\\&" : "") + Escaped(line) + "\n";
    out += ".fi\n.RE\n";
  }
  return out;
}

std::string ExitStatusSection() {
  std::string out = ".SH EXIT STATUS\n";
  for (const ExitCodeSpec& e : ExitCodes()) out += ".TP\n\\fB" + Escaped(e.code) + "\\fR\n" + Roff(e.details);
  return out;
}

std::string FilesSection() {
  const DocumentFileLayout layout = DescribeDocumentFile("FILE");
  const auto entry = [](std::u16string_view name) { return "\"" + ToUtf8(name) + "\""; };
  std::string out = ".SH FILES\n.TP\n\\fIFILE\\fR\n";
  out += Roff("A document: a compound file whose entry " + entry(layout.nameServerEntry) +
              " holds the containers and names. Beside it the program keeps the reserved words of 'nametree "
              "keyword' and of batch keyword lines in " + entry(layout.keywordEntry) +
              ", and the labels of 'nametree label' and 'add-container --label' in " + entry(layout.labelEntry) +
              ". Other entries of the file are kept as they are.");
  out += ".TP\n\\fI" + Escaped(layout.tempName) + "\\fR\n";
  out += Roff("A save writes the new document beside FILE, unnamed where the file system allows it and else under "
              "this name, and renames it over FILE: an interrupted or failed save leaves FILE as it was. A save "
              "removes such a file that a process no longer running left behind.");
  out += ".TP\nThe lock\n";
  out += Roff("A command that changes FILE holds an advisory lock on FILE itself (an open file description lock of "
              "fcntl(2), else flock(2)) from reading it until it is saved. Another writer waits for it at most "
              "--wait seconds, then gives up with exit 2. Commands that only read FILE take no lock; the rename "
              "gives them the whole old document or the whole new one.");
  return out;
}

}  // namespace

std::string GlobalFooter() {
  std::string footer = std::string(kProgramFooter) + "\nExit codes:";
  for (const ExitCodeSpec& e : ExitCodes()) {
    footer += "\n  " + e.code;
    footer.append(e.code.size() < 7 ? 7 - e.code.size() : 1, ' ') += e.summary;
  }
  return footer;
}

std::size_t HelpWidth() {
  std::size_t width = 80;
  winsize size{};
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    width = size.ws_col;
  } else if (const char* columns = std::getenv("COLUMNS")) {
    if (const std::optional<std::uint32_t> n = ParseUnsigned(columns); n && *n > 0) width = *n;
  }
  return std::max(width, kMinHelpWidth);
}

std::string Wrap(std::string_view text, std::size_t width) {
  std::vector<std::vector<std::string_view>> blocks;
  bool open = false;  // the last block is prose that the next prose line joins
  for (std::string_view line : SplitLines(text)) {
    const bool prose = !line.empty() && line[0] != ' ';
    if (!(prose && open)) blocks.emplace_back();
    blocks.back().push_back(line);
    open = prose;
  }
  std::string out;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    if (b > 0) out += '\n';
    const std::vector<std::string_view>& block = blocks[b];
    if (std::all_of(block.begin(), block.end(), [&](std::string_view l) { return Columns(l) <= width; })) {
      for (std::size_t i = 0; i < block.size(); ++i) out.append(i ? "\n" : "").append(block[i]);
    } else {
      Fill(block, width, out);
    }
  }
  return out;
}

std::shared_ptr<CLI::Formatter> MakeHelpFormatter(std::size_t width) {
  return std::make_shared<WrappingFormatter>(width);
}

std::string ManPage(const std::vector<CommandSpec>& table) {
  std::string page = ".TH NAMETREE 1 \"\" \"nametree " + std::string(LibraryVersion()) + "\" \"User Commands\"\n";
  page += ".SH NAME\nnametree \\- manage the names of a document\n.SH SYNOPSIS\n";
  page += "\\fBnametree\\fR \\fICOMMAND\\fR [\\fIOPTIONS\\fR] [\\fIARGUMENTS\\fR]\n.br\n";
  page += "\\fBnametree help\\fR [\\fICOMMAND\\fR]\n.br\n\\fBnametree \\-\\-version\\fR\n";
  page += ".SH DESCRIPTION\n" + Roff(kProgramAbout) + ".PP\n" + Roff(kProgramFooter) + ".SH COMMANDS\n";
  for (const CommandSpec& c : table) {
    page += ".SS " + Escaped(c.name) + "\n\\fBnametree " + Escaped(c.name) + "\\fR";
    if (!c.options.empty()) page += " [\\fIOPTIONS\\fR]";
    for (const PositionalSpec& p : c.positionals)
      page += std::string(p.required ? " " : " [") + "\\fI" + Escaped(p.name) + "\\fR" + (p.many ? "..." : "") +
              (p.required ? "" : "]");
    page += "\n.PP\n" + Roff(c.summary);
    for (const PositionalSpec& p : c.positionals) page += ".TP\n\\fI" + Escaped(p.name) + "\\fR\n" + Roff(p.help);
    for (const OptionSpec& o : c.options)
      page += ".TP\n\\fB\\-\\-" + Escaped(o.name) + "\\fR" + (o.value.empty() ? "" : " \\fI" + Escaped(o.value) + "\\fR") +
              "\n" + Roff(o.help);
    if (!c.details.empty()) page += ".PP\n" + Roff(c.details);
  }
  return page + ExitStatusSection() + ExamplesSection() + FilesSection();
}

}  // namespace nametree::cli
