#pragma once
// The byte streams a catalogue snapshot's columns are written to and read from (see
// catalogue_snapshot.h): each column writes its own arrays and reads them back, checking
// them against the row count, so the snapshot's code knows no column's inside.
//
// An array is its element count (8 bytes) and then its elements, in the machine's byte order;
// the header's byte order mark refuses a snapshot of another order.
#include <cstddef>
#include <cstdint>

class snapshot_writer {
  public:
    virtual ~snapshot_writer() = default;
    virtual void raw(const void* p, std::size_t n) = 0;
    template <typename T> void value(T v) { raw(&v, sizeof v); }
    template <typename V> void array(const V& v) {
        value<std::uint64_t>(v.size());
        raw(v.data(), v.size() * sizeof(typename V::value_type));
    }
};

class snapshot_reader {
  public:
    virtual ~snapshot_reader() = default;
    // False when fewer than `n` bytes are left.
    virtual bool read(void* dst, std::size_t n) = 0;
    virtual std::uint64_t remaining() const = 0;

    static constexpr std::size_t any = std::size_t(-1);
    // An array of `expected` elements (any count when any). The count is checked before room is
    // made: no more than the bytes left hold (`per_item` each, what an element and what must
    // follow it take at the least), nor `most`.
    template <typename V>
    bool array(V& v, std::size_t expected = any, std::uint64_t most = std::uint64_t(-1),
               std::size_t per_item = sizeof(typename V::value_type)) {
        std::uint64_t n = 0;
        if (!read(&n, sizeof n)) return false;
        if (expected != any && n != expected) return false;
        if (n > most || n > remaining() / per_item) return false;
        v.resize(static_cast<std::size_t>(n));
        return read(v.data(), v.size() * sizeof(typename V::value_type));
    }
};
