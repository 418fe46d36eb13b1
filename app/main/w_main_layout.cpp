// The main window's controls placed: the design's places scaled to the window, the bottom
// row packed so every text keeps its room, the folder line inside the bottom band.
#include "app/main/main_layout.h"
#include "app/main/w_main.h"
#include "app/shell/layout_units.h"
#include "catalogue/ui/d_file_info_simp_view.h"
#include "retrieval/ui/d_file_pic_view.h"
#include "search/core/query_engine.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTableView>

void w_main::place(QWidget* w, const QString& name) {
    const QRect u = places_.value(name);
    w->setGeometry(units_to_px(u.x(), u.y(), u.width(), u.height()));
}

void w_main::fit_panel_tab_stop() {
    auto* pages = dw_2_->findChild<QScrollArea*>();
    if (!pages) return;
    // Parked beyond the right edge, it would take the focus out of sight.
    const bool in_view = dw_2_->x() < width();
    pages->setFocusPolicy(in_view ? Qt::StrongFocus : Qt::NoFocus);
    if (!in_view && pages->hasFocus()) dw_1_->table()->setFocus();
}

void w_main::apply_places() {
    for (QWidget* w : std::initializer_list<QWidget*>{
             st_down_qty_, cb_open_custdir_, cb_selectdir_, st_query_note_, cb_fileext_,
             st_scaned_qty_, dw_2_, rb_baofeng_, rb_default_, cb_clear_, cb_query_, cb_dowpath_,
             cb_clear_downpath_, cb_scandisk_, ddlb_1_, p_1_, p_2_, dw_1_})
        place(w, w->objectName());
    fit_panel_tab_stop();
    pack_bottom_row();
    ddlb_1_->setGeometry(fit_condition_box(ddlb_1_->geometry(), cb_query_->geometry().left(),
                                           ddlb_1_->sizeHint().height()));
}

// The counters keep room for large counts and the query note for its longest text.
int w_main::pack_bottom_row(bool at_minimum) {
    const auto text_room = [](const QWidget* w, std::initializer_list<QString> texts) {
        int room = w->sizeHint().width();
        for (const QString& t : texts)
            room = std::max(room, w->fontMetrics().horizontalAdvance(t) + 2);
        return room;
    };
    const auto least = [&](QWidget* w) {
        if (w == st_query_note_)
            return text_room(w, {query_notes::too_short, query_notes::want_all,
                                 query_notes::all_shown, query_notes::over_limit});
        if (w == st_scaned_qty_) return text_room(w, {QStringLiteral("000000000个")});
        if (w == st_down_qty_) return text_room(w, {QStringLiteral("[00000]")});
        return w->sizeHint().width();
    };
    std::vector<QWidget*> row;
    std::vector<row_control> needs;
    for (const char16_t* name : bottom_row_names) {
        row.push_back(findChild<QWidget*>(QString::fromUtf16(name), Qt::FindDirectChildrenOnly));
        needs.push_back({least(row.back()), row.back()->width()});
    }
    const packed_row packed = pack_row(needs, cb_scandisk_->x(), width(), at_minimum);
    if (!at_minimum)
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i]->setGeometry(packed.spans[i].x, row[i]->y(), packed.spans[i].width,
                                row[i]->height());
    return packed.end;
}

void w_main::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fit_places(places_, size(), frameGeometry().width());
    apply_places();
    place_folder_line();
}

void w_main::place_folder_line() {
    // The bottom band reaches down over the strip, so the line lies inside it.
    QRect band = p_2_->geometry();
    band.setBottom(height());
    p_2_->setGeometry(band);
    st_down_folder_->setGeometry(folder_line_rect(size()));
}
