#include "link/termios_port.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <linux/serial.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "link/parity_marks.h"
#include "link/port_names.h"
#include "tests/hex_bytes.h"
#include "tests/pty_pair.h"

namespace marvalo {
namespace {

using testing::hexBytes;
using testing::PtyPair;
using testing::sameBytes;

// The pty moves bytes through a kernel work queue; give it a moment.
void settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

void feed(int controller, std::string_view text) {
    ASSERT_EQ(::write(controller, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    settle();
}

TEST(LineSettings, AcceptsWhatThePanelBuilds) {
    const struct {
        const char *text;
        LineSettings expected;
    } rows[] = {
        {" 9600,e,7,1", {9600, LineSettings::Parity::Even, 7, 1}},
        {"19200,N,8,1", {19200, LineSettings::Parity::None, 8, 1}},
        {" 1200,n,8,1", {1200, LineSettings::Parity::None, 8, 1}},
        {" 4800,E,7,1", {4800, LineSettings::Parity::Even, 7, 1}},
        {"9600,o,8,2", {9600, LineSettings::Parity::Odd, 8, 2}},
    };
    for (const auto &row : rows) {
        auto parsed = parseLineSettings(row.text);
        ASSERT_TRUE(parsed.ok()) << row.text << ": " << parsed.error();
        EXPECT_EQ(parsed.value(), row.expected) << row.text;
    }
}

TEST(LineSettings, RefusalsNameTheWrongPart) {
    const std::pair<const char *, const char *> rows[] = {
        {"", "velocidad,paridad"},
        {"9600", "velocidad,paridad"},
        {"49,n,8,1", "\"49\""},
        {"12000001,n,8,1", "\"12000001\""},
        {"  9600,n,8,1", "\"  9600\""},
        {"+9600,n,8,1", "\"+9600\""},
        {"9600,x,8,1", "paridad \"x\""},
        {"9600,,8,1", "paridad \"\""},
        {"9600,n,9,1", "bits de datos \"9\""},
        {"9600,n,8,3", "bits de parada \"3\""},
        {"9600,n,8,1,", "velocidad,paridad"},
    };
    for (const auto &[text, mention] : rows) {
        auto parsed = parseLineSettings(text);
        ASSERT_FALSE(parsed.ok()) << '"' << text << '"';
        EXPECT_NE(parsed.error().find(mention), std::string::npos) << parsed.error();
    }
}

TEST(ParityMarks, BadBytesBecomeQuestionMarks) {
    const struct {
        const char *name;
        std::vector<Bytes> chunks;
        Bytes expected;
    } rows[] = {
        {"plain", {hexBytes({0x41, 0x42})}, hexBytes({0x41, 0x42})},
        {"real FF", {hexBytes({0x41, 0xFF, 0xFF, 0x42})}, hexBytes({0x41, 0xFF, 0x42})},
        {"parity error", {hexBytes({0x41, 0xFF, 0x00, 0x37, 0x42})}, hexBytes({0x41, '?', 0x42})},
        {"mark split across reads",
         {hexBytes({0x41, 0xFF}), hexBytes({0x00, 0x37, 0x42})},
         hexBytes({0x41, '?', 0x42})},
        {"escaped FF split", {hexBytes({0xFF}), hexBytes({0xFF})}, hexBytes({0xFF})},
    };
    for (const auto &row : rows) {
        Bytes pending;
        Bytes clean;
        for (const Bytes &chunk : row.chunks) {
            const Bytes part = unmarkParityErrors(pending, chunk);
            clean.insert(clean.end(), part.begin(), part.end());
        }
        EXPECT_TRUE(sameBytes(clean, row.expected)) << row.name;
        EXPECT_TRUE(pending.empty()) << row.name;
    }
}

TEST(PortNames, EnvironmentMapsComPorts) {
    ::setenv("MARVALO_COM3", "/dev/ttyUSB0", 1);
    EXPECT_EQ(devicePathFor(3), "/dev/ttyUSB0");
    EXPECT_EQ(describePort(3), "COM 3 (/dev/ttyUSB0)");
    ::unsetenv("MARVALO_COM3");
    EXPECT_EQ(devicePathFor(3), "/dev/ttyS2");
    EXPECT_EQ(devicePathFor(1), "/dev/ttyS0");
}

TEST(TermiosPort, AppliesSettingsAtOpenAndWhileOpen) {
    PtyPair pty;
    TermiosPort port;
    port.setDevicePath(pty.devicePath());
    ASSERT_TRUE(port.setSettings(" 9600,e,7,1").ok());
    ASSERT_TRUE(port.open().ok());
    struct termios tio {};
    ASSERT_EQ(::tcgetattr(port.fd(), &tio), 0);
    // A pty keeps CS8 without parity whatever it is asked; the receive side
    // shows the request was taken.
    EXPECT_TRUE(tio.c_iflag & PARMRK);
    EXPECT_TRUE(tio.c_iflag & INPCK);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));

    ASSERT_TRUE(port.setSettings("19200,N,8,1").ok());
    ASSERT_EQ(::tcgetattr(port.fd(), &tio), 0);
    EXPECT_FALSE(tio.c_iflag & PARMRK);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B19200));

    auto refused = port.setSettings("19200,N,9,1");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, LinkError::Kind::BadSettings);
    EXPECT_EQ(port.settings(), "19200,N,8,1") << "a refused string leaves the old one";
}

TEST(TermiosPort, CloseGivesTheOldLineSettingsBack) {
    PtyPair pty;
    struct termios before {};
    ASSERT_EQ(::tcgetattr(pty.device(), &before), 0);
    TermiosPort port;
    port.setDevicePath(pty.devicePath());
    ASSERT_TRUE(port.setSettings(" 1200,e,7,2").ok());
    ASSERT_TRUE(port.open().ok());
    struct termios during {};
    ASSERT_EQ(::tcgetattr(pty.device(), &during), 0);
    EXPECT_EQ(::cfgetospeed(&during), static_cast<speed_t>(B1200));
    EXPECT_TRUE(during.c_iflag & PARMRK);
    port.close();
    struct termios after {};
    ASSERT_EQ(::tcgetattr(pty.device(), &after), 0);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
}

TEST(TermiosPort, RefusesABusyPort) {
    PtyPair pty;
    TermiosPort first;
    TermiosPort second;
    first.setDevicePath(pty.devicePath());
    second.setDevicePath(pty.devicePath());
    ASSERT_TRUE(first.open().ok());
    auto busy = second.open();
    ASSERT_FALSE(busy.ok());
    EXPECT_EQ(busy.error().kind, LinkError::Kind::Busy);
    EXPECT_NE(busy.error().message().find(pty.devicePath()), std::string::npos);
    EXPECT_FALSE(second.portOpen());
    first.close();
    EXPECT_TRUE(second.open().ok()) << "free again once the first lets go";
}

TEST(TermiosPort, MissingDeviceAndNonSerialFilesAreNamed) {
    // A COM number names its variable; a device given by path has no number.
    const struct {
        bool byPath;
        const char *has;
        const char *hasNot;
    } rows[] = {
        {false, "COM 4 (/dev/marvalo-no-such-port)", "compruebe"},
        {false, "asigne MARVALO_COM4", "compruebe"},
        {true, "abrir /dev/marvalo-no-such-port: no existe", "COM"},
        {true, "compruebe la ruta", "MARVALO_COM"},
    };
    for (const auto &row : rows) {
        TermiosPort missing;
        ASSERT_TRUE(missing.setCommPort(4).ok());
        if (row.byPath)
            missing.setDevicePath("/dev/marvalo-no-such-port");
        else
            ::setenv("MARVALO_COM4", "/dev/marvalo-no-such-port", 1);
        auto absent = missing.open();
        ::unsetenv("MARVALO_COM4");
        ASSERT_FALSE(absent.ok());
        EXPECT_EQ(absent.error().kind, LinkError::Kind::NoSuchPort);
        EXPECT_NE(absent.error().message().find(row.has), std::string::npos)
            << absent.error().message();
        EXPECT_EQ(absent.error().message().find(row.hasNot), std::string::npos)
            << absent.error().message();
    }

    // A held line kept under the number chosen since: advice names that number.
    auto gone = std::make_unique<testing::PtyPair>();
    ::setenv("MARVALO_COM1", gone->devicePath().c_str(), 1);
    ::setenv("MARVALO_COM2", gone->devicePath().c_str(), 1);
    TermiosPort held;
    ASSERT_TRUE(held.prepareExchange().ok());
    held.close();
    ASSERT_TRUE(held.setCommPort(2).ok());
    gone.reset();
    const auto reopened = held.prepareExchange();
    ::unsetenv("MARVALO_COM1");
    ::unsetenv("MARVALO_COM2");
    ASSERT_FALSE(reopened.ok());
    EXPECT_NE(reopened.error().message().find("asigne MARVALO_COM2"), std::string::npos)
        << reopened.error().message();

    // A pty, like a USB adapter, has no RS485 switching in its driver.
    testing::PtyPair pty;
    TermiosPort kernelRs485;
    kernelRs485.setDevicePath(pty.devicePath());
    kernelRs485.setKernelRs485(true);
    auto refusedRs485 = kernelRs485.open();
    ASSERT_FALSE(refusedRs485.ok());
    EXPECT_NE(refusedRs485.error().message().find("cambia de sentido por sí mismo"),
              std::string::npos)
        << refusedRs485.error().message();
    EXPECT_FALSE(kernelRs485.portOpen());

    TermiosPort notTty;
    notTty.setDevicePath("/dev/null");
    auto refused = notTty.open();
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, LinkError::Kind::NotASerialPort);
    EXPECT_FALSE(notTty.portOpen());
}

TEST(TermiosPort, ClearDiscardsWhatArrivedBefore) {
    PtyPair pty;
    TermiosPort port;
    port.setDevicePath(pty.devicePath());
    ASSERT_TRUE(port.open().ok());
    feed(pty.controller(), "stale");
    ASSERT_TRUE(port.discardInput().ok());
    auto nothing = port.readAvailable();
    ASSERT_TRUE(nothing.ok());
    EXPECT_TRUE(nothing.value().empty());

    feed(pty.controller(), std::string("fresh\xff\x00", 7));
    auto fresh = port.readAvailable();
    ASSERT_TRUE(fresh.ok());
    EXPECT_TRUE(sameBytes(fresh.value(), bytesOf(std::string("fresh\xff\x00", 7))));
}

TEST(TermiosPort, WritesEveryByteInOrder) {
    PtyPair pty;
    TermiosPort port;
    port.setDevicePath(pty.devicePath());
    ASSERT_TRUE(port.open().ok());
    Bytes request;
    for (int i = 0; i < 3000; ++i)
        request.push_back(static_cast<std::uint8_t>(i * 7));
    std::thread reader([&] {
        Bytes got;
        std::uint8_t chunk[512];
        for (int tries = 0; tries < 200 && got.size() < request.size(); ++tries) {
            const ssize_t n = ::read(pty.controller(), chunk, sizeof chunk);
            if (n > 0)
                got.insert(got.end(), chunk, chunk + n);
            else
                settle();
        }
        EXPECT_TRUE(sameBytes(got, request));
    });
    EXPECT_TRUE(port.write(request).ok());
    EXPECT_TRUE(port.drain().ok());
    reader.join();
}

TEST(TermiosPort, APtyHasNoRtsLineAndSaysSo) {
    PtyPair pty;
    TermiosPort port;
    port.setDevicePath(pty.devicePath());
    ASSERT_TRUE(port.open().ok());
    auto rts = port.setRts(true);
    ASSERT_FALSE(rts.ok());
    EXPECT_EQ(rts.error().kind, LinkError::Kind::NoRts);
}

TEST(TermiosPort, PortNumberChangesOnlyWhileClosed) {
    PtyPair pty;
    TermiosPort port;
    port.setDevicePath(pty.devicePath());
    ASSERT_TRUE(port.open().ok());
    EXPECT_EQ(port.setCommPort(2).error().kind, LinkError::Kind::PortIsOpen);
    port.close();
    EXPECT_TRUE(port.setCommPort(2).ok());
    EXPECT_EQ(port.setCommPort(6).error().kind, LinkError::Kind::BadPortNumber);
    EXPECT_EQ(port.commPort(), 2);
}

TEST(TermiosPort, APeerThatHangsUpIsReportedNotACrash) {
    PtyPair pty;
    TermiosPort port;
    port.setDevicePath(pty.devicePath());
    ASSERT_TRUE(port.open().ok());
    pty.releaseDevice();
    pty.closeController();
    settle();
    auto read = port.readAvailable();
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().kind, LinkError::Kind::Vanished);
    auto write = port.write(bytesOf("*01D\r"));
    EXPECT_FALSE(write.ok());
    port.close();
    EXPECT_FALSE(port.portOpen());
}

TEST(TermiosPort, PermissionRefusalNamesTheGroupOnlyWhenJoiningItHelps) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to drop to an unprivileged user";
    }
    PtyPair pty;
    struct stat device {};
    ASSERT_EQ(::stat(pty.devicePath().c_str(), &device), 0);
    const struct group *owner = ::getgrgid(device.st_gid);
    ASSERT_NE(owner, nullptr);
    const std::string group = std::string("grupo \"") + owner->gr_name + "\"";
    const std::pair<mode_t, std::string> rows[] = {
        {0660, "debe pertenecer al " + group},
        {0600, "(" + group + ") con permisos 600"},
    };
    for (const auto &[mode, expected] : rows) {
        ASSERT_EQ(::chmod(pty.devicePath().c_str(), mode), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            TermiosPort port;
            port.setDevicePath(pty.devicePath());
            auto opened = port.open();
            const bool named = !opened.ok() &&
                               opened.error().kind == LinkError::Kind::NoPermission &&
                               opened.error().message().find(expected) != std::string::npos;
            ::_exit(named ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "refusal did not say " << expected;
    }
}

TEST(TermiosPort, ClosedPortRefusesIo) {
    TermiosPort port;
    EXPECT_EQ(port.write(bytesOf("x")).error().kind, LinkError::Kind::NotOpen);
    EXPECT_EQ(port.readAvailable().error().kind, LinkError::Kind::NotOpen);
    EXPECT_EQ(port.discardInput().error().kind, LinkError::Kind::NotOpen);
}

TEST(TermiosPort, RtsRestsLowAfterOpenOnARealPort) {
    // Ptys have no modem lines; a bench runs this with a real adapter.
    const char *device = std::getenv("MARVALO_TEST_PORT");
    if (device == nullptr)
        GTEST_SKIP() << "set MARVALO_TEST_PORT to a real serial port to check RTS";
    TermiosPort port;
    port.setDevicePath(device);
    ASSERT_TRUE(port.open().ok());
    int lines = 0;
    ASSERT_EQ(::ioctl(port.fd(), TIOCMGET, &lines), 0);
    EXPECT_EQ(lines & TIOCM_RTS, 0) << "the kernel raised RTS on open and it stayed up";
}

// What a driver answers and what it was asked, for the RS485 test.
struct FakeRs485Driver {
    static inline __u32 answer = 0;
    static inline std::vector<__u32> asked;
    static inline int refusesSetting = 0;  // the errno a change gets, if any
    static int call(int, unsigned long request, struct serial_rs485 *settings) {
        if (request == TIOCGRS485)
            settings->flags = answer;
        else if (refusesSetting != 0)
            return errno = refusesSetting, -1;
        else
            asked.push_back(settings->flags);
        return 0;
    }
};

TEST(TermiosPort, KernelRs485KeepsTheBoardsPolarityAndGivesItBack) {
    // 0x15: enabled, RTS low while sending (rs485-rts-active-low), RX during TX.
    const struct {
        __u32 driverHas, set;
    } rows[] = {{0x15, 0x15}, {0x14, 0x15}, {0x02, 0x03}, {0x00, 0x01}};
    for (const auto &row : rows) {
        PtyPair pty;
        TermiosPort port;
        port.setDevicePath(pty.devicePath());
        port.setKernelRs485(true);
        FakeRs485Driver::answer = row.driverHas;
        FakeRs485Driver::asked.clear();
        port.setRs485Call(&FakeRs485Driver::call);
        ASSERT_TRUE(port.open().ok()) << row.driverHas;
        port.close();
        EXPECT_EQ(FakeRs485Driver::asked, (std::vector<__u32>{row.set, row.driverHas}))
            << "driver had " << row.driverHas;
    }
    PtyPair pty;  // a driver without RS485: named, in Spanish, the errno name after
    TermiosPort port;
    port.setDevicePath(pty.devicePath());
    port.setKernelRs485(true);
    const auto refused = port.open();
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().message().find(pty.devicePath() + ": su controlador no sabe"),
              std::string::npos)
        << refused.error().message();
    EXPECT_NE(refused.error().message().find("(ENOTTY)"), std::string::npos);
    // --rs232 after a run killed with RS485 on: switched off and left off.
    FakeRs485Driver::answer = 0x15;
    FakeRs485Driver::asked.clear();
    TermiosPort plain;
    plain.setDevicePath(pty.devicePath());
    plain.setKernelRs485Off(true);
    plain.setRs485Call(&FakeRs485Driver::call);
    ASSERT_TRUE(plain.open().ok());
    plain.close();
    EXPECT_EQ(FakeRs485Driver::asked, std::vector<__u32>{0x14});
    // A driver that reads its RS485 settings and refuses changing them: the
    // same way out, not the bare system words.
    FakeRs485Driver::refusesSetting = ENOTTY;
    port.setRs485Call(&FakeRs485Driver::call);
    const auto refusedChange = port.open();
    FakeRs485Driver::refusesSetting = 0;
    ASSERT_FALSE(refusedChange.ok());
    EXPECT_NE(refusedChange.error().message().find("úselo como RS232"), std::string::npos)
        << refusedChange.error().message();
}

}  // namespace
}  // namespace marvalo
