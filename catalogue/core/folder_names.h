#pragma once
// The names of one folder in the order a listing hands them out, each decoded once.
//
// The disks the program was made for list a folder in name order, and users expect their
// numbered files so; Linux file systems hand out hash order. "." and ".." stay first; then
// names compare case-insensitively, then by UTF-16 code unit, then by their bytes.
// All names and texts of a folder lie back to back in two buffers: a scan lists hundreds of
// thousands of names, and an allocation each cost more than the sort.
#include "catalogue/core/native_names.h"

#include <QByteArray>
#include <cstdint>
#include <dirent.h>
#include <string>
#include <string_view>
#include <vector>

class folder_names {
  public:
    // The names of the folder open as `dir` that match `mask` (every name when empty), in
    // name order. Closes nothing.
    static folder_names read(DIR* dir, const QByteArray& mask);
    // `names` in name order.
    static folder_names sorted(const std::vector<QByteArray>& names);

    std::size_t size() const { return items_.size(); }
    // As the file system stores it, zero-terminated.
    const char* bytes(std::size_t i) const { return bytes_.data() + items_[i].bytes_at; }
    std::string_view bytes_view(std::size_t i) const { return {bytes(i), items_[i].bytes_size}; }
    // As decode_native_name gives it.
    std::u16string_view text(std::size_t i) const {
        return std::u16string_view(units_).substr(items_[i].text_at, items_[i].text_size);
    }
    name_decoding decoding(std::size_t i) const { return items_[i].decoding; }
    bool is_dot(std::size_t i) const { return items_[i].dot; }
    // Prefetches entry i's item and entry text_i's text (an entry whose item was prefetched
    // earlier), ahead of their use: the folder was listed on another thread, so it lies in
    // that thread's cache.
    void prefetch(std::size_t i, std::size_t text_i) const {
        if (i < items_.size()) __builtin_prefetch(&items_[i]);
        if (text_i < items_.size()) __builtin_prefetch(units_.data() + items_[text_i].text_at);
    }
    // The entries' numbers in the order the file system listed them.
    std::vector<std::uint32_t> listing_order() const;

  private:
    struct item {
        std::uint32_t bytes_at = 0, bytes_size = 0;
        std::uint32_t text_at = 0, text_size = 0;
        // What the order compares: the name read as UTF-8, and (plain names) its folded units.
        std::uint32_t key_at = 0, key_size = 0, folded_at = 0;
        // Plain names: their first eight folded units, the first highest, 0 past the end;
        // most comparisons end there, without reading the units.
        std::uint64_t head[2] = {0, 0};
        std::uint32_t listed_at = 0; // its place in the file system's listing
        name_decoding decoding = name_decoding::utf8;
        bool dot = false;
        bool plain = false; // made of ASCII and caseless scripts only
    };
    void add(std::string_view name);
    void sort();
    // Whether item x goes before item y.
    bool comes_before(std::uint32_t x, std::uint32_t y) const;
    std::u16string_view key(const item& it) const {
        return std::u16string_view(units_).substr(it.key_at, it.key_size);
    }
    std::u16string_view folded(const item& it) const {
        return std::u16string_view(units_).substr(it.folded_at, it.key_size);
    }

    std::string bytes_;    // each name zero-terminated
    std::u16string units_; // texts, keys and folded keys
    std::vector<item> items_;
};
