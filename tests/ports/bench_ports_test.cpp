#include "ports/bench_ports.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <fstream>
#include <functional>
#include <sstream>

#include "files/ports_file.h"
#include "link/exchange.h"
#include "link/termios_port.h"
#include "tests/fake_sysfs.h"
#include "tests/pty_pair.h"
#include "tests/temp_folder.h"

namespace marvalo {
namespace {

using testing::FakeSysfs;

const FakeSysfs::Usb kFtdiA{"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "1-1.2"};
const FakeSysfs::Usb kFtdiB{"0403", "6001", "FTDI", "FT232R USB UART", "FTB00002", "1-1.3"};
const FakeSysfs::Usb kFtdiC{"0403", "6015", "FTDI", "FT231X USB UART", "FTC00003", "1-1.5"};
const FakeSysfs::Usb kCh340{"1a86", "7523", "", "USB Serial", "", "1-1.4", 0, "ch341-uart"};
const FakeSysfs::Usb kAcm{"2341", "0043", "Arduino", "Uno", "ACM0001", "1-1.6", 0, "cdc_acm"};

// What COM 1..5 lead to: the kernel names, "-" where a number leads nowhere.
std::string devicesOf(BenchPorts &ports) {
    std::string names;
    for (int number = 1; number <= kComNumbers; ++number) {
        auto mapped = ports.resolve(number);
        names += (names.empty() ? "" : " ") +
                 (mapped ? std::filesystem::path(mapped.value().path).filename().string() : "-");
    }
    return names;
}

TEST(BenchPorts, NumbersStayWithTheirAdapters) {
    FakeSysfs tree;
    testing::TempFolder config;
    const auto table = config.path() / kPortsFileName;
    const DiscoveryRoots roots{tree.sysfs(), tree.dev()};
    tree.plugUsb("ttyUSB0", kFtdiA);
    tree.plugUsb("ttyUSB1", kFtdiB);
    tree.plugUsb("ttyUSB2", kCh340);
    tree.plugUsb("ttyACM0", kAcm);
    tree.plugUart("ttyS0", 4);  // a real UART, but the console
    tree.plugUart("ttyS1", 0);  // a phantom: no UART behind it
    tree.plugUart("ttyS4", 4);
    tree.setConsole("tty0 ttyS0");
    tree.byId("ttyUSB0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

    auto ports = std::make_unique<BenchPorts>(table, roots);
    const struct {
        const char *step;
        std::function<void()> act;
        const char *devices;
        int unnumbered;
    } steps[] = {
        // USB first, then the UART; the console and the phantom never.
        {"first start", [] {}, "ttyACM0 ttyUSB0 ttyUSB1 ttyUSB2 ttyS4", 1},
        {"FTDI A unplugged", [&] { tree.unplug("ttyUSB0"); }, "ttyACM0 - ttyUSB1 ttyUSB2 ttyS4", 1},
        {"FTDI A back as ttyUSB5", [&] { tree.plugUsb("ttyUSB5", kFtdiA); },
         "ttyACM0 ttyUSB5 ttyUSB1 ttyUSB2 ttyS4", 1},
        {"restart", [&] { ports = std::make_unique<BenchPorts>(table, roots); },
         "ttyACM0 ttyUSB5 ttyUSB1 ttyUSB2 ttyS4", 1},
        {"a sixth adapter gets no number", [&] { tree.plugUsb("ttyUSB6", kFtdiC); },
         "ttyACM0 ttyUSB5 ttyUSB1 ttyUSB2 ttyS4", 2},
        {"the operator frees COM 5 and gives it the sixth",
         [&] {
             EXPECT_TRUE(ports->release(5));
             for (const SerialAdapter &adapter : ports->unnumbered()) {
                 if (adapter.kernelName == "ttyUSB6") {
                     EXPECT_TRUE(ports->assign(5, adapter));
                 }
             }
         },
         "ttyACM0 ttyUSB5 ttyUSB1 ttyUSB2 ttyUSB6", 2},
        {"the freed UART stays free", [&] { ports->refresh(); },
         "ttyACM0 ttyUSB5 ttyUSB1 ttyUSB2 ttyUSB6", 2},
        {"and swaps COM 1 and COM 2", [&] { EXPECT_TRUE(ports->swap(1, 2)); },
         "ttyUSB5 ttyACM0 ttyUSB1 ttyUSB2 ttyUSB6", 2},
        {"which a restart keeps", [&] { ports = std::make_unique<BenchPorts>(table, roots); },
         "ttyUSB5 ttyACM0 ttyUSB1 ttyUSB2 ttyUSB6", 2},
    };
    for (const auto &step : steps) {
        step.act();
        EXPECT_EQ(devicesOf(*ports), step.devices) << step.step;
        EXPECT_EQ(ports->unnumbered().size(), static_cast<std::size_t>(step.unnumbered))
            << step.step;
    }
    for (const SerialAdapter &adapter : ports->unnumbered())
        EXPECT_EQ(adapter.console, adapter.kernelName == "ttyS0") << adapter.kernelName;

    // What a missing adapter's refusal and a present one's description say.
    tree.unplug("ttyUSB1");
    auto missing = ports->resolve(3);
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("FTDI FT232R USB UART, nº FTB00002) no está conectado"),
              std::string::npos)
        << missing.error();
    EXPECT_NE(missing.error().find("Conectados: COM 1 (FTDI FT232R USB UART, nº A50285BI)"),
              std::string::npos)
        << missing.error();
    EXPECT_TRUE(ports->release(3));
    EXPECT_NE(ports->resolve(3).error().find("no tiene adaptador"), std::string::npos);
    const auto ftdi = ports->resolve(1);
    ASSERT_TRUE(ftdi);
    EXPECT_EQ(ftdi.value().text(), "FTDI FT232R USB UART, nº A50285BI, " +
                                       (tree.dev() / "ttyUSB5").string() + ", latencia 16 ms");
    ::setenv("MARVALO_COM1", "/dev/pts/77", 1);
    EXPECT_EQ(ports->resolve(1).value().path, "/dev/pts/77") << "the environment still wins";
    ::unsetenv("MARVALO_COM1");
}

TEST(BenchPorts, AnAdapterUnpluggedWhileOpenIsNamedInTheFailure) {
    FakeSysfs tree;
    testing::PtyPair pty;
    tree.plugUsb("ttyUSB0", kFtdiA);
    tree.deviceNode("ttyUSB0", pty.devicePath());
    testing::TempFolder config;
    BenchPorts ports(config.path() / kPortsFileName, {tree.sysfs(), tree.dev()});
    TermiosPort port;
    port.setPortMap(ports);
    ASSERT_TRUE(port.open().ok());
    tree.unplug("ttyUSB0");
    pty.closeController();
    auto read = port.readAvailable();
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().kind, LinkError::Kind::Vanished);
    EXPECT_NE(read.error().message().find("COM 1 (FTDI FT232R USB UART, nº A50285BI"),
              std::string::npos)
        << read.error().message();
}

TEST(BenchPorts, ADamagedTableKeepsItsReadableNumbersAndIsNeverRewrittenByItself) {
    const struct {
        const char *content, *mention;
        bool com1Works;
    } rows[] = {
        {"[com9]\nidentity = kernel:ttyS4\n", "com9", false},
        {"[com1]\nidentity = kernel:ttyS4\nkernel_rs485 = yes\n", "true o false", false},
        {"\xEF\xBB\xBF[COM1]\nidentity = kernel:ttyS4\nnota = banco 3\n", "", true},
        {"[com1]\nidentity = kernel:ttyS4\nbinding = usb-port\n", "línea 3: binding", false},
        {"[com1]\nidentity = socket://127.0.0.1:4001\n[com2]\nidentity = kernel:ttyS4\n", "", true},
    };
    for (const auto &row : rows) {
        FakeSysfs tree;
        tree.plugUart("ttyS4", 4);
        testing::TempFolder config;
        config.write(kPortsFileName, row.content);
        BenchPorts ports(config.path() / kPortsFileName, {tree.sysfs(), tree.dev()});
        const auto problem = ports.takeProblem();
        EXPECT_EQ(problem.has_value(), *row.mention != '\0') << row.content;
        if (problem) {
            EXPECT_NE(problem->find(row.mention), std::string::npos) << *problem;
        }
        EXPECT_EQ(ports.resolve(1).ok(), row.com1Works) << row.content;
        EXPECT_FALSE(ports.takeProblem()) << "told once: " << row.content;
        EXPECT_EQ(config.read(kPortsFileName), row.content) << "never rewritten by itself";
    }
}

std::string drained(const testing::PtyPair &pty) {
    char bytes[256];
    const ssize_t n = ::read(pty.controller(), bytes, sizeof bytes);
    return n > 0 ? std::string(bytes, static_cast<std::size_t>(n)) : std::string();
}

// Continuous sending to a silent unit keeps its line open between ticks;
// another program swaps the numbers meanwhile. Each tick looks the number
// up once: the next write reaches the adapter the table names now, the old
// one gets nothing more, and the record names the new one. A table that
// did not change is not read again; a node that is not the device sysfs
// named is refused.
TEST(BenchPorts, EachExchangeUsesTheLineItsNumberMeansAtItsStart) {
    FakeSysfs tree;
    std::array<testing::PtyPair, 2> ptys;
    tree.plugUsb("ttyUSB0", kFtdiA);
    tree.deviceNode("ttyUSB0", ptys[0].devicePath());
    tree.plugUsb("ttyUSB1", kFtdiB);
    tree.deviceNode("ttyUSB1", ptys[1].devicePath());
    for (auto &pty : ptys)
        pty.releaseDevice();
    testing::TempFolder config;
    BenchPorts ports(config.path() / kPortsFileName, {tree.sysfs(), tree.dev()});
    BenchPorts otherProgram(config.path() / kPortsFileName, {tree.sysfs(), tree.dev()});
    (void)ports.resolve(1);  // reads the table as its first start numbered it
    TermiosPort port;
    port.setPortMap(ports);
    ExchangeSetup setup;
    setup.mode = ExchangeMode::Continuous;
    setup.inputs.addressText = "01";
    setup.inputs.addressNumber = 1;
    setup.inputs.instructionText = "D";
    setup.waitMs = 20;
    ThreadSleeper sleeper;
    std::int32_t silent = 0;
    const struct {
        const char *step;
        std::function<void()> before;
        int reaches;  // -1: neither
        const char *names;
    } rows[] = {
        {"first tick", [] {}, 0, "A50285BI"},
        {"swapped by another program", [&] { ASSERT_TRUE(otherProgram.swap(1, 2)); }, 1,
         "FTB00002"},
        {"nothing changed", [] {}, 1, "FTB00002"},
        {"one send alone, which closes the line after it",
         [&] { setup.mode = ExchangeMode::Single; }, 1, "FTB00002"},
        {"continuous again on the same line opened anew",
         [&] { setup.mode = ExchangeMode::Continuous; }, 1, "FTB00002"},
        {"its latency timer set to 1 on the held line",
         [&] { std::ofstream(tree.sysfs() / "class/tty/ttyUSB1/device/latency_timer") << "1\n"; },
         1, "latencia 1 ms"},
        {"a node that is another device",
         [&] { std::ofstream(tree.sysfs() / "class/tty/ttyUSB1/dev") << "188:1\n"; }, -1,
         "el adaptador de ese número es el 188:1"},
    };
    for (const auto &row : rows) {
        row.before();
        const auto reads = ports.looks();
        const auto changes = port.lineChanges();
        const ExchangeOutcome outcome = runExchange(port, sleeper, setup, silent);
        for (int pty = 0; pty < 2; ++pty)
            EXPECT_EQ(drained(ptys[static_cast<std::size_t>(pty)]).empty(), pty != row.reaches)
                << row.step << ": pty " << pty;
        const std::string said = outcome.record.port + " " + outcome.failure;
        EXPECT_NE(said.find(row.names), std::string::npos) << row.step << ": " << said;
        EXPECT_EQ(ports.looks().listings, reads.listings + 1) << row.step;
        EXPECT_EQ(ports.looks().tableReads, reads.tableReads + (row.step[0] == 's' ? 1 : 0))
            << row.step;
        EXPECT_EQ(port.lineChanges(), changes + (row.step[0] == 'f' || row.step[0] == 's' ? 1 : 0))
            << row.step << ": a new line is told by the port";
    }
    // Resolved once for a banner before the first exchange: that exchange
    // uses the same line although the table changed in between.
    TermiosPort banner;
    banner.setPortMap(ports);
    ASSERT_TRUE(banner.resolveFirstLine());
    const std::string named = banner.describe();
    ASSERT_TRUE(otherProgram.swap(1, 2));
    EXPECT_EQ(runExchange(banner, sleeper, setup, silent).record.port, named);
    // A failure resolved ahead for COM 3 is not COM 1's, chosen after it.
    TermiosPort chosenAgain;
    chosenAgain.setPortMap(ports);
    ASSERT_TRUE(chosenAgain.setCommPort(3));
    EXPECT_FALSE(chosenAgain.resolveFirstLine());
    ASSERT_TRUE(chosenAgain.setCommPort(1));
    EXPECT_EQ(runExchange(chosenAgain, sleeper, setup, silent).failure, "");
    // With a line held, nothing is resolved ahead: all names the held line.
    const std::string held = chosenAgain.describe();
    ASSERT_TRUE(otherProgram.swap(1, 2));
    ASSERT_TRUE(chosenAgain.resolveFirstLine());
    EXPECT_EQ(chosenAgain.describe(), held);
}

}  // namespace
}  // namespace marvalo
