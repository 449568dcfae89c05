// The database password from a file (`--password-file FILE`), so that it
// never shows in the process list as a `--password` argument does. The file's
// first line is the password, without its line end; the rest is ignored.
#pragma once

#include <string>

namespace zelto {

// False with a one-line reason ("cannot read FILE: No such file or
// directory") when the file cannot be read.
bool ReadPasswordFile(const std::string& path, std::string* password, std::string* error);

}  // namespace zelto
