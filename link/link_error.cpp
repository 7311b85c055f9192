#include "link/link_error.h"

namespace marvalo {

std::string LinkError::message() const {
    std::string text = "No se pudo " + operation;
    if (!port.empty()) {
        text += " " + port;
    }
    text += ": " + reason;
    // A reason that ends in a question or a closing mark already ends.
    if (!text.empty() && text.back() != '.' && text.back() != '?' && text.back() != '!') {
        text += ".";
    }
    return text;
}

}  // namespace marvalo
