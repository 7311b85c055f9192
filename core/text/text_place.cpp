#include "core/text/text_place.h"

namespace marvalo {

std::string TextPlace::text() const {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column);
}

}  // namespace marvalo
