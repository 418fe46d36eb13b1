#include "catalogue/core/catalogue_snapshot.h"

#include "app/shell/run_parts.h"
#include "catalogue/core/record_storage.h"

#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>
#include <xxhash.h>

namespace {

// The last character is the format's version: a snapshot of another is rebuilt.
constexpr std::array<char, 8> magic{'Q', 'M', 'C', 'S', 'N', 'A', 'P', '4'};
constexpr std::uint32_t byte_order_mark = 0x01020304u;

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

// XXH3-64 of bytes given in pieces: the same value however they are cut.
class xxh3_stream {
  public:
    explicit xxh3_stream(std::uint64_t seed = 0) : state_(XXH3_createState()) {
        if (!state_ || XXH3_64bits_reset_withSeed(state_.get(), seed) != XXH_OK)
            throw std::bad_alloc();
    }
    void add(const void* p, std::size_t n) { XXH3_64bits_update(state_.get(), p, n); }
    std::uint64_t value() const { return XXH3_64bits_digest(state_.get()); }

  private:
    struct free_state {
        void operator()(XXH3_state_t* s) const { XXH3_freeState(s); }
    };
    std::unique_ptr<XXH3_state_t, free_state> state_;
};

// Where the payload comes from; every byte read is hashed.
class byte_source : public snapshot_reader {
  public:
    bool read(void* dst, std::size_t n) override {
        // Hashed piece by piece right after it is read, while it is still in the core's cache
        // (256 KiB: a core's L2 holds it).
        constexpr std::size_t piece = std::size_t{256} << 10;
        auto* p = static_cast<char*>(dst);
        while (n > 0) {
            const std::size_t k = std::min(n, piece);
            if (!read_raw(p, k)) return false;
            hash.add(p, k);
            p += k;
            n -= k;
        }
        return true;
    }
    virtual bool read_raw(void* dst, std::size_t n) = 0;
    xxh3_stream hash;
};

class file_source final : public byte_source {
  public:
    explicit file_source(QFile& f) : file_(f) {}
    bool read_raw(void* dst, std::size_t n) override {
        auto* p = static_cast<char*>(dst);
        while (n > 0) {
            const qint64 got = file_.read(p, static_cast<qint64>(n));
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

class payload_writer final : public snapshot_writer {
  public:
    payload_writer(QSaveFile& f, const std::atomic<bool>* stop) : file_(f), stop_(stop) {}
    void raw(const void* p, std::size_t n) override {
        if (!ok) return;
        auto* c = static_cast<const char*>(p);
        hash.add(c, n);
        // Written in pieces, so a stop request is seen within one piece's time: 8 MiB takes
        // some milliseconds at a disk's speed, and more pieces only add system calls.
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
    bool ok = true;
    xxh3_stream hash;

  private:
    QSaveFile& file_;
    const std::atomic<bool>* stop_;
};

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
    // The payload read here while the catalogue file is hashed beside it.
    bool whole = false;
    std::optional<std::uint64_t> now;
    try {
        run_parts(2u, 2, [&](unsigned k, unsigned, unsigned) {
            if (k == 1) {
                now = file_hash();
                return;
            }
            whole = out.load(in) && in.remaining() == 0 &&
                    (!check_payload_hash || in.hash.value() == h.payload_hash);
        });
    } catch (...) {
        out.clear();
        throw;
    }
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
    return XXH3_64bits_withSeed(bytes.data(), static_cast<std::size_t>(bytes.size()), seed);
}

std::optional<std::uint64_t> hash_catalogue_file(const open_catalogue_file& file,
                                                 const std::atomic<bool>* stop) {
    // Read in pieces that stay in the core's cache while they are hashed (256 KiB: a core's
    // L2 holds it).
    constexpr std::size_t piece = std::size_t{256} << 10;
    std::vector<char> buffer(piece);
    const std::int64_t size = file.facts().size;
    xxh3_stream h;
    for (std::int64_t at = 0; at < size;) {
        if (stop && stop->load(std::memory_order_relaxed)) return std::nullopt;
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(size - at, static_cast<std::int64_t>(piece)));
        // Short of the size the file had when opened: it was cut meanwhile.
        if (file.read_at(buffer.data(), n, at) != static_cast<std::int64_t>(n)) return std::nullopt;
        h.add(buffer.data(), n);
        at += static_cast<std::int64_t>(n);
    }
    return h.value();
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
    storage.save(w);
    if (!w.ok) {
        f.cancelWriting();
        return false;
    }
    h.payload_hash = w.hash.value();
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
