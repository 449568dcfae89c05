#include "host/serve/access_log_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zelto::serve {

std::unique_ptr<AccessLogFile> AccessLogFile::Open(const std::string& spec, FILE* standard_output,
                                                   std::string* error) {
  if (spec == "off") return std::unique_ptr<AccessLogFile>(new AccessLogFile(nullptr, false, ""));
  if (spec == "-")
    return std::unique_ptr<AccessLogFile>(new AccessLogFile(standard_output, false, ""));
  std::error_code ec;
  const bool existed = std::filesystem::exists(spec, ec);
  FILE* file = std::fopen(spec.c_str(), "a");
  if (!file) {
    *error = "cannot open the access log " + spec + ": " + std::strerror(errno);
    return nullptr;
  }
  setvbuf(file, nullptr, _IOLBF, 0);
  return std::unique_ptr<AccessLogFile>(new AccessLogFile(file, true, existed ? "" : spec));
}

AccessLogFile::~AccessLogFile() {
  if (!stream_) return;
  if (owned_)
    std::fclose(stream_);
  else
    std::fflush(stream_);
}

void AccessLogFile::Discard() {
  if (!owned_ || !stream_) return;
  std::fclose(stream_);
  stream_ = nullptr;
  std::error_code ec;
  if (!created_path_.empty()) std::filesystem::remove(created_path_, ec);
}

}  // namespace zelto::serve
