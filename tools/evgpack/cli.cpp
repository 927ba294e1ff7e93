// Option parsing, messages and the progress display of the pack tool.
#include "tools/evgpack/cli.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace evgpack {

namespace {
bool bar_shown = false;
}

bool parse_int_option(const std::string& name, const char* text, long low, long high, long& value, std::string& error) {
    if (!text || !*text) {
        error = name + " needs a value";
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) {
        error = name + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                ", not '" + text + "'";
        return false;
    }
    value = v;
    return true;
}

bool parse_double_option(const std::string& name, const char* text, double low, double high, double& value,
                         std::string& error) {
    if (!text || !*text) {
        error = name + " needs a value";
        return false;
    }
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(v >= low && v <= high)) {
        char range[64];
        std::snprintf(range, sizeof range, "%g to %g", low, high);
        error = name + " takes a number from " + range + ", not '" + text + "'";
        return false;
    }
    value = v;
    return true;
}

bool parse_size_option(const std::string& name, const char* text, uint64_t& bytes, std::string& error) {
    if (!text || !*text) {
        error = name + " needs a value";
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    std::string unit = end;
    for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char* const UNITS = "KMGT";
    int power = 2;  // a plain number is megabytes
    if (!unit.empty() && std::strchr(UNITS, unit[0])) {
        power = static_cast<int>(std::strchr(UNITS, unit[0]) - UNITS) + 1;
        unit.erase(0, 1);
    }
    const double size = v * std::pow(1024.0, power);
    // Digits and a point only: strtod would also take "inf", "nan", signs, exponents and hex.
    bool number = true;
    for (const char* c = text; c < end; ++c) number = number && (std::isdigit(static_cast<unsigned char>(*c)) || *c == '.');
    if (errno != 0 || end == text || !number || !(unit.empty() || unit == "B" || unit == "IB") ||
        !(size >= 1024 && size <= std::pow(1024.0, 5))) {
        error = name + " takes a size from 1K to 1024T such as 500M or 4G (a plain number is megabytes), not '" +
                text + "'";
        return false;
    }
    bytes = static_cast<uint64_t>(size);
    return true;
}

void Progress::clear_line() {
    if (bar_shown) {
        std::fputs("\r\033[K", stderr);
        bar_shown = false;
    }
}

void Progress::transient(const std::string& line) {
    if (::isatty(STDERR_FILENO) != 1) return;
    std::fprintf(stderr, "\r\033[K%s", shown(line).c_str());
    bar_shown = true;
}

void print_error(const std::string& message) {
    Progress::clear_line();
    std::fprintf(stderr, "evgpack: %s\n", shown(message).c_str());
}

void print_warning(const std::string& message) {
    Progress::clear_line();
    std::fprintf(stderr, "evgpack: warning: %s\n", shown(message).c_str());
}

Progress::Progress(const char* what, int total, bool quiet)
    : what_(what), total_(total), quiet_(quiet), terminal_(::isatty(STDERR_FILENO) == 1) {
    start_ = last_draw_ = std::chrono::steady_clock::now();
}

void Progress::update(int done) {
    if (quiet_ || total_ <= 0) return;
    auto now = std::chrono::steady_clock::now();
    double elapsed = std::chrono::duration<double>(now - start_).count();
    double rate = elapsed > 0 ? done / elapsed : 0;
    int percent = static_cast<int>(100.0 * done / total_);
    if (terminal_) {
        if (done < total_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
        last_draw_ = now;
        char bar[31];
        int filled = 30 * done / total_;
        for (int i = 0; i < 30; ++i) bar[i] = i < filled ? '#' : '.';
        bar[30] = '\0';
        int left = rate > 0 ? static_cast<int>((total_ - done) / rate + 0.5) : 0;
        std::fprintf(stderr, "\r\033[K[%s] %d/%d %3d%%  %.1f %s/s  %d:%02d left", bar, done, total_, percent, rate,
                     what_, left / 60, left % 60);
        bar_shown = true;
    } else {
        int tenth = 10 * done / total_;
        if (tenth <= last_tenth_) return;
        last_tenth_ = tenth;
        std::fprintf(stderr, "evgpack: %d of %d %s (%d%%), %.1f per second\n", done, total_, what_, percent, rate);
    }
    std::fflush(stderr);
}

void Progress::finish() { clear_line(); }

}  // namespace evgpack
