// CommandLine: a command's options as one table, read the same way for
// every `zelto` command, and the command's usage text made from that table.
//
// An option is "--name VALUE" or "--name=VALUE"; a flag takes no value.
// "--help" or "-h" anywhere before "--" asks for the usage. The first
// argument that does not start with '-' (or everything after "--") begins
// the operands; a command without operands refuses them. Each option's
// setter checks its value when it is read and says why it refuses it, so
// that every option is checked before the command does anything.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelto {

class CommandLine {
 public:
  // Takes the option's name ("--threads") and its value; gives "" or the
  // whole reason it is refused ("--threads wants a number from 1 to 256").
  using Setter = std::function<std::string(std::string_view name, const std::string& value)>;

  // `operands` is how the usage names them ("METHOD [ARG]"; empty for
  // none); `about` what the command does, a paragraph of the usage text.
  CommandLine(std::string command, std::string operands, std::string about);

  // An option with a value named `value_name` ("N", "DIR"). `help` is
  // shown beside the option, wrapped to the width of a terminal.
  CommandLine& Option(const char* name, const char* value_name, const char* help, Setter set);
  CommandLine& Flag(const char* name, const char* help, std::function<void()> set);
  // A heading before the options added next ("database login").
  CommandLine& Heading(const char* title);
  // A closing paragraph of the usage text (exit statuses, ...).
  CommandLine& Epilogue(std::string text);
  // Adds --config FILE: the options read from FILE first, one `key = value`
  // line each (the option's name without "--"; a flag takes true or
  // false), blank lines and lines starting with '#' or ';' ignored, a
  // value may be put in double quotes. An option also given on the
  // command line is taken from there: the command line wins. An unknown
  // key, a line without '=', a key given twice or a value refused is a
  // usage error naming the file and line.
  CommandLine& ConfigFile();

  enum class Outcome { kRun, kHelp, kUsageError };
  // Reads `args` (those after the command's name): the setters run in the
  // order given; the operands go to `operands`. kUsageError: `error` says why.
  Outcome Parse(const std::vector<std::string>& args, std::vector<std::string>* operands,
                std::string* error) const;

  std::string Usage() const;
  // Prints "zelto COMMAND: REASON", a blank line and the usage to `out`;
  // gives 2, the exit status of a usage error.
  int UsageError(const std::string& reason, FILE* out = stderr) const;
  // Parse, printing the usage for kHelp (stdout) and kUsageError (stderr).
  // -1 when the command should run, else the exit status to end with.
  int ParseOrExit(const std::vector<std::string>& args, std::vector<std::string>* operands) const;

  const std::string& command() const { return command_; }

 private:
  struct Entry {
    std::string name;        // empty for a heading
    std::string value_name;  // empty for a flag
    std::string help;        // the heading's title for a heading
    Setter set;
    std::function<void()> flag;
  };
  const Entry* Find(std::string_view name) const;
  std::string Synopsis() const;
  // Runs one option's setter (or flag); false with `error` set.
  bool Apply(const Entry& entry, const std::string& name, const std::optional<std::string>& value,
             std::string* error) const;
  // The options of the --config file named in `args`, if any.
  bool ReadConfig(const std::vector<std::string>& args, std::string* error) const;

  std::string command_, operands_, about_, epilogue_;
  std::vector<Entry> entries_;
  bool config_file_ = false;
};

// Setters for the usual kinds of value.
// Any text; with `needs`, not an empty one ("--data needs a folder").
CommandLine::Setter TextValue(std::string* out, const char* needs = nullptr);
CommandLine::Setter TextValue(std::optional<std::string>* out, const char* needs = nullptr);
// A decimal integer from `min` to `max`.
CommandLine::Setter IntegerValue(size_t* out, size_t min, size_t max);
// A decimal number (fractions allowed) that `fits`; `wants` says which
// ("seconds from 0.1 to 3600").
CommandLine::Setter DecimalValue(double* out, std::function<bool(double)> fits, std::string wants);

}  // namespace zelto
