#include "catalogue/core/text_table_writer.h"

#include "app/shell/durable_save.h"

#include <algorithm>
#include <bit>

namespace {

constexpr qsizetype buffer_units = 1024 * 1024;

char16_t to_file_unit(char16_t u) {
    if constexpr (std::endian::native == std::endian::big)
        return static_cast<char16_t>((u >> 8) | (u << 8));
    else
        return u;
}

} // namespace

text_table_writer::text_table_writer(const QString& path)
    : file_(path), buffer_(std::make_unique_for_overwrite<char16_t[]>(buffer_units)) {
    if (!file_.open(QIODevice::WriteOnly)) {
        failed_ = true;
        return;
    }
    put_unit(u'\uFEFF');
}

text_table_writer::~text_table_writer() {
    if (!committed_ && file_.isOpen()) file_.cancelWriting();
}

void text_table_writer::put_unit(char16_t unit) {
    if (used_ == buffer_units) flush();
    buffer_[used_++] = to_file_unit(unit);
}

void text_table_writer::put(const char16_t* units, qsizetype count) {
    while (count > 0) {
        if (used_ == buffer_units) flush();
        const qsizetype n = std::min(count, buffer_units - used_);
        char16_t* out = buffer_.get() + used_;
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t u = units[i];
            out[i] = to_file_unit(u == u'\t' || u == u'\r' || u == u'\n' ? u' ' : u);
        }
        used_ += n;
        units += n;
        count -= n;
    }
}

void text_table_writer::flush() {
    if (!failed_ && used_ > 0) {
        const qint64 bytes = static_cast<qint64>(used_) * 2;
        if (file_.write(reinterpret_cast<const char*>(buffer_.get()), bytes) != bytes)
            failed_ = true;
    }
    used_ = 0;
}

void text_table_writer::add_field(QStringView value) {
    if (failed_) return;
    if (row_open_) put_unit(u'\t');
    row_open_ = true;
    put(value.utf16(), value.size());
}

void text_table_writer::end_row() {
    if (failed_) return;
    put_unit(u'\r');
    put_unit(u'\n');
    row_open_ = false;
}

void text_table_writer::write_row(std::span<const QStringView> fields) {
    for (QStringView f : fields) add_field(f);
    end_row();
}

void text_table_writer::write_row(std::initializer_list<QStringView> fields) {
    write_row(std::span<const QStringView>(fields.begin(), fields.size()));
}

void text_table_writer::write_row(const QStringList& fields) {
    for (const QString& f : fields) add_field(f);
    end_row();
}

bool text_table_writer::commit() {
    if (committed_) return !failed_;
    committed_ = true;
    if (row_open_) end_row();
    flush();
    if (failed_) {
        if (file_.isOpen()) file_.cancelWriting();
        file_.commit(); // with writing cancelled this only removes the temporary file
        return false;
    }
    if (!durable_commit(file_)) {
        failed_ = true;
        return false;
    }
    return true;
}
