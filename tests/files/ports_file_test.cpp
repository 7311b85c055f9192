#include "files/ports_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "tests/temp_folder.h"

namespace marvalo {
namespace {

// Two programs (the panel and marvalo-send) saving different changes at the
// same moment, each through its own name for the table (the file, or links
// to it from two folders): every change of both is in the table afterwards.
TEST(PortsFile, TwoWritersAtOnceBothSurvive) {
    for (const bool linked : {false, true}) {
        testing::TempFolder folder;
        const auto file = folder.path() / kPortsFileName;
        std::filesystem::path names[2] = {file, file};
        if (linked) {
            // A link to a table that is not there is refused, so the table is.
            folder.write(kPortsFileName, "");
            for (const char *other : {"app", "tools"}) {
                std::filesystem::create_directory(folder.path() / other);
                std::filesystem::create_symlink(file, folder.path() / other / kPortsFileName);
            }
            names[0] = folder.path() / "app" / kPortsFileName;
            names[1] = folder.path() / "tools" / kPortsFileName;
        }
        constexpr int kChanges = 15;
        pid_t writers[2];
        for (int writer = 0; writer < 2; ++writer) {
            writers[writer] = ::fork();
            if (writers[writer] == 0) {
                for (int n = 0; n < kChanges; ++n) {
                    auto saved = changePortsTable(
                        names[writer], [&](PortsTable &table) -> Result<bool, std::string> {
                            table.released.push_back(
                                std::string(1, static_cast<char>('a' + writer)) +
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
        EXPECT_TRUE(!linked || std::filesystem::is_symlink(names[0])) << "a link stays a link";
    }
}

}  // namespace
}  // namespace marvalo
