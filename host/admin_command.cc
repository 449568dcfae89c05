#include "host/admin_command.h"

#include <algorithm>
#include <boost/json/serialize.hpp>
#include <cstdio>

namespace zelto {
namespace {

// East Asian wide characters take two columns of a terminal.
bool Wide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

// The columns `text` (UTF-8) takes on a terminal.
size_t Width(const std::string& text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length && i + k < text.size(); ++k) c = (c << 6) | (text[i + k] & 0x3F);
    width += Wide(c) ? 2 : 1;
    i += length;
  }
  return width;
}

void PrintUsage(FILE* out, const char* command, const std::vector<Subcommand>& subcommands) {
  std::fprintf(out, "usage: zelto %s SUBCOMMAND [OPTIONS]\n\nsubcommands:\n", command);
  for (const Subcommand& s : subcommands) std::fprintf(out, "  %-8s %s\n", s.name, s.summary);
  std::fprintf(out, "\n'zelto %s SUBCOMMAND --help' describes its options.\n", command);
}

}  // namespace

int RunSubcommand(const char* command, const std::vector<Subcommand>& subcommands,
                  const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    PrintUsage(args.empty() ? stderr : stdout, command, subcommands);
    return args.empty() ? 2 : 0;
  }
  for (const Subcommand& s : subcommands) {
    if (args[0] == s.name) return s.run(std::vector<std::string>(args.begin() + 1, args.end()));
  }
  std::fprintf(stderr, "zelto %s: unknown subcommand '%s'\n\n", command, args[0].c_str());
  PrintUsage(stderr, command, subcommands);
  return 2;
}

int ChangeOutcome(const std::string& command, const serve::AdminResult& result,
                  const std::string& done) {
  if (!result) {
    std::fprintf(stderr, "zelto %s: %s\n", command.c_str(), result.message.c_str());
    return 1;
  }
  if (!done.empty()) std::printf("%s\n", done.c_str());
  return 0;
}

std::string AlignedTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - Width(row[i]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();  // an empty last cell
    table += line + "\n";
  }
  return table;
}

int OpenForCommand(const CommandLine& line, const SiteDatabaseOptions& options,
                   std::unique_ptr<serve::SiteDatabase>* db) {
  bool usage = false;
  std::string error;
  *db = OpenSiteDatabase(options, &usage, &error);
  if (*db) return -1;
  if (usage) return line.UsageError(error);
  std::fprintf(stderr, "zelto %s: %s\n", line.command().c_str(), error.c_str());
  return 1;
}

void PrintJson(const boost::json::value& value) {
  std::printf("%s\n", boost::json::serialize(value).c_str());
}

}  // namespace zelto
