#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>

#include "link/sleeper.h"
#include "panel/form_layout.h"
#include "tests/panel_rig.h"

namespace marvalo {
namespace {

using testing::PanelRig;

QStringList itemsOf(QComboBox *list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

TEST(Layout, WindowAsCreatedBeforeStartUp) {
    OperationLog log;
    FakePort port(log);
    FakeSleeper sleeper(log);
    Form1 form(port, sleeper);
    EXPECT_EQ(form.windowTitle(), "Marvalo");
    EXPECT_EQ(form.size(), QSize(632, 433));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "fixed size";
    EXPECT_FALSE(form.windowIcon().isNull());

    for (const char *hidden : {"Frame2", "txtNWord", "frmFunciones", "Datos", "lblmensaje"}) {
        auto *control = form.findChild<QWidget *>(hidden);
        ASSERT_NE(control, nullptr) << hidden;
        EXPECT_TRUE(control->isHidden()) << hidden;
    }
    for (const char *shown :
         {"Combo1", "txtDatos", "lblDisplay", "Label2", "cmdEnviar", "Image1"}) {
        EXPECT_FALSE(form.findChild<QWidget *>(shown)->isHidden()) << shown;
    }
    auto *timer = form.findChild<QTimer *>("Timer1");
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1);
    EXPECT_EQ(form.findChild<QComboBox *>("cmbID")->count(), 0);
    EXPECT_EQ(form.findChild<QLabel *>("Label1")->text(), "Protocolo 1745");
    EXPECT_TRUE(log.empty()) << "creating the window touches no port";
}

TEST(Layout, ListItemsExactlyAsStored) {
    PanelRig rig;
    EXPECT_EQ(itemsOf(rig.list("cmbCOM")), (QStringList{" 1", " 2  ", " 3", " 4", " 5"}));
    EXPECT_EQ(itemsOf(rig.list("cmbBaudRate")),
              (QStringList{" 1200", " 2400", " 4800", " 9600", "19200"}));
    EXPECT_EQ(itemsOf(rig.list("Combo1")),
              (QStringList{"Leer n Palabras", "Escribir Variables de Prog  ", "Forzar Estado",
                           "Leer(0x04)"}));
    const QStringList addresses = itemsOf(rig.list("cmbID"));
    ASSERT_EQ(addresses.size(), 100);
    EXPECT_EQ(addresses.first(), "00");
    EXPECT_EQ(addresses[7], "07");
    EXPECT_EQ(addresses.last(), "99");
    for (const char *name : {"cmbCOM", "cmbID", "cmbBaudRate", "Combo1"}) {
        EXPECT_FALSE(rig.list(name)->isEditable()) << name;
        EXPECT_GE(rig.list(name)->currentIndex(), 0) << name << " has a selection";
    }
}

TEST(Layout, Command2HidesBeneathCmdRsAndHoldsTheFocus) {
    PanelRig rig;
    rig.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.form.get()));
    QWidget *command2 = rig.button("Command2");
    QWidget *cmdRS = rig.button("cmdRS");
    EXPECT_TRUE(cmdRS->geometry().contains(command2->geometry()));
    EXPECT_EQ(rig.form->childAt(command2->geometry().center()), cmdRS);
    EXPECT_EQ(QApplication::focusWidget(), command2);

    rig.log.clear();
    const QString display = rig.label("lblDisplay")->text();
    QTest::keyClick(command2, Qt::Key_Space);
    EXPECT_TRUE(rig.log.empty());
    EXPECT_EQ(rig.label("lblDisplay")->text(), display);
    EXPECT_TRUE(rig.warnings.isEmpty());
}

TEST(Layout, TabOrderFollowsTheDesign) {
    PanelRig rig;
    const QStringList expected{"Command2", "cmdEnviar", "cmbBaudRate", "cmbID",
                               "cmbCOM",   "cmdRS",     "cmdProt",     "txtCadena",
                               "txtNWord", "Combo1",    "txtDatos",    "cmdEnvioContinuado"};
    QStringList order;
    QWidget *at = rig.button("Command2");
    for (int i = 0; i < expected.size(); ++i) {
        order << at->objectName();
        do {
            at = at->nextInFocusChain();
        } while (at->focusPolicy() == Qt::NoFocus || !expected.contains(at->objectName()));
    }
    EXPECT_EQ(order, expected);
}

TEST(Layout, PlacesComeFromTwipsAndFramesHoldTheirControls) {
    PanelRig rig;
    EXPECT_EQ(rig.label("lblDisplay")->geometry(), QRect(24, 40, 393, 41));
    EXPECT_EQ(rig.list("cmbCOM")->parentWidget(), rig.frame("frmCom"));
    EXPECT_EQ(rig.list("cmbCOM")->geometry(), QRect(24, 16, 57, 21));
    EXPECT_EQ(rig.textBox("txtDatos")->parentWidget(), rig.frame("Datos"));
    EXPECT_EQ(rig.list("Combo1")->parentWidget(), rig.frame("frmFunciones"));
    EXPECT_EQ(rig.textBox("txtNWord")->parentWidget(), rig.frame("Frame2"));
    // Every control but Command2 and the cmdRS it hides under stands clear
    // of its siblings.
    const QList<QWidget *> top = rig.form->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *a : top) {
        for (QWidget *b : top) {
            if (a >= b || a->objectName().isEmpty() || b->objectName().isEmpty())
                continue;
            const QSet<QString> pair{a->objectName(), b->objectName()};
            if (pair == QSet<QString>{"Command2", "cmdRS"})
                continue;
            EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                << a->objectName().toStdString() << " overlaps " << b->objectName().toStdString();
        }
    }
}

TEST(Layout, FontsColoursAndPlainText) {
    PanelRig rig;
    QLabel *display = rig.label("lblDisplay");
    EXPECT_EQ(display->font().family(), "Arial");
    EXPECT_DOUBLE_EQ(display->font().pointSizeF(), 21.75);
    EXPECT_EQ(display->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(display->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_TRUE(display->alignment() & Qt::AlignHCenter);
    EXPECT_DOUBLE_EQ(rig.label("Label2")->font().pointSizeF(), 12);
    EXPECT_EQ(rig.label("Label2")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(rig.label("lblRS")->font().family(), "MS Sans Serif");
    EXPECT_DOUBLE_EQ(rig.label("lblRS")->font().pointSizeF(), 18);
    EXPECT_DOUBLE_EQ(rig.label("Label1")->font().pointSizeF(), 13.5);
    EXPECT_TRUE(rig.label("lblmensaje")->font().bold());
    EXPECT_DOUBLE_EQ(rig.button("cmdProt")->font().pointSizeF(), 9.75);
    EXPECT_EQ(rig.label("lblmensaje")->text(), "Separese cada byte mediante \";\"");
    EXPECT_EQ(rig.label("lblmensaje")->text().size(), 31);
    // The substitute face must really be there, or text falls back to anything.
    EXPECT_TRUE(QFontInfo(display->font()).family().contains("Liberation", Qt::CaseInsensitive) ||
                QFontInfo(display->font()).family().contains("Arial", Qt::CaseInsensitive))
        << QFontInfo(display->font()).family().toStdString();
    for (const char *name :
         {"lblDisplay", "Label2", "lblRS", "lblCOM", "lblID", "lblBaudRate", "Label1"}) {
        EXPECT_EQ(rig.label(name)->textFormat(), Qt::PlainText) << name;
    }
}

TEST(Layout, PortLabelTooltipNamesTheDevice) {
    ::setenv("MARVALO_COM2", "/dev/ttyUSB7", 1);
    PanelRig rig;
    rig.form->setListSelection(rig.list("cmbCOM"), 1);
    EXPECT_EQ(rig.label("lblCOM")->toolTip(), "COM 2: /dev/ttyUSB7");
    ::unsetenv("MARVALO_COM2");
}

}  // namespace
}  // namespace marvalo
