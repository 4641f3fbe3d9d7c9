#include "kelvane/scripts.h"

namespace kelvane {

void connectCheckScripts(w_htmd&) {}

}  // namespace kelvane
