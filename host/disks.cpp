#include "host/disks.h"

#include <array>
#include <optional>

namespace host {

namespace {

std::optional<std::string_view> nameOfKind(std::string_view names, std::string_view kind) {
    while (!names.empty()) {
        const std::size_t end = names.find(';');
        const std::string_view piece = names.substr(0, end);
        if (piece.size() > kind.size() && piece.starts_with(kind) && piece[kind.size()] == '=')
            return piece.substr(kind.size() + 1);
        if (end == std::string_view::npos) break;
        names.remove_prefix(end + 1);
    }
    return std::nullopt;
}

}  // namespace

bool sameDisk(std::string_view a, std::string_view b) {
    static constexpr std::array<std::string_view, 4> kinds = {"uuid", "serial", "fsid", "dev"};
    for (const std::string_view kind : kinds) {
        const auto first = nameOfKind(a, kind);
        const auto second = nameOfKind(b, kind);
        if (first && second) return *first == *second;
    }
    return true;
}

}  // namespace host
