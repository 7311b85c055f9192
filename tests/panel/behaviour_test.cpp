#include <gtest/gtest.h>

#include <algorithm>

#include "tests/panel_rig.h"

namespace marvalo {
namespace {

using testing::PanelRig;

constexpr const char *kKorvel19200 = "000140\r\n";
constexpr const char *kIso9600 = "000131\r\n";
constexpr const char *kModbus9600 = "000132\r\n";

TEST(Behaviour, PortHandlerClosesThePortAndSetsTheNumberFromTheIndex) {
    PanelRig rig(kKorvel19200);
    ASSERT_TRUE(rig.port.open().ok());
    rig.pick("cmbCOM", 2);
    EXPECT_EQ(rig.port.commPort(), 3);
    EXPECT_EQ(rig.label("lblCOM")->text(), "COM 3");
    EXPECT_FALSE(rig.port.portOpen());
    // The second item's text carries blanks; the caption comes from the index.
    rig.pick("cmbCOM", 1);
    EXPECT_EQ(rig.label("lblCOM")->text(), "COM 2");
    EXPECT_EQ(rig.port.commPort(), 2);
    EXPECT_FALSE(rig.port.portOpen()) << "left closed for the next exchange to open";
}

TEST(Behaviour, EveryPickRunsItsHandlerOnceTheChosenItemToo) {
    PanelRig rig(kKorvel19200);
    for (const char *name : {"cmbCOM", "cmbBaudRate"}) {
        for (const int index : {rig.list(name)->currentIndex(), 0}) {
            ASSERT_TRUE(rig.port.open().ok());
            rig.log.clear();
            rig.pick(name, index);
            EXPECT_EQ(std::count(rig.log.begin(), rig.log.end(), "close"), 1)
                << name << " item " << index;
            EXPECT_FALSE(rig.port.portOpen()) << name << " item " << index;
        }
    }
}

TEST(Behaviour, BaudHandlerBuildsTheSettingsString) {
    const struct {
        const char *settings;
        int baud;
        const char *expected;
        const char *caption;
    } rows[] = {
        {kIso9600, 4, "19200,e,7,1", "19200"},
        {kKorvel19200, 3, " 9600,N,8,1", " 9600"},
        {kKorvel19200, 4, "19200,N,8,1", "19200"},
        {kModbus9600, 0, " 1200,N,8,1", " 1200"},
    };
    for (const auto &row : rows) {
        PanelRig rig(row.settings);
        ASSERT_TRUE(rig.port.open().ok());
        rig.form->setListSelection(rig.list("cmbBaudRate"), row.baud);
        EXPECT_EQ(rig.port.settings(), row.expected) << row.settings;
        EXPECT_EQ(rig.label("lblBaudRate")->text(), row.caption);
        EXPECT_FALSE(rig.port.portOpen());
    }
    PanelRig iso(kIso9600);
    iso.form->setListSelection(iso.list("cmbBaudRate"), 3);
    EXPECT_EQ(iso.port.settings(), " 9600,e,7,1");
    EXPECT_EQ(iso.label("lblBaudRate")->text(), " 9600");
}

TEST(Behaviour, ThreePressesBringTheStartingViewBackWithSmallN) {
    PanelRig rig(kKorvel19200);
    rig.form->setListSelection(rig.list("cmbBaudRate"), 4);
    ASSERT_EQ(rig.port.settings(), "19200,N,8,1");
    const struct {
        const char *label1;
        const char *settings;
        const char *instruction;
        const char *frame1;
        bool modbusShown;
    } views[] = {
        {"ISO 1745", "19200,e,7,1", "0D", "Instruc. a enviar", false},
        {"Modbus", "19200,n,8,1", "", "Direc. 1 Palabra", true},
        {"Korvel", "19200,n,8,1", "D", "Instruc. a enviar", false},
    };
    for (const auto &view : views) {
        rig.click("cmdProt");
        EXPECT_EQ(rig.label("Label1")->text(), view.label1);
        EXPECT_EQ(rig.port.settings(), view.settings) << view.label1;
        EXPECT_EQ(rig.textBox("txtCadena")->text(), view.instruction) << view.label1;
        EXPECT_EQ(rig.frame("Frame1")->title(), view.frame1) << view.label1;
        EXPECT_EQ(!rig.frame("Frame2")->isHidden(), view.modbusShown) << view.label1;
        EXPECT_EQ(!rig.textBox("txtNWord")->isHidden(), view.modbusShown) << view.label1;
        EXPECT_EQ(!rig.frame("frmFunciones")->isHidden(), view.modbusShown) << view.label1;
    }
    EXPECT_EQ(rig.form->state().protocol, 0);
}

TEST(Behaviour, ProtocolButtonLeavesThePortAsItWas) {
    for (bool open : {false, true}) {
        PanelRig rig(kKorvel19200);
        if (open) {
            ASSERT_TRUE(rig.port.open().ok());
        }
        rig.click("cmdProt");
        EXPECT_EQ(rig.port.portOpen(), open);
        EXPECT_EQ(rig.port.settings(), "19200,e,7,1");
    }
}

TEST(Behaviour, DataInputFollowsTheFunctionOnlyAndSurvivesProtocolChanges) {
    PanelRig rig(kModbus9600);
    rig.textBox("txtNWord")->setText("2");
    rig.textBox("txtDatos")->setText("0;100");
    for (int function : {1, 2}) {
        rig.pick("Combo1", function);
        EXPECT_FALSE(rig.frame("Datos")->isHidden());
        EXPECT_FALSE(rig.label("lblmensaje")->isHidden());
    }
    rig.click("cmdProt");  // to Korvel
    EXPECT_FALSE(rig.frame("Datos")->isHidden()) << "only the function handler hides it";
    EXPECT_FALSE(rig.label("lblmensaje")->isHidden());
    EXPECT_TRUE(rig.frame("frmFunciones")->isHidden());
    rig.textBox("txtCadena")->setText("typed");
    rig.click("cmdProt");  // to ISO 1745
    EXPECT_EQ(rig.textBox("txtCadena")->text(), "0D") << "replaces what the operator typed";
    rig.click("cmdProt");  // back to Modbus
    EXPECT_EQ(rig.textBox("txtCadena")->text(), "");
    EXPECT_EQ(rig.textBox("txtNWord")->text(), "2");
    EXPECT_EQ(rig.textBox("txtDatos")->text(), "0;100");
    EXPECT_EQ(rig.list("Combo1")->currentIndex(), 2);

    for (int function : {0, 3}) {
        rig.pick("Combo1", function);
        EXPECT_TRUE(rig.frame("Datos")->isHidden());
        EXPECT_TRUE(rig.label("lblmensaje")->isHidden());
    }
}

TEST(Behaviour, StoredValuesOutsideTheTables) {
    PanelRig rig(kKorvel19200);
    rig.form->state().protocol = 7;
    const QString label1 = rig.label("Label1")->text();
    const std::string settings = rig.port.settings();
    rig.click("cmdProt");
    EXPECT_EQ(rig.form->state().protocol, 7);
    EXPECT_EQ(rig.label("Label1")->text(), label1);
    EXPECT_EQ(rig.port.settings(), settings);

    rig.form->state().linkType = 5;
    rig.click("cmdRS");
    EXPECT_EQ(rig.label("lblRS")->text(), "RS232");
    EXPECT_EQ(rig.form->state().linkType, 0);
    rig.click("cmdRS");
    EXPECT_EQ(rig.label("lblRS")->text(), "RS485");
    EXPECT_EQ(rig.form->state().linkType, 1);
    EXPECT_TRUE(rig.log.empty()) << "the link button never touches the port";
}

TEST(Behaviour, AddressHandlerAndAListWithoutSelection) {
    PanelRig rig(kKorvel19200);
    rig.pick("cmbID", 42);
    EXPECT_EQ(rig.label("lblID")->text(), "42");
    const int port = rig.port.commPort();
    rig.pick("cmbCOM", -1);
    rig.pick("cmbID", -1);
    EXPECT_EQ(rig.label("lblCOM")->text(), "COM 1");
    EXPECT_EQ(rig.label("lblID")->text(), "42");
    EXPECT_EQ(rig.port.commPort(), port);
    EXPECT_TRUE(rig.log.empty());
    rig.pick("Combo1", 1);
    rig.pick("Combo1", -1);
    EXPECT_TRUE(rig.frame("Datos")->isHidden());
}

TEST(Behaviour, BaudChangeMovesTheHoldButNotTheWait) {
    PanelRig rig("100130\r\n");  // RS485, 9600 at start-up, Korvel
    rig.form->setListSelection(rig.list("cmbBaudRate"), 0);
    rig.log.clear();
    rig.port.queueReply(bytesOf("01D+0023.4\r"));
    rig.click("cmdEnviar");
    EXPECT_EQ(rig.port.settings(), " 1200,N,8,1");
    const OperationLog expected{"open",     "clear", "rts on",  "sleep 50", "write 2A 30 31 44 0D",
                                "sleep 80", "drain", "rts off", "clear",    "sleep 1171",
                                "read",     "close"};
    EXPECT_EQ(rig.log, expected);
}

}  // namespace
}  // namespace marvalo
