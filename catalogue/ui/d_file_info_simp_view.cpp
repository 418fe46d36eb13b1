#include "catalogue/ui/d_file_info_simp_view.h"

#include "catalogue/ui/d_file_info_simp_model.h"
#include "catalogue/ui/windowed_table_view.h"

#include <QApplication>
#include <QCache>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTextOption>
#include <QVBoxLayout>

namespace {

using model = d_file_info_simp_model;

// Draws the row buttons as push buttons, each caption drawn once and then copied: a screenful
// holds dozens of them.
class row_button_delegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QRect rect = option.rect.adjusted(2, 1, -2, -1);
        if (rect.isEmpty()) return;
        const QString text = index.data().toString();
        const qreal ratio = painter->device()->devicePixelRatioF();
        QPixmap& drawn = drawn_[text];
        if (drawn.isNull() || drawn.deviceIndependentSize().toSize() != rect.size() ||
            drawn.devicePixelRatio() != ratio) {
            drawn = QPixmap(rect.size() * ratio);
            drawn.setDevicePixelRatio(ratio);
            drawn.fill(Qt::transparent);
            QStyleOptionButton button;
            button.rect = QRect(QPoint(), rect.size());
            button.text = text;
            button.state = QStyle::State_Enabled | QStyle::State_Raised;
            button.fontMetrics = option.fontMetrics;
            const QWidget* w = option.widget;
            QPainter on_pixmap(&drawn);
            on_pixmap.setFont(option.font);
            (w ? w->style() : QApplication::style())
                ->drawControl(QStyle::CE_PushButton, &button, &on_pixmap, w);
        }
        painter->drawPixmap(rect.topLeft(), drawn);
    }

  private:
    mutable QHash<QString, QPixmap> drawn_;
};

// Texts laid out in one font, by text, the last few thousand. A new result lays out only the
// texts not seen lately (extensions, dates and sizes repeat), a scroll only the rows it brings.
class laid_out_texts {
  public:
    const QStaticText& get(const QString& text, const QFont& font) {
        if (!(font == font_)) {
            texts_.clear();
            font_ = font;
        }
        if (const QStaticText* known = texts_.object(text)) return *known;
        auto* laid_out = new QStaticText(text);
        laid_out->setTextFormat(Qt::PlainText);
        QTextOption one_line;
        one_line.setWrapMode(QTextOption::NoWrap);
        laid_out->setTextOption(one_line);
        laid_out->prepare(QTransform(), font);
        texts_.insert(text, laid_out); // kept: it costs 1 of thousands
        return *laid_out;
    }

  private:
    QFont font_;
    QCache<QString, QStaticText> texts_{4096};
};

// Draws a text cell as the style's item delegate would (highlight, colour, font, alignment,
// "…" where the text is cut) from texts laid out once: the style lays each text out three
// times per paint, and repainting a screenful of rows is most of what a new result costs.
class text_cell_delegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QWidget* w = option.widget;
        const QStyle* style = w ? w->style() : QApplication::style();
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group =
            !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
            : option.state & QStyle::State_Active   ? QPalette::Normal
                                                    : QPalette::Inactive;
        if (selected)
            painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
        const QString text = index.data(Qt::DisplayRole).toString();
        if (!text.isEmpty()) {
            QFont font = option.font;
            if (const QVariant f = index.data(Qt::FontRole); f.isValid())
                font = f.value<QFont>().resolve(option.font);
            // The current row's number stays red on the highlight too.
            const QVariant colour = index.data(Qt::ForegroundRole);
            const QColor pen =
                colour.isValid() ? colour.value<QColor>()
                                 : option.palette.color(group, selected ? QPalette::HighlightedText
                                                                        : QPalette::Text);
            const Qt::Alignment align =
                Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt()) & ~Qt::AlignVertical_Mask;
            const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, w) + 1;
            const QRect box = option.rect.adjusted(margin, 0, -margin, 0);
            painter->save();
            painter->setFont(font);
            painter->setPen(pen);
            painter->setClipRect(option.rect, Qt::IntersectClip);
            const QStaticText& laid_out =
                (font == option.font ? list_font_texts_ : other_font_texts_).get(text, font);
            const qreal width = laid_out.size().width();
            if (width > box.width()) {
                const QString cut = QFontMetrics(font, painter->device())
                                        .elidedText(text, option.textElideMode, box.width());
                painter->drawText(box, Qt::TextSingleLine | align | Qt::AlignVCenter, cut);
            } else {
                const qreal x = align & Qt::AlignRight     ? box.right() + 1 - width
                                : align & Qt::AlignHCenter ? box.left() + (box.width() - width) / 2
                                                           : box.left();
                const qreal y = box.top() + (box.height() - laid_out.size().height()) / 2;
                painter->drawStaticText(QPointF(x, y), laid_out);
            }
            painter->restore();
        }
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.rect = option.rect;
            focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
            focus.backgroundColor =
                option.palette.color(group, selected ? QPalette::Highlight : QPalette::Window);
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, w);
        }
    }

  private:
    mutable laid_out_texts list_font_texts_;
    // The current row's number, in its larger font.
    mutable laid_out_texts other_font_texts_;
};

} // namespace

d_file_info_simp_view::d_file_info_simp_view(record_set& rows, QWidget* parent)
    : QWidget(parent), rows_(rows) {
    model_ = new d_file_info_simp_model(rows_, this);
    table_ = new windowed_table_view(model_, this);
    table_->setObjectName(QStringLiteral("dw_table"));
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab and Shift+Tab go on to the window's next and previous controls; the arrow keys
    // move within the list.
    table_->setTabKeyNavigation(false);
    table_->setWordWrap(false);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(22);
    table_->verticalHeader()->hide();
    QHeaderView* header = table_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignCenter);
    header->setMinimumHeight(38);
    const int widths[] = {58, 200, 56, 84, 330, 76, 60, 48, 58};
    for (int c = 0; c < model::display_column_count; ++c) table_->setColumnWidth(c, widths[c]);
    // Long paths get the spare width instead of an empty band right of the buttons.
    header->setSectionResizeMode(model::shown_filepath, QHeaderView::Stretch);
    auto* buttons = new row_button_delegate(table_);
    table_->setItemDelegateForColumn(model::button_ting, buttons);
    table_->setItemDelegateForColumn(model::button_down, buttons);
    table_->setItemDelegate(new text_cell_delegate(table_));
    table_->installEventFilter(this);
    table_->viewport()->installEventFilter(this);
    table_->horizontalHeader()->viewport()->installEventFilter(this);

    connect(table_, &QTableView::clicked, this, [this](const QModelIndex& index) {
        emit clicked(model_->result_row(index.row()), model::object_name(index.column()));
    });
    connect(header, &QHeaderView::sectionClicked, this, [this](int section) {
        if (section == model::button_down) emit clicked(0, QStringLiteral("b_downall"));
    });
    connect(model_, &model::rows_replaced, this, [this] {
        table_->refit();
        refresh_summary();
    });

    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("compute_1"));
    total_ = new QLabel(this);
    total_->setObjectName(QStringLiteral("compute_2"));
    auto* t_1 = new QLabel(QStringLiteral("文件数:"), this);
    t_1->setObjectName(QStringLiteral("t_1"));
    auto* size_caption = new QLabel(QStringLiteral("大小(MB):"), this);
    auto* band = new QHBoxLayout;
    band->setContentsMargins(6, 2, 6, 2);
    band->addWidget(t_1);
    band->addWidget(count_);
    band->addSpacing(24);
    band->addWidget(size_caption);
    band->addWidget(total_);
    band->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(table_, 1);
    layout->addLayout(band);
    refresh_summary();
}

long d_file_info_simp_view::getrow() const {
    return model_->current_row();
}

void d_file_info_simp_view::setrow(long row) {
    table_->set_current_row(row);
}

void d_file_info_simp_view::refresh_summary() {
    count_->setText(model_->summary_count());
    total_->setText(model_->summary_total_size());
}

bool d_file_info_simp_view::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress &&
        (watched == table_->viewport() || watched == table_->horizontalHeader()->viewport()))
        emit pressed_anywhere();
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F35) {
            emit key_pressed(key->key(), key->modifiers());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QTableView* d_file_info_simp_view::table() const {
    return table_;
}
