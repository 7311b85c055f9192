#pragma once

#include <cstdlib>
#include <filesystem>

namespace marvalo::testing {

// The JUnit schema reports validate against: beside the clone, or where
// MARVALO_JUNIT_SCHEMA says (a work tree sits deeper).
inline std::filesystem::path junitSchema() {
    const char *given = std::getenv("MARVALO_JUNIT_SCHEMA");
    return given ? given : MARVALO_SOURCE_DIR "/../shared/data/junit-10.xsd";
}

}  // namespace marvalo::testing
