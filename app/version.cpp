#include "app/version.h"
const char* evergreen_version() { return EVG_VERSION; }
