// Small helpers shared by the pack tool's commands: option values, messages, progress.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "builder/printable.h"

namespace evgpack {

// Parses a whole decimal number in [low, high]; false (and a one-line reason in `error`) when
// the text is not one or is out of range.
bool parse_int_option(const std::string& name, const char* text, long low, long high, long& value, std::string& error);
bool parse_double_option(const std::string& name, const char* text, double low, double high, double& value,
                         std::string& error);
// Parses a size in bytes: a number with K, M, G or T (optionally followed by B or iB, any case;
// units of 1024), a plain number being megabytes, from 1 KB to 1024 TB ("500MB", "4G", "1.5GB").
bool parse_size_option(const std::string& name, const char* text, uint64_t& bytes, std::string& error);

// "evgpack: <message>" on standard error (after clearing a progress line if one is shown).
// The whole message is passed through shown(), so the paths in it are safe.
void print_error(const std::string& message);
void print_warning(const std::string& message);

// Counts work done on standard error: a redrawn bar with count, percent, photos per second and
// time left when standard error is a terminal, a plain line every tenth otherwise.
class Progress {
public:
    Progress(const char* what, int total, bool quiet);
    void update(int done);
    void finish();
    static void clear_line();  // before other output while a bar is shown
    // A line redrawn in place on a terminal until the next output ("counting photos... 12000").
    static void transient(const std::string& line);

private:
    const char* what_;
    int total_;
    bool quiet_, terminal_;
    int last_tenth_ = 0;
    std::chrono::steady_clock::time_point start_, last_draw_;
};

}  // namespace evgpack
