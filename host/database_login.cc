#include "host/database_login.h"

#include "host/password_file.h"

namespace zelto {

void AddDatabaseLoginOptions(CommandLine& line, serve::DatabaseLogin* login,
                             const std::string& password_option) {
  const std::string password_file = password_option + "-file";
  const std::string twice = "give " + password_option + " or " + password_file + ", once";
  auto once = [login, twice](std::string_view) -> std::string {
    return login->password ? twice : "";
  };
  line.Heading("database login")
      .Option("--engine", "NAME", "database engine: sqlite (the default) or postgresql",
              TextValue(&login->engine))
      .Option("--server", "HOST[:PORT]", "the PostgreSQL server (or its socket directory)",
              TextValue(&login->server, "HOST[:PORT]"))
      .Option("--user", "U", "the database user", TextValue(&login->user))
      .Option(password_option.c_str(), "P", "the database user's password",
              [login, once](std::string_view name, const std::string& value) {
                std::string refused = once(name);
                if (refused.empty()) login->password = value;
                return refused;
              })
      .Option(password_file.c_str(), "FILE",
              "the password from FILE's first line instead (it then never "
              "shows in the process list)",
              [login, once](std::string_view name, const std::string& value) {
                std::string refused = once(name);
                std::string password, error;
                if (refused.empty() && !ReadPasswordFile(value, &password, &error))
                  refused = std::string(name) + ": " + error;
                if (refused.empty()) login->password = password;
                return refused;
              });
}

}  // namespace zelto
