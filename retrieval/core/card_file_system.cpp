#include "retrieval/core/card_file_system.h"

#include "catalogue/core/native_names.h"

#include <QChar>

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr long msdos_magic = 0x4d44;
constexpr long exfat_magic = 0x2011BAB0;
constexpr long fuse_magic = 0x65735546;

constexpr std::int64_t fat32_max_file = (std::int64_t{1} << 32) - 1;

// The mount table writes blanks, TABs, line ends and backslashes as \ and three octal digits.
std::string unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            const char a = s[i + 1], b = s[i + 2], c = s[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

std::vector<std::string_view> split_blanks(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        const std::size_t begin = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > begin) out.push_back(line.substr(begin, i - begin));
    }
    return out;
}

std::optional<unsigned> parse_number(std::string_view s) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    unsigned n = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return n;
}

// The type behind a FUSE mount of a block device: "fuseblk.exfat" names it, plain
// "fuseblk" leaves the boot sector to tell.
std::string fuse_type_of(dev_t device) {
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    std::optional<mount_entry> found;
    while (std::getline(table, line)) {
        auto e = parse_mountinfo_line(line);
        if (e && e->major == major(device) && e->minor == minor(device)) found = std::move(e);
    }
    if (!found) return {};
    if (const auto dot = found->fs_type.find('.'); dot != std::string::npos)
        return found->fs_type.substr(dot + 1);
    if (found->source.rfind("/dev/", 0) != 0) return {};
    const int fd = ::open(found->source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    unsigned char sector[512];
    const ssize_t n = ::pread(fd, sector, sizeof sector, 0);
    ::close(fd);
    if (n != static_cast<ssize_t>(sizeof sector)) return {};
    return std::string(boot_sector_type(sector));
}

} // namespace

card_limits limits_for_type(std::string_view fs_type) {
    if (fs_type == "vfat" || fs_type == "msdos" || fs_type == "fat")
        return {card_kind::fat, fat32_max_file};
    if (fs_type == "exfat") return {card_kind::exfat, INT64_MAX};
    return {};
}

bool served_by_fuse(int folder_fd) {
    struct statfs fs {};
    return ::fstatfs(folder_fd, &fs) == 0 && static_cast<long>(fs.f_type) == fuse_magic;
}

card_limits limits_of_folder(int folder_fd) {
    struct statfs fs {};
    if (::fstatfs(folder_fd, &fs) != 0) return {};
    const long type = static_cast<long>(fs.f_type);
    if (type == msdos_magic) return limits_for_type("vfat");
    if (type == exfat_magic) return limits_for_type("exfat");
    // Elsewhere the name limit is in bytes, as the file system tells it.
    card_limits other;
    if (fs.f_namelen > 0) other.max_name_length = fs.f_namelen;
    if (type != fuse_magic) return other;
    struct stat st {};
    if (::fstat(folder_fd, &st) != 0) return other;
    const card_limits fuse = limits_for_type(fuse_type_of(st.st_dev));
    return fuse.kind == card_kind::other ? other : fuse;
}

bool size_allowed(const card_limits& limits, std::int64_t size) {
    return size <= limits.max_file_size;
}

bool name_allowed(const card_limits& limits, QStringView name) {
    if (limits.kind == card_kind::other) return true;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
        if (std::u16string_view(u"\\/:*?\"<>|").find(c.unicode()) != std::u16string_view::npos)
            return false;
    }
    return true;
}

bool name_fits(const card_limits& limits, QStringView name) {
    if (limits.kind == card_kind::other) return native_path(name).size() <= limits.max_name_length;
    return shown_path(name).size() <= limits.max_name_length;
}

std::optional<mount_entry> parse_mountinfo_line(std::string_view line) {
    const std::vector<std::string_view> f = split_blanks(line);
    // id, parent, major:minor, root, mount point, options, optional fields, "-", type, source.
    std::size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (f.size() < 7 || dash + 2 >= f.size()) return std::nullopt;
    const std::string_view numbers = f[2];
    const auto colon = numbers.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto major_number = parse_number(numbers.substr(0, colon));
    const auto minor_number = parse_number(numbers.substr(colon + 1));
    if (!major_number || !minor_number) return std::nullopt;
    mount_entry e;
    e.major = *major_number;
    e.minor = *minor_number;
    e.mount_point = unescape(f[4]);
    e.fs_type = unescape(f[dash + 1]);
    e.source = unescape(f[dash + 2]);
    return e;
}

std::string_view boot_sector_type(std::span<const unsigned char> sector) {
    if (sector.size() < 512) return {};
    const auto at = [&](std::size_t offset, std::string_view text) {
        return std::memcmp(sector.data() + offset, text.data(), text.size()) == 0;
    };
    if (at(3, "EXFAT   ")) return "exfat";
    const bool signed_sector = sector[510] == 0x55 && sector[511] == 0xAA;
    if (signed_sector && (at(82, "FAT32   ") || at(54, "FAT12   ") || at(54, "FAT16   ")))
        return "vfat";
    return {};
}
