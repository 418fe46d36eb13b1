#include "app/main/keyboard_commands.h"

#include <Qt>

namespace {

constexpr key_command commands[] = {
    {Qt::Key_F1, key_action::switch_focus, u""},
    {Qt::Key_F2, key_action::all_rows, u"b_downall"},
    {Qt::Key_F3, key_action::current_row, u"b_down"},
    {Qt::Key_F4, key_action::click, u"cb_scandisk"},
    {Qt::Key_F5, key_action::click, u"cb_dowpath"},
    {Qt::Key_F6, key_action::click, u"cb_open_custdir"},
    {Qt::Key_F8, key_action::click, u"cb_selectdir"},
    {Qt::Key_F12, key_action::click, u"cb_clear_downpath"},
};

} // namespace

bool is_function_key(int key) {
    return key >= Qt::Key_F1 && key <= Qt::Key_F35;
}

key_command command_for_key(int key) {
    for (const key_command& c : commands)
        if (c.key == key) return c;
    return {key, key_action::none, u""};
}
