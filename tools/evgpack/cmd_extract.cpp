// `evgpack extract PACK DIR`: the pack's pictures back as 0000.jpg, 0001.jpg, ...
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/evgpack/cli.h"
#include "tools/evgpack/commands.h"
#include "builder/pack_reader.h"
#include "media/files.h"

namespace evgpack {

int cmd_extract(int argc, char** argv) {
    std::vector<std::string> args;
    bool operands = false;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (!operands && a == "--") {  // the rest are operands, even those starting with '-'
            operands = true;
            continue;
        }
        if (!operands && (a == "-h" || a == "--help")) {
            std::fputs("usage: evgpack extract PACK DIR\n\nWrites the pack's pictures into DIR (made if "
                       "needed) as 0000.jpg, 0001.jpg, ...; files that exist already are not replaced.\n",
                       stdout);
            return 0;
        }
        args.push_back(a);
    }
    if (args.size() != 2) {
        print_error("usage: evgpack extract PACK DIR");
        return 2;
    }
    LoadedPack info;
    auto pack = std::make_unique<OpenPack>();
    std::string error;
    if (!load_pack(args[0], info, *pack, error)) {
        print_error(error);
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(args[1], ec);
    if (ec) {
        print_error("cannot make the folder " + args[1] + ": " + ec.message());
        return 1;
    }
    FILE* in = file_open_regular(args[0].c_str());
    if (!in) {
        print_error("cannot open " + args[0] + ": " + std::strerror(errno));
        return 1;
    }
    std::vector<uint8_t> bytes;
    int status = 0;
    for (int p = 0; p < pack->picture_count && status == 0; ++p) {
        bytes.resize(pack->picture_sizes[p]);
        char name[32];
        std::snprintf(name, sizeof name, "%04d.jpg", p);
        std::string out_path = (std::filesystem::path(args[1]) / name).string();
        // A 0-byte entry has no data to read (and fread must not get the empty vector's null).
        if (!bytes.empty() && (std::fseek(in, static_cast<long>(pack->picture_offsets[p]), SEEK_SET) != 0 ||
                               std::fread(bytes.data(), 1, bytes.size(), in) != bytes.size())) {
            print_error("cannot read picture " + std::to_string(p) + " from " + args[0]);
            status = 1;
            break;
        }
        // New files only: an existing file (or a link, even a dangling one) of that name is
        // neither replaced nor written through.
        const int fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) {
            print_error(out_path + " already exists (extract writes new files only)");
            status = 1;
            break;
        }
        FILE* out = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (fd >= 0 && !out) ::close(fd);
        bool written = out && (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size());
        if (out && std::fclose(out) != 0) written = false;
        if (!written) {
            print_error("cannot write " + out_path + ": " + std::strerror(errno));
            status = 1;
        }
    }
    std::fclose(in);
    if (status == 0) std::printf("wrote %d pictures to %s\n", pack->picture_count, shown(args[1]).c_str());
    return status;
}

}  // namespace evgpack
