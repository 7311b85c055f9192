#include "tools/send_tap.h"

#include <iostream>

namespace marvalo {

void printTapHeader(std::size_t cases) {
    std::cout << tapHeader(cases) << std::flush;
}

void printTapCase(std::size_t number, const CaseResult &result) {
    std::cout << tapCase(number, result) << std::flush;
}

}  // namespace marvalo
