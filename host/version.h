// The product's version: CMake's project version, the one number that
// `zelto --version`, the start-up line of `zelto serve` and the package
// show. It is not the component module's own version resource, which
// stays as the module was built to be.
#pragma once

namespace zelto {

const char* ProductVersion();  // "1.0.0.1"

}  // namespace zelto
