#include "kelvane/scripts.h"

namespace kelvane {

void connectCopyScripts(w_htmd&) {}

}  // namespace kelvane
