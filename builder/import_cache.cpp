// The import cache: entry layout, checked reading, atomic writing and the size bound.
//
// An entry, little-endian:
//   "EVGCACHE" (8), version (4)
//   key: path (4-byte length + bytes), size (8), mtime in ns (8), quality (4), thumb size (4)
//   ok (1), reason (4-byte length + bytes), content hash (8), content size (8), short side (4),
//   traits: hash (8), sharpness (4, float bits), layout (9 x 4, float bits)
//   colour L, a, b (3 x 8, double bits), JPEG (4-byte length + bytes),
//   thumbnail and icon (4-byte count + count x 2 bytes each)
//   FNV-1a 64 of every byte before it (8)
#include "builder/import_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <tuple>

#include "media/byte_cursor.h"

namespace evgpack {

namespace {

constexpr char MAGIC[8] = {'E', 'V', 'G', 'C', 'A', 'C', 'H', 'E'};
// Raised whenever what an entry holds, or how the picture and its traits are computed, changes:
// an older entry then misses instead of bringing back stale figures.
constexpr uint32_t VERSION = 1;
constexpr size_t CHECK_SIZE = 8;
// Bounds of what a valid entry can hold, checked before anything is allocated.
constexpr uint32_t MAX_TEXT = 1 << 16;
constexpr uint32_t MAX_JPEG = 4u << 20;
constexpr size_t MAX_ENTRY = 8u << 20;
constexpr const char* TEMP_PREFIX = ".tmp-";
constexpr time_t STALE_TEMP_SECONDS = 3600;  // older temporaries belong to builds that died

uint64_t fnv1a(const uint8_t* p, size_t n, uint64_t h = 1469598103934665603ull) {
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

struct Writer {
    std::vector<uint8_t> out;
    void u(uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void f32(float v) {
        uint32_t b;
        std::memcpy(&b, &v, 4);
        u(b, 4);
    }
    void f64(double v) {
        uint64_t b;
        std::memcpy(&b, &v, 8);
        u(b, 8);
    }
    void text(const std::string& s) {
        u(s.size(), 4);
        out.insert(out.end(), s.begin(), s.end());
    }
    void words(const std::vector<uint16_t>& w) {
        u(w.size(), 4);
        for (uint16_t x : w) u(x, 2);
    }
};

// The entry's fields through the shared bounded cursor: a read past the end gives zeros and
// sets `overrun`, so the whole entry is read and checked once.
struct Reader {
    ByteCursor c;
    uint64_t u(int bytes) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= uint64_t(c.u8()) << (8 * i);
        return v;
    }
    float f32() {
        uint32_t b = static_cast<uint32_t>(u(4));
        float v;
        std::memcpy(&v, &b, 4);
        return v;
    }
    double f64() {
        uint64_t b = u(8);
        double v;
        std::memcpy(&v, &b, 8);
        return v;
    }
    void bytes(size_t n, uint32_t limit, std::vector<uint8_t>& out) {
        if (n > limit || !c.has(n)) return void(c.overrun = true);
        out.assign(c.data + c.pos, c.data + c.pos + n);
        c.pos += n;
    }
    void text(std::string& s) {
        std::vector<uint8_t> b;
        bytes(static_cast<size_t>(u(4)), MAX_TEXT, b);
        s.assign(b.begin(), b.end());
    }
    void words(std::vector<uint16_t>& w, size_t expected) {
        const uint64_t n = u(4);
        if (n != expected || !c.has(n * 2)) return void(c.overrun = true);
        w.resize(n);
        for (auto& x : w) x = c.le16();
    }
    bool bad() const { return c.overrun; }
};

std::string entry_name(const CacheKey& key) {
    Writer w;
    w.text(key.path);
    w.u(key.size, 8), w.u(static_cast<uint64_t>(key.mtime_ns), 8), w.u(key.quality, 4), w.u(key.thumb_size, 4);
    w.u(VERSION, 4);
    char name[17];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(fnv1a(w.out.data(), w.out.size())));
    return name;
}

bool same_key(const CacheKey& a, const CacheKey& b) {
    return std::tie(a.path, a.size, a.mtime_ns, a.quality, a.thumb_size) ==
           std::tie(b.path, b.size, b.mtime_ns, b.quality, b.thumb_size);
}

}  // namespace

std::vector<uint8_t> cache_entry_bytes(const CacheKey& key, const ImportedPhoto& photo) {
    Writer w;
    w.out.assign(MAGIC, MAGIC + sizeof MAGIC);
    w.u(VERSION, 4);
    w.text(key.path);
    w.u(key.size, 8), w.u(static_cast<uint64_t>(key.mtime_ns), 8), w.u(key.quality, 4), w.u(key.thumb_size, 4);
    w.u(photo.ok, 1);
    w.text(photo.reason);
    w.u(photo.content_hash, 8), w.u(photo.content_size, 8), w.u(static_cast<uint32_t>(photo.short_side), 4);
    w.u(photo.traits.hash, 8);
    w.f32(photo.traits.sharpness);
    for (float v : photo.traits.layout) w.f32(v);
    w.f64(photo.picture.colour.L), w.f64(photo.picture.colour.a), w.f64(photo.picture.colour.b);
    w.u(photo.picture.jpeg.size(), 4);
    w.out.insert(w.out.end(), photo.picture.jpeg.begin(), photo.picture.jpeg.end());
    w.words(photo.picture.thumb);
    w.words(photo.icon);
    w.u(fnv1a(w.out.data(), w.out.size()), 8);
    return w.out;
}

bool cache_entry_parse(const uint8_t* data, size_t size, CacheKey& key, ImportedPhoto& photo) {
    if (size < sizeof MAGIC + 4 + CHECK_SIZE || size > MAX_ENTRY || std::memcmp(data, MAGIC, sizeof MAGIC) != 0)
        return false;
    Reader check{{data + size - CHECK_SIZE, CHECK_SIZE, 0, false}};
    if (check.u(8) != fnv1a(data, size - CHECK_SIZE)) return false;
    Reader r{{data, size - CHECK_SIZE, sizeof MAGIC, false}};
    if (r.u(4) != VERSION) return false;
    photo = ImportedPhoto{};
    r.text(key.path);
    key.size = r.u(8), key.mtime_ns = static_cast<int64_t>(r.u(8));
    key.quality = static_cast<uint32_t>(r.u(4)), key.thumb_size = static_cast<uint32_t>(r.u(4));
    if (key.thumb_size < 1 || key.thumb_size > 255) return false;
    const uint64_t ok = r.u(1);
    photo.ok = ok == 1;
    r.text(photo.reason);
    photo.content_hash = r.u(8), photo.content_size = r.u(8);
    photo.short_side = static_cast<int32_t>(r.u(4));
    photo.traits.hash = r.u(8);
    photo.traits.sharpness = r.f32();
    for (float& v : photo.traits.layout) v = r.f32();
    photo.picture.colour.L = r.f64(), photo.picture.colour.a = r.f64(), photo.picture.colour.b = r.f64();
    r.bytes(static_cast<size_t>(r.u(4)), MAX_JPEG, photo.picture.jpeg);
    const size_t thumb = photo.ok ? size_t(key.thumb_size) * key.thumb_size : 0;
    r.words(photo.picture.thumb, thumb);
    r.words(photo.icon, photo.ok ? size_t(PACK_ICON_EDGE) * PACK_ICON_EDGE : 0);
    return !r.bad() && r.c.pos == r.c.length && ok <= 1 && (photo.ok ? photo.reason.empty() && !photo.picture.jpeg.empty()
                                                         : photo.picture.jpeg.empty() && !photo.reason.empty());
}

std::string default_cache_dir() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/evgpack";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.cache/evgpack";
    return "";
}

std::string cache_open(const std::string& dir) {
    if (dir.empty()) return "";
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(dir).parent_path(), ec);
    const std::string entries = dir + "/entries-1";
    ::mkdir(dir.c_str(), 0700);
    ::mkdir(entries.c_str(), 0700);
    struct stat st;
    if (::stat(entries.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || ::access(entries.c_str(), W_OK | X_OK) != 0)
        return "";
    return entries;
}

bool cache_load(const std::string& entries, const CacheKey& key, ImportedPhoto& photo) {
    const std::string path = entries + "/" + entry_name(key);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    std::vector<uint8_t> bytes;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
              static_cast<size_t>(st.st_size) <= MAX_ENTRY;
    if (ok) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        CacheKey stored;
        ok = got == bytes.size() && cache_entry_parse(bytes.data(), bytes.size(), stored, photo) &&
             same_key(stored, key);
        if (ok) ::futimens(fd, nullptr);  // the modification time orders the entries for cache_trim
    }
    ::close(fd);
    return ok;
}

void cache_store(const std::string& entries, const CacheKey& key, const ImportedPhoto& photo) {
    static std::atomic<unsigned> counter{0};
    const std::vector<uint8_t> bytes = cache_entry_bytes(key, photo);
    const std::string final_path = entries + "/" + entry_name(key);
    const std::string temp = entries + "/" + TEMP_PREFIX + std::to_string(::getpid()) + "-" +
                             std::to_string(counter.fetch_add(1)) + "-" + entry_name(key);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    size_t put = 0;
    while (put < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + put, bytes.size() - put);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        put += static_cast<size_t>(n);
    }
    // No fsync: after a crash an entry may be cut or empty, which its checksum refuses; a sync
    // per photo would cost more than importing a small one.
    const bool ok = ::close(fd) == 0 && put == bytes.size();
    if (!ok || ::rename(temp.c_str(), final_path.c_str()) != 0) ::unlink(temp.c_str());
}

void cache_trim(const std::string& entries, uint64_t limit) {
    DIR* dir = ::opendir(entries.c_str());
    if (!dir) return;
    struct Entry {
        int64_t used_ns;
        uint64_t bytes;
        std::string name;
    };
    std::vector<Entry> all;
    uint64_t total = 0;
    const time_t now = ::time(nullptr);
    while (const dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        struct stat st;
        if (name == "." || name == ".." || ::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            continue;
        if (name.compare(0, std::strlen(TEMP_PREFIX), TEMP_PREFIX) == 0) {
            if (now - st.st_mtime > STALE_TEMP_SECONDS) ::unlinkat(::dirfd(dir), d->d_name, 0);
            continue;
        }
        all.push_back({st.st_mtim.tv_sec * 1000000000ll + st.st_mtim.tv_nsec, static_cast<uint64_t>(st.st_size), name});
        total += static_cast<uint64_t>(st.st_size);
    }
    if (total > limit) {
        std::sort(all.begin(), all.end(), [](const Entry& a, const Entry& b) {
            return std::tie(a.used_ns, a.name) < std::tie(b.used_ns, b.name);
        });
        for (const Entry& e : all) {
            if (total <= limit) break;
            if (::unlinkat(::dirfd(dir), e.name.c_str(), 0) == 0) total -= e.bytes;
        }
    }
    ::closedir(dir);
}

}  // namespace evgpack
