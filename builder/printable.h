// Text safe to print on a terminal, for every program that prints what the builder reports
// (file names come from the disk and can hold anything): evgpack and the viewer's build.
#pragma once
#include <string>

namespace evgpack {

// `text` safe to print on a terminal: control characters (C0, DEL, C1), bytes that are not
// UTF-8 and the backslash come out as \n, \t, \xNN or \\; everything else is unchanged. Every
// path the tools print goes through this (a file name can hold a newline or an ESC sequence).
std::string shown(const std::string& text);

}  // namespace evgpack
