#include "catalogue/core/text_columns.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

// --- text_arena_column ---------------------------------------------------------------

void text_arena_column::add_row() {
    offsets_.push_back(static_cast<std::uint32_t>(data_.size()));
    lengths_.push_back(null_text_length);
}

void text_arena_column::set(std::uint32_t row, QStringView text) {
    const std::size_t n = static_cast<std::size_t>(text.size());
    if (n >= null_text_length) throw std::length_error("text longer than any column");
    if (data_.size() + n > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("catalogue text store full");
    // A row set before later ones (even rows only added) puts its text after theirs.
    if (row + 1 < high_water_ || row + 1 < offsets_.size()) ordered_ = false;
    if (row + 1 > high_water_) high_water_ = row + 1;
    // Only the last row's first text goes where the rows before it end.
    if (row + 1 != offsets_.size() || offsets_[row] != data_.size()) gap_free_ = false;
    offsets_[row] = static_cast<std::uint32_t>(data_.size());
    lengths_[row] = static_cast<std::uint16_t>(n);
    data_.insert(data_.end(), text.utf16(), text.utf16() + n);
    const std::size_t at = narrow_.size();
    narrow_.resize(at + n);
    narrow_units(text.utf16(), n, narrow_.data() + at);
}

void text_arena_column::set_null(std::uint32_t row) {
    if (lengths_[row] != null_text_length && lengths_[row] != 0) gap_free_ = false;
    lengths_[row] = null_text_length;
}

void text_arena_column::reserve(std::size_t rows, std::size_t units) {
    offsets_.reserve(offsets_.size() + rows);
    lengths_.reserve(lengths_.size() + rows);
    data_.reserve(data_.size() + units);
    narrow_.reserve(narrow_.size() + units);
}

void text_arena_column::make_ordered() {
    if (ordered_) return;
    large_vector<char16_t> packed;
    packed.reserve(data_.size());
    for (std::size_t r = 0; r < offsets_.size(); ++r) {
        const std::uint32_t start = offsets_[r];
        offsets_[r] = static_cast<std::uint32_t>(packed.size());
        if (lengths_[r] != null_text_length)
            packed.insert(packed.end(), data_.begin() + start, data_.begin() + start + lengths_[r]);
    }
    data_ = std::move(packed);
    make_narrow();
    high_water_ = static_cast<std::uint32_t>(offsets_.size());
    ordered_ = true;
    gap_free_ = true;
}

void text_arena_column::make_narrow() {
    narrow_.resize(data_.size());
    narrow_units(data_.data(), data_.size(), narrow_.data());
}

text_arena_view text_arena_column::view() const {
    text_arena_view v{data_.data(), data_.size(), offsets_.data(), lengths_.data(), ordered_};
    // A copy not yet made for every unit is not offered.
    v.narrow = narrow_.size() == data_.size() ? narrow_.data() : nullptr;
    v.gap_free = ordered_ && gap_free_;
    return v;
}

void text_arena_column::clear() {
    data_.clear();
    narrow_.clear();
    offsets_.clear();
    lengths_.clear();
    high_water_ = 0;
    ordered_ = true;
    gap_free_ = true;
}

std::size_t text_arena_column::memory_bytes() const {
    return data_.capacity() * sizeof(char16_t) + narrow_.capacity() +
           offsets_.capacity() * sizeof(std::uint32_t) +
           lengths_.capacity() * sizeof(std::uint16_t);
}

void text_arena_column::append(const text_arena_column& other) {
    if (data_.size() + other.data_.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("catalogue text store full");
    const auto base = static_cast<std::uint32_t>(data_.size());
    const std::size_t first = offsets_.size();
    if (!other.ordered_) ordered_ = false;
    if (!other.gap_free_) gap_free_ = false;
    if (other.high_water_ > 0) high_water_ = static_cast<std::uint32_t>(first + other.high_water_);
    data_.insert(data_.end(), other.data_.begin(), other.data_.end());
    narrow_.insert(narrow_.end(), other.narrow_.begin(), other.narrow_.end());
    offsets_.resize(first + other.offsets_.size());
    for (std::size_t r = 0; r < other.offsets_.size(); ++r)
        offsets_[first + r] = base + other.offsets_[r];
    lengths_.insert(lengths_.end(), other.lengths_.begin(), other.lengths_.end());
}

void text_arena_column::save(snapshot_writer& out) const {
    out.array(data_);
    out.array(offsets_);
    out.array(lengths_);
    out.value<std::uint32_t>(high_water_);
    out.value<std::uint32_t>(ordered_ ? 1 : 0);
}

bool text_arena_column::load(snapshot_reader& in, std::size_t rows) {
    std::uint32_t high_water = 0, ordered = 0;
    if (!in.array(data_) || !in.array(offsets_, rows) || !in.array(lengths_, rows) ||
        !in.read(&high_water, 4) || !in.read(&ordered, 4))
        return false;
    if (high_water > rows || ordered > 1 || data_.size() > 0xFFFFFFFFu) return false;
    const std::size_t size = data_.size();
    std::size_t end = 0; // of the row before
    bool gap_free = true;
    for (std::size_t r = 0; r < rows; ++r) {
        const std::uint32_t at = offsets_[r];
        const std::uint16_t len = lengths_[r];
        if (at > size || (len != null_text_length && len > size - at)) return false;
        // An ordered scan maps each hit to one row: no text may begin inside the one before.
        if (ordered && at < end) return false;
        gap_free = gap_free && at == end;
        end = std::size_t{at} + (len == null_text_length ? 0 : len);
    }
    high_water_ = high_water;
    ordered_ = ordered == 1;
    gap_free_ = gap_free && end == size;
    make_narrow();
    return true;
}

// --- text_dictionary_column ----------------------------------------------------------

std::optional<QStringView> text_dictionary_column::get(std::uint32_t row) const {
    const std::uint32_t id = ids_[row];
    if (id == text_dictionary_view::null_id) return std::nullopt;
    return QStringView(texts_[id]);
}

std::size_t text_dictionary_column::text_hash(QStringView text) {
    std::uint64_t h = 0xcbf29ce484222325u ^ static_cast<std::uint64_t>(text.size());
    for (const QChar c : text) h = (h ^ c.unicode()) * 0x100000001b3u;
    return static_cast<std::size_t>(h ^ (h >> 32));
}

std::uint32_t text_dictionary_column::find(QStringView text, std::size_t hash) const {
    if (slots_.empty()) return text_dictionary_view::null_id;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const std::uint32_t id = slots_[i];
        if (id == text_dictionary_view::null_id || texts_[id] == text) return id;
    }
}

void text_dictionary_column::place(std::uint32_t id) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = text_hash(texts_[id]) & mask;
    while (slots_[at] != text_dictionary_view::null_id) at = (at + 1) & mask;
    slots_[at] = id;
}

std::uint32_t text_dictionary_column::add_text(QString text) {
    const auto id = static_cast<std::uint32_t>(texts_.size());
    texts_.push_back(std::move(text));
    // At most half full, so a look-up meets an empty slot soon.
    if (texts_.size() * 2 <= slots_.size()) {
        place(id);
        return id;
    }
    // Doubled and filled anew; 16 slots (one cache line of ids) to start.
    slots_.assign(std::max<std::size_t>(16, slots_.size() * 2), text_dictionary_view::null_id);
    for (std::uint32_t i = 0; i < texts_.size(); ++i) place(i);
    return id;
}

std::uint32_t text_dictionary_column::intern(QStringView text) {
    if (last_id_ != text_dictionary_view::null_id && texts_[last_id_] == text) return last_id_;
    const std::uint32_t id = find(text, text_hash(text));
    return last_id_ = id != text_dictionary_view::null_id ? id : add_text(text.toString());
}

void text_dictionary_column::append(const text_dictionary_column& other) {
    std::vector<std::uint32_t> mapped(other.texts_.size());
    for (std::size_t i = 0; i < other.texts_.size(); ++i) mapped[i] = intern(other.texts_[i]);
    const std::size_t first = ids_.size();
    ids_.resize(first + other.ids_.size());
    for (std::size_t r = 0; r < other.ids_.size(); ++r) {
        const std::uint32_t id = other.ids_[r];
        ids_[first + r] = id == text_dictionary_view::null_id ? id : mapped[id];
    }
}

void text_dictionary_column::clear() {
    ids_.clear();
    texts_.clear();
    slots_.clear();
    last_id_ = text_dictionary_view::null_id;
}

std::size_t text_dictionary_column::memory_bytes() const {
    std::size_t bytes = ids_.capacity() * sizeof(std::uint32_t);
    for (const QString& t : texts_) bytes += sizeof(QString) + t.capacity() * 2 + 32;
    return bytes + slots_.capacity() * sizeof(std::uint32_t);
}

void text_dictionary_column::save(snapshot_writer& out) const {
    out.array(ids_);
    out.value<std::uint64_t>(texts_.size());
    for (const QString& t : texts_) {
        out.value<std::uint32_t>(static_cast<std::uint32_t>(t.size()));
        out.raw(t.utf16(), static_cast<std::size_t>(t.size()) * 2);
    }
}

bool text_dictionary_column::load(snapshot_reader& in, std::size_t rows) {
    std::uint64_t count = 0;
    if (!in.array(ids_, rows) || !in.read(&count, 8)) return false;
    if (count > in.remaining() / 4 || count >= text_dictionary_view::null_id) return false;
    // Texts no row names are only kept after edits: room for the rows' texts alone.
    texts_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, rows)));
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t len = 0;
        if (!in.read(&len, 4) || len > in.remaining() / 2) return false;
        QString t(static_cast<qsizetype>(len), Qt::Uninitialized);
        if (!in.read(t.data(), std::size_t{len} * 2)) return false;
        // Each text once, as interning keeps them: many copies of a short text would take
        // far more memory than file.
        if (find(t, text_hash(t)) != text_dictionary_view::null_id) return false;
        add_text(std::move(t));
    }
    for (const std::uint32_t id : ids_)
        if (id != text_dictionary_view::null_id && id >= count) return false;
    return true;
}

// --- sparse_text_column --------------------------------------------------------------

void sparse_text_column::set(std::uint32_t row, QStringView text) {
    const std::size_t n = static_cast<std::size_t>(text.size());
    if (n >= null_text_length) throw std::length_error("text longer than any column");
    if (data_.size() + n > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("catalogue text store full");
    index_.insert(row, {static_cast<std::uint32_t>(data_.size()), static_cast<std::uint16_t>(n)});
    data_.insert(data_.end(), text.utf16(), text.utf16() + n);
}

std::optional<QStringView> sparse_text_column::get(std::uint32_t row) const {
    const auto it = index_.constFind(row);
    if (it == index_.constEnd()) return std::nullopt;
    return QStringView(data_.data() + it->offset, it->length);
}

void sparse_text_column::clear() {
    data_.clear();
    index_.clear();
}

std::size_t sparse_text_column::memory_bytes() const {
    // A bucket costs a byte, an entry its key and place.
    return data_.capacity() * sizeof(char16_t) + static_cast<std::size_t>(index_.capacity()) +
           static_cast<std::size_t>(index_.size()) * (sizeof(std::uint32_t) + sizeof(place));
}

void sparse_text_column::append(const sparse_text_column& other, std::uint32_t first_row) {
    if (other.index_.isEmpty()) return;
    if (data_.size() + other.data_.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("catalogue text store full");
    const auto base = static_cast<std::uint32_t>(data_.size());
    data_.insert(data_.end(), other.data_.begin(), other.data_.end());
    index_.reserve(index_.size() + other.index_.size());
    for (auto it = other.index_.constBegin(); it != other.index_.constEnd(); ++it)
        index_.insert(first_row + it.key(), {base + it->offset, it->length});
}

void sparse_text_column::save(snapshot_writer& out) const {
    std::vector<std::uint32_t> rows(index_.keyBegin(), index_.keyEnd()), offsets;
    std::vector<std::uint16_t> lengths;
    std::sort(rows.begin(), rows.end());
    offsets.reserve(rows.size());
    lengths.reserve(rows.size());
    for (const std::uint32_t r : rows) {
        const place& at = index_.constFind(r).value();
        offsets.push_back(at.offset);
        lengths.push_back(at.length);
    }
    out.array(data_);
    out.array(rows);
    out.array(offsets);
    out.array(lengths);
}

bool sparse_text_column::load(snapshot_reader& in, std::size_t rows) {
    std::vector<std::uint32_t> at, offsets;
    std::vector<std::uint16_t> lengths;
    // A row has one text at most.
    if (!in.array(data_) || !in.array(at, snapshot_reader::any, rows, 4 + 4 + 2) ||
        !in.array(offsets, at.size()) || !in.array(lengths, at.size()))
        return false;
    const std::size_t size = data_.size();
    index_.reserve(static_cast<qsizetype>(at.size()));
    for (std::size_t i = 0; i < at.size(); ++i) {
        if (at[i] >= rows || lengths[i] == null_text_length || offsets[i] > size ||
            lengths[i] > size - offsets[i] || index_.contains(at[i]))
            return false;
        index_.insert(at[i], {offsets[i], lengths[i]});
    }
    return true;
}
