#include "app/shell/app_globals.h"

app_globals& globals() {
    static app_globals the_globals;
    return the_globals;
}
