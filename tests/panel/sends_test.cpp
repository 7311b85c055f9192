#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTest>

#include "tests/panel_rig.h"
#include "tests/pty_pair.h"

namespace marvalo {
namespace {

using testing::PanelRig;

// Runs the event loop until the timer has ticked `ticks` more times.
void letTimerTick(PanelRig &rig, int ticks) {
    const auto reads = [&] {
        return std::count(rig.log.begin(), rig.log.end(), std::string("read"));
    };
    const auto target = reads() + ticks;
    for (int i = 0; i < 200 && reads() < target; ++i) {
        QTest::qWait(2);
    }
}

TEST(Sends, AnotherProgramOnThePortIsNamedBesideTheVerdict) {
    testing::PtyPair line;
    line.releaseDevice();
    QProcess other;  // a forgotten terminal: holds the port and eats the reply
    other.setStandardInputFile(QString::fromStdString(line.devicePath()));
    other.start("sleep", {"30"});
    ASSERT_TRUE(other.waitForStarted());
    ::setenv("MARVALO_COM1", line.devicePath().c_str(), 1);
    PanelRig rig;
    std::vector<std::string> said;
    QObject::connect(rig.form.get(), &Form1::exchanged, [&](const ExchangeRecord &record) {
        said.push_back(record.warning.value_or(""));
    });
    rig.click("cmdEnviar");
    rig.click("cmdEnvioContinuado");
    letTimerTick(rig, 2);
    rig.click("cmdEnvioContinuado");
    const std::string named = "el puerto lo tiene abierto también sleep (pid " +
                              std::to_string(other.processId()) +
                              "), que puede llevarse la respuesta";
    EXPECT_EQ(said.front(), named);
    EXPECT_EQ(said.back(), named) << "continuous sending, after silence";
    EXPECT_TRUE(rig.label("lblCOM")->toolTip().toStdString().ends_with("Aviso: " + named + "."));
    EXPECT_TRUE(rig.warnings.isEmpty()) << "a warning, never a refusal";
    ::unsetenv("MARVALO_COM1");
}

TEST(Sends, SingleSendShowsTheReplyRenderedPerProtocol) {
    PanelRig korvel("000140\r\n");
    korvel.port.queueReply(bytesOf("<b>1</b>\r"));
    korvel.click("cmdEnviar");
    EXPECT_EQ(korvel.label("lblDisplay")->text(), "<b>1</b>\r") << "plain text, never markup";

    PanelRig modbus("000142\r\n");
    modbus.textBox("txtCadena")->setText("0");
    modbus.textBox("txtNWord")->setText("1");
    modbus.port.queueReply({1, 3, 2, 0, 10});
    modbus.click("cmdEnviar");
    EXPECT_EQ(modbus.label("lblDisplay")->text(), "1.3.2.0.10.");
    EXPECT_EQ(modbus.log.front(), "open");
    EXPECT_EQ(modbus.log[2], "write 01 03 00 00 00 01 84 0A");

    PanelRig latin("000130\r\n");
    latin.port.queueReply({0x02, 0xB0, 0x03});
    latin.click("cmdEnviar");
    EXPECT_EQ(latin.label("lblDisplay")->text(), QString::fromUtf8("\x02°\x03"));
}

TEST(Sends, EmptySingleReplyClearsTheDisplay) {
    PanelRig rig;
    rig.port.queueReply(bytesOf("first"));
    rig.click("cmdEnviar");
    ASSERT_EQ(rig.label("lblDisplay")->text(), "first");
    rig.click("cmdEnviar");
    EXPECT_EQ(rig.label("lblDisplay")->text(), "");
    EXPECT_EQ(rig.label("Label2")->text(), "");
    EXPECT_FALSE(rig.port.portOpen());
}

TEST(Sends, ContinuousCountsSilenceAndKeepsTheDisplay) {
    PanelRig rig;
    rig.port.queueReply(bytesOf("shown"));
    rig.click("cmdEnviar");
    rig.click("cmdEnvioContinuado");
    EXPECT_TRUE(rig.timer()->isActive());
    EXPECT_EQ(rig.button("cmdEnvioContinuado")->text(), "Envio Continuado");
    letTimerTick(rig, 3);
    rig.click("cmdEnvioContinuado");
    EXPECT_FALSE(rig.timer()->isActive());
    const int counted = rig.form->noReplyCount();
    EXPECT_GE(counted, 3);
    EXPECT_EQ(rig.label("Label2")->text(), QString::number(counted));
    EXPECT_EQ(rig.label("lblDisplay")->text(), "shown");
    EXPECT_TRUE(rig.port.portOpen()) << "left open after a silent continuous exchange";

    // Restarting keeps counting from where it stopped.
    rig.click("cmdEnvioContinuado");
    letTimerTick(rig, 1);
    rig.click("cmdEnvioContinuado");
    EXPECT_GT(rig.form->noReplyCount(), counted);
    EXPECT_EQ(rig.label("Label2")->text(), QString::number(rig.form->noReplyCount()));
}

TEST(Sends, RejectedInputWritesNothingAndNamesTheInput) {
    PanelRig rig("000142\r\n");
    rig.textBox("txtCadena")->setText("512");
    rig.textBox("txtNWord")->setText("1");
    rig.click("cmdEnviar");
    EXPECT_FALSE(rig.wrote());
    EXPECT_TRUE(rig.log.empty()) << "the port is not even opened";
    ASSERT_EQ(rig.warnings.size(), 1);
    EXPECT_TRUE(rig.warnings[0].contains("entre 0 y 511")) << rig.warnings[0].toStdString();

    rig.textBox("txtCadena")->setText("0");
    rig.pick("Combo1", 1);
    rig.textBox("txtNWord")->setText("2");
    rig.textBox("txtDatos")->setText("1;2;300");
    rig.click("cmdEnviar");
    EXPECT_FALSE(rig.wrote());
    ASSERT_EQ(rig.warnings.size(), 2);
    EXPECT_TRUE(rig.warnings[1].contains("\"300\""));
}

TEST(Sends, FailureDuringContinuousSendingStopsTheTimerAndWarnsOnce) {
    PanelRig rig;
    rig.click("cmdEnvioContinuado");
    letTimerTick(rig, 2);
    rig.port.failNext(FakePort::Op::Read, LinkError::Kind::Vanished);
    letTimerTick(rig, 1);
    QTest::qWait(20);
    EXPECT_FALSE(rig.timer()->isActive());
    EXPECT_EQ(rig.warnings.size(), 1);
    EXPECT_FALSE(rig.port.portOpen());
}

TEST(Sends, ARealWarningBoxDoesNotLetTheTimerRunBehindIt) {
    PanelRig rig;
    rig.form->setWarningSink({});  // the real box
    int boxes = 0;
    int readsWhileBoxOpen = -1;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            ++boxes;
            const auto reads = std::count(rig.log.begin(), rig.log.end(), std::string("read"));
            QTest::qWait(50);
            readsWhileBoxOpen = static_cast<int>(
                std::count(rig.log.begin(), rig.log.end(), std::string("read")) - reads);
            box->accept();
        }
    });
    closer.start(10);
    rig.click("cmdEnvioContinuado");
    letTimerTick(rig, 1);
    // A single send between two ticks fails: its box must not let the timer
    // fire exchanges behind it. (A box opened from a tick is safe anyway: Qt
    // does not deliver a timer inside its own slot.)
    rig.port.failNext(FakePort::Op::Write, LinkError::Kind::Vanished);
    rig.click("cmdEnviar");
    for (int i = 0; i < 50 && boxes == 0; ++i)
        QTest::qWait(10);
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(readsWhileBoxOpen, 0);
    EXPECT_FALSE(rig.timer()->isActive());
}

TEST(Sends, EditsDuringContinuousSendingReachTheNextTick) {
    PanelRig rig("000142\r\n");
    rig.textBox("txtCadena")->setText("0");
    rig.textBox("txtNWord")->setText("1");
    rig.click("cmdEnvioContinuado");
    letTimerTick(rig, 1);
    rig.textBox("txtNWord")->setText("2");
    rig.log.clear();
    letTimerTick(rig, 1);
    rig.click("cmdEnvioContinuado");
    EXPECT_NE(std::find(rig.log.begin(), rig.log.end(), "write 01 03 00 00 00 02 C4 0B"),
              rig.log.end());
}

TEST(Sends, ClosingTheWindowStopsTheTimerSavesThenReleasesThePort) {
    PanelRig rig;
    rig.click("cmdEnvioContinuado");
    letTimerTick(rig, 1);
    ASSERT_TRUE(rig.port.portOpen());
    rig.form->close();
    EXPECT_FALSE(rig.timer()->isActive());
    EXPECT_FALSE(rig.port.portOpen());
    EXPECT_EQ(rig.folder.read("Comini.sdx"), "000140\r\n");
    const auto reads = std::count(rig.log.begin(), rig.log.end(), std::string("read"));
    QTest::qWait(20);
    EXPECT_EQ(std::count(rig.log.begin(), rig.log.end(), std::string("read")), reads);
}

}  // namespace
}  // namespace marvalo
