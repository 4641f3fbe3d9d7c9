#include "kelvane/scripts.h"

namespace kelvane {

void connectImportScripts(w_htmd&) {}

}  // namespace kelvane
