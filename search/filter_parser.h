#pragma once
// parse_filter (declared in filter_language.h) yields this tree.
#include "search/filter_expr.h"
#include "search/filter_language.h"
