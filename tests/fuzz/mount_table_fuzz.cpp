// Reads arbitrary bytes as lines of the mount table and as a device's first sector. Nothing
// may crash, and what a line yields must be taken from inside it.
#include "retrieval/core/card_file_system.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::size_t begin = 0;
    while (begin <= bytes.size()) {
        std::size_t end = bytes.find('\n', begin);
        if (end == std::string_view::npos) end = bytes.size();
        const std::string_view line = bytes.substr(begin, end - begin);
        if (const auto e = parse_mountinfo_line(line)) {
            // Unescaping only ever shortens a field.
            if (e->mount_point.size() > line.size() || e->fs_type.size() > line.size() ||
                e->source.size() > line.size())
                std::abort();
        }
        begin = end + 1;
    }
    const std::string_view kind = boot_sector_type({data, size});
    if (!kind.empty() && kind != "exfat" && kind != "vfat") std::abort();
    return 0;
}
