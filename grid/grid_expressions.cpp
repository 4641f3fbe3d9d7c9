// The grid's small expression language: sort keys ("md A, xh D"), the filter
// ("md = 'text'"), header modifications ("md_t.text = '...'") and the footer
// ("'总数:'+count(dmd for all)").
#include <cctype>

#include "base/numbers_and_dates.h"
#include "grid/grid_internal.h"

namespace grid {

bool Grid::setsort(std::string_view expression) {
    std::vector<Impl::SortKey> keys;
    std::size_t at = 0;
    while (true) {
        skipBlanks(expression, at);
        if (at >= expression.size()) break;
        std::string name = readName(expression, at);
        int column = columnIndex(name);
        if (column < 0) return false;
        skipBlanks(expression, at);
        bool ascending = true;
        if (at < expression.size() && expression[at] != ',') {
            char direction =
                static_cast<char>(std::toupper(static_cast<unsigned char>(expression[at])));
            if (direction != 'A' && direction != 'D') return false;
            ascending = direction == 'A';
            ++at;
            if (at < expression.size() && isNameChar(expression[at])) return false;
            skipBlanks(expression, at);
        }
        keys.push_back({column, ascending});
        if (at < expression.size()) {
            if (expression[at] != ',') return false;
            ++at;
        }
    }
    impl_->sortKeys = std::move(keys);
    return true;
}

bool Grid::setfilter(std::string_view expression) {
    Impl::FilterRule rule;
    std::size_t at = 0;
    skipBlanks(expression, at);
    if (at < expression.size()) {
        std::string name = readName(expression, at);
        rule.column = columnIndex(name);
        if (rule.column < 0) return false;
        skipBlanks(expression, at);
        if (at >= expression.size() || expression[at] != '=') return false;
        ++at;
        skipBlanks(expression, at);
        if (auto quoted = readQuoted(expression, at)) {
            rule.value = *quoted;
        } else if (impl_->isNumber(rule.column)) {
            std::size_t start = at;
            while (at < expression.size() &&
                   !std::isspace(static_cast<unsigned char>(expression[at])))
                ++at;
            std::string_view literal = expression.substr(start, at - start);
            if (!base::isNumber(literal)) return false;
            rule.value = formatCellNumber(parseCellNumber(literal));
        } else {
            return false;
        }
        skipBlanks(expression, at);
        if (at != expression.size()) return false;
        if (impl_->isNumber(rule.column) && base::isNumber(rule.value)) {
            rule.value = formatCellNumber(parseCellNumber(rule.value));
        }
    }
    impl_->filterRule = std::move(rule);
    return true;
}

bool Grid::filter() {
    Impl& d = *impl_;
    d.aboutToReset();
    std::vector<RowId> shown;
    std::vector<RowId> hidden;
    const int column = d.filterRule.column;
    if (column < 0) {
        shown = std::move(d.shown);
        shown.reserve(shown.size() + d.hidden.size());
        shown.insert(shown.end(), d.hidden.begin(), d.hidden.end());
    } else if (d.isNumber(column)) {
        for (RowId id : d.shown)
            (d.cellEquals(id, column, d.filterRule.value) ? shown : hidden).push_back(id);
        for (RowId id : d.hidden)
            (d.cellEquals(id, column, d.filterRule.value) ? shown : hidden).push_back(id);
    } else {
        const TextColumn::Match passes = d.texts[column].matcher(d.filterRule.value);
        // Counted first, so each list is made once at its size.
        std::size_t passing = 0;
        for (RowId id : d.shown) passing += passes(id);
        for (RowId id : d.hidden) passing += passes(id);
        shown.reserve(passing);
        hidden.reserve(d.shown.size() + d.hidden.size() - passing);
        for (RowId id : d.shown) (passes(id) ? shown : hidden).push_back(id);
        for (RowId id : d.hidden) (passes(id) ? shown : hidden).push_back(id);
    }
    d.shown = std::move(shown);
    d.hidden = std::move(hidden);
    d.dropIndexes();
    d.didReset();
    return true;
}

bool Grid::modify(std::string_view modification) {
    Impl& d = *impl_;
    std::vector<std::pair<int, std::string>> changes;
    std::size_t at = 0;
    while (true) {
        skipBlanks(modification, at);
        if (at >= modification.size()) break;
        std::string object = readName(modification, at);
        int column = -1;
        for (int c = 0; c < d.columnCount(); ++c) {
            if (d.definition.columns[c].headerObject == object) column = c;
        }
        if (column < 0 || at >= modification.size() || modification[at] != '.') return false;
        ++at;
        if (readName(modification, at) != "text") return false;
        skipBlanks(modification, at);
        if (at >= modification.size() || modification[at] != '=') return false;
        ++at;
        skipBlanks(modification, at);
        auto value = readQuoted(modification, at);
        if (!value) return false;
        changes.emplace_back(column, std::move(*value));
    }
    if (changes.empty()) return false;
    for (auto& [column, text] : changes) d.headerTexts[column] = std::move(text);
    if (d.announcing()) d.observer->headerChanged();
    return true;
}

// Footer expressions are sums of quoted texts and count(<column> for all).
std::string Grid::footerText() const {
    std::string_view expression = impl_->definition.footerExpression;
    std::string result;
    std::size_t at = 0;
    skipBlanks(expression, at);
    if (at >= expression.size()) return {};
    while (true) {
        skipBlanks(expression, at);
        if (auto literal = readQuoted(expression, at)) {
            result += *literal;
        } else {
            std::string function = readName(expression, at);
            skipBlanks(expression, at);
            if (function != "count" || at >= expression.size() || expression[at] != '(') return {};
            std::size_t close = expression.find(')', at);
            if (close == std::string_view::npos) return {};
            at = close + 1;
            result += std::to_string(rowcount());
        }
        skipBlanks(expression, at);
        if (at >= expression.size()) break;
        if (expression[at] != '+') return {};
        ++at;
    }
    return result;
}

}  // namespace grid
