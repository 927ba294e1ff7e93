// Pack assembly and the crash-safe file write of the pack tool.
#include "builder/pack_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "media/rgb565.h"
#include "pack/pack_candidates.h"
#include "pack/pack_file.h"
#include "builder/jpeg_encode.h"

namespace evgpack {

bool make_pack_picture(const LinearPicture& picture, int quality, int thumb_size, PackPicture& out) {
    std::vector<uint8_t> srgb = picture_to_srgb(picture);
    // Baseline 4:2:0 without restart markers; Huffman tables fitted to each picture.
    JpegEncodeOptions options;
    options.quality = quality;
    options.optimize_coding = true;
    if (!jpeg_encode(srgb.data(), picture.size, picture.size, options, out.jpeg)) return false;
    out.thumb = picture_to_rgb565(reduce_picture(picture, thumb_size));
    out.colour = mean_colour(out.thumb.data(), out.thumb.size());
    return true;
}

Lab mean_colour(const uint16_t* pixels, size_t count) {
    double sum[3] = {0, 0, 0};
    for (size_t i = 0; i < count; ++i) {
        uint8_t rgb[3];
        rgb565_unpack(pixels[i], rgb);
        for (int k = 0; k < 3; ++k) sum[k] += srgb_to_linear(rgb[k]);
    }
    double n = count ? static_cast<double>(count) : 1.0;
    return linear_rgb_to_lab(sum[0] / n, sum[1] / n, sum[2] / n);
}

std::vector<uint16_t> make_icon(const LinearPicture& picture) {
    return picture_to_rgb565(reduce_picture(picture, PACK_ICON_EDGE));
}

std::vector<uint8_t> pack_serialise(const PackContent& content) {
    const uint32_t n = static_cast<uint32_t>(content.pictures.size());
    const uint32_t t = static_cast<uint32_t>(content.thumb_size);
    std::vector<uint8_t> out(PACK_HEADER_SIZE + pack_entries_start(n, t));

    PackHeader header{};
    std::memcpy(header.magic, PACK_MAGIC, PACK_MAGIC_SIZE);
    header.data_offset = PACK_HEADER_SIZE;
    header.listed_count = static_cast<uint16_t>(n);
    // NUL-padded; a 32-byte name fills the field without a terminator, as the format allows.
    std::memcpy(header.author, content.author.data(), std::min<size_t>(content.author.size(), PACK_AUTHOR_SIZE));
    for (int i = 0; i < PACK_ICON_PIXELS && i < static_cast<int>(content.icon.size()); ++i)
        header.icon[i] = content.icon[i];
    pack_header_encode(header, out.data());

    uint8_t* data = out.data() + PACK_HEADER_SIZE;
    for (int c = 0; c < PACK_TABLE_ENTRIES; ++c) {
        put_le16(data + PACK_BEST_MATCH + 2 * c, content.tables.best[c]);
        put_le16(data + PACK_SECOND_MATCH + 2 * c, content.tables.second[c]);
    }
    put_le16(data + PACK_PICTURE_COUNT, static_cast<uint16_t>(n));
    put_le16(data + PACK_THUMB_SIZE, static_cast<uint16_t>(t));
    uint8_t* thumbs = data + PACK_THUMBNAILS;
    for (uint32_t p = 0; p < n; ++p)
        for (uint32_t i = 0; i < t * t; ++i) put_le16(thumbs + 2 * (p * t * t + i), content.pictures[p].thumb[i]);
    for (const PackPicture& picture : content.pictures) {
        uint8_t length[4];
        put_le32(length, static_cast<uint32_t>(picture.jpeg.size()));
        out.insert(out.end(), length, length + 4);
        out.insert(out.end(), picture.jpeg.begin(), picture.jpeg.end());
    }
    const int k = content.tables.candidate_count;
    if (k > 0 && content.tables.candidates.size() == static_cast<size_t>(k) * PACK_TABLE_ENTRIES) {
        const size_t at = out.size();
        out.resize(at + candidate_section_size(k));
        candidates_encode(k, content.tables.candidates.data(), out.data() + at, CANDIDATE_VERSION);
    }
    return out;
}

namespace {

// The temporary file being written, for the interrupt handler (async-signal-safe unlink). Only
// one write at a time publishes its name here (`handler_slot`); a write on another thread at the
// same moment works on its own copy of the name and is simply not cleaned up by an interrupt.
char pending_temp[4096];
volatile sig_atomic_t temp_pending = 0;
std::atomic<bool> handler_slot{false};

void remove_temp_and_exit(int signal) {
    if (temp_pending) ::unlink(pending_temp);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

namespace {

bool write_fully(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return ::fsync(fd) == 0;
}

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool write_file_replacing(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    std::string temp = path + ".tmp" + std::to_string(::getpid());
    if (temp.size() + 8 >= sizeof pending_temp) {
        error = "output path too long";
        return false;
    }
    auto fail = [&](const char* what) {
        error = std::string(what) + " " + path + ": " + std::strerror(errno);
        return false;
    };
    std::vector<char> name(temp.size() + 8, '\0');  // this write's temporary name
    const bool published = !handler_slot.exchange(true);
    auto publish = [&]() {
        if (!published) return;
        std::memcpy(pending_temp, name.data(), name.size());
        temp_pending = 1;
    };
    auto old_int = std::signal(SIGINT, remove_temp_and_exit);
    auto old_term = std::signal(SIGTERM, remove_temp_and_exit);
    bool ok = true, named = false;
    // The data goes into an unnamed file first (O_TMPFILE), so a process killed while writing
    // leaves nothing behind; it gets a temporary name only for the instant before the rename.
    // Where the file system has no unnamed files, a named temporary is written instead.
    int fd = ::open(folder_of(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) {
        if (!write_fully(fd, bytes)) ok = fail("cannot write");
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        std::memcpy(name.data(), temp.c_str(), temp.size());
        publish();
        if (ok && ::linkat(AT_FDCWD, proc, AT_FDCWD, name.data(), AT_SYMLINK_FOLLOW) != 0) ok = fail("cannot write");
        named = ok;
        if (::close(fd) != 0 && ok) ok = fail("cannot write");
    } else {
        temp += "XXXXXX";
        std::memcpy(name.data(), temp.c_str(), temp.size());
        fd = ::mkstemp(name.data());
        if (fd < 0) {
            ok = fail("cannot create a file next to");
        } else {
            named = true;
            publish();
            ::fchmod(fd, 0644);
            if (!write_fully(fd, bytes)) ok = fail("cannot write");
            if (::close(fd) != 0 && ok) ok = fail("cannot write");
        }
    }
    if (ok && ::rename(name.data(), path.c_str()) != 0) ok = fail("cannot replace");
    if (!ok && named) ::unlink(name.data());
    if (published) {
        temp_pending = 0;
        handler_slot = false;
    }
    if (ok) {
        int dir = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) ::fsync(dir), ::close(dir);
    }
    std::signal(SIGINT, old_int);
    std::signal(SIGTERM, old_term);
    return ok;
}

}  // namespace evgpack
