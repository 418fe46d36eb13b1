#include "catalogue/core/record_storage.h"

#include "catalogue/core/native_names.h"
#include "search/language/pinyin_full.h"

#include <algorithm>
#include <future>
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
    if (row + 1 < high_water_) ordered_ = false;
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

// --- suffix_text_column --------------------------------------------------------------

void suffix_text_column::set(std::uint32_t row, QStringView text,
                             const std::optional<QStringView>& whole) {
    if (whole && whole->endsWith(text) && whole->size() - text.size() < kept) {
        cuts_[row] = static_cast<std::uint8_t>(whole->size() - text.size());
        aside_.set_null(row);
        return;
    }
    cuts_[row] = kept;
    aside_.set(row, text);
}

void suffix_text_column::set_null(std::uint32_t row) {
    cuts_[row] = kept;
    aside_.set_null(row);
}

std::optional<QStringView> suffix_text_column::get(std::uint32_t row,
                                                   const std::optional<QStringView>& whole) const {
    const std::uint8_t cut = cuts_[row];
    if (cut == kept) return aside_.get(row);
    return whole->mid(cut);
}

void suffix_text_column::keep(std::uint32_t row, const std::optional<QStringView>& whole) {
    if (!made_from_whole(row)) return;
    const QStringView text = whole->mid(cuts_[row]);
    cuts_[row] = kept;
    aside_.set(row, text);
}

void suffix_text_column::clear() {
    cuts_.clear();
    aside_.clear();
}

std::size_t suffix_text_column::memory_bytes() const {
    return cuts_.capacity() + aside_.memory_bytes();
}

void suffix_text_column::append(const suffix_text_column& other) {
    const auto first = static_cast<std::uint32_t>(cuts_.size());
    cuts_.insert(cuts_.end(), other.cuts_.begin(), other.cuts_.end());
    aside_.append(other.aside_, first);
}

// --- path_column ---------------------------------------------------------------------

namespace {
qsizetype folder_length(QStringView path) {
    for (qsizetype i = path.size(); i > 0; --i)
        if (path[i - 1] == u'/' || path[i - 1] == u'\\') return i;
    return 0;
}

char16_t ascii_capital(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

// Whether `name` is base + ext, the extension's ASCII letters maybe in capitals.
bool joins(QStringView name, QStringView base, QStringView ext, bool capitals) {
    if (name.size() != base.size() + ext.size() || !name.startsWith(base)) return false;
    const QStringView tail = name.mid(base.size());
    if (!capitals) return tail == ext;
    for (qsizetype i = 0; i < ext.size(); ++i)
        if (tail[i] != ascii_capital(ext[i].unicode())) return false;
    return true;
}

// How `name` is made of `parts`; name_kept when it is not.
std::uint8_t form_of(QStringView name, const name_parts& parts) {
    if (!parts.base || !parts.ext) return path_column::name_kept;
    std::uint8_t marked = 0;
    for (;;) {
        if (joins(name, *parts.base, *parts.ext, false)) return marked | path_column::name_joined;
        if (joins(name, *parts.base, *parts.ext, true))
            return marked | path_column::name_joined | path_column::ext_capitals;
        if (marked || !name.startsWith(gb18030_name_mark)) return path_column::name_kept;
        name = name.mid(1);
        marked = path_column::native_marked;
    }
}

void append_made_name(QString& out, std::uint8_t form, const name_parts& parts) {
    if (form & path_column::native_marked) out.append(gb18030_name_mark);
    out.append(*parts.base);
    if (!(form & path_column::ext_capitals)) {
        out.append(*parts.ext);
        return;
    }
    for (const QChar c : *parts.ext) out.append(QChar(ascii_capital(c.unicode())));
}
} // namespace

void path_column::add_row() {
    folders_.add_row();
    forms_.push_back(name_kept);
}

void path_column::reserve(std::size_t rows) {
    folders_.reserve(rows);
    forms_.reserve(forms_.size() + rows);
}

void path_column::set(std::uint32_t row, QStringView path, const name_parts& parts) {
    const qsizetype split = folder_length(path);
    const QStringView name = path.mid(split);
    folders_.set(row, path.left(split));
    forms_[row] = form_of(name, parts);
    if (forms_[row] == name_kept)
        names_.set(row, name);
    else
        names_.set_null(row);
}

void path_column::set_null(std::uint32_t row) {
    folders_.set_null(row);
    forms_[row] = name_kept;
    names_.set_null(row);
}

bool path_column::get_into(std::uint32_t row, QString& out, const name_parts& parts) const {
    const auto folder = folders_.get(row);
    out.clear();
    if (!folder) return false;
    out.append(*folder);
    if (forms_[row] != name_kept)
        append_made_name(out, forms_[row], parts);
    else if (const auto name = names_.get(row))
        out.append(*name);
    return true;
}

std::optional<QString> path_column::get(std::uint32_t row, const name_parts& parts) const {
    QString out;
    if (!get_into(row, out, parts)) return std::nullopt;
    return out;
}

void path_column::keep_name(std::uint32_t row, const name_parts& parts) {
    if (forms_[row] == name_kept) return;
    QString name;
    append_made_name(name, forms_[row], parts);
    forms_[row] = name_kept;
    names_.set(row, name);
}

void path_column::append(const path_column& other) {
    const auto first = static_cast<std::uint32_t>(forms_.size());
    folders_.append(other.folders_);
    forms_.insert(forms_.end(), other.forms_.begin(), other.forms_.end());
    names_.append(other.names_, first);
}

void path_column::clear() {
    folders_.clear();
    forms_.clear();
    names_.clear();
}

std::size_t path_column::memory_bytes() const {
    return folders_.memory_bytes() + forms_.capacity() + names_.memory_bytes();
}

// --- record_storage ------------------------------------------------------------------

std::uint32_t record_storage::add_row() {
    const auto id = rows();
    if (id == std::numeric_limits<std::uint32_t>::max() - 1)
        throw std::length_error("catalogue full");
    null_mask_.push_back(static_cast<std::uint16_t>((1u << col_machineid) | (1u << col_createdate) |
                                                    (1u << col_filesizedec)));
    machineid_.push_back(0);
    sourceid_.push_back(0);
    createdate_.push_back(0);
    filesizedec_.push_back(0);
    filename_.add_row();
    pinyinma_.add_row();
    filenamewithno_.add_row();
    fileext_.add_row();
    filepath_.add_row();
    return id;
}

void record_storage::reserve(std::size_t rows, std::size_t text_units) {
    const std::size_t n = null_mask_.size() + rows;
    null_mask_.reserve(n);
    machineid_.reserve(n);
    sourceid_.reserve(n);
    createdate_.reserve(n);
    filesizedec_.reserve(n);
    fileext_.reserve(n);
    // Any one text column holds at most all of the text.
    filename_.reserve(rows);
    pinyinma_.reserve(rows, text_units);
    filenamewithno_.reserve(rows, text_units);
    filepath_.reserve(rows);
}

void record_storage::append(const record_storage& other) {
    if (std::size_t{rows()} + other.rows() >= std::numeric_limits<std::uint32_t>::max() - 1)
        throw std::length_error("catalogue full");
    auto join = [](auto& to, const auto& from) { to.insert(to.end(), from.begin(), from.end()); };
    // Two halves of about the same size, on two threads for many rows: the copy goes to fresh
    // memory, and the system's work of handing out pages is most of its cost.
    auto numbers_and_initials = [&] {
        join(null_mask_, other.null_mask_);
        join(machineid_, other.machineid_);
        join(sourceid_, other.sourceid_);
        join(createdate_, other.createdate_);
        join(filesizedec_, other.filesizedec_);
        filename_.append(other.filename_);
        pinyinma_.append(other.pinyinma_);
    };
    auto names_and_paths = [&] {
        filenamewithno_.append(other.filenamewithno_);
        fileext_.append(other.fileext_);
        filepath_.append(other.filepath_);
    };
    constexpr std::uint32_t parallel_rows = 64; // fewer are copied before a thread starts
    if (other.rows() < parallel_rows) {
        numbers_and_initials();
        names_and_paths();
        return;
    }
    auto other_half = std::async(std::launch::async, numbers_and_initials);
    names_and_paths();
    other_half.get();
}

void record_storage::clear() {
    null_mask_.clear();
    machineid_.clear();
    sourceid_.clear();
    createdate_.clear();
    filesizedec_.clear();
    filename_.clear();
    pinyinma_.clear();
    filenamewithno_.clear();
    fileext_.clear();
    filepath_.clear();
    pinyin_key_.reset();
    shared_rows = 0;
}

text_arena_column* record_storage::arena(int column) {
    return const_cast<text_arena_column*>(std::as_const(*this).arena(column));
}

const text_arena_column* record_storage::arena(int column) const {
    switch (column) {
    case col_pinyinma:
        return &pinyinma_;
    case col_filenamewithno:
        return &filenamewithno_;
    default:
        return nullptr;
    }
}

void record_storage::set_fixed_null(std::uint32_t row, int column, bool null) {
    const auto bit = static_cast<std::uint16_t>(1u << column);
    null_mask_[row] =
        static_cast<std::uint16_t>(null ? (null_mask_[row] | bit) : (null_mask_[row] & ~bit));
}

bool record_storage::isnull(std::uint32_t row, int column) const {
    switch (catalogue_column_info(column).type) {
    case column_type::text: {
        if (column == col_filepath) return filepath_.is_null(row);
        return !get_text_view(row, column);
    }
    default:
        return fixed_null(row, column);
    }
}

void record_storage::keep_dependents(std::uint32_t row, int column) {
    if (column == col_filenamewithno) filename_.keep(row, filenamewithno_.get(row));
    if (column == col_filenamewithno || column == col_fileext)
        filepath_.keep_name(row, parts_of(row));
}

void record_storage::set_null(std::uint32_t row, int column) {
    keep_dependents(row, column);
    if (column == col_filename) return filename_.set_null(row);
    if (column == col_fileext) return fileext_.set_null(row);
    if (column == col_filepath) return filepath_.set_null(row);
    if (auto* a = arena(column)) return a->set_null(row);
    set_fixed_null(row, column, true);
}

void record_storage::set_text(std::uint32_t row, int column, QStringView text) {
    const column_info& info = catalogue_column_info(column);
    if (info.type != column_type::text) return;
    text = text.left(info.max_length);
    keep_dependents(row, column);
    if (column == col_filename) return filename_.set(row, text, filenamewithno_.get(row));
    if (column == col_fileext) return fileext_.set(row, text);
    if (column == col_filepath) return filepath_.set(row, text, parts_of(row));
    arena(column)->set(row, text);
}

void record_storage::set_long(std::uint32_t row, int column, std::int32_t value) {
    if (column == col_machineid)
        machineid_[row] = value;
    else if (column == col_sourceid)
        sourceid_[row] = value;
    else
        return;
    set_fixed_null(row, column, false);
}

void record_storage::set_decimal(std::uint32_t row, int column, decimal2 value) {
    if (column != col_filesizedec) return;
    filesizedec_[row] = value.cents;
    set_fixed_null(row, column, false);
}

void record_storage::set_datetime(std::uint32_t row, int column, local_datetime value) {
    if (column != col_createdate) return;
    createdate_[row] = value.seconds;
    set_fixed_null(row, column, false);
}

std::optional<QStringView> record_storage::get_text_view(std::uint32_t row, int column) const {
    if (column == col_fileext) return fileext_.get(row);
    if (column == col_filename) return filename_.get(row, filenamewithno_.get(row));
    if (const auto* a = arena(column)) return a->get(row);
    return std::nullopt;
}

std::optional<QString> record_storage::get_text(std::uint32_t row, int column) const {
    if (column == col_filepath) return filepath_.get(row, parts_of(row));
    if (const auto v = get_text_view(row, column)) return v->toString();
    return std::nullopt;
}

std::optional<std::int32_t> record_storage::get_long(std::uint32_t row, int column) const {
    if (column != col_machineid && column != col_sourceid) return std::nullopt;
    if (fixed_null(row, column)) return std::nullopt;
    return column == col_machineid ? machineid_[row] : sourceid_[row];
}

std::optional<decimal2> record_storage::get_decimal(std::uint32_t row, int column) const {
    if (column != col_filesizedec || fixed_null(row, column)) return std::nullopt;
    return decimal2{filesizedec_[row]};
}

std::optional<local_datetime> record_storage::get_datetime(std::uint32_t row, int column) const {
    if (column != col_createdate || fixed_null(row, column)) return std::nullopt;
    return local_datetime{createdate_[row]};
}

bool record_storage::text_form(std::uint32_t row, int column, QString& out) const {
    out.clear();
    switch (catalogue_column_info(column).type) {
    case column_type::text:
        if (column == col_filepath) return filepath_.get_into(row, out, parts_of(row));
        if (const auto v = get_text_view(row, column)) {
            out.append(*v);
            return true;
        }
        return false;
    case column_type::long_number:
        if (const auto v = get_long(row, column)) {
            out.setNum(*v);
            return true;
        }
        return false;
    case column_type::decimal2:
        if (const auto v = get_decimal(row, column)) {
            out = to_text(*v);
            return true;
        }
        return false;
    case column_type::datetime:
        if (const auto v = get_datetime(row, column)) {
            out = to_text(*v);
            return true;
        }
        return false;
    }
    return false;
}

void record_storage::prepare_for_search() {
    pinyinma_.make_ordered();
    filenamewithno_.make_ordered();
}

std::size_t record_storage::memory_bytes() const {
    return null_mask_.capacity() * 2 + machineid_.capacity() * 4 + sourceid_.capacity() * 4 +
           createdate_.capacity() * 8 + filesizedec_.capacity() * 8 + filename_.memory_bytes() +
           pinyinma_.memory_bytes() + filenamewithno_.memory_bytes() + fileext_.memory_bytes() +
           filepath_.memory_bytes();
}

int record_storage::column_number(QStringView name) const {
    if (name.compare(pinyin_key_column_name, Qt::CaseInsensitive) == 0) return col_pinyin_key;
    if (name.compare(pinyin_full_column_name, Qt::CaseInsensitive) == 0) return col_pinyin_full;
    return catalogue_column_number(name);
}

pinyin_key::name_of_row record_storage::pinyin_key_names() const {
    return [this](std::uint32_t row) {
        const auto v = filename_.get(row, filenamewithno_.get(row));
        return v ? std::u16string_view(v->utf16(), static_cast<std::size_t>(v->size()))
                 : std::u16string_view();
    };
}

std::shared_ptr<const pinyin_key> record_storage::make_pinyin_key() const {
    const text_arena_view initials = pinyinma_.view();
    return std::make_shared<const pinyin_key>(
        pinyin_key::build(pinyin_key_names(), rows(), 0, &initials));
}

void record_storage::install_pinyin_key(std::shared_ptr<const pinyin_key> key) {
    pinyin_key_ = std::move(key);
    pinyin_key_covers_initials_ = pinyin_key_ && pinyin_key_->covers_initials();
}

column_access record_storage::access(int column) const {
    column_access a;
    if (column == col_pinyin_key || column == col_pinyin_full) {
        a.key = pinyin_key_.get();
        if (column == col_pinyin_key) {
            a.how = column_access::kind::pinyin_key;
        } else {
            a.how = column_access::kind::pinyin_full;
            a.key_names = pinyin_key_names();
            a.key_names_ahead = [this](std::uint32_t row) {
                filenamewithno_.prefetch(row);
                filename_.prefetch(row);
            };
        }
        return a;
    }
    if (const auto* ar = arena(column)) {
        a.how = column_access::kind::arena;
        a.arena = ar->view();
    } else if (column == col_fileext) {
        a.how = column_access::kind::dictionary;
        a.dictionary = fileext_.view();
    }
    a.text_of = [this, column](std::uint32_t row, QString& out) {
        return text_form(row, column, out);
    };
    return a;
}
