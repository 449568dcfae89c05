#include "host/version.h"

namespace zelto {

const char* ProductVersion() { return ZELTO_VERSION; }

}  // namespace zelto
