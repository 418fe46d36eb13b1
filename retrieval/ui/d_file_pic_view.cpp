#include "retrieval/ui/d_file_pic_view.h"

#include "app/shell/layout_units.h"
#include "app/shell/user_prompts.h"
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/native_names.h"
#include "catalogue/core/record_set.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QThread>
#include <QThreadPool>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Slot pitch across and down, in layout units.
constexpr int slot_pitch_x = 622;
constexpr int slot_pitch_y = 652;
constexpr int slot_margin = 20;

// More than 1.00 MB is not decoded; the catalogue's size decides, the file is not opened.
constexpr std::int64_t largest_shown_cents = 100;

struct page_row {
    QString path;
    QString name;
    bool too_large = false;
};

// Decodes a page's pictures ahead on the machine's cores while the slots are filled one by
// one on the user-interface thread. Every decode has finished or been dropped when it goes.
class decode_ahead {
  public:
    decode_ahead(const std::vector<page_row>& page, QSize box)
        : images_(page.size()), done_(page.size(), false) {
        // Every core decodes: the user-interface thread mostly waits meanwhile, and wakes
        // every few milliseconds to serve clicks and repaints.
        pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        for (std::size_t n = 0; n < page.size(); ++n) {
            if (page[n].too_large) continue; // never opened
            pool_.start([this, n, path = page[n].path, box] {
                QImage image = cancelled_ ? QImage() : read_thumbnail(path, box);
                const std::lock_guard lock(mutex_);
                images_[n] = std::move(image);
                done_[n] = true;
                ready_.notify_all();
            });
        }
    }
    ~decode_ahead() {
        cancelled_ = true;
        pool_.clear();
        pool_.waitForDone();
    }
    decode_ahead(const decode_ahead&) = delete;
    decode_ahead& operator=(const decode_ahead&) = delete;

    // The picture of page entry `n`, letting the user interface run while it is decoded.
    // Null when the user interface took the panel away meanwhile (`alive` is then null).
    QImage take(std::size_t n, const QPointer<d_file_pic_view>& alive) {
        std::unique_lock lock(mutex_);
        while (!done_[n]) {
            ready_.wait_for(lock, std::chrono::milliseconds(8));
            if (done_[n]) break;
            lock.unlock();
            QCoreApplication::processEvents();
            lock.lock();
            if (!alive) return {};
        }
        return std::move(images_[n]);
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<QImage> images_;
    std::vector<bool> done_;
    std::atomic<bool> cancelled_ = false;
    QThreadPool pool_;
};

} // namespace

QImage read_thumbnail(const QString& path, QSize box) {
    QFile file;
    QImageReader reader;
    if (path.contains(gb18030_name_mark)) {
        // Reached by its bytes on disk, which no file name text gives Qt.
        const int fd = ::open(native_path(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            if (fd >= 0) ::close(fd);
            return {};
        }
        reader.setDevice(&file);
    } else {
        reader.setFileName(path);
    }
    reader.setAutoTransform(true);
    QSize full = reader.size();
    if (full.isValid() && !box.isEmpty()) {
        // The scaled size applies before a rotation from the picture's own orientation.
        const QSize fit_box = reader.transformation() & QImageIOHandler::TransformationRotate90
                                  ? box.transposed()
                                  : box;
        if (full.width() > fit_box.width() || full.height() > fit_box.height())
            reader.setScaledSize(full.scaled(fit_box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    }
    return reader.read();
}

pic_slot::pic_slot(int number, QWidget* parent) : QLabel(parent), number_(number) {
    setObjectName(u"p_"_s + QString::number(number).rightJustified(3, u'0'));
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);
    set_size_units(laid_out_width, laid_out_height);
}

void pic_slot::set_picture(kind k, const QString& filename, const QImage& image, long row) {
    kind_ = k;
    filename_ = filename;
    image_ = image;
    row_ = row;
    refit();
}

void pic_slot::set_size_units(int width, int height) {
    width_units_ = width;
    height_units_ = height;
    resize(units_to_px_x(width), units_to_px_y(height));
    refit();
}

void pic_slot::refit() {
    if (image_.isNull()) {
        // A file that is no readable picture still says what it is.
        setPixmap({});
        setText(kind_ == kind::picture ? tag_ : QString());
        return;
    }
    const QSize box = size() * devicePixelRatioF();
    QImage fitted = image_.width() > box.width() || image_.height() > box.height()
                        ? image_.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                        : image_;
    QPixmap pixmap = QPixmap::fromImage(std::move(fitted));
    pixmap.setDevicePixelRatio(devicePixelRatioF());
    setPixmap(pixmap);
}

void pic_slot::mouseDoubleClickEvent(QMouseEvent* event) {
    QLabel::mouseDoubleClickEvent(event);
    emit double_clicked(this);
}

QSize d_file_pic_view::thumbnail_size() {
    return {units_to_px_x(pic_slot::loaded_width), units_to_px_y(pic_slot::loaded_height)};
}

d_file_pic_view::d_file_pic_view(QWidget* parent) : QWidget(parent) {
    setObjectName(u"dw_2"_s);
    // The panel lies over the result list; nothing of the list may show through it.
    setAutoFillBackground(true);

    t_note_ = new QLabel(u"当前起始行: 0"_s, this);
    t_note_->setObjectName(u"t_note"_s);
    b_first_ = make_button(u"b_first"_s, u"第一页"_s);
    b_pre_ = make_button(u"b_pre"_s, u"前一页"_s);
    b_next_ = make_button(u"b_next"_s, u"后一页"_s);
    b_last_ = make_button(u"b_last"_s, u"最后页"_s);

    auto* head = new QHBoxLayout;
    head->setContentsMargins(4, 2, 4, 2);
    head->addWidget(t_note_, 1);
    for (QPushButton* b : {b_first_, b_pre_, b_next_, b_last_}) head->addWidget(b);

    auto* sheet = new QWidget;
    sheet->setObjectName(u"d_file_pic"_s);
    const int rows_down = slot_count / slots_across;
    sheet->setFixedSize(units_to_px_x(slots_across * slot_pitch_x + slot_margin),
                        units_to_px_y(rows_down * slot_pitch_y + slot_margin));
    for (int k = 1; k <= slot_count; ++k) {
        auto* s = new pic_slot(k, sheet);
        const int across = (k - 1) % slots_across;
        const int down = (k - 1) / slots_across;
        s->move(units_to_px_x(slot_margin + across * slot_pitch_x),
                units_to_px_y(slot_margin + down * slot_pitch_y));
        connect(s, &pic_slot::double_clicked, this, &d_file_pic_view::on_slot_double_clicked);
        slots_[static_cast<std::size_t>(k - 1)] = s;
    }

    scroll_ = new QScrollArea(this);
    scroll_->setWidget(sheet);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll_->verticalScrollBar()->setSingleStep(units_to_px_y(slot_pitch_y) / 4);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(head);
    layout->addWidget(scroll_, 1);

    nofile_ = placeholder(nofile_name);
    sizelarge_ = placeholder(sizelarge_name);
}

QPushButton* d_file_pic_view::make_button(const QString& name, const QString& text) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setFocusPolicy(Qt::NoFocus);
    connect(b, &QPushButton::clicked, this, [this, name] { clicked_object(name); });
    return b;
}

QImage d_file_pic_view::placeholder(QStringView name) {
    QImage image(u":/pictures/"_s + name);
    return image;
}

int d_file_pic_view::of_load_pic(int li_qty_apage, long ll_row_begin) {
    // One page at a time: a second load in the middle of the first would mix two pages.
    if (ib_showing_pic_) return -1;
    ib_showing_pic_ = true;
    const long count = rows_ ? rows_->rowcount() : 0;
    if (count < 1 || ll_row_begin < 1 || li_qty_apage < 1) {
        ib_showing_pic_ = false;
        return -1;
    }
    const long ll_row_end = std::min<long>(ll_row_begin + li_qty_apage - 1, count);

    // The page's rows as they stand now: a query that replaces the list while the page loads
    // must not give a page made of two lists.
    std::vector<page_row> page;
    const long last_in_page = std::min<long>(ll_row_end, ll_row_begin + slot_count - 1);
    for (long i = ll_row_begin; i <= last_in_page; ++i) {
        page_row r;
        r.path = rows_->getitemstring(i, col_filepath);
        r.name = rows_->getitemstring(i, col_filename) + rows_->getitemstring(i, col_fileext);
        const auto size = rows_->get_decimal(i, col_filesizedec);
        r.too_large = size && size->cents > largest_shown_cents;
        page.push_back(std::move(r));
    }

    scroll_->verticalScrollBar()->setValue(0);
    const QSize box = thumbnail_size() * devicePixelRatioF();
    const QPointer<d_file_pic_view> alive(this);
    decode_ahead decoded(page, box);
    for (int k = 1; k <= slot_count; ++k) {
        QCoreApplication::processEvents();
        if (!alive) return -1;
        const long i = ll_row_begin + k - 1;
        pic_slot* s = slot(k);
        QString name;
        if (i <= last_in_page) {
            const page_row& r = page[static_cast<std::size_t>(k - 1)];
            if (!native_is_file(r.path)) {
                prompts().message(window(), u"提示"_s,
                                  u"源文件: "_s + shown_path(r.path) +
                                      u"\n\n不存在!检查是否接上了磁盘\n或者考虑需要重新扫描!"_s);
                if (alive) ib_showing_pic_ = false;
                return -1;
            }
            name = r.name;
            s->set_tag(name);
            if (r.too_large)
                s->set_picture(pic_slot::kind::sizelarge, sizelarge_name.toString(), sizelarge_, i);
            else {
                QImage image = decoded.take(static_cast<std::size_t>(k - 1), alive);
                if (!alive) return -1;
                s->set_picture(pic_slot::kind::picture, r.path, std::move(image), i);
            }
        } else {
            s->set_tag(name);
            s->set_picture(pic_slot::kind::nofile, nofile_name.toString(), nofile_, 0);
        }
        s->set_size_units(pic_slot::loaded_width, pic_slot::loaded_height);
    }
    t_note_->setText(u"当前起始行: "_s + QString::number(ll_row_begin));
    il_last_row_show_ = ll_row_begin;
    ib_showing_pic_ = false;
    emit page_loaded(ll_row_begin);
    return 1;
}

void d_file_pic_view::clicked_object(const QString& object_name) {
    if (!object_name.startsWith(u"b_"_s)) return;
    // A page that is loading finishes first; the click is dropped.
    if (ib_showing_pic_) return;
    const long count = rows_ ? rows_->rowcount() : 0;
    if (count < 1) return;
    long first = 0;
    if (object_name == u"b_first"_s) {
        first = 1;
    } else if (object_name == u"b_pre"_s) {
        first = std::max<long>(il_last_row_show_ - slot_count, 1);
    } else if (object_name == u"b_next"_s) {
        first = il_last_row_show_ + slot_count;
        if (first > count) return;
    } else if (object_name == u"b_last"_s) {
        first = std::max<long>(count - (slot_count - 1), 1);
    } else {
        return;
    }
    of_load_pic(slot_count, first);
}

void d_file_pic_view::on_slot_double_clicked(pic_slot* s) {
    s->set_size_units(pic_slot::shrunk_width, pic_slot::shrunk_height);
    const QString source = s->shows() == pic_slot::kind::picture ? s->filename() : QString();
    emit download_requested(s->row(), source, s->tag());
}
