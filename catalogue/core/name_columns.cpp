#include "catalogue/core/name_columns.h"

#include "catalogue/core/native_names.h"

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

void suffix_text_column::save(snapshot_writer& out) const {
    out.array(cuts_);
    aside_.save(out);
}

bool suffix_text_column::load(snapshot_reader& in, std::size_t rows) {
    if (!in.array(cuts_, rows) || !aside_.load(in, rows)) return false;
    bool consistent = true;
    aside_.for_each_row([&](std::uint32_t r) { consistent = consistent && cuts_[r] == kept; });
    return consistent;
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

void path_column::save(snapshot_writer& out) const {
    folders_.save(out);
    out.array(forms_);
    names_.save(out);
}

bool path_column::load(snapshot_reader& in, std::size_t rows) {
    if (!folders_.load(in, rows) || !in.array(forms_, rows) || !names_.load(in, rows)) return false;
    bool consistent = true;
    names_.for_each_row(
        [&](std::uint32_t r) { consistent = consistent && forms_[r] == name_kept && !is_null(r); });
    for (std::uint32_t r = 0; r < rows && consistent; ++r) {
        const std::uint8_t form = forms_[r];
        if (form != name_kept)
            consistent = !(form & ~every_form_bit) && (form & name_joined) && !is_null(r);
    }
    return consistent;
}
