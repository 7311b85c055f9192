#pragma once

#include <string>
#include <utility>
#include <vector>

namespace marvalo {

struct SerialAdapter;

// Why a COM number leads to no adapter that can be trusted, as a code with
// its data; refusalText (ports_text) says it in Spanish.
struct PortRefusal {
    enum class Code {
        NoSuchNumber,        // outside COM 1..5
        DamagedEntry,        // detail: why, naming its line
        Unassigned,          // no entry
        NotPlugged,          // detail: the name it was given
        EmptyConnector,      // detail: the connector it is bound to
        SeveralFit,          // adapters: every one that fits
        ClaimedByConnector,  // adapters[0] fits, but `other` names it with its connector
        AlsoOtherNumber,     // adapters[0] is `other` too
        NowConsole,          // adapters[0] became the system console
        OtherMake,  // adapters[0] has the serial of an older entry named `detail`, not its make
    };
    Code code = Code::Unassigned;
    int number = 0;
    int other = 0;
    std::string detail;
    std::vector<const SerialAdapter *> adapters;
    // For the three codes where nothing is there: what is there instead.
    std::vector<std::pair<int, const SerialAdapter *>> numbered;
    std::vector<const SerialAdapter *> unnumbered;
};

// "le encajan 2 adaptadores (…) y no se sabe cuál es el suyo; …", to follow "COM n".
std::string refusalText(const PortRefusal &refusal);

}  // namespace marvalo
