#pragma once

#include <string>

namespace marvalo {

// The system's reason for a failed call, for an operator who reads Spanish:
// a Spanish sentence with the errno's name after it, "no existe (ENOENT)",
// for a bench engineer to look up; never the system's English words. An
// errno without a sentence of ours is "error del sistema N (ENAME)".
std::string systemErrorText(int err);
// The Spanish sentence alone, for a message about the program's own files;
// the errno's name too where there is no Spanish one.
std::string spanishErrorText(int err);
// "ENOENT", or the number when the system has no name for it.
std::string errnoName(int err);

// The same for a failed name lookup: getaddrinfo's code, and errno when
// that code is EAI_SYSTEM.
std::string lookupErrorText(int code, int err);

}  // namespace marvalo
