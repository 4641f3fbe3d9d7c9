#include "kelvane/scripts.h"

namespace kelvane {

void connectTruncationScripts(w_htmd&) {}

}  // namespace kelvane
