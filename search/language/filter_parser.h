#pragma once
// parse_filter (declared in filter_language.h) yields this tree.
#include "search/language/filter_expr.h"
#include "search/language/filter_language.h"
