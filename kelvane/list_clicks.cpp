#include "kelvane/scripts.h"

namespace kelvane {

void connectListClickScripts(w_htmd&) {}

}  // namespace kelvane
