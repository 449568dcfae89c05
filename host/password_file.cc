#include "host/password_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace zelto {

bool ReadPasswordFile(const std::string& path, std::string* password, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || (!std::getline(in, line) && !in.eof())) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  *password = line;
  return true;
}

}  // namespace zelto
