// The ways a COM number was seen to reach the wrong instrument, each on a
// fabricated sysfs whose device nodes are watched ptys: the bytes reach
// the operator's adapter or no pty at all, and the message says why.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <functional>

#include "files/ports_file.h"
#include "tests/fake_sysfs.h"
#include "tests/pty_pair.h"
#include "tests/run_program.h"

namespace marvalo {
namespace {

namespace fs = std::filesystem;
using Usb = testing::FakeSysfs::Usb;

const Usb kA{"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "1-1.2"};
const Usb kB{"0403", "6001", "FTDI", "FT232R USB UART", "FTB00002", "1-1.3"};
const Usb kCloneB{"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "1-1.3"};

struct Bench {
    testing::FakeSysfs tree;
    testing::TempFolder folder;
    std::array<testing::PtyPair, 3> ptys;
    fs::path table() const { return folder.path() / kPortsFileName; }
    fs::path usbPort(const Usb &usb, const std::string &name) const {
        return tree.usbDevice(usb) / (usb.usbPath + ":1." + std::to_string(usb.interfaceNumber)) /
               name;
    }
    void plug(const std::string &name, const Usb &usb, int pty) {
        tree.plugUsb(name, usb);
        tree.deviceNode(name, ptys[static_cast<std::size_t>(pty)].devicePath());
    }
    void file(const std::string &content) const { folder.write(kPortsFileName, content); }
    testing::ProgramRun send(std::vector<std::string> args) const {
        args.insert(args.begin(), (folder.path() / "marvalo-send").string());
        return testing::runProgram(args);
    }
};

std::string received(const testing::PtyPair &pty) {
    char bytes[256];
    const ssize_t n = ::read(pty.controller(), bytes, sizeof bytes);
    return n > 0 ? std::string(bytes, static_cast<std::size_t>(n)) : std::string();
}

const std::vector<std::string> kAsk{"--wait",        "30", "korvel", "--address", "01",
                                    "--instruction", "D"};
std::vector<std::string> ask(int port) {
    std::vector<std::string> args{"--port", std::to_string(port)};
    args.insert(args.end(), kAsk.begin(), kAsk.end());
    return args;
}

TEST(PortsAsSeen, NoByteReachesAPtyOtherThanTheOperatorsAdapter) {
    const std::string swapped =
        "[com1]\nidentity = usb-serial:FTB00002:0\n[com2]\nidentity = usb-serial:A50285BI:0\n";
    const auto server = [](Bench &b) { b.send({"--assign-port", "3", "socket://127.0.0.1:1"}); };
    const struct {
        const char *situation;
        std::function<void(Bench &)> setUp;
        std::vector<std::string> args;
        int reaches;  // the pty that gets the request, -1 none
        const char *says;
    } rows[] = {
        {"operator's swap with a damaged line in COM 2",
         [&](Bench &b) { b.file(swapped + "kernel_rs485 = si\n"); }, ask(1), 1, "línea 5"},
        {"the damaged entry is refused, naming the line",
         [&](Bench &b) { b.file(swapped + "x\n"); }, ask(2), -1, "línea 5"},
        {"another number's change keeps a damaged entry; no damaged copy is lost",
         [&](Bench &b) {
             for (const char *number : {"3", "4", "5"}) {
                 b.file("x\n" + swapped + "kernel_rs485 = si\n");
                 b.send({"--free-port", number});
             }
             int copies = 0;
             for (const auto &entry : fs::directory_iterator(b.folder.path()))
                 copies += entry.path().string().find(".damaged") != std::string::npos;
             EXPECT_EQ(copies, 3);
         },
         ask(2), -1, "kernel_rs485 = si"},
        {"names longer than the table can hold",
         [&](Bench &b) {
             b.tree.unplug("ttyUSB0");
             b.tree.unplug("ttyUSB1");
             const std::string big(3000, 'S');
             b.plug("ttyACM0", {"2341", "43", "", big, "1" + big, "1-1.6", 0, "cdc_acm"}, 0);
             b.plug("ttyACM1", {"2341", "43", "", big, "2" + big, "1-1.7", 0, "cdc_acm"}, 1);
             b.send({"--list-ports"});
             b.send({"--free-port", "1"});
         },
         ask(3), 0, "silence"},
        {"capitals, an unknown key and a BOM are no damage",
         [&](Bench &b) {
             b.file("\xEF\xBB\xBF[COM1]\nidentity = usb-serial:FTB00002:0\nnota = banco 3\n");
         },
         ask(1), 1, "silence"},
        {"a folder in the table's place",
         [](Bench &b) {
             fs::remove(b.table());
             fs::create_directory(b.table());
         },
         ask(1), -1, "carpeta"},
        {"a FIFO in the table's place",
         [](Bench &b) {
             fs::remove(b.table());
             ::mkfifo(b.table().c_str(), 0600);
         },
         ask(1), -1, "FIFO"},
        {"clones sharing a serial number",
         [&](Bench &b) {
             b.tree.unplug("ttyUSB1");
             b.plug("ttyUSB1", kCloneB, 1);
             b.file("[com1]\nidentity = usb-serial:A50285BI:0\n");
         },
         ask(1), -1, "no se distinguen por el número de serie"},
        {"a clone assigned by its device",
         [&](Bench &b) {
             b.tree.unplug("ttyUSB1");
             b.plug("ttyUSB1", kCloneB, 1);
             b.send({"--assign-port", "2", (b.tree.dev() / "ttyUSB1").string()});
         },
         ask(2), 1, "silence"},
        {"a freed number is not given to a new adapter",
         [&](Bench &b) {
             b.send({"--free-port", "1"});
             b.plug("ttyUSB2", {"0403", "6015", "FTDI", "FT231X", "C3", "1-1.5"}, 2);
         },
         ask(1), -1, "no tiene adaptador"},
        {"the console now",
         [&](Bench &b) {
             b.tree.plugUart("ttyS0", 4);
             b.tree.deviceNode("ttyS0", b.ptys[2].devicePath());
             b.file("[com1]\nidentity = kernel:ttyS0\n");
             b.tree.setConsole("tty0 ttyS0");
         },
         ask(1), -1, "consola del sistema"},
        {"ports of one interface told apart by port_number",
         [&](Bench &b) {
             b.tree.unplug("ttyUSB1");
             b.plug("ttyUSB1", kA, 1);
             std::ofstream(b.usbPort(kA, "ttyUSB1") / "port_number") << "1\n";
             b.file("[com1]\nidentity = usb-serial:A50285BI:0.1\n");
         },
         ask(1), 1, "silence"},
        {"a fixture's new unit on the bound connector",
         [&](Bench &b) {
             b.file("[com1]\nidentity = usb-path:1-1.6:0\n");
             b.plug("ttyACM0", {"2341", "0043", "Acme", "Unit", "UNIT7", "1-1.6", 0, "cdc_acm"}, 2);
         },
         ask(1), 2, "silence"},
        {"a serial number holding a CR",
         [&](Bench &b) {
             b.tree.unplug("ttyUSB0");
             b.tree.unplug("ttyUSB1");
             b.plug("ttyUSB0", {"0403", "6001", "", "", "A\r5", "1-1.2"}, 0);
             b.send({"--list-ports"});
         },
         ask(3), 0, "silence"},
        {"a FIFO attribute and a link out of the tree",
         [&](Bench &b) {
             fs::remove(b.usbPort(kA, "").parent_path().parent_path() / "product");
             ::mkfifo((b.usbPort(kA, "").parent_path().parent_path() / "product").c_str(), 0600);
             fs::create_directories(b.tree.sysfs() / "class/tty/ttyEVIL");
             fs::create_directory_symlink("/etc", b.tree.sysfs() / "class/tty/ttyEVIL/device");
             b.file("[com1]\nidentity = usb-serial:A50285BI:0\n");
         },
         ask(1), 0, "silence"},
        {"a serial server listed", server, {"--list-ports"}, -1, "servidor socket"},
        {"a damaged server address refused at its line",
         [&](Bench &b) { b.file("[com3]\nidentity = socket://bench:0\n"); }, ask(3), -1,
         "(línea 2: la dirección \"socket://bench:0\" no vale"},
        {"server in JSON", server, {"--list-ports", "--json"}, -1, R"(null,"server":"socket")"},
        // Nothing listens on port 1 of loopback without root.
        {"a number standing for a server that is down", server, ask(3), -1,
         "1): el equipo rechazó"},
        {"without --port it says which it used", [&](Bench &b) { b.file(swapped); }, kAsk, 1,
         "sin --port ni --device se usa COM 1"},
        {"two makes share a serial number",
         [&](Bench &b) {
             b.tree.unplug("ttyUSB0");
             b.plug("ttyUSB2", {"10c4", "ea60", "Silicon Labs", "CP2102", "0001", "1-1.4"}, 2);
             b.send({"--list-ports"});
             b.tree.unplug("ttyUSB2");
             b.plug("ttyACM0", {"2341", "0043", "Arduino", "Uno", "0001", "1-1.4", 0, "cdc_acm"},
                    0);
         },
         ask(3), -1, "CP2102, nº 0001) no está conectado"},
        {"two makes share a serial number, in a table from before the make was kept",
         [&](Bench &b) {
             b.plug("ttyACM0", {"2341", "0043", "Arduino", "Uno", "0001", "1-1.4", 0, "cdc_acm"},
                    2);
             b.file("[com3]\nidentity = usb-serial:0001:0\nname = Silicon Labs CP2102, nº 0001\n");
         },
         ask(3), -1, "es de otra marca"},
        {"a clone plugged back alone elsewhere, then its twin",
         [&](Bench &b) {
             b.file(
                 "[com1]\nidentity = usb-serial:A50285BI:0@1-1.2\n[com2]\nidentity = "
                 "usb-serial:A50285BI:0@1-1.3\n");
             b.tree.unplug("ttyUSB0");
             b.tree.unplug("ttyUSB1");
             b.plug("ttyUSB2", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "1-1.4"}, 2);
             b.send({"--list-ports"});
             b.tree.unplug("ttyUSB2");
             b.plug("ttyUSB0", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "1-1.5"}, 0);
         },
         ask(3), -1, "no está conectado"},
        {"a fixture bound to its connector after the controllers swapped bus numbers",
         [&](Bench &b) {
             b.tree.unplug("ttyUSB0");
             b.plug("ttyACM0", {"2341", "0043", "Acme", "Unit", "U1", "1-1.6", 0, "cdc_acm"}, 2);
             b.send({"--list-ports"});
             b.send({"--bind-port", "3", "usb-port"});
             b.tree.unplug("ttyACM0");
             b.plug("ttyACM0", {"2341", "0043", "Acme", "Unit", "U2", "2-1.6", 0, "cdc_acm"}, 2);
             b.plug(
                 "ttyACM1",
                 {"2341", "0043", "Acme", "Unit", "U3", "1-1.6", 0, "cdc_acm", 16, "0000:00:1d.0"},
                 0);
         },
         ask(3), 2, "silence"},
        {"a clone known by its connector given another number",
         [&](Bench &b) {
             b.tree.unplug("ttyUSB0");
             b.tree.unplug("ttyUSB1");
             b.plug("ttyUSB1", kCloneB, 1);
             b.file("[com1]\nidentity = usb-serial:A50285BI:0@1-1.3\n");
             b.send({"--assign-port", "2", "ttyUSB1"});
         },
         ask(2), 1, "silence"},
        {"a freed clone stays freed when its twin goes",
         [&](Bench &b) {
             b.tree.unplug("ttyUSB1");
             b.plug("ttyUSB1", kCloneB, 1);
             b.file("");
             b.send({"--list-ports"});
             b.send({"--free-port", "2"});
             b.tree.unplug("ttyUSB0");
             b.send({"--list-ports"});
         },
         ask(3), -1, "no tiene adaptador"},
        {"an adapter displaced by a server is not renumbered unsaid",
         [&](Bench &b) {
             const auto said = b.send({"--assign-port", "2", "socket://127.0.0.1:1"});
             EXPECT_NE(said.out.find("FTB00002 queda sin número"), std::string::npos) << said.out;
             b.send({"--list-ports"});
         },
         ask(3), -1, "no tiene adaptador"},
        {"a table beside an installed copy, read until the user's own exists",
         [&](Bench &b) {
             const fs::path opt = "/opt/marvalo-ports-test-" + std::to_string(::getpid());
             fs::create_directories(opt);
             fs::copy_file(MARVALO_SEND_PATH, opt / "marvalo-send");
             std::ofstream(opt / kPortsFileName) << swapped;
             ::setenv("XDG_CONFIG_HOME", (b.folder.path() / "config").c_str(), 1);
             auto installed = [&](std::vector<std::string> args) {
                 args.insert(args.begin(), (opt / "marvalo-send").string());
                 return testing::runProgram(args);
             };
             installed({"--assign-port", "3", "socket://127.0.0.1:1"});
             installed(ask(1));
             const auto listed = installed({"--list-ports"}).out;
             EXPECT_NE(listed.find("config/marvalo/marvalo-ports.ini"), std::string::npos)
                 << listed;
             ::unsetenv("XDG_CONFIG_HOME");
             fs::remove_all(opt);
         },
         {"--list-ports"},
         1,
         "Tabla de puertos"},
        {"a build tree's programs share the table at its top",
         [&](Bench &b) {
             b.file(swapped);
             b.folder.write("CMakeCache.txt", "");
             fs::create_directories(b.folder.path() / "tools");
             fs::copy_file(MARVALO_SEND_PATH, b.folder.path() / "tools/marvalo-send");
             auto args = ask(1);
             args.insert(args.begin(), (b.folder.path() / "tools/marvalo-send").string());
             testing::runProgram(args);
         },
         {"--list-ports"},
         1,
         "Tabla de puertos"},
        {"a lock held by a hung program",
         [&](Bench &b) {
             b.plug("ttyUSB2", {"0403", "6015", "FTDI", "FT231X", "C3", "1-1.5"}, 2);
             const std::string lock = b.table().string() + ".lock";
             if (::fork() == 0) {
                 ::flock(::open(lock.c_str(), O_RDWR | O_CREAT, 0644), LOCK_EX);
                 ::execl("/bin/sleep", "sleep", "4", nullptr);
                 ::_exit(1);
             }
             ::usleep(200'000);
             const auto start = std::chrono::steady_clock::now();  // one wait, not one a look
             b.send({"--port", "1", "--count", "3", "--wait", "30", "korvel", "--address", "01"});
             EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
         },
         ask(1), 0, "(sleep) tiene tomada la tabla"},
        {"a lock an exited program left to its child names the child",
         [&](Bench &b) {
             b.plug("ttyUSB2", {"0403", "6015", "FTDI", "FT231X", "C3", "1-1.5"}, 2);
             const std::string lock = b.table().string() + ".lock";
             if (const pid_t parent = ::fork(); parent == 0) {
                 ::flock(::open(lock.c_str(), O_RDWR | O_CREAT, 0644), LOCK_EX);
                 if (::fork() == 0)
                     ::execl("/bin/sleep", "sleep", "3", nullptr);
                 ::_exit(0);
             } else {
                 ::waitpid(parent, nullptr, 0);
             }
         },
         ask(1), 0, "(sleep), que heredó el cerrojo del proceso"},
        {"a table beside the program that links nowhere is refused, never replaced",
         [&](Bench &b) {
             fs::create_directories(b.folder.path() / "home/marvalo");
             std::ofstream(b.folder.path() / "home/marvalo" / kPortsFileName) << swapped;
             fs::remove(b.table());
             fs::create_symlink("/mnt/nfs-not-mounted/marvalo-ports.ini", b.table());
             ::setenv("XDG_CONFIG_HOME", (b.folder.path() / "home").c_str(), 1);
         },
         ask(1), -1, "es un enlace a \"/mnt/nfs-not-mounted/marvalo-ports.ini\""},
        {"a clone numbered alone keeps its connector once its twin is seen",
         [&](Bench &b) {
             b.tree.unplug("ttyUSB1");
             b.plug("ttyUSB1", kCloneB, 1);
             b.send({"--list-ports"});
             b.tree.unplug("ttyUSB0");
         },
         ask(1), -1, "no está conectado"},
        {"a table's link loop said in Spanish",
         [&](Bench &b) { fs::remove(b.table()), fs::create_symlink(b.table(), b.table()); }, ask(1),
         -1, "enlaces simbólicos. Ningún"},
        {"a hard-linked table is not split by a save",
         [&](Bench &b) { fs::create_hard_link(b.table(), b.folder.path() / "x"); },
         {"--free-port", "4"},
         -1,
         "2 enlaces duros"},
        {"another program holding the port",
         [&](Bench &b) {
             b.file(swapped);
             if (::fork() == 0) {
                 ::freopen(b.ptys[1].devicePath().c_str(), "r", stdin);
                 ::execl("/bin/sleep", "sleep", "2", nullptr);
                 ::_exit(1);
             }
             ::usleep(200'000);
         },
         ask(1), 1, "lo tiene abierto también sleep"},
    };
    for (const auto &row : rows) {
        Bench bench;
        fs::copy_file(MARVALO_SEND_PATH, bench.folder.path() / "marvalo-send");
        bench.plug("ttyUSB0", kA, 0);
        bench.plug("ttyUSB1", kB, 1);
        for (auto &pty : bench.ptys)
            pty.releaseDevice();
        ::setenv("MARVALO_SYSFS_ROOT", bench.tree.sysfs().c_str(), 1);
        ::setenv("MARVALO_DEV_ROOT", bench.tree.dev().c_str(), 1);
        bench.send({"--list-ports"});  // the first start numbers A and B
        row.setUp(bench);
        const auto run = bench.send(row.args);
        ::unsetenv("MARVALO_SYSFS_ROOT");
        ::unsetenv("MARVALO_DEV_ROOT");
        ::unsetenv("XDG_CONFIG_HOME");
        for (int pty = 0; pty < 3; ++pty)
            EXPECT_EQ(!received(bench.ptys[static_cast<std::size_t>(pty)]).empty(),
                      pty == row.reaches)
                << row.situation << ": pty " << pty << "\n"
                << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(row.says), std::string::npos) << row.situation << "\n"
                                                                         << run.out << run.err;
    }
}

}  // namespace
}  // namespace marvalo
