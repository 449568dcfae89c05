// What the host refuses in a component page's query before the component
// runs: a NUL ("%00") anywhere, where the component would silently cut a text
// short, and on the message pages an attachment ("adjunct") that is not the
// plain name of a file stored in the attachments folder (a path in it would
// lead the reader's browser out of files/). Gives the reason for a 400, or ""
// when the query may go to the component as it is; never changes the query.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "host/serve/component_pages.h"

namespace zelto::serve {

std::string RefusedPageInput(const ComponentPage& page, std::string_view query, PageCharset charset,
                             const std::filesystem::path& files_dir);

// Whether `name` is a name the upload could have stored: letters, digits,
// '.', '-' and '_', not starting with '.', at most 120 bytes.
bool IsStoredFileName(std::string_view name);

}  // namespace zelto::serve
