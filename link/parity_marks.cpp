#include "link/parity_marks.h"

namespace marvalo {
namespace {

constexpr std::uint8_t kMarkByte = 0xFF;

}  // namespace

Bytes unmarkParityErrors(Bytes &pending, const Bytes &raw) {
    Bytes marked = std::move(pending);
    pending.clear();
    marked.insert(marked.end(), raw.begin(), raw.end());
    Bytes clean;
    clean.reserve(marked.size());
    std::size_t i = 0;
    while (i < marked.size()) {
        if (marked[i] != kMarkByte) {
            clean.push_back(marked[i++]);
            continue;
        }
        if (i + 1 >= marked.size())
            break;  // the rest of the mark is still to come
        if (marked[i + 1] == kMarkByte) {
            clean.push_back(kMarkByte);
            i += 2;
            continue;
        }
        if (i + 2 >= marked.size())
            break;
        clean.push_back(kParityErrorByte);
        i += 3;
    }
    pending.assign(marked.begin() + static_cast<std::ptrdiff_t>(i), marked.end());
    return clean;
}

}  // namespace marvalo
