#include "files/ports_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "tests/temp_folder.h"

namespace marvalo {
namespace {

// Two programs (the panel and marvalo-send) saving different changes at the
// same moment: every change of both is in the table afterwards.
TEST(PortsFile, TwoWritersAtOnceBothSurvive) {
    testing::TempFolder folder;
    const auto file = folder.path() / kPortsFileName;
    constexpr int kChanges = 15;
    pid_t writers[2];
    for (int writer = 0; writer < 2; ++writer) {
        writers[writer] = ::fork();
        if (writers[writer] == 0) {
            for (int n = 0; n < kChanges; ++n) {
                auto saved =
                    changePortsTable(file, [&](PortsTable &table) -> Result<bool, std::string> {
                        table.released.push_back(std::string(1, static_cast<char>('a' + writer)) +
                                                 std::to_string(n));
                        return true;
                    });
                if (!saved)
                    ::_exit(1);
            }
            ::_exit(0);
        }
    }
    for (pid_t writer : writers) {
        int status = 0;
        ::waitpid(writer, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const PortsTable table = loadPortsTable(file).table;
    EXPECT_EQ(table.released.size(), 2u * kChanges) << folder.read(kPortsFileName);
    for (const char *last : {"a14", "b14"})
        EXPECT_NE(std::ranges::find(table.released, last), table.released.end()) << last;
}

}  // namespace
}  // namespace marvalo
