// The program's version string, shared by `evergreen --version` and the pack tool.
#pragma once
const char* evergreen_version();
