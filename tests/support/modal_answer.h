#pragma once
// Answers a modal dialog from inside its own exec(): `act` runs on the active modal widget
// as soon as one is on screen (given up after a few seconds).
#include <functional>

class QWidget;

void answer_next_modal(std::function<void(QWidget*)> act);
