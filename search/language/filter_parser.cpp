#include "search/language/filter_parser.h"

#include "search/language/filter_lexer.h"

// Parentheses only group, so instead of recursing (a deep nest of "(" would exhaust
// the stack) the parser counts open groups and collects the terms in order.
std::shared_ptr<const filter_expr> parse_filter(QStringView text, const filter_source& source) {
    filter_lex_result lexed = lex_filter(text);
    if (!lexed.ok) return nullptr;
    const std::vector<filter_token>& tokens = lexed.tokens;

    auto expr = std::make_shared<filter_expr>();
    if (tokens.size() == 1) return expr; // nothing but blanks

    using k = filter_token_kind;
    std::size_t i = 0;
    std::size_t open_groups = 0;
    bool expect_term = true;
    while (true) {
        const filter_token& t = tokens[i];
        if (expect_term) {
            if (t.kind == k::open) {
                ++open_groups;
                ++i;
                continue;
            }
            if (t.kind != k::identifier) return nullptr;
            filter_term term;
            term.column = source.column_number(t.text);
            if (term.column <= 0) return nullptr;
            const filter_token_kind op = tokens[i + 1].kind;
            if (op == k::equals) {
                term.op = filter_op::equals;
            } else if (op == k::like) {
                term.op = filter_op::like;
            } else {
                return nullptr;
            }
            i += 2;
            if (tokens[i].kind != k::string) return nullptr;
            term.value = tokens[i].text;
            ++i;
            while (tokens[i].kind == k::plus) {
                if (tokens[i + 1].kind != k::string) return nullptr;
                term.value += tokens[i + 1].text;
                i += 2;
            }
            expr->terms.push_back(std::move(term));
            expect_term = false;
            continue;
        }
        switch (t.kind) {
        case k::close:
            if (open_groups == 0) return nullptr;
            --open_groups;
            ++i;
            break;
        case k::or_:
            expect_term = true;
            ++i;
            break;
        case k::end:
            if (open_groups != 0) return nullptr;
            return expr;
        default:
            return nullptr;
        }
    }
}
