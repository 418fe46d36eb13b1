#pragma once
// The application's own icon, shown by the main window and the wait window.
#include <QIcon>

QIcon application_icon();
