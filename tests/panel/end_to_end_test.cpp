// The window on the real termios layer, against marvalo-sim on a pty.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

#include "app/startup.h"
#include "link/sleeper.h"
#include "link/termios_port.h"
#include "panel/form1.h"
#include "tests/panel_rig.h"
#include "tests/sim_process.h"

namespace marvalo {
namespace {

TEST(PanelEndToEnd, EnviarShowsTheSimulatorsReplyUnderEachProtocol) {
    testing::SimProcess sim;
    ::setenv("MARVALO_COM1", sim.devicePath().c_str(), 1);
    testing::TempFolder folder;
    folder.write("Comini.sdx", "000140\r\n");  // COM 1, 19200, Korvel
    TermiosPort port;
    ThreadSleeper sleeper;
    Form1 form(port, sleeper);
    QStringList warnings;
    form.setWarningSink([&](const QString &message) { warnings << message; });
    ASSERT_FALSE(startUp(form, folder.path()).has_value());

    auto *display = form.findChild<QLabel *>("lblDisplay");
    auto *send = form.findChild<QPushButton *>("cmdEnviar");
    auto *protocol = form.findChild<QPushButton *>("cmdProt");

    QTest::mouseClick(send, Qt::LeftButton);
    EXPECT_EQ(display->text(), "01D+0023.4\r");

    QTest::mouseClick(protocol, Qt::LeftButton);  // ISO 1745
    QTest::mouseClick(send, Qt::LeftButton);
    EXPECT_EQ(display->text(),
              "\x02"
              "0D+0023.4\x03G");

    QTest::mouseClick(protocol, Qt::LeftButton);  // Modbus
    form.findChild<QLineEdit *>("txtCadena")->setText("0");
    form.findChild<QLineEdit *>("txtNWord")->setText("2");
    QTest::mouseClick(send, Qt::LeftButton);
    EXPECT_EQ(display->text(), "1.3.4.0.0.0.1.59.243.");

    EXPECT_TRUE(warnings.isEmpty()) << warnings.join("\n").toStdString();
    EXPECT_FALSE(port.portOpen());
    ::unsetenv("MARVALO_COM1");
}

TEST(PanelEndToEnd, AMissingPortIsNamedAndNothingChanges) {
    ::setenv("MARVALO_COM5", "/dev/marvalo-unplugged", 1);
    testing::TempFolder folder;
    folder.write("Comini.sdx", "040140\r\n");  // COM 5
    TermiosPort port;
    ThreadSleeper sleeper;
    Form1 form(port, sleeper);
    QStringList warnings;
    form.setWarningSink([&](const QString &message) { warnings << message; });
    (void)startUp(form, folder.path());
    QTest::mouseClick(form.findChild<QPushButton *>("cmdEnviar"), Qt::LeftButton);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains("COM 5 (/dev/marvalo-unplugged)"))
        << warnings[0].toStdString();
    EXPECT_EQ(form.findChild<QLabel *>("lblDisplay")->text(), "");
    EXPECT_FALSE(port.portOpen());
    ::unsetenv("MARVALO_COM5");
}

}  // namespace
}  // namespace marvalo
