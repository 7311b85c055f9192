#include "panel/ports_window.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include "ports/bench_ports.h"
#include "tests/fake_sysfs.h"
#include "tests/panel_rig.h"

namespace marvalo {
namespace {

TEST(PortsWindow, NamesTheAdaptersAndChangesTheNumbers) {
    testing::FakeSysfs tree;
    tree.plugUsb("ttyUSB0", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "1-1.2"});
    tree.plugUsb("ttyUSB1", {"1a86", "7523", "", "USB Serial", "", "1-1.4", 0, "ch341-uart"});
    testing::TempFolder config;
    BenchPorts ports(config.path() / "marvalo-ports.ini", {tree.sysfs(), tree.dev()});
    testing::PanelRig rig;
    rig.port.setPortMap(ports);
    addPortsWindow(*rig.form, ports);
    rig.form->setListSelection(rig.list("cmbCOM"), 0);
    EXPECT_EQ(rig.label("lblCOM")->toolTip().toStdString(),
              "COM 1: FTDI FT232R USB UART, nº A50285BI, " + (tree.dev() / "ttyUSB0").string() +
                  ", latencia 16 ms");

    rig.form->findChild<QAction *>("actPuertos")->trigger();
    auto *window = rig.form->findChild<PortsWindow *>("frmPuertos");
    ASSERT_TRUE(window && window->isVisible());
    QStringList asked;
    bool answer = false;
    window->setConfirm([&](const QString &question) {
        asked << question;
        return answer;
    });
    auto *numbers = window->findChild<QTableWidget *>("tblPuertos");
    auto *unnumbered = window->findChild<QTableWidget *>("tblSinNumero");
    auto text = [&](int row, int column) {
        return numbers->item(row, column)->text().toStdString();
    };
    EXPECT_EQ(text(1, 1), "USB Serial (1a86:7523), conector USB 1-1.4");
    EXPECT_EQ(numbers->currentRow(), -1) << "no row chosen for the operator";
    EXPECT_EQ(text(1, 4), "por conector USB") << "no serial number: known by its connector";
    EXPECT_EQ(text(1, 3), "sí");
    EXPECT_EQ(text(2, 1), "—");

    auto press = [&](const char *name) { window->findChild<QPushButton *>(name)->click(); };
    numbers->selectRow(0);
    window->findChild<QComboBox *>("cmbNumero")->setCurrentIndex(1);
    press("cmdIntercambiar");
    EXPECT_EQ(text(0, 1), "USB Serial (1a86:7523), conector USB 1-1.4")
        << "COM 1 and COM 2 swapped";
    EXPECT_EQ(ports.table().at(2)->name, "FTDI FT232R USB UART, nº A50285BI");
    numbers->selectRow(1);
    const int width = numbers->columnWidth(1);
    press("cmdLiberar");
    EXPECT_TRUE(ports.table().at(2)) << "the operator said no";
    answer = true;
    press("cmdLiberar");
    EXPECT_EQ(asked.size(), 2);
    EXPECT_FALSE(ports.table().at(2));
    EXPECT_EQ(numbers->columnWidth(1), width) << "widths kept";
    ASSERT_EQ(unnumbered->rowCount(), 1);
    unnumbered->selectRow(0);
    window->findChild<QComboBox *>("cmbNumero")->setCurrentIndex(4);
    press("cmdAsignar");
    EXPECT_EQ(ports.table().at(5)->name, "FTDI FT232R USB UART, nº A50285BI");
    numbers->item(4, 5)->setCheckState(Qt::Checked);
    EXPECT_TRUE(ports.table().at(5)->kernelRs485);
    QString typed;
    window->setAskAddress([&](const QString &) { return std::optional(typed); });
    const struct {
        int com;
        const char *typed, *shown, *warning;
    } servers[] = {
        {3, "rfc2217://[::1]:4001", "rfc2217://[::1]:4001|servidor rfc2217|al conectar", ""},
        {2, "/dev/ttyUSB0", "—||", "\"/dev/ttyUSB0\" no vale: no empieza por rfc2217://"},
    };
    for (const auto &row : servers) {
        typed = row.typed;
        window->findChild<QComboBox *>("cmbNumero")->setCurrentIndex(row.com - 1);
        press("cmdPuertoRed");
        const int at = row.com - 1;
        EXPECT_EQ(text(at, 1) + "|" + text(at, 2) + "|" + text(at, 3), row.shown) << row.typed;
        EXPECT_TRUE(window->findChild<QLabel *>("lblAviso")->text().contains(row.warning));
    }
    numbers->selectRow(2);  // swap COM 3 with COM 2, then free it there
    press("cmdIntercambiar");
    numbers->selectRow(1);
    press("cmdLiberar");
    EXPECT_EQ(text(1, 1) + text(2, 1), "——");
    rig.form->close();
    EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace marvalo
