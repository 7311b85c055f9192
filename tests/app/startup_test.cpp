#include <gtest/gtest.h>

#include <sys/wait.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "ports/bench_ports.h"
#include "tests/fake_sysfs.h"
#include "tests/panel_rig.h"
#include "tests/pty_pair.h"
#include "tests/run_program.h"
#include "tests/streaming_peer.h"

namespace marvalo {
namespace {

using testing::PanelRig;

struct Expected {
    const char *line;
    const char *lblRS, *lblCOM, *lblID, *lblBaudRate, *label1, *frame1, *instruction;
    bool modbusShown;
    int commPort;
    const char *settings;
};

TEST(StartUp, CaptionsViewAndPortFromTheSettingsLine) {
    const Expected rows[] = {
        {"011732\r\n", "RS232", "COM 2", "17", " 9600", "Modbus", "Direc. 1 Palabra", "", true, 2,
         " 9600,n,8,1"},
        {"100540\r\n", "RS485", "COM 1", "05", "19200", "Korvel", "Instruc. a enviar", "D", false,
         1, "19200,n,8,1"},
        {"049901\r\n", "RS232", "COM 5", "99", " 1200", "ISO 1745", "Instruc. a enviar", "0D",
         false, 5, " 1200,e,7,1"},
    };
    for (const Expected &row : rows) {
        PanelRig rig(row.line);
        EXPECT_EQ(rig.label("lblRS")->text(), row.lblRS) << row.line;
        EXPECT_EQ(rig.label("lblCOM")->text(), row.lblCOM) << row.line;
        EXPECT_EQ(rig.label("lblID")->text(), row.lblID) << row.line;
        EXPECT_EQ(rig.label("lblBaudRate")->text(), row.lblBaudRate) << row.line;
        EXPECT_EQ(rig.label("Label1")->text(), row.label1) << row.line;
        EXPECT_EQ(rig.frame("Frame1")->title(), row.frame1) << row.line;
        EXPECT_EQ(rig.textBox("txtCadena")->text(), row.instruction) << row.line;
        for (const char *name : {"Frame2", "txtNWord", "frmFunciones"}) {
            EXPECT_EQ(!rig.find<QWidget>(name)->isHidden(), row.modbusShown) << row.line << name;
        }
        EXPECT_EQ(rig.port.commPort(), row.commPort) << row.line;
        EXPECT_EQ(rig.port.settings(), row.settings) << row.line;
        EXPECT_FALSE(rig.port.portOpen());
        EXPECT_FALSE(rig.timer()->isActive());
        EXPECT_EQ(rig.form->noReplyCount(), 0);
        EXPECT_EQ(rig.list("Combo1")->currentIndex(), 0);
        EXPECT_EQ(rig.list("Combo1")->currentText(), "Leer n Palabras");
        EXPECT_TRUE(rig.frame("Datos")->isHidden());
        EXPECT_TRUE(rig.label("lblmensaje")->isHidden());
        EXPECT_EQ(rig.form->state().rs485Hold, (std::array<std::int16_t, 5>{80, 60, 30, 30, 25}));
        EXPECT_FALSE(rig.startupProblem.has_value());
    }
}

TEST(StartUp, NoFileStartsFromTheDesignCaptionsQuietly) {
    PanelRig rig(std::nullopt);
    EXPECT_EQ(rig.label("lblRS")->text(), "RS232");
    EXPECT_EQ(rig.label("lblCOM")->text(), "COM 1");
    EXPECT_EQ(rig.label("lblID")->text(), "01");
    EXPECT_EQ(rig.label("lblBaudRate")->text(), " 9600");
    EXPECT_EQ(rig.label("Label1")->text(), "ISO 1745");
    EXPECT_EQ(rig.port.settings(), " 9600,e,7,1");
    EXPECT_FALSE(rig.startupProblem.has_value());
}

TEST(StartUp, ADamagedFileIsSetAsideAndReported) {
    PanelRig rig("071732\r\n");
    ASSERT_TRUE(rig.startupProblem.has_value());
    EXPECT_NE(rig.startupProblem->find("071732"), std::string::npos);
    EXPECT_EQ(rig.label("lblCOM")->text(), "COM 1");
    EXPECT_EQ(rig.port.commPort(), 1);
    EXPECT_EQ(rig.form->state().baudIndex, 3);
}

TEST(StartUp, LooksForAdaptersOnce) {
    testing::FakeSysfs tree;
    tree.plugUsb("ttyUSB0", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "1-1.2"});
    testing::TempFolder folder;
    BenchPorts ports(folder.path() / "marvalo-ports.ini", {tree.sysfs(), tree.dev()});
    // Plugged after the map's look: seen only if start-up looks a second time.
    tree.plugUsb("ttyUSB1", {"1a86", "7523", "", "USB Serial", "", "1-1.4", 0, "ch341-uart"});
    OperationLog log;
    FakePort port{log};
    FakeSleeper sleeper{log};
    port.setPortMap(ports);
    Form1 form(port, sleeper);
    startUp(form, folder.path());
    EXPECT_EQ(ports.present().size(), 1u);
}

TEST(Shutdown, SavesTheLiveSelectionsBeforeReleasingThePort) {
    std::string savedWhilePortOpen;
    {
        PanelRig rig("011732\r\n");
        rig.pick("cmbCOM", 3);
        rig.pick("cmbID", 8);
        rig.pick("cmbBaudRate", 0);
        rig.click("cmdRS");
        rig.click("cmdProt");
        ASSERT_TRUE(rig.port.open().ok());
        QObject::connect(rig.form.get(), &Form1::unloading, [&] {
            // Runs after the save (connected later), before the port closes.
            EXPECT_TRUE(rig.port.portOpen());
            savedWhilePortOpen = rig.folder.read("Comini.sdx");
        });
        rig.form->close();
        EXPECT_FALSE(rig.port.portOpen());
        EXPECT_EQ(savedWhilePortOpen, "130800\r\n");
        EXPECT_EQ(rig.log.back(), "close");

        // The next start shows what was chosen.
        PanelRig next(rig.folder.read("Comini.sdx"));
        EXPECT_EQ(next.label("lblCOM")->text(), "COM 4");
        EXPECT_EQ(next.label("lblID")->text(), "08");
        EXPECT_EQ(next.label("lblBaudRate")->text(), " 1200");
        EXPECT_EQ(next.label("lblRS")->text(), "RS485");
        EXPECT_EQ(next.label("Label1")->text(), "Korvel");
        EXPECT_EQ(next.form->state().baudIndex, 0)
            << "the new rate reaches the wait at the next start";
    }
}

TEST(Shutdown, AFailedSaveIsReportedAndTheWindowStillCloses) {
    PanelRig rig("011732\r\n");
    std::filesystem::remove_all(rig.folder.path());
    std::ofstream(rig.folder.path()) << "a file where the folder was";
    rig.form->show();
    EXPECT_TRUE(rig.form->close());
    ASSERT_EQ(rig.warnings.size(), 1);
    EXPECT_TRUE(rig.warnings[0].contains("Comini.sdx")) << rig.warnings[0].toStdString();
    EXPECT_FALSE(rig.form->isVisible());
    std::filesystem::remove(rig.folder.path());
    std::filesystem::create_directories(rig.folder.path());
}

TEST(Program, StartsHeadlessOnTheSimulatorAndRefusesWithoutADisplay) {
    testing::TempFolder folder;
    const std::string picture = (folder.path() / "panel.png").string();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const auto shot = testing::runProgram({MARVALO_PATH, "--screenshot", picture});
    EXPECT_EQ(shot.status, 0) << shot.err;
    EXPECT_TRUE(std::filesystem::file_size(picture) > 1000);
    // Qt's harmless English on a headless start never reaches the operator.
    EXPECT_EQ(testing::runProgram({"/usr/bin/env", "-u", "XDG_RUNTIME_DIR", MARVALO_PATH,
                                   "--monitor", "--screenshot", picture})
                  .err,
              "");

    folder.write("icon.xyz", "kept");
    const std::string icon = (folder.path() / "icon.xyz").string();
    struct Refusal {
        const char *display, *platform;
        std::vector<std::string> args;
        int status;
        std::string said;
    };
    constexpr auto npos = std::string::npos;
    const Refusal rows[] = {
        {nullptr, nullptr, {}, 1, "no hay pantalla"},
        {":99", "xcb", {}, 1, "no se puede abrir la pantalla \":99\" (DISPLAY"},
        {nullptr,
         "offscreen",
         {"--write-icon", "/no/such/i.png"},
         64,
         "\"/no/such/i.png\": su carpeta: no existe"},
        {nullptr, "offscreen", {"--write-icon", icon}, 64, icon + "\": su extensión no es"},
        {nullptr, "offscreen", {"--send-first", "1", "--screenshot", icon}, 64, "extensión no es"},
        {nullptr, "nosuch", {}, 1, "no se pudo iniciar la plataforma gráfica \"nosuch\""},
        {nullptr,
         "offscreen",
         {"--write-icon", picture, "--screenshot", icon},
         64,
         "--screenshot no va con --write-icon"},
        {nullptr,
         "offscreen",
         {"--report-shown", "--send-first", "2"},
         64,
         "--send-first solo vale con --screenshot"},
        {nullptr,
         "offscreen",
         {"--report-shown", "--icon-size", "9"},
         64,
         "--icon-size solo vale con --write-icon"},
        {nullptr,
         "offscreen",
         {"--monitor", "--screenshot", picture, "--set", "cmbFormato=f32", "--set",
          "cmbFormato=f33"},
         64,
         "no tiene \"f33\": se admite u16, s16, hex"},
        {nullptr,
         "offscreen",
         {"--screenshot", ""},
         64,
         "--screenshot necesita un nombre de archivo terminado en .png"},
        {nullptr, "offscreen", {"--screenshot", "/tmp/"}, 64, "es una carpeta: se necesita un"},
        {nullptr,
         "offscreen",
         {"--screenshot", picture, "--set", "cmbFormato=u16"},
         64,
         "\"cmbFormato\" está en el monitor: añada --monitor"},
        {nullptr,
         "offscreen",
         {"--screenshot", picture, "--set", "bogus=1"},
         64,
         ": los hay cmbCOM"},
    };
    const char *display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    for (const Refusal &row : rows) {
        for (auto [name, value] :
             {std::pair{"DISPLAY", row.display}, {"QT_QPA_PLATFORM", row.platform}})
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        ::unsetenv("WAYLAND_DISPLAY");
        std::vector<std::string> argv{MARVALO_PATH};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        const auto run = testing::runProgram(argv);
        EXPECT_EQ(run.status, row.status) << row.said;
        EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
        const bool noDisplay = row.status == 1 && row.said.find("plataforma") == std::string::npos;
        if (noDisplay)  // before Qt starts, or Qt's own words held back
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        if (noDisplay)
            EXPECT_NE(run.err.find("QT_QPA_PLATFORM=offscreen marvalo o con xvfb-run"), npos);
        else if (row.status == 1)  // Qt's own words, which name the plugins there are
            EXPECT_NE(run.err.find("Available platform plugins"), std::string::npos) << run.err;
    }
    EXPECT_EQ(folder.read("icon.xyz"), "kept");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    saved.empty() ? ::unsetenv("DISPLAY") : ::setenv("DISPLAY", saved.c_str(), 1);
}

// A copy of the panel in `folder`, its settings on COM 1 at 19200 baud with
// Korvel, to run headless.
std::filesystem::path headlessPanelIn(const testing::TempFolder &folder) {
    const std::filesystem::path copy = folder.path() / "marvalo";
    std::filesystem::copy_file(MARVALO_PATH, copy);
    folder.write("Comini.sdx", "000140\r\n");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return copy;
}

TEST(Program, APeerThatNeverStopsCostsBoundedMemoryAndSigtermIsHeard) {
    // Four presses of Enviar, monitor open, on a line that streams at pty
    // speed: each reply stops at 64 KiB, and SIGTERM cuts the waits short.
    testing::StreamingPeer peer;
    testing::TempFolder folder;
    const std::filesystem::path copy = headlessPanelIn(folder);
    ::setenv("MARVALO_COM1", peer.devicePath().c_str(), 1);
    testing::RunControl control;
    control.signalAfterMs = 1500;
    control.signal = SIGTERM;
    const auto run = testing::runProgram({copy.string(), "--monitor", "--send-first", "4",
                                          "--screenshot", (folder.path() / "m.png").string()},
                                         control);
    ::unsetenv("MARVALO_COM1");
    EXPECT_EQ(run.signal, 0) << run.err;
    EXPECT_LT(run.msFromSignalToExit, 1000);
    EXPECT_LT(run.maxResidentKb, 100 * 1024);
}

TEST(Program, ComOneIsTheUsbAdapterNeverTheConsoleNorAPhantom) {
    // A new bench: one FTDI adapter, the console on ttyS0 and a ttyS1 with
    // no UART behind it. Each device node is a pty, so what reaches it shows.
    testing::FakeSysfs tree;
    testing::PtyPair adapter;
    testing::PtyPair console;
    testing::PtyPair phantom;
    tree.plugUsb("ttyUSB0", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "1-1.2"});
    tree.plugUart("ttyS0", 4);
    tree.plugUart("ttyS1", 0);
    tree.setConsole("ttyS0");
    tree.deviceNode("ttyUSB0", adapter.devicePath());
    tree.deviceNode("ttyS0", console.devicePath());
    tree.deviceNode("ttyS1", phantom.devicePath());
    testing::TempFolder folder;
    const std::filesystem::path copy = headlessPanelIn(folder);
    ::setenv("MARVALO_SYSFS_ROOT", tree.sysfs().c_str(), 1);
    ::setenv("MARVALO_DEV_ROOT", tree.dev().c_str(), 1);
    auto heard = [](const testing::PtyPair &pty) {
        char bytes[256];
        const ssize_t n = ::read(pty.controller(), bytes, sizeof bytes);
        return n > 0 ? std::string(bytes, static_cast<std::size_t>(n)) : std::string();
    };
    const auto refused = testing::runProgram(
        {copy.string(), "--send-first", "5", "--screenshot", "/no/such/dir/x.png"});
    EXPECT_EQ(refused.status, 64) << refused.err;
    EXPECT_NE(refused.err.find("\"/no/such/dir/x.png\""), std::string::npos) << refused.err;
    EXPECT_EQ(heard(adapter), "") << "nothing sent for a picture that cannot be saved";
    const auto run = testing::runProgram(
        {copy.string(), "--send-first", "1", "--screenshot", (folder.path() / "p.png").string()});
    ::unsetenv("MARVALO_SYSFS_ROOT");
    ::unsetenv("MARVALO_DEV_ROOT");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(heard(adapter).rfind("*01", 0), 0U) << "Enviar on COM 1 reached the adapter";
    EXPECT_EQ(heard(console), "");
    EXPECT_EQ(heard(phantom), "");
    EXPECT_NE(folder.read("marvalo-ports.ini").find("[com1]\nidentity = usb-serial:A50285BI:0"),
              std::string::npos);
}

TEST(Program, ATerminationSignalClosesLikeTheWindowAndKeepsTheChoices) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int stopSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGALRM, SIGUSR1};
    std::vector<std::unique_ptr<testing::TempFolder>> folders;
    std::vector<std::filesystem::path> programFolders;
    std::vector<pid_t> panels;
    for (std::size_t i = 0; i < std::size(stopSignals); ++i) {
        folders.push_back(std::make_unique<testing::TempFolder>());
        // One of them in a folder whose name is Latin-1, not UTF-8, as on
        // old shares: not one byte of it may be lost.
        programFolders.push_back(i == 0 ? folders.back()->path() / "dir\xf3n"
                                        : folders.back()->path());
        std::filesystem::create_directories(programFolders.back());
        const std::filesystem::path copy = programFolders.back() / "marvalo";
        std::filesystem::copy_file(MARVALO_PATH, copy);
        std::ofstream(programFolders.back() / "Comini.sdx") << "011732";
        const pid_t child = ::fork();
        if (child == 0) {
            ::execl(copy.c_str(), copy.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        panels.push_back(child);
    }
    // Signal only once the panel catches SIGTERM (bit 15 of SigCgt), not
    // after a guessed start-up time.
    auto catchesTerm = [](pid_t pid) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigCgt:", 0) == 0)
                return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1) & 1U) != 0;
        }
        return false;
    };
    for (pid_t panel : panels) {
        for (int tries = 0; tries < 200 && !catchesTerm(panel); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (std::size_t i = 0; i < panels.size(); ++i) {
        ::kill(panels[i], stopSignals[i]);
        int status = -1;
        ::waitpid(panels[i], &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "signal " << stopSignals[i];
        // Saved from the live selections: the same choices, now ended by the
        // CR LF only a save writes.
        std::stringstream saved;
        saved << std::ifstream(programFolders[i] / "Comini.sdx").rdbuf();
        EXPECT_EQ(saved.str(), "011732\r\n") << "signal " << stopSignals[i];
    }
}

}  // namespace
}  // namespace marvalo
