// Pack format and loading: header coding, offsets, the 0 -> 64 rule, and hostile files that must
// be refused with a reason rather than read past their end.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "app/pack_menu.h"
#include "pack/pack_file.h"
#include "runtime/save_store.h"
#include "tests/support/pack_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/check.h"

namespace {

OpenPack loaded;  // static storage: an OpenPack is too large for a test's stack

// Loads `bytes` as the pack dir/`name` at the given data offset into `pack`.
int load_bytes(const TempDir& dir, const std::string& bytes, uint32_t data_offset, OpenPack& pack = loaded,
               const char* name = "p.evg") {
    std::string path = dir.file(name);
    EXPECT_TRUE(write_file(path, bytes));
    return pack_load(path.c_str(), data_offset, &pack);
}

std::string patch16(std::string bytes, size_t at, uint16_t v) {
    put_le16(reinterpret_cast<uint8_t*>(&bytes[at]), v);
    return bytes;
}

std::string patch32(std::string bytes, size_t at, uint32_t v) {
    put_le32(reinterpret_cast<uint8_t*>(&bytes[at]), v);
    return bytes;
}

}  // namespace

TEST(PackFormat, HeaderLayoutAndRoundTrip) {
    EXPECT_EQ(vals(PACK_HEADER_SIZE, PACK_THUMBNAILS), vals(3250, 262148));
    PackHeader h = {};
    std::memcpy(h.magic, PACK_MAGIC, PACK_MAGIC_SIZE);
    h.reserved1 = 0x0102, h.data_offset = 0x0304, h.listed_count = 0x0506, h.reserved2 = 0x0708;
    std::memcpy(h.author, "Ann", 4);
    h.icon[0] = 0xABCD;
    h.icon[PACK_ICON_PIXELS - 1] = 0x1234;
    uint8_t bytes[PACK_HEADER_SIZE + 2];
    bytes[PACK_HEADER_SIZE] = bytes[PACK_HEADER_SIZE + 1] = 0xEE;
    pack_header_encode(h, bytes);
    EXPECT_EQ(vals(bytes[PACK_HEADER_SIZE], bytes[PACK_HEADER_SIZE + 1]), vals(0xEE, 0xEE));  // nothing past the header
    // Little-endian fields at their fixed offsets.
    EXPECT_EQ(0, std::memcmp(bytes, "EVERGREEN ", 10));
    const int at[] = {10, 11, 12, 14, 16, 18, 50, 51, 3248};
    std::vector<int> got;
    for (int i : at) got.push_back(bytes[i]);
    EXPECT_EQ(got, (std::vector<int>{0x02, 0x01, 0x04, 0x06, 0x08, 'A', 0xCD, 0xAB, 0x34}));
    struct { PackHeader header; uint16_t guard = 0x5A5A; } back;  // the guard sits right after the icon
    pack_header_decode(bytes, &back.header);
    EXPECT_EQ(vals(std::memcmp(&h, &back.header, sizeof h), back.guard), vals(0, 0x5A5A));
}

TEST(PackFormat, MagicComparesOnlyEightBytes) {
    auto matches = [](const char* s) { return pack_magic_matches(reinterpret_cast<const uint8_t*>(s)); };
    EXPECT_EQ(vals(matches("EVERGREEN "), matches("EVERGREE\xff\x00"), matches("EVERGREXN "), matches("evergreen ")),
              vals(1, 1, 0, 0));
}

// The first picture's bytes sit at data offset + 262148 + N x T x T x 2 + 4, where a stored
// thumbnail size 0 stands for 64; a headerless pack has its data at 0.
TEST(PackLoad, ReadsTablesThumbnailsAndEntries) {
    TempDir dir;
    PackSpec spec;
    spec.best = [](int v) { return static_cast<uint16_t>(v & 0xFF); };
    spec.second = [](int v) { return static_cast<uint16_t>(v >> 8); };
    PackLayout layout;
    ASSERT_EQ(PACK_OK, load_bytes(dir, pack_bytes(spec, &layout), PACK_HEADER_SIZE));
    EXPECT_EQ((std::vector<int>{loaded.picture_count, loaded.thumb_size, loaded.best_match[0x1234], loaded.second_match[0x1234]}),
              (std::vector<int>{3, 8, 0x34, 0x12}));
    EXPECT_EQ(vals(loaded.thumbnails[0], loaded.thumbnails[2 * 64 + 63], loaded.picture_offsets[0]),
              vals(pack_test_colour(0), pack_test_colour(2), 3250u + 262148u + 3u * 8 * 8 * 2 + 4));
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(vals(loaded.picture_offsets[i], loaded.picture_sizes[i]), vals(layout.entry_starts[i] + 4, layout.jpeg_sizes[i]));
    }
    EXPECT_EQ(std::string(loaded.path), dir.file("p.evg"));

    PackSpec sixty_four, plain;
    sixty_four.thumb_size_field = 0;
    plain.header = false;
    ASSERT_EQ(PACK_OK, load_bytes(dir, pack_bytes(sixty_four), PACK_HEADER_SIZE));
    EXPECT_EQ(vals(loaded.thumb_size, loaded.picture_offsets[0]), vals(64, 3250u + 262148u + 3u * 64 * 64 * 2 + 4));
    ASSERT_EQ(PACK_OK, load_bytes(dir, pack_bytes(plain), 0));
    EXPECT_EQ(loaded.picture_offsets[0], 262148u + 3u * 8 * 8 * 2 + 4);

    // A header whose data offset is 0: the magic and header bytes are read as best_match.
    PackSpec overlay;
    overlay.data_offset = 0;
    ASSERT_EQ(PACK_OK, load_bytes(dir, pack_bytes(overlay), 0));
    EXPECT_EQ((std::vector<int>{loaded.best_match[0], loaded.best_match[1], loaded.best_match[6], loaded.picture_count}),
              (std::vector<int>{'E' | 'V' << 8, 'E' | 'R' << 8, 0, 3}));  // [6]: the data offset field
    pack_close(&loaded);
}

TEST(PackLoad, TruncatedAtEverySectionBoundaryIsRefused) {
    TempDir dir;
    PackLayout layout;
    std::string bytes = pack_bytes(PackSpec(), &layout);
    const size_t cuts[] = {0, 1, 9, 10, 3249, 3250, layout.data_start + 131072, layout.counts_start,
                           layout.counts_start + 2, layout.thumbs_start, layout.thumbs_start + 1,
                           layout.entries_start, layout.entries_start + 3,
                           layout.entry_starts[1], layout.entry_starts[2] + 4, layout.total - 1};
    for (size_t cut : cuts) {
        int status = load_bytes(dir, bytes.substr(0, cut), PACK_HEADER_SIZE);
        EXPECT_NE(PACK_OK, status) << "cut at " << cut;
        EXPECT_EQ(loaded.picture_count, 0) << "cut at " << cut;
        EXPECT_EQ(loaded.thumbnails, nullptr);
    }
    EXPECT_EQ(PACK_OK, load_bytes(dir, bytes, PACK_HEADER_SIZE));
    pack_close(&loaded);
}

TEST(PackLoad, HostileCountsAndLengths) {
    TempDir dir;
    PackLayout layout;
    const std::string good = pack_bytes(PackSpec(), &layout);
    struct Case {
        const char* what;
        std::string bytes;
        int status;
    };
    std::string huge_jpeg = good.substr(0, layout.entry_starts[2]);
    huge_jpeg += std::string(4, '\0');
    huge_jpeg += std::string(PACK_READ_BUFFER_SIZE + 1, '\x55');
    huge_jpeg = patch32(huge_jpeg, layout.entry_starts[2], PACK_READ_BUFFER_SIZE + 1);
    const Case cases[] = {
        {"count 0", patch16(good, layout.counts_start, 0), PACK_NO_PICTURES},
        {"count 65535", patch16(good, layout.counts_start, 65535), PACK_TOO_MANY_PICTURES},
        {"count 2049", patch16(good, layout.counts_start, 2049), PACK_TOO_MANY_PICTURES},
        {"count 2048", patch16(good, layout.counts_start, 2048), PACK_THUMBS_PAST_END},
        {"thumb 256", patch16(good, layout.counts_start + 2, 256), PACK_BAD_THUMB_SIZE},
        {"thumb 300", patch16(good, layout.counts_start + 2, 300), PACK_BAD_THUMB_SIZE},
        {"entry past end", patch32(good, layout.entry_starts[1], 0x7FFFFFF0), PACK_ENTRY_PAST_END},
        {"entry 4 GiB", patch32(good, layout.entry_starts[0], 0xFFFFFFFF), PACK_ENTRY_PAST_END},
        {"jpeg longer than buffer", huge_jpeg, PACK_ENTRY_TOO_LONG},
        {"not a pack", std::string("hello, this is a text file\n"), PACK_TOO_SHORT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.status, load_bytes(dir, c.bytes, PACK_HEADER_SIZE)) << c.what;
        EXPECT_EQ(loaded.picture_count, 0) << c.what;
    }
    // The bad entry is named.
    EXPECT_EQ(PACK_ENTRY_PAST_END, load_bytes(dir, patch32(good, layout.entry_starts[1], 1u << 30),
                                              PACK_HEADER_SIZE));
    EXPECT_EQ(loaded.bad_picture, 1);
    // A data offset past the end of the file.
    EXPECT_EQ(PACK_TOO_SHORT, load_bytes(dir, good, static_cast<uint32_t>(good.size()) + 10));
    EXPECT_EQ(PACK_TOO_SHORT, load_bytes(dir, good, 65535));
    // Thumb size 255 is the largest accepted (with the bytes present).
    PackSpec big;
    big.pictures = 1;
    big.thumb_size_field = 255;
    EXPECT_EQ(PACK_OK, load_bytes(dir, pack_bytes(big), PACK_HEADER_SIZE));
    EXPECT_EQ(loaded.thumb_size, 255);
    pack_close(&loaded);
}

TEST(PackLoad, MissingUnreadableAndOverlongPaths) {
    TempDir dir;
    EXPECT_EQ(PACK_CANNOT_OPEN, pack_load(dir.file("missing.evg").c_str(), 0, &loaded));
    std::string path = dir.file("locked.evg");
    ASSERT_TRUE(write_file(path, pack_bytes(PackSpec())));
    ::chmod(path.c_str(), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(PACK_CANNOT_OPEN, pack_load(path.c_str(), 0, &loaded));
    }
    EXPECT_EQ(PACK_CANNOT_OPEN, pack_load(std::string(300, 'a').c_str(), 0, &loaded));
    ASSERT_TRUE(write_file(dir.file("empty.evg"), ""));  // opens: it is too short, not unreadable
    EXPECT_EQ(PACK_TOO_SHORT, pack_load(dir.file("empty.evg").c_str(), 0, &loaded));
    // A folder opens with "rb" on Linux but is no pack.
    EXPECT_NE(PACK_OK, pack_load(dir.path.c_str(), 0, &loaded));
    EXPECT_EQ(loaded.picture_count, 0);
}

TEST(PackDiscovery, ScanListsRegularMatchingFilesSortedByName) {
    TempDir dir;
    const char* names[] = {"b.evg", "A.evg", "c.EVG", "notes.txt", "evg", "x.evgx", "a.evg"};
    for (const char* n : names) ASSERT_TRUE(write_file(dir.file(n), "x"));
    ::mkdir(dir.file("folder.evg").c_str(), 0755);  // not a regular file
    std::string pattern = dir.path + "/*.evg";
    ASSERT_EQ(4, folder_scan(pattern.c_str()));
    EXPECT_EQ((std::vector<std::string>{name_table[0], name_table[1], name_table[2], name_table[3]}),
              (std::vector<std::string>{"A.evg", "a.evg", "b.evg", "c.EVG"}));
    EXPECT_EQ(0, folder_scan((dir.path + "/none/*.evg").c_str()));
    EXPECT_EQ(0, folder_scan((dir.path + "/*.png").c_str()));
    // More files than slots, created in descending order: the first ones by name are kept.
    for (int i = 199; i >= 0; i--) {
        char name[16];
        std::snprintf(name, sizeof name, "p%03d.evg", i);
        ASSERT_TRUE(write_file(dir.file(name), "x"));
    }
    ASSERT_EQ(NAME_TABLE_SLOTS, folder_scan((dir.path + "/p*.evg").c_str()));
    EXPECT_STREQ(name_table[0], "p000.evg");
    EXPECT_STREQ(name_table[127], "p127.evg");
}

TEST(PackDiscovery, DefaultPackOnlyWhenTheScanFindsNothing) {
    TempDir dir;
    ASSERT_EQ(1, set_data_folder(dir.path.c_str()));
    EXPECT_EQ(0, packs_find());
    ASSERT_EQ(0, ::mkfifo(dir.file("Default.evg").c_str(), 0600));  // neither listed nor waited on
    EXPECT_EQ(0, packs_find());
    ::unlink(dir.file("Default.evg").c_str());
    // "Default.evg" itself matches the scan; the default path serves when the listing fails,
    // e.g. a folder that can be entered but not listed.
    ASSERT_TRUE(write_file(dir.file("Default.evg"), "x"));
    EXPECT_EQ(1, packs_find());
    EXPECT_STREQ(name_table[0], "Default.evg");
    ::chmod(dir.path.c_str(), 0100);  // search only
    if (::geteuid() != 0) {
        std::memset(name_table[0], 0, NAME_SLOT_SIZE);
        EXPECT_EQ(1, packs_find());
        EXPECT_STREQ(name_table[0], "Default.evg");
    }
    ::chmod(dir.path.c_str(), 0700);
    set_data_folder("");
}

// Whatever the menu lists must open: a data folder and a name of 255 bytes (the longest a Linux
// folder holds) that together make the longest path the system takes (PATH_MAX less one).
TEST(PackDiscovery, ListedPackOpensAtTheLongestPaths) {
    TempDir dir;
    std::string folder = dir.path;
    const size_t folder_length = SAVE_PATH_SIZE - 1 - 256;
    while (folder.size() + 101 < folder_length) {
        folder += "/" + std::string(100, 'd');
        ASSERT_EQ(0, ::mkdir(folder.c_str(), 0755));
    }
    folder += "/" + std::string(folder_length - 2 - folder.size(), 'e');
    ASSERT_EQ(0, ::mkdir(folder.c_str(), 0755));
    ASSERT_EQ(1, set_data_folder(folder.c_str()));
    ASSERT_EQ(std::strlen(data_folder), folder_length);
    std::string name = std::string(251, 'n') + ".evg";
    ASSERT_TRUE(write_file(folder + "/" + name, pack_bytes(PackSpec())));
    ASSERT_EQ(1, packs_find());
    std::string path = std::string(data_folder) + name_table[0];
    EXPECT_EQ(PACK_OK, pack_load(path.c_str(), PACK_HEADER_SIZE, &loaded));
    EXPECT_EQ(path, loaded.path);
    pack_close(&loaded);
    set_data_folder("");
}

namespace {
// Within JPEG error of the expected colour, per channel.
bool near_colour(uint16_t got, uint16_t want) {
    int dr = (got >> 11) - (want >> 11), dg = ((got >> 5) & 63) - ((want >> 5) & 63),
        db = (got & 31) - (want & 31);
    return std::abs(dr) <= 2 && std::abs(dg) <= 3 && std::abs(db) <= 2;
}
}  // namespace

TEST(PictureRead, DecodesEntriesAndBlacksOutFailures) {
    TempDir dir;
    PackSpec spec;
    spec.pictures = 3;
    spec.jpegs = {"", "", std::string("\xFF\xD8garbage that is no JPEG", 25)};
    spec.jpegs[0] = pack_jpeg_solid(pack_test_colour(0));
    spec.jpegs[1] = pack_jpeg_solid(pack_test_colour(1), 16, 16);  // wrong size: one corner
    PackLayout layout;
    std::string bytes = pack_bytes(spec, &layout);
    ASSERT_EQ(PACK_OK, load_bytes(dir, bytes, PACK_HEADER_SIZE));
    static uint16_t out[PICTURE_PIXELS];
    ASSERT_EQ(1, picture_read(&loaded, 0, out));
    EXPECT_TRUE(near_colour(out[0], pack_test_colour(0)));
    EXPECT_TRUE(near_colour(out[PICTURE_PIXELS - 1], pack_test_colour(0)));
    // The 16 x 16 picture fills its corner; the rest is black, not the previous picture.
    picture_read(&loaded, 1, out);
    EXPECT_TRUE(near_colour(out[0], pack_test_colour(1)));
    EXPECT_EQ(out[PICTURE_PIXELS - 1], 0);
    std::fill(out, out + PICTURE_PIXELS, 0x1234);
    EXPECT_EQ(0, picture_read(&loaded, 2, out));
    EXPECT_EQ(vals(out[0], out[PICTURE_PIXELS / 2]), vals(0, 0));
    std::fill(out, out + PICTURE_PIXELS, 0x1234);
    EXPECT_EQ(0, picture_read(&loaded, 3, out));  // no such picture
    EXPECT_EQ(out[0], 0);
    // A second pack open at the same time has its own tables, thumbnails, path and read buffer.
    PackSpec two;
    two.pictures = 2;
    two.picture_pixel = two.thumb_pixel = [](int p, int, int) { return pack_test_colour(p + 5); };
    auto other = std::make_unique<OpenPack>();
    ASSERT_EQ(PACK_OK, load_bytes(dir, pack_bytes(two), PACK_HEADER_SIZE, *other, "q.evg"));
    ASSERT_EQ(1, picture_read(other.get(), 1, out));
    EXPECT_TRUE(near_colour(out[0], pack_test_colour(6)));
    ASSERT_EQ(1, picture_read(&loaded, 1, out));
    EXPECT_TRUE(near_colour(out[0], pack_test_colour(1)));
    EXPECT_EQ(vals(loaded.picture_count, loaded.best_match[4], loaded.thumbnails[0], other->picture_count,
                   other->best_match[4], other->thumbnails[0]),
              vals(3, 1, pack_test_colour(0), 2, 0, pack_test_colour(5)));
    pack_close(other.get());
    EXPECT_EQ(1, picture_read(&loaded, 0, out));
    // The file shrinks after opening: the read comes up short and the picture is black.
    ASSERT_TRUE(write_file(dir.file("p.evg"), bytes.substr(0, layout.entry_starts[0] + 100)));
    std::fill(out, out + PICTURE_PIXELS, 0x1234);
    EXPECT_EQ(0, picture_read(&loaded, 0, out));
    EXPECT_EQ(out[0], 0);
    pack_close(&loaded);
}
