#include "kelvane/scripts.h"

namespace kelvane {

void connectInventoryScripts(w_htmd&) {}

}  // namespace kelvane
