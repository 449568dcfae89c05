#include "host/site_database_options.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "host/database_login.h"
#include "host/password_file.h"
#include "host/serve/administration.h"
#include "host/serve/data_folder.h"
#include "host/serve/site_options.h"
#include "platform/ado/engine.h"

namespace zelto {
namespace {

// One line from the terminal with its echo off; the prompt on stderr.
bool ReadHidden(const char* prompt, std::string* line) {
  std::fputs(prompt, stderr);
  std::fflush(stderr);
  termios before{};
  const bool tty = ::tcgetattr(STDIN_FILENO, &before) == 0;
  if (tty) {
    termios quiet = before;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool read = static_cast<bool>(std::getline(std::cin, *line));
  if (tty) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
    std::fputs("\n", stderr);
  }
  return read;
}

}  // namespace

void AddSiteDatabaseOptions(CommandLine& line, SiteDatabaseOptions* options,
                            const std::string& password_option) {
  line.Option("--data", "DIR", "the site's data folder (default ./data)",
              TextValue(&options->data_dir, "a folder"));
  AddDatabaseLoginOptions(line, &options->login, password_option);
}

std::unique_ptr<serve::SiteDatabase> OpenSiteDatabase(const SiteDatabaseOptions& options,
                                                      bool* usage, std::string* error) {
  *usage = false;
  if (options.login.engine && !ado::SetDatabaseEngine(*options.login.engine)) {
    *usage = true;
    *error = "unknown database engine '" + *options.login.engine + "'";
    return nullptr;
  }
  const bool on_server = serve::EngineIsServer();
  if (on_server && !options.login.server) {
    *usage = true;
    *error = "--server HOST[:PORT] is required with a database server";
    return nullptr;
  }
  const serve::DatabaseServer server{
      on_server ? *options.login.server
                : std::filesystem::absolute(options.data_dir).lexically_normal().string(),
      options.login.user.value_or(""), options.login.password.value_or("")};
  // As a start of the site: databases made when there are none (a new
  // site's first command), else brought to this program's schema.
  std::string message;
  const serve::DataFolderResult prepared =
      on_server ? serve::PrepareDatabaseServer(server, false, &message)
                : serve::PrepareDataFolder(server.address, false, &message);
  if (prepared == serve::DataFolderResult::kRefused) {
    *error = message;
    return nullptr;
  }
  if (prepared == serve::DataFolderResult::kCreated) std::fprintf(stderr, "%s\n", message.c_str());
  return std::make_unique<serve::SiteDatabase>(server.address, server.user, server.password);
}

bool ReadNewPassword(const std::optional<std::string>& file, std::string* password,
                     std::string* error) {
  if (file) {
    if (!ReadPasswordFile(*file, password, error)) return false;
  } else if (::isatty(STDIN_FILENO)) {
    std::string again;
    if (!ReadHidden("new password: ", password) || !ReadHidden("again: ", &again)) {
      *error = "no password given";
      return false;
    }
    if (again != *password) {
      *error = "the two passwords differ";
      return false;
    }
  } else if (!std::getline(std::cin, *password)) {
    *error = "no password on standard input";
    return false;
  } else if (!password->empty() && password->back() == '\r') {
    password->pop_back();
  }
  *error = serve::RefusedPassword(*password);
  return error->empty();
}

}  // namespace zelto
