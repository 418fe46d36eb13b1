#include "app/shell/application_icon.h"

QIcon application_icon() {
    return QIcon(QStringLiteral(":/pictures/app_icon.png"));
}
