#include "tools/send_tap.h"

#include <iostream>

namespace marvalo {

void printTap(const SuiteReport &report) {
    std::cout << tapText(report) << std::flush;
}

}  // namespace marvalo
