#pragma once

#include <string>

namespace marvalo {

// The system's reason for a failed call, for an operator who reads Spanish:
// the common ones in a Spanish sentence with the system's own words in
// parentheses ("no existe (No such file or directory)"), so the message can
// still be searched for; the rest as the system says them.
std::string systemErrorText(int err);
// The Spanish sentence alone, for a message about the program's own files;
// the system's words only where there is no Spanish one.
std::string spanishErrorText(int err);

// The same for a failed name lookup: getaddrinfo's code and its own text.
std::string lookupErrorText(int code, const std::string &system);

}  // namespace marvalo
