// Text safe to print on a terminal or to write into JSON, for every program that prints what the
// builder reports (file names come from the disk and can hold anything): evgpack, the viewer's
// build and the build's --report.
#pragma once
#include <string>

namespace evgpack {

// `text` safe to print on a terminal: control characters (C0, DEL, C1), bytes that are not
// UTF-8 and the backslash come out as \n, \t, \xNN or \\; everything else is unchanged. Every
// path the tools print goes through this (a file name can hold a newline or an ESC sequence).
std::string shown(const std::string& text);

// How the bytes of a text are read when written as JSON.
enum TextBytes {
    TEXT_UTF8,    // file names and messages: UTF-8, though a name may hold any bytes
    TEXT_LATIN1,  // the pack's author: 8-bit device text, one character per byte
};

// `text` as a JSON string, quotes included. Quotes and backslashes are escaped, control
// characters (C0, DEL, C1) become \u00NN; with TEXT_UTF8 well-formed UTF-8 passes unchanged and
// each byte that is not part of it becomes \u00NN, the byte read as Latin-1 (what such a name
// most often is, and valid JSON for every reader, where U+FFFD would lose which byte it was).
// With TEXT_LATIN1 every byte from 0x7F on becomes \u00NN.
std::string json_string(const std::string& text, TextBytes bytes = TEXT_UTF8);

}  // namespace evgpack
