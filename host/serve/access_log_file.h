// AccessLogFile: where the access log's lines go: standard output ("-"),
// nowhere ("off"), or a file opened for appending, line-buffered. A file
// this object made is removed again by Discard, so that a start that fails
// later leaves nothing behind.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace zelto::serve {

class AccessLogFile {
 public:
  // Null, with `error`, when the file cannot be opened.
  static std::unique_ptr<AccessLogFile> Open(const std::string& spec, FILE* standard_output,
                                             std::string* error);
  ~AccessLogFile();  // flushes; closes a file
  AccessLogFile(const AccessLogFile&) = delete;
  AccessLogFile& operator=(const AccessLogFile&) = delete;

  // Null for "off".
  FILE* stream() const { return stream_; }
  // Closes and removes the file when this object created it.
  void Discard();

 private:
  AccessLogFile(FILE* stream, bool owned, std::string created_path)
      : stream_(stream), owned_(owned), created_path_(std::move(created_path)) {}

  FILE* stream_;
  bool owned_;                // a file of ours to close
  std::string created_path_;  // set when the file did not exist before
};

}  // namespace zelto::serve
