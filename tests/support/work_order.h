// Running a test's body with the ordered work completing in a chosen order.
#pragma once

#include "host/fault_injection.h"

namespace testing_support {

// Runs `body` with the ordered work completing in `order`, then as posted again.
template <typename Body>
void inOrder(host::faults::WorkOrder order, const Body& body) {
    host::faults::setWorkOrderForTesting(order);
    body();
    host::faults::setWorkOrderForTesting(host::faults::WorkOrder::AsPosted);
}

}  // namespace testing_support
