// Windows has no fork: `work` runs in this process, and only its exceptions
// are turned into failures.
#include <exception>

#include "host/isolated.h"

namespace host {

std::optional<std::string> runIsolated(const std::function<std::string()>& work,
                                       std::string* failure) {
    try {
        return work();
    } catch (const std::exception& error) {
        if (failure) *failure = error.what();
    } catch (...) {
        if (failure) *failure = "unknown exception";
    }
    return std::nullopt;
}

}  // namespace host
