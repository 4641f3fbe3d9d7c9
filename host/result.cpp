#include "host/result.h"

namespace host {

std::string Failure::message() const {
    return op + " \"" + path + "\": " + reasonText();
}

}  // namespace host
