#include "catalogue/core/catalogue_snapshot.h"

#include "catalogue/core/record_storage.h"

#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <future>

namespace {

// The last character is the format's version: a snapshot of another is rebuilt.
constexpr std::array<char, 8> magic{'Q', 'M', 'C', 'S', 'N', 'A', 'P', '3'};
constexpr std::uint32_t byte_order_mark = 0x01020304u;
constexpr std::size_t hash_block = std::size_t{8} << 20;

struct header {
    std::array<char, 8> magic{};
    std::uint32_t byte_order = 0;
    std::uint32_t reserved = 0;
    std::int64_t file_size = 0;
    std::int64_t file_modified_ns = 0;
    std::uint64_t file_hash = 0;
    std::int64_t loaded = 0;
    std::int64_t skipped = 0;
    std::uint64_t payload_hash = 0;
    std::int64_t file_changed_ns = 0;
    std::uint64_t file_device = 0;
    std::uint64_t file_inode = 0;
};
static_assert(sizeof(header) == 88);

// What every row takes in the payload at the least: its null mask, numbers and date, the
// offset and length of two arena texts, two dictionary ids, a cut and a path form.
constexpr std::size_t payload_bytes_per_row = 2 + 4 + 4 + 8 + 8 + 2 * (4 + 2) + 2 * 4 + 1 + 1;

std::uint64_t mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 33);
}

std::uint64_t load64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// content_hash of bytes given in pieces: four lanes over 32-byte chunks (independent lanes
// keep the multiplier busy), then the length and the last bytes that fill no chunk.
class content_hasher {
  public:
    explicit content_hasher(std::uint64_t seed)
        : lane_{seed ^ k1, seed + k2, seed ^ (k1 >> 1), seed - k2} {}
    void add(QByteArrayView bytes) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        std::size_t n = static_cast<std::size_t>(bytes.size());
        length_ += n;
        while (held_ > 0 && n > 0) {
            held_bytes_[held_++] = *p++;
            --n;
            if (held_ == 32) {
                chunk(held_bytes_.data());
                held_ = 0;
            }
        }
        for (; n >= 32; p += 32, n -= 32) chunk(p);
        for (; n > 0; --n) held_bytes_[held_++] = *p++;
    }
    std::uint64_t value() const {
        std::uint64_t h = length_;
        for (const std::uint64_t l : lane_) h = mix(h ^ l) * k1;
        for (std::size_t i = 0; i < held_; ++i) h = (h ^ held_bytes_[i]) * k2;
        return mix(h);
    }

  private:
    static constexpr std::uint64_t k1 = 0x9E3779B185EBCA87ull, k2 = 0xC2B2AE3D27D4EB4Full;
    void chunk(const unsigned char* p) {
        for (int l = 0; l < 4; ++l)
            lane_[l] = std::rotl(lane_[l] + load64(p + 8 * l) * k2, 31) * k1;
    }
    std::uint64_t lane_[4];
    std::uint64_t length_ = 0;
    std::array<unsigned char, 32> held_bytes_{};
    std::size_t held_ = 0;
};

// Where the payload comes from; every read is hashed into `hash`.
class byte_source {
  public:
    virtual ~byte_source() = default;
    bool read(void* dst, std::size_t n) {
        if (n == 0) return true; // as the writer, which writes nothing
        if (!read_raw(dst, n)) return false;
        hash = content_hash(
            QByteArrayView(static_cast<const char*>(dst), static_cast<qsizetype>(n)), hash);
        return true;
    }
    virtual bool read_raw(void* dst, std::size_t n) = 0;
    virtual std::uint64_t remaining() const = 0;
    std::uint64_t hash = 0;
};

class file_source final : public byte_source {
  public:
    explicit file_source(QFile& f) : file_(f) {}
    bool read_raw(void* dst, std::size_t n) override {
        auto* p = static_cast<char*>(dst);
        while (n > 0) {
            const qint64 got = file_.read(p, static_cast<qint64>(std::min(n, hash_block)));
            if (got <= 0) return false;
            p += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }
    std::uint64_t remaining() const override {
        return static_cast<std::uint64_t>(std::max<qint64>(file_.size() - file_.pos(), 0));
    }

  private:
    QFile& file_;
};

class memory_source final : public byte_source {
  public:
    explicit memory_source(QByteArrayView b) : bytes_(b) {}
    bool read_raw(void* dst, std::size_t n) override {
        if (n > remaining()) return false;
        if (n > 0) std::memcpy(dst, bytes_.data() + at_, n);
        at_ += n;
        return true;
    }
    std::uint64_t remaining() const override {
        return static_cast<std::uint64_t>(bytes_.size()) - at_;
    }

  private:
    QByteArrayView bytes_;
    std::size_t at_ = 0;
};

class payload_writer {
  public:
    payload_writer(QSaveFile& f, const std::atomic<bool>* stop) : file_(f), stop_(stop) {}
    void raw(const void* p, std::size_t n) {
        if (!ok || n == 0) return;
        // Hashed whole, as the reader hashes it; written in pieces, so a stop request is seen
        // within one piece's time.
        auto* c = static_cast<const char*>(p);
        hash = content_hash(QByteArrayView(c, static_cast<qsizetype>(n)), hash);
        constexpr std::size_t piece = std::size_t{8} << 20;
        while (ok && n > 0) {
            if (stop_ && stop_->load(std::memory_order_relaxed)) {
                ok = false;
                return;
            }
            const std::size_t k = std::min(n, piece);
            ok = file_.write(c, static_cast<qint64>(k)) == static_cast<qint64>(k);
            c += k;
            n -= k;
        }
    }
    template <typename T> void value(T v) { raw(&v, sizeof v); }
    template <typename V> void array(const V& v) {
        value<std::uint64_t>(v.size());
        raw(v.data(), v.size() * sizeof(typename V::value_type));
    }
    bool ok = true;
    std::uint64_t hash = 0;

  private:
    QSaveFile& file_;
    const std::atomic<bool>* stop_;
};

} // namespace

// The storage's columns in and out; the only code that knows their inside besides their own.
class catalogue_snapshot_io {
  public:
    static void write(payload_writer& w, const record_storage& s) {
        w.array(s.null_mask_);
        w.array(s.machineid_);
        w.array(s.sourceid_);
        w.array(s.createdate_);
        w.array(s.filesizedec_);
        write(w, s.pinyinma_);
        write(w, s.filenamewithno_);
        write(w, s.fileext_);
        w.array(s.filename_.cuts_);
        write(w, s.filename_.aside_);
        write(w, s.filepath_.folders_);
        w.array(s.filepath_.forms_);
        write(w, s.filepath_.names_);
    }

    // Every column read and checked against the row count: an offset, length or id that
    // points outside its store, or a text made from parts that are not there, refuses the
    // whole snapshot.
    static bool read(byte_source& in, record_storage& s) {
        if (!array(in, s.null_mask_, std::size_t(-1), std::uint64_t(-1), payload_bytes_per_row))
            return false;
        const std::size_t rows = s.null_mask_.size();
        return array(in, s.machineid_, rows) && array(in, s.sourceid_, rows) &&
               array(in, s.createdate_, rows) && array(in, s.filesizedec_, rows) &&
               read(in, s.pinyinma_, rows) && read(in, s.filenamewithno_, rows) &&
               read(in, s.fileext_, rows) && array(in, s.filename_.cuts_, rows) &&
               read(in, s.filename_.aside_, rows) && read(in, s.filepath_.folders_, rows) &&
               array(in, s.filepath_.forms_, rows) && read(in, s.filepath_.names_, rows) &&
               made_texts_consistent(s);
    }

  private:
    static void write(payload_writer& w, const text_arena_column& a) {
        w.array(a.data_);
        w.array(a.offsets_);
        w.array(a.lengths_);
        w.value<std::uint32_t>(a.high_water_);
        w.value<std::uint32_t>(a.ordered_ ? 1 : 0);
    }
    // In row order: the same records give the same bytes whatever order the hash keeps.
    static void write(payload_writer& w, const sparse_text_column& t) {
        std::vector<std::uint32_t> rows(t.index_.keyBegin(), t.index_.keyEnd()), offsets;
        std::vector<std::uint16_t> lengths;
        std::sort(rows.begin(), rows.end());
        for (const std::uint32_t r : rows) {
            const auto& at = t.index_.constFind(r).value();
            offsets.push_back(at.offset);
            lengths.push_back(at.length);
        }
        w.array(t.data_);
        w.array(rows);
        w.array(offsets);
        w.array(lengths);
    }
    static void write(payload_writer& w, const text_dictionary_column& d) {
        w.array(d.ids_);
        w.value<std::uint64_t>(d.texts_.size());
        for (const QString& t : d.texts_) {
            w.value<std::uint32_t>(static_cast<std::uint32_t>(t.size()));
            w.raw(t.utf16(), static_cast<std::size_t>(t.size()) * 2);
        }
    }

    // Counts are checked before any room is made: no more than the file holds (`per_item`
    // bytes each, what they and what must follow them take at the least), nor `most`.
    template <typename V>
    static bool array(byte_source& in, V& v, std::size_t expected = std::size_t(-1),
                      std::uint64_t most = std::uint64_t(-1),
                      std::size_t per_item = sizeof(typename V::value_type)) {
        using T = typename V::value_type;
        std::uint64_t n = 0;
        if (!in.read(&n, sizeof n)) return false;
        if (expected != std::size_t(-1) && n != expected) return false;
        if (n > most || n > in.remaining() / per_item) return false;
        v.resize(static_cast<std::size_t>(n));
        return in.read(v.data(), v.size() * sizeof(T));
    }

    static bool read(byte_source& in, text_arena_column& a, std::size_t rows) {
        std::uint32_t high_water = 0, ordered = 0;
        if (!array(in, a.data_) || !array(in, a.offsets_, rows) || !array(in, a.lengths_, rows) ||
            !in.read(&high_water, 4) || !in.read(&ordered, 4))
            return false;
        if (high_water > rows || ordered > 1 || a.data_.size() > 0xFFFFFFFFu) return false;
        const std::size_t size = a.data_.size();
        std::uint32_t previous = 0;
        std::size_t end = 0; // of the rows so far, while they leave no gap
        bool gap_free = true;
        for (std::size_t r = 0; r < rows; ++r) {
            const std::uint32_t at = a.offsets_[r];
            const std::uint16_t len = a.lengths_[r];
            if (at > size || (len != null_text_length && len > size - at)) return false;
            if (ordered && at < previous) return false;
            previous = at;
            gap_free = gap_free && at == end;
            end = std::size_t{at} + (len == null_text_length ? 0 : len);
        }
        a.high_water_ = high_water;
        a.ordered_ = ordered == 1;
        a.gap_free_ = gap_free && end == size;
        a.make_narrow();
        return true;
    }

    static bool read(byte_source& in, sparse_text_column& t, std::size_t rows) {
        std::vector<std::uint32_t> at, offsets;
        std::vector<std::uint16_t> lengths;
        // A row has one text at most.
        if (!array(in, t.data_) || !array(in, at, std::size_t(-1), rows, 4 + 4 + 2) ||
            !array(in, offsets, at.size()) || !array(in, lengths, at.size()))
            return false;
        const std::size_t size = t.data_.size();
        t.index_.reserve(static_cast<qsizetype>(at.size()));
        for (std::size_t i = 0; i < at.size(); ++i) {
            if (at[i] >= rows || lengths[i] == null_text_length || offsets[i] > size ||
                lengths[i] > size - offsets[i] || t.index_.contains(at[i]))
                return false;
            t.index_.insert(at[i], {offsets[i], lengths[i]});
        }
        return true;
    }

    // A row that makes a text from other columns has them and keeps no text of its own.
    static bool made_texts_consistent(const record_storage& s) {
        const suffix_text_column& name = s.filename_;
        const path_column& path = s.filepath_;
        for (auto it = name.aside_.index_.constBegin(); it != name.aside_.index_.constEnd(); ++it)
            if (name.cuts_[it.key()] != suffix_text_column::kept) return false;
        for (auto it = path.names_.index_.constBegin(); it != path.names_.index_.constEnd(); ++it)
            if (path.forms_[it.key()] != path_column::name_kept || path.is_null(it.key()))
                return false;
        for (std::uint32_t r = 0; r < s.rows(); ++r) {
            const std::uint8_t cut = name.cuts_[r];
            const std::uint8_t form = path.forms_[r];
            if (cut == suffix_text_column::kept && form == path_column::name_kept) continue;
            const auto whole = s.filenamewithno_.get(r);
            if (!whole || (cut != suffix_text_column::kept && cut > whole->size())) return false;
            if (form != path_column::name_kept &&
                ((form & ~path_column::every_form_bit) || !(form & path_column::name_joined) ||
                 path.is_null(r) || !s.fileext_.get(r)))
                return false;
        }
        return true;
    }

    static bool read(byte_source& in, text_dictionary_column& d, std::size_t rows) {
        std::uint64_t count = 0;
        if (!array(in, d.ids_, rows) || !in.read(&count, 8)) return false;
        if (count > in.remaining() / 4 || count >= text_dictionary_view::null_id) return false;
        // Texts no row names are only kept after edits: room for the rows' texts alone.
        d.texts_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, rows)));
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint32_t len = 0;
            if (!in.read(&len, 4) || len > in.remaining() / 2) return false;
            QString t(static_cast<qsizetype>(len), Qt::Uninitialized);
            if (!in.read(t.data(), std::size_t{len} * 2)) return false;
            // Each text once, as interning keeps them: many copies of a short text would take
            // far more memory than file.
            if (d.find(t, text_dictionary_column::text_hash(t)) != text_dictionary_view::null_id)
                return false;
            d.add_text(std::move(t));
        }
        for (const std::uint32_t id : d.ids_)
            if (id != text_dictionary_view::null_id && id >= count) return false;
        return true;
    }
};

namespace {

// The header, then the payload with `file_hash` (run beside the read) checked last.
std::optional<catalogue_import_result>
read_snapshot(byte_source& in, const file_facts& expected,
              const std::function<std::optional<std::uint64_t>()>& file_hash, record_storage& out,
              bool check_payload_hash = true) {
    out.clear();
    header h;
    if (!in.read_raw(&h, sizeof h) || h.magic != magic || h.byte_order != byte_order_mark ||
        h.file_size != expected.size || h.file_modified_ns != expected.modified_ns ||
        h.file_changed_ns != expected.changed_ns || h.file_device != expected.device ||
        h.file_inode != expected.inode || h.loaded < 0 || h.skipped < 0)
        return std::nullopt;
    auto hashed = std::async(std::launch::async, file_hash);
    bool whole = false;
    try {
        whole = catalogue_snapshot_io::read(in, out) && in.remaining() == 0 &&
                (!check_payload_hash || in.hash == h.payload_hash);
    } catch (...) {
        out.clear();
        hashed.wait();
        throw;
    }
    const std::optional<std::uint64_t> now = hashed.get();
    if (!whole || !now || *now != h.file_hash) {
        out.clear();
        return std::nullopt;
    }
    catalogue_import_result r;
    r.file_found = true;
    r.loaded = h.loaded;
    r.skipped = h.skipped;
    return r;
}

} // namespace

std::uint64_t content_hash(QByteArrayView bytes, std::uint64_t seed) {
    content_hasher h(seed);
    h.add(bytes);
    return h.value();
}

std::optional<std::uint64_t> hash_catalogue_file(const open_catalogue_file& file,
                                                 const std::atomic<bool>* stop) {
    // Read in pieces that stay in the core's cache while they are hashed; every block of
    // hash_block bytes is one content_hash, seeded with the blocks before it.
    constexpr std::size_t piece = std::size_t{256} << 10;
    static_assert(hash_block % piece == 0);
    std::vector<char> buffer(piece);
    const std::int64_t size = file.facts().size;
    std::uint64_t h = 0;
    content_hasher block(h);
    std::size_t in_block = 0;
    for (std::int64_t at = 0; at < size;) {
        if (stop && stop->load(std::memory_order_relaxed)) return std::nullopt;
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(
            size - at, static_cast<std::int64_t>(std::min(piece, hash_block - in_block))));
        // Short of the size the file had when opened: it was cut meanwhile.
        if (file.read_at(buffer.data(), n, at) != static_cast<std::int64_t>(n)) return std::nullopt;
        block.add(QByteArrayView(buffer.data(), static_cast<qsizetype>(n)));
        at += static_cast<std::int64_t>(n);
        in_block += n;
        if (in_block == hash_block) {
            h = block.value();
            block = content_hasher(h);
            in_block = 0;
        }
    }
    return in_block == 0 ? h : block.value();
}

std::optional<catalogue_file_identity> identify_catalogue_file(const QString& path) {
    const open_catalogue_file file(path);
    if (!file.is_open()) return std::nullopt;
    const auto hash = hash_catalogue_file(file);
    if (!hash) return std::nullopt;
    return catalogue_file_identity{file.facts(), *hash};
}

bool save_catalogue_snapshot(const QString& snapshot_path, const record_storage& storage,
                             const catalogue_import_result& counts,
                             const catalogue_file_identity& made_from,
                             const std::atomic<bool>* stop) {
    QSaveFile f(snapshot_path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    header h;
    h.magic = magic;
    h.byte_order = byte_order_mark;
    h.file_size = made_from.file.size;
    h.file_modified_ns = made_from.file.modified_ns;
    h.file_changed_ns = made_from.file.changed_ns;
    h.file_device = made_from.file.device;
    h.file_inode = made_from.file.inode;
    h.file_hash = made_from.content_hash;
    h.loaded = counts.loaded;
    h.skipped = counts.skipped;
    // The payload's hash is known only at the end: the header is written again then.
    if (f.write(reinterpret_cast<const char*>(&h), sizeof h) != sizeof h) return false;
    payload_writer w(f, stop);
    catalogue_snapshot_io::write(w, storage);
    if (!w.ok) {
        f.cancelWriting();
        return false;
    }
    h.payload_hash = w.hash;
    if (!f.seek(0) || f.write(reinterpret_cast<const char*>(&h), sizeof h) != sizeof h) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

std::optional<catalogue_import_result> load_catalogue_snapshot(const QString& snapshot_path,
                                                               const open_catalogue_file& file,
                                                               record_storage& out) {
    out.clear();
    if (!file.is_open()) return std::nullopt;
    QFile f(snapshot_path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return std::nullopt;
    file_source in(f);
    return read_snapshot(
        in, file.facts(), [&] { return hash_catalogue_file(file); }, out);
}

std::optional<catalogue_import_result>
read_catalogue_snapshot_bytes(QByteArrayView bytes, const catalogue_file_identity& expected,
                              record_storage& out, bool check_payload_hash) {
    memory_source in(bytes);
    return read_snapshot(
        in, expected.file, [&] { return std::optional<std::uint64_t>(expected.content_hash); }, out,
        check_payload_hash);
}
