#include "app/settings_file.h"
