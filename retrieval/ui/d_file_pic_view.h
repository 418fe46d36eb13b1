#pragma once
// The picture panel: pages of 100 thumbnails of the result list's rows, four to a row in a
// vertically scrolling area, with the start row of the page and four paging buttons.
#include <QImage>
#include <QLabel>
#include <QString>
#include <QWidget>
#include <array>

class QPushButton;
class QScrollArea;
class record_set;

// One picture slot, p_001 to p_100. Sizes are in layout units.
class pic_slot : public QLabel {
    Q_OBJECT
  public:
    enum class kind { empty, picture, nofile, sizelarge };

    static constexpr int laid_out_width = 581, laid_out_height = 600;
    static constexpr int loaded_width = 590, loaded_height = 624;
    static constexpr int shrunk_width = 400, shrunk_height = 500;

    pic_slot(int number, QWidget* parent);

    int number() const { return number_; }
    // The picture drawn: a full path, or the placeholder's file name.
    const QString& filename() const { return filename_; }
    // The catalogue name (filename + fileext) of the row shown.
    const QString& tag() const { return tag_; }
    kind shows() const { return kind_; }
    // The result row the picture came from; 0 for a slot beyond the end or never loaded.
    long row() const { return row_; }
    int width_units() const { return width_units_; }
    int height_units() const { return height_units_; }
    // The decoded picture, before it is fitted to the slot; null when it could not be read.
    const QImage& image() const { return image_; }

    void set_picture(kind k, const QString& filename, const QImage& image, long row);
    void set_tag(const QString& tag) { tag_ = tag; }
    void set_size_units(int width, int height);

  signals:
    void double_clicked(pic_slot* slot);

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    void refit();

    int number_;
    kind kind_ = kind::empty;
    QString filename_;
    QString tag_;
    long row_ = 0;
    QImage image_;
    int width_units_ = laid_out_width;
    int height_units_ = laid_out_height;
};

class d_file_pic_view : public QWidget {
    Q_OBJECT
  public:
    static constexpr int slot_count = 100;
    static constexpr int slots_across = 4;
    static constexpr QStringView nofile_name = u"nofile.jpg";
    static constexpr QStringView sizelarge_name = u"p_sizelarge.jpg";

    explicit d_file_pic_view(QWidget* parent = nullptr);

    // The result list whose rows the pages show; it must outlive the panel.
    void set_rows(const record_set* rows) { rows_ = rows; }

    // Loads the page of 100 slots that begins at result row `ll_row_begin`; lets the user
    // interface run before each slot. 1 when the whole page loaded; -1 when the list is empty,
    // a load is already running, or a picture file is missing (the user is told, and the load
    // stops at that slot).
    int of_load_pic(int li_qty_apage, long ll_row_begin);

    // A click on the panel's object `object_name`: the paging buttons "b_first", "b_pre",
    // "b_next", "b_last". Ignored while a page loads.
    void clicked_object(const QString& object_name);

    bool ib_showing_pic() const { return ib_showing_pic_; }
    long il_last_row_show() const { return il_last_row_show_; }

    // Slot k, 1..100.
    pic_slot* slot(int k) const { return slots_[static_cast<std::size_t>(k - 1)]; }
    QLabel* t_note() const { return t_note_; }
    QPushButton* b_first() const { return b_first_; }
    QPushButton* b_pre() const { return b_pre_; }
    QPushButton* b_next() const { return b_next_; }
    QPushButton* b_last() const { return b_last_; }
    QScrollArea* scroll_area() const { return scroll_; }

    // Thumbnails are decoded to fit this many pixels (the loaded slot size by default).
    static QSize thumbnail_size();

  signals:
    // A double-clicked slot (already shrunk): the row it shows, the picture file to copy and
    // the target name (filename + fileext). `source` is empty for a placeholder, which is
    // never copied; the download counter still counts the request.
    void download_requested(long row, const QString& source, const QString& name);
    // A page has loaded completely.
    void page_loaded(long row_begin);

  private:
    void on_slot_double_clicked(pic_slot* slot);
    QImage placeholder(QStringView name);
    QPushButton* make_button(const QString& name, const QString& text);

    const record_set* rows_ = nullptr;
    std::array<pic_slot*, slot_count> slots_{};
    QScrollArea* scroll_;
    QLabel* t_note_;
    QPushButton* b_first_;
    QPushButton* b_pre_;
    QPushButton* b_next_;
    QPushButton* b_last_;
    QImage nofile_;
    QImage sizelarge_;
    bool ib_showing_pic_ = false;
    long il_last_row_show_ = 0;
};

// Reads a picture scaled down to fit `box` while it is decoded (the whole picture is never
// held at full size); null when the file is not a readable picture.
QImage read_thumbnail(const QString& path, QSize box);
