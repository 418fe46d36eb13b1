#include "catalogue/core/folder_names.h"

#include "catalogue/core/n_filetouch.h"

#include <QString>
#include <QStringView>
#include <algorithm>
#include <fnmatch.h>

namespace {

// Units a case-insensitive comparison leaves as they are, or (ASCII capitals) lowers: those
// of ASCII and of scripts without case. A name of these only compares by its folded units
// alone, as QString::compare does it unit by unit, without a call per comparison.
bool plain_unit(char16_t u) {
    return u < 0x80 || (u >= 0x3000 && u <= 0x30FF) || (u >= 0x3400 && u <= 0x4DBF) ||
           (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xAC00 && u <= 0xD7A3) ||
           (u >= 0xF900 && u <= 0xFAFF);
}

QStringView qt_view(std::u16string_view s) {
    return QStringView(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

void folder_names::add(std::string_view name) {
    // Filled where it stays: a copy of a just-built item waits for its stores to land.
    item& it = items_.emplace_back();
    it.listed_at = static_cast<std::uint32_t>(items_.size() - 1);
    it.bytes_at = static_cast<std::uint32_t>(bytes_.size());
    it.bytes_size = static_cast<std::uint32_t>(name.size());
    bytes_.append(name);
    bytes_.push_back('\0');
    it.dot = name == "." || name == "..";

    char16_t text[max_path];
    it.decoding = decode_native_name(bytes_.data() + it.bytes_at, text, max_path);
    it.text_at = static_cast<std::uint32_t>(units_.size());
    it.text_size = static_cast<std::uint32_t>(std::char_traits<char16_t>::length(text));
    units_.append(text, it.text_size);

    // The order reads names as QString::fromUtf8 does; for valid UTF-8 that is the decoded
    // text, but for a leading byte order mark, which it drops.
    if (it.decoding == name_decoding::utf8 && !name.starts_with("\xEF\xBB\xBF")) {
        it.key_at = it.text_at;
        it.key_size = it.text_size;
    } else {
        const QString key = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
        it.key_at = static_cast<std::uint32_t>(units_.size());
        it.key_size = static_cast<std::uint32_t>(key.size());
        units_.append(reinterpret_cast<const char16_t*>(key.utf16()), it.key_size);
    }
    it.plain = true;
    for (std::uint32_t i = 0; i < it.key_size && it.plain; ++i)
        it.plain = plain_unit(units_[it.key_at + i]);
    if (it.plain) {
        it.folded_at = static_cast<std::uint32_t>(units_.size());
        units_.resize(units_.size() + it.key_size);
        const char16_t* from = units_.data() + it.key_at;
        char16_t* to = units_.data() + it.folded_at;
        std::uint64_t head[2] = {0, 0};
        for (std::uint32_t i = 0; i < it.key_size; ++i) {
            char16_t u = from[i];
            if (u >= u'A' && u <= u'Z') u = static_cast<char16_t>(u + 32);
            to[i] = u;
            if (i < 8) head[i / 4] |= std::uint64_t{u} << (16 * (3 - i % 4));
        }
        it.head[0] = head[0];
        it.head[1] = head[1];
    }
}

bool folder_names::comes_before(std::uint32_t x, std::uint32_t y) const {
    const item &a = items_[x], &b = items_[y];
    if (a.dot != b.dot) return a.dot;
    if (a.plain && b.plain) {
        // No unit is 0, so a name that ends inside the head sorts before its longer kin.
        if (a.head[0] != b.head[0]) return a.head[0] < b.head[0];
        if (a.head[1] != b.head[1]) return a.head[1] < b.head[1];
        if (const int c = folded(a).compare(folded(b)); c != 0) return c < 0;
    } else if (const int c = qt_view(key(a)).compare(qt_view(key(b)), Qt::CaseInsensitive); c != 0)
        return c < 0;
    if (const int c = key(a).compare(key(b)); c != 0) return c < 0;
    return bytes_view(x) < bytes_view(y);
}

void folder_names::sort() {
    // What most comparisons end on, side by side: the items themselves are far larger.
    struct sort_key {
        std::uint64_t head0, head1;
        std::uint32_t item;
        bool dot, plain;
    };
    std::vector<sort_key> keys(items_.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const item& it = items_[i];
        keys[i] = {it.head[0], it.head[1], static_cast<std::uint32_t>(i), it.dot, it.plain};
    }
    std::sort(keys.begin(), keys.end(), [this](const sort_key& a, const sort_key& b) {
        if (a.dot != b.dot) return a.dot;
        if (a.plain && b.plain) {
            if (a.head0 != b.head0) return a.head0 < b.head0;
            if (a.head1 != b.head1) return a.head1 < b.head1;
        }
        return comes_before(a.item, b.item);
    });
    std::vector<item> ordered;
    ordered.reserve(items_.size());
    for (const sort_key& k : keys) ordered.push_back(items_[k.item]);
    items_ = std::move(ordered);
}

std::vector<std::uint32_t> folder_names::listing_order() const {
    std::vector<std::uint32_t> order(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i)
        order[items_[i].listed_at] = static_cast<std::uint32_t>(i);
    return order;
}

folder_names folder_names::read(DIR* dir, const QByteArray& mask) {
    folder_names names;
    while (const dirent* e = ::readdir(dir))
        if (mask.isEmpty() || ::fnmatch(mask.constData(), e->d_name, FNM_PERIOD) == 0)
            names.add(e->d_name);
    names.sort();
    return names;
}

folder_names folder_names::sorted(const std::vector<QByteArray>& list) {
    folder_names names;
    for (const QByteArray& n : list) names.add(std::string_view(n.constData(), n.size()));
    names.sort();
    return names;
}
