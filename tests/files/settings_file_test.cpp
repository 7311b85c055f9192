#include "files/settings_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/temp_folder.h"

namespace marvalo {
namespace {

using testing::TempFolder;

SettingsValues values(int link, int port, int address, int baud, int protocol) {
    return SettingsValues{static_cast<std::uint8_t>(link), static_cast<std::uint8_t>(port),
                          static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(baud),
                          static_cast<std::uint8_t>(protocol)};
}

TEST(SettingsFile, ItemRules) {
    const std::pair<const char *, const char *> rows[] = {
        {"011732\r\n", "011732"},
        {"011732", "011732"},
        {"011732\r\n100540\r\n", "100540"},
        {"011732\n100540", "100540"},
        {"a,b,011732\r\n", "011732"},
        {"\"011732\"\r\n", "011732"},
        {"  \"100540\"  \r\n", "100540"},
        {"\"01,1732\"\r\n", "01,1732"},
        {"011732  \r\n", "011732"},
        {"011732\r\n\r\n  \r\n", "011732"},
        {"011732,\r\n", ""},
        {"", ""},
    };
    for (const auto &[content, item] : rows) {
        EXPECT_EQ(lastSettingsItem(content), item) << '"' << content << '"';
    }
}

TEST(SettingsFile, LoadsTheWorkedLines) {
    const struct {
        const char *content;
        SettingsValues expected;
    } rows[] = {
        {"011732\r\n", values(0, 1, 17, 3, 2)},          {"100540\r\n", values(1, 0, 5, 4, 0)},
        {"011732\r\n100540\r\n", values(1, 0, 5, 4, 0)}, {"x,y,100540", values(1, 0, 5, 4, 0)},
        {"\"011732\"", values(0, 1, 17, 3, 2)},          {"0117329999", values(0, 1, 17, 3, 2)},
        {"149941\r\n", values(1, 4, 99, 4, 1)},
    };
    for (const auto &row : rows) {
        TempFolder folder;
        folder.write(kSettingsFileName, row.content);
        const LoadedSettings loaded = LoadSettings(folder.path());
        EXPECT_EQ(loaded.values, row.expected) << row.content;
        EXPECT_FALSE(loaded.problem.has_value()) << *loaded.problem;
    }
}

TEST(SettingsFile, DamagedFilesStartFromTheDefaultsAndSayWhy) {
    const std::pair<const char *, const char *> rows[] = {
        {"", "ninguna línea"},
        {"\r\n\r\n", "ninguna línea"},
        {"0117\r\n", "4 caracteres"},
        {"01a732\r\n", "posición 3"},
        {"-11732\r\n", "posición 1"},
        {"211732\r\n", "tipo de conexión"},
        {"051732\r\n", "puerto"},
        {"011752\r\n", "velocidad"},
        {"011733\r\n", "protocolo"},
        {"011732,\r\n", "ninguna línea"},
        {"\x01\x02\x03\x04\x05\x06", "posición 1"},
    };
    for (const auto &[content, mention] : rows) {
        TempFolder folder;
        folder.write(kSettingsFileName, content);
        const LoadedSettings loaded = LoadSettings(folder.path());
        EXPECT_EQ(loaded.values, kDefaultSettings) << content;
        ASSERT_TRUE(loaded.problem.has_value()) << content;
        EXPECT_NE(loaded.problem->find(mention), std::string::npos) << *loaded.problem;
        EXPECT_NE(loaded.problem->find((folder.path() / kSettingsFileName).string()),
                  std::string::npos)
            << *loaded.problem;
    }
}

TEST(SettingsFile, MissingFileIsTheQuietFirstStart) {
    TempFolder folder;
    const LoadedSettings loaded = LoadSettings(folder.path());
    EXPECT_EQ(loaded.values, values(0, 0, 1, 3, 1));
    EXPECT_FALSE(loaded.problem.has_value());
}

TEST(SettingsFile, LinesAreSixDigitsWithTwoForTheAddress) {
    EXPECT_EQ(formatSettingsLine(0, 1, 17, 3, 2), "011732");
    EXPECT_EQ(formatSettingsLine(1, 0, 5, 4, 0), "100540");
    for (int address = 0; address < 10; ++address) {
        EXPECT_EQ(formatSettingsLine(0, 0, address, 0, 0).substr(2, 2),
                  "0" + std::to_string(address));
    }
    EXPECT_EQ(formatSettingsLine(0, 0, 10, 0, 0), "001000");
    // No selection writes the default for that position, never "-1".
    EXPECT_EQ(formatSettingsLine(1, -1, -1, -1, 2), "100132");

    // Every valid choice reads back as itself.
    for (int link = 0; link < 2; ++link)
        for (int port = 0; port < 5; ++port)
            for (int address = 0; address < 100; ++address)
                for (int baud = 0; baud < 5; ++baud)
                    for (int protocol = 0; protocol < 3; ++protocol) {
                        const std::string line =
                            formatSettingsLine(static_cast<std::uint8_t>(link), port, address, baud,
                                               static_cast<std::uint8_t>(protocol));
                        auto back = parseSettingsLine(lastSettingsItem(line + "\r\n"));
                        ASSERT_TRUE(back.ok()) << line;
                        ASSERT_EQ(back.value(), values(link, port, address, baud, protocol))
                            << line;
                    }
}

TEST(SettingsFile, SaveWritesOneLineAndReplacesTheOld) {
    TempFolder folder;
    folder.write(kSettingsFileName, "garbage that was there\r\nmore\r\n");
    ASSERT_TRUE(SaveSettings(folder.path(), 0, 1, 5, 3, 2).ok());
    EXPECT_EQ(folder.read(kSettingsFileName), "010532\r\n");
    ASSERT_TRUE(SaveSettings(folder.path(), 1, 4, 99, 0, 0).ok());
    EXPECT_EQ(folder.read(kSettingsFileName), "149900\r\n");
    std::size_t files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(folder.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u) << "no temporary file left behind";
}

TEST(SettingsFile, AFolderThatCannotBeWrittenIsNamed) {
    TempFolder folder;
    const std::filesystem::path gone = folder.path() / "no-such-folder";
    auto saved = SaveSettings(gone, 0, 0, 1, 3, 1);
    ASSERT_FALSE(saved.ok());
    EXPECT_NE(saved.error().find((gone / kSettingsFileName).string()), std::string::npos)
        << saved.error();
}

TEST(SettingsFile, ASaveThatFailsHalfwayKeepsTheOldFile) {
    TempFolder folder;
    folder.write(kSettingsFileName, "011732\r\n");
    // A file size limit of 3 bytes makes the write stop halfway, even as
    // root; the kernel's SIGXFSZ must not kill the program that saves.
    const pid_t child = ::fork();
    if (child == 0) {
        struct rlimit tiny {};
        getrlimit(RLIMIT_FSIZE, &tiny);
        tiny.rlim_cur = 3;
        setrlimit(RLIMIT_FSIZE, &tiny);
        auto saved = SaveSettings(folder.path(), 1, 0, 5, 4, 0);
        ::_exit(!saved.ok() && saved.error().find("tamaño de archivo") != std::string::npos &&
                        saved.error().find("anterior queda como estaba") != std::string::npos
                    ? 0
                    : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "reported, not killed (signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << ")";
    EXPECT_EQ(folder.read(kSettingsFileName), "011732\r\n");
    std::size_t files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(folder.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

TEST(SettingsFile, FallsBackToTheUsersConfigFolder) {
    TempFolder writable;
    EXPECT_EQ(chooseSettingsPlace(writable.path()).saveFolder, writable.path());

    TempFolder config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const SettingsPlace before = chooseSettingsPlace("/marvalo-not-here/bin");
    EXPECT_FALSE(std::filesystem::exists(config.path() / "marvalo")) << "made only to save";
    std::filesystem::create_directories(config.path() / "marvalo");
    config.write("marvalo/Comini.sdx", "000131\r\n");
    const SettingsPlace after = chooseSettingsPlace("/marvalo-not-here/bin");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(before.saveFolder, config.path() / "marvalo");
    EXPECT_EQ(before.loadFolder, "/marvalo-not-here/bin") << "the bench's file until one is saved";
    EXPECT_EQ(after.loadFolder, config.path() / "marvalo");
}

TEST(SettingsFile, WhatIsNotAReadableFileIsReportedOnceAndKept) {
    const struct {
        const char *name;
        std::function<void(const std::filesystem::path &)> make;
        const char *mention;
        bool replaceable;
    } rows[] = {
        {"FIFO", [](const auto &f) { ::mkfifo(f.c_str(), 0644); }, "tubería", false},
        {"link to /dev/zero",
         [](const auto &f) { std::filesystem::create_symlink("/dev/zero", f); }, "dispositivo",
         false},
        {"folder", [](const auto &f) { std::filesystem::create_directory(f); }, "una carpeta",
         false},
        {"100 kB file", [](const auto &f) { std::ofstream(f) << std::string(100000, '1'); },
         "más de 4096 bytes", true},
    };
    for (const auto &row : rows) {
        TempFolder folder;
        row.make(folder.path() / kSettingsFileName);
        const LoadedSettings loaded = LoadSettings(folder.path());
        EXPECT_EQ(loaded.values, kDefaultSettings) << row.name;
        ASSERT_TRUE(loaded.problem) << row.name;
        EXPECT_NE(loaded.problem->find(row.mention), std::string::npos) << *loaded.problem;
        EXPECT_EQ(loaded.problem->find("no contiene"), std::string::npos) << *loaded.problem;
        EXPECT_EQ(settingsFileReplaceable(folder.path()), row.replaceable) << row.name;
    }
}

TEST(SettingsFile, AFileThatCannotBeReadIsReportedAndNeverSavedOver) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to drop to an unprivileged user";
    TempFolder folder;
    folder.write(kSettingsFileName, "011732\r\n");
    ::chmod(folder.path().c_str(), 0755);
    ::chmod((folder.path() / kSettingsFileName).c_str(), 0600);  // root's own
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        const LoadedSettings loaded = LoadSettings(folder.path());
        const bool told = loaded.problem &&
                          panelSettingsMessage(loaded).find("no se guardará") != std::string::npos;
        ::_exit(told && !settingsFileReplaceable(folder.path()) ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(SettingsFile, SavingThroughALinkKeepsTheLinkTheModeAndNoStaleTemporaries) {
    TempFolder folder;
    std::filesystem::create_directory(folder.path() / "real");
    folder.write("real/Comini.sdx", "000131\r\n");
    ::chmod((folder.path() / "real/Comini.sdx").c_str(), 0660);
    std::filesystem::create_symlink("real/Comini.sdx", folder.path() / kSettingsFileName);
    folder.write("Comini.sdx.AbC123", "stale");
    folder.write("Comini.sdx.XyZ789", "another panel saving now");
    std::filesystem::last_write_time(
        folder.path() / "Comini.sdx.AbC123",
        std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2));
    removeStaleTemporaries(folder.path());
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "Comini.sdx.AbC123"));
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "Comini.sdx.XyZ789"));

    ASSERT_TRUE(SaveSettings(folder.path(), 1, 0, 5, 4, 0).ok());
    EXPECT_TRUE(std::filesystem::is_symlink(folder.path() / kSettingsFileName));
    EXPECT_EQ(folder.read("real/Comini.sdx"), "100540\r\n");
    struct stat saved {};
    ASSERT_EQ(::stat((folder.path() / "real/Comini.sdx").c_str(), &saved), 0);
    EXPECT_EQ(saved.st_mode & 07777, 0660U);
}

TEST(FilePlaces, AnInstalledProgramKeepsItsFilesPerUserEvenForRoot) {
    const std::pair<const char *, bool> folders[] = {
        {"/usr/bin", true},
        {"/usr/local/bin", true},
        {"/opt/marvalo/bin", true},
        {"/lib64", true},
        {"/usr", true},
        {"/usr2/bin", false},
        {"/library/x", false},
        {"/home/ana/marvalo", false},
    };
    for (const auto &[folder, system] : folders)
        EXPECT_EQ(isSystemFolder(folder), system) << folder;

    TempFolder config;
    TempFolder unpacked;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    // Root may write /usr/bin; the files go per user all the same.
    const FilePlace installed = chooseFilePlace("/usr/bin", kSettingsFileName);
    const FilePlace beside = chooseFilePlace(unpacked.path(), kSettingsFileName);
    // A link to nowhere beside the program: saved elsewhere, and said so.
    std::filesystem::create_symlink("/nonexistent-marvalo/Comini.sdx",
                                    unpacked.path() / kSettingsFileName);
    const FilePlace dangling = chooseFilePlace(unpacked.path(), kSettingsFileName);
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(installed.saveFolder, config.path() / "marvalo");
    EXPECT_EQ(beside.saveFolder, unpacked.path());
    EXPECT_FALSE(beside.notice);
    EXPECT_EQ(dangling.saveFolder, config.path() / "marvalo");
    ASSERT_TRUE(dangling.notice);
    EXPECT_NE(dangling.notice->find("/nonexistent-marvalo/Comini.sdx"), std::string::npos);
}

}  // namespace
}  // namespace marvalo
