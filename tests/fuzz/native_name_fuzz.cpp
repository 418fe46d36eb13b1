// Reads arbitrary bytes as a file name from the disk. Whatever the verdict, the text fits,
// is terminated, and a name taken as text leads back to exactly its bytes; the pinyin key
// of the text is built and searched without fault, full pinyin too. Its halves and a few
// names sort into one order whatever order they come in, each with its decoded text.
#include "catalogue/core/folder_names.h"
#include "catalogue/core/native_names.h"
#include "search/language/pinyin_full.h"
#include "search/language/pinyin_key.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 1024) return 0;
    // A name has no zero byte and no separator.
    std::vector<char> name(data, data + size);
    for (char& c : name)
        if (c == 0 || c == '/') c = 'x';
    name.push_back(0);

    char16_t out[260];
    std::memset(out, 0xAB, sizeof out);
    const name_decoding how = decode_native_name(name.data(), out, 260);
    const char16_t* end = std::find(out, out + 260, char16_t{0});
    if (end == out + 260) std::abort();
    const QStringView text(out, end - out);
    if (how == name_decoding::utf8 || how == name_decoding::gb18030) {
        const QString path =
            QStringLiteral("/d/") +
            (how == name_decoding::gb18030 ? QString(gb18030_name_mark) : QString()) +
            text.toString();
        if (native_path(path) != QByteArray("/d/") + QByteArray(name.data())) std::abort();
        if (shown_path(path) != QStringLiteral("/d/") + text.toString()) std::abort();
    }
    const QByteArray whole_name(name.data()), half = whole_name.left(whole_name.size() / 2);
    std::vector<QByteArray> listed{whole_name, half, ".", "a", whole_name.mid(half.size())};
    const folder_names forward = folder_names::sorted(listed);
    const std::vector<std::uint32_t> listing = forward.listing_order();
    for (std::size_t p = 0; p < listed.size(); ++p)
        if (forward.bytes_view(listing[p]) != std::string_view(listed[p].constData())) std::abort();
    std::reverse(listed.begin(), listed.end());
    const folder_names backward = folder_names::sorted(listed);
    for (std::size_t i = 0; i < forward.size(); ++i) {
        if (forward.bytes_view(i) != backward.bytes_view(i)) std::abort();
        if (forward.bytes_view(i) == whole_name.constData() && forward.text(i) != text)
            std::abort();
    }

    const std::uint32_t offset = 0;
    const auto length = static_cast<std::uint16_t>(text.size());
    const text_arena_view names{text.utf16(), static_cast<std::size_t>(text.size()), &offset,
                                &length, true};
    std::uint8_t hit = 0;
    const pinyin_key key = pinyin_key::build(names, 1);
    key.contains("ab", 0, 1, &hit);
    const std::u16string_view whole(text.utf16(), static_cast<std::size_t>(text.size()));
    const pinyin_key::name_of_row name_of = [whole](std::uint32_t) { return whole; };
    pinyin_full_query::compile(u"wodeairen")->find(key, name_of, 0, 1, &hit);
    // Typed as full pinyin, a name of letters finds itself.
    if (const auto typed = pinyin_full_query::compile(text)) {
        hit = 0;
        typed->find(key, name_of, 0, 1, &hit);
        if (!hit) std::abort();
    }
    return 0;
}
