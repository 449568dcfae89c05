#include "host/command_line.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

namespace zelto {
namespace {

constexpr size_t kHelpColumn = 25;  // where option help starts
constexpr size_t kWidth = 80;

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

// `text` broken into lines of at most `width` at blanks and line ends
// (a word longer
// than that stays whole), each line after the first indented by `indent`
// blanks.
std::string Wrapped(const std::string& text, size_t width, size_t indent) {
  std::string out, line;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of(" \n", start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + "\n" + std::string(indent, ' ');
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return out + line;
}

std::string Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

// The FILE of "--config FILE" or "--config=FILE" among the options.
std::optional<std::string> ConfigPath(const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--" || arg.size() < 2 || arg[0] != '-') break;
    if (arg == "--config") return i + 1 < args.size() ? std::optional(args[i + 1]) : std::nullopt;
    if (arg.rfind("--config=", 0) == 0) return arg.substr(9);
  }
  return std::nullopt;
}

}  // namespace

CommandLine::CommandLine(std::string command, std::string operands, std::string about)
    : command_(std::move(command)), operands_(std::move(operands)), about_(std::move(about)) {}

CommandLine& CommandLine::Option(const char* name, const char* value_name, const char* help,
                                 Setter set) {
  entries_.push_back({name, value_name, help, std::move(set), nullptr});
  return *this;
}

CommandLine& CommandLine::Flag(const char* name, const char* help, std::function<void()> set) {
  entries_.push_back({name, "", help, nullptr, std::move(set)});
  return *this;
}

CommandLine& CommandLine::Heading(const char* title) {
  entries_.push_back({"", "", title, nullptr, nullptr});
  return *this;
}

CommandLine& CommandLine::Epilogue(std::string text) {
  epilogue_ = std::move(text);
  return *this;
}

CommandLine& CommandLine::ConfigFile() {
  config_file_ = true;
  return Option("--config", "FILE",
                "options from FILE first, one 'name = value' line each (names without --); "
                "options given here win",
                [](std::string_view, const std::string&) { return std::string(); });
}

bool CommandLine::Apply(const Entry& entry, const std::string& name,
                        const std::optional<std::string>& value, std::string* error) const {
  if (entry.flag) {
    if (value) {
      *error = name + " takes no value";
      return false;
    }
    entry.flag();
    return true;
  }
  if (std::string refused = entry.set(entry.name, *value); !refused.empty()) {
    *error = std::move(refused);
    return false;
  }
  return true;
}

bool CommandLine::ReadConfig(const std::vector<std::string>& args, std::string* error) const {
  const std::optional<std::string> path = ConfigPath(args);
  if (!config_file_ || !path) return true;
  std::ifstream in(*path);
  if (!in) {
    *error = "cannot read the config file " + *path;
    return false;
  }
  std::set<std::string> given;  // options on the command line
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg.rfind("--", 0) == 0) given.insert(arg.substr(0, arg.find('=')));
  }
  std::map<std::string, int> seen;  // key -> line
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string where = *path + " line " + std::to_string(number) + ": ";
    const std::string text = Trimmed(line);
    if (text.empty() || text[0] == '#' || text[0] == ';') continue;
    const size_t eq = text.find('=');
    if (eq == std::string::npos) {
      *error = where + "wants 'name = value'";
      return false;
    }
    const std::string key = Trimmed(std::string_view(text).substr(0, eq));
    std::string value = Trimmed(std::string_view(text).substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    const Entry* entry = key.empty() || key == "config" ? nullptr : Find("--" + key);
    if (!entry) {
      *error = where + "unknown option '" + key + "'";
      return false;
    }
    if (const auto [it, added] = seen.emplace(key, number); !added) {
      *error =
          where + "'" + key + "' is given again (also line " + std::to_string(it->second) + ")";
      return false;
    }
    if (given.count(entry->name)) continue;  // the command line's wins
    std::optional<std::string> set_value = value;
    if (entry->flag) {
      if (value == "false" || value == "no" || value == "off" || value == "0") continue;
      if (value == "true" || value == "yes" || value == "on" || value == "1") set_value.reset();
    }
    if (!Apply(*entry, "--" + key, set_value, error)) {
      *error = where + *error;
      return false;
    }
  }
  return true;
}

const CommandLine::Entry* CommandLine::Find(std::string_view name) const {
  for (const Entry& entry : entries_) {
    if (!entry.name.empty() && entry.name == name) return &entry;
  }
  return nullptr;
}

CommandLine::Outcome CommandLine::Parse(const std::vector<std::string>& args,
                                        std::vector<std::string>* operands,
                                        std::string* error) const {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (IsHelp(arg)) return Outcome::kHelp;
  }
  if (!ReadConfig(args, error)) return Outcome::kUsageError;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') break;  // the operands begin
    std::optional<std::string> value;
    if (const size_t eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    const Entry* entry = Find(arg);
    if (!entry) {
      *error = "unknown option " + arg;
      return Outcome::kUsageError;
    }
    if (!entry->flag && !value) {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return Outcome::kUsageError;
      }
      value = args[++i];
    }
    if (!Apply(*entry, arg, value, error)) return Outcome::kUsageError;
  }
  operands->assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (operands_.empty() && !operands->empty()) {
    *error = "unexpected argument '" + operands->front() + "'";
    return Outcome::kUsageError;
  }
  return Outcome::kRun;
}

// "usage: zelto serve [--data DIR] [--listen ADDR:PORT] ...", wrapped.
std::string CommandLine::Synopsis() const {
  const std::string head = "usage: zelto " + command_;
  std::string text = head, line = head;
  auto add = [&](const std::string& piece) {
    if (line.size() + 1 + piece.size() > kWidth) {
      text += "\n" + std::string(head.size(), ' ');
      line = std::string(head.size(), ' ');
    }
    text += " " + piece;
    line += " " + piece;
  };
  for (const Entry& entry : entries_) {
    if (entry.name.empty()) continue;
    add("[" + entry.name + (entry.value_name.empty() ? "" : " " + entry.value_name) + "]");
  }
  if (!operands_.empty()) add(operands_);
  return text + "\n";
}

std::string CommandLine::Usage() const {
  std::string text = Synopsis() + "\n" + Wrapped(about_, kWidth, 0) + "\n";
  bool headed = false;
  for (const Entry& entry : entries_) {
    if (entry.name.empty()) {
      text += "\n" + entry.help + ":\n";
      headed = true;
      continue;
    }
    if (!headed) {
      text += "\noptions:\n";
      headed = true;
    }
    std::string left = "  " + entry.name;
    if (!entry.value_name.empty()) left += " " + entry.value_name;
    // A long name gets its help on the next line.
    left += left.size() + 1 > kHelpColumn ? "\n" + std::string(kHelpColumn, ' ')
                                          : std::string(kHelpColumn - left.size(), ' ');
    text += left + Wrapped(entry.help, kWidth - kHelpColumn, kHelpColumn) + "\n";
  }
  if (!epilogue_.empty()) text += "\n" + epilogue_;
  return text;
}

int CommandLine::UsageError(const std::string& reason, FILE* out) const {
  std::fprintf(out, "zelto %s: %s\n\n%s", command_.c_str(), reason.c_str(), Usage().c_str());
  return 2;
}

int CommandLine::ParseOrExit(const std::vector<std::string>& args,
                             std::vector<std::string>* operands) const {
  std::string error;
  switch (Parse(args, operands, &error)) {
    case Outcome::kRun:
      return -1;
    case Outcome::kHelp:
      std::fputs(Usage().c_str(), stdout);
      return 0;
    case Outcome::kUsageError:
      break;
  }
  return UsageError(error);
}

CommandLine::Setter TextValue(std::string* out, const char* needs) {
  return [out, needs](std::string_view name, const std::string& value) -> std::string {
    if (needs && value.empty()) return std::string(name) + " needs " + needs;
    *out = value;
    return "";
  };
}

CommandLine::Setter TextValue(std::optional<std::string>* out, const char* needs) {
  return [out, needs](std::string_view name, const std::string& value) -> std::string {
    if (needs && value.empty()) return std::string(name) + " needs " + needs;
    *out = value;
    return "";
  };
}

CommandLine::Setter IntegerValue(size_t* out, size_t min, size_t max) {
  return [out, min, max](std::string_view name, const std::string& value) -> std::string {
    size_t number = 0;
    const auto parsed = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || parsed.ec != std::errc() || parsed.ptr != value.data() + value.size() ||
        number < min || number > max)
      return std::string(name) + " wants a number from " + std::to_string(min) + " to " +
             std::to_string(max);
    *out = number;
    return "";
  };
}

CommandLine::Setter DecimalValue(double* out, std::function<bool(double)> fits, std::string wants) {
  return [out, fits = std::move(fits), wants = std::move(wants)](
             std::string_view name, const std::string& value) -> std::string {
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !std::isfinite(number) || !fits(number))
      return std::string(name) + " wants " + wants;
    *out = number;
    return "";
  };
}

}  // namespace zelto
