#pragma once
// The main window's function keys and what each does. They belong to the window wherever
// the caret is: in the condition box, in the result list or elsewhere.
#include <QStringView>

enum class key_action {
    none,
    switch_focus, // F1: to the result list, or back to an empty condition box
    all_rows,     // the result list's "download all" heading, as if clicked
    current_row,  // a row button of the current row, as if clicked
    click,        // a button of the window, clicked once the key is handled, if enabled
};

struct key_command {
    int key;
    key_action action;
    // The object name of the button clicked, or of the result list's button.
    QStringView target;
};

// F1 to F35: the window takes these from every control.
bool is_function_key(int key);

// What `key` does; key_action::none for a key without a command.
key_command command_for_key(int key);
