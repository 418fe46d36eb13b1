#pragma once
// A parsed filter. "or" is the only connective, so grouping never changes the meaning:
// the parser flattens every parenthesised part into one disjunction of terms.
#include <QString>
#include <vector>

enum class filter_op { equals, like };

struct filter_term {
    int column = 0; // 1-based, as the source numbers its columns
    filter_op op = filter_op::equals;
    QString value; // the joined strings
};

struct filter_expr {
    std::vector<filter_term> terms; // a row passes when any term holds
    // The empty text: every row passes.
    bool passes_everything() const { return terms.empty(); }
};
