#include "panel/ports_window.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <cstdlib>
#include <functional>

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
        {4, "RFC2217://bench-3.laboratorio.example:4001",
         "RFC2217://bench-3.laboratorio.example:4001|servidor rfc2217|al conectar", ""},
        {1, "socket://[::1]:4002", "socket://[::1]:4002|servidor socket|al conectar",
         "USB Serial (1a86:7523), conector USB 1-1.4 queda sin número"},
        {2, "/dev/ttyUSB0", "—||", "\"/dev/ttyUSB0\" no vale: no empieza por rfc2217://"},
    };
    for (const auto &row : servers) {
        typed = row.typed;
        window->findChild<QComboBox *>("cmbNumero")->setCurrentIndex(row.com - 1);
        press("cmdPuertoRed");
        const int at = row.com - 1;
        EXPECT_EQ(text(at, 1) + "|" + text(at, 2) + "|" + text(at, 3), row.shown) << row.typed;
        EXPECT_TRUE(window->findChild<QLabel *>("lblAviso")->text().contains(row.warning));
        EXPECT_GE(numbers->columnWidth(1),
                  static_cast<const QAbstractItemView *>(numbers)->sizeHintForColumn(1))
            << row.typed << " cut";
    }
    numbers->selectRow(2);  // swap COM 3 with COM 2, then free it there
    press("cmdIntercambiar");
    numbers->selectRow(1);
    press("cmdLiberar");
    EXPECT_EQ(text(1, 1) + text(2, 1), "——");
    // A server's entry in doubt is refused on sending, so not shown as usable.
    std::string file = config.read("marvalo-ports.ini");
    config.write("marvalo-ports.ini",
                 file.replace(file.find("[com4]\n"), 7, "[com4]\nkernel_rs485 = yes\n"));
    press("cmdActualizar");
    EXPECT_EQ(text(3, 3), "no se usa");
    // Left unnumbered (a doubt), a serial that is not UTF-8 is found as drawn.
    tree.plugUsb("ttyUSB2", {"0403", "6001", "FTDI", "FT232R", "7\xff", "1-1.7"});
    press("cmdActualizar");
    unnumbered->selectRow(unnumbered->findItems("FT232R,", Qt::MatchContains).at(0)->row());
    window->findChild<QComboBox *>("cmbNumero")->setCurrentIndex(1);
    press("cmdAsignar");
    const auto second = adapterFor(ports.table(), 2, ports.present());
    EXPECT_EQ(second ? second.value()->kernelName : second.error(), "ttyUSB2");
    rig.form->close();
    EXPECT_FALSE(window->isVisible());
}

// A quad adapter with real by-id names, the console and an override, at
// the size F3 opens with.
TEST(PortsWindow, EveryColumnFitsAndTheConsoleAndOverridesStayMarked) {
    testing::FakeSysfs tree;
    for (int port = 0; port < 4; ++port) {
        const std::string name = "ttyUSB" + std::to_string(port);
        tree.plugUsb(name, {"0403", "6011", "FTDI", "Quad RS232-HS", "FT4Q1234", "1-1.2", port});
        tree.byId(name, "usb-FTDI_Quad_RS232-HS_FT4Q1234-if0" + std::to_string(port) + "-port0");
    }
    tree.plugUart("ttyS0", 4);
    tree.setConsole("ttyS0");
    ::setenv("MARVALO_COM5", "/tmp/marvalo-sim-pty", 1);
    testing::TempFolder config;
    BenchPorts ports(config.path() / "marvalo-ports.ini", {tree.sysfs(), tree.dev()});
    testing::PanelRig rig;
    rig.port.setPortMap(ports);
    addPortsWindow(*rig.form, ports);
    rig.form->findChild<QAction *>("actPuertos")->trigger();
    auto *window = rig.form->findChild<PortsWindow *>("frmPuertos");
    auto *numbers = window->findChild<QTableWidget *>("tblPuertos");
    for (QTableWidget *list : {numbers, window->findChild<QTableWidget *>("tblSinNumero")}) {
        const QAbstractItemView *cells = list;
        for (int column = 0; column < list->columnCount(); ++column) {
            const QHeaderView *header = list->horizontalHeader();
            EXPECT_LE(header->sectionViewportPosition(column) + header->sectionSize(column),
                      list->viewport()->width())
                << list->objectName().toStdString() << " column " << column << " off-screen";
            EXPECT_GE(header->sectionSize(column),
                      std::max(header->sectionSizeHint(column), cells->sizeHintForColumn(column)))
                << list->objectName().toStdString() << " column " << column << " cut";
        }
    }
    EXPECT_LE(numbers->rowViewportPosition(4) + numbers->rowHeight(4),
              numbers->viewport()->height())
        << "COM 5 cut";
    EXPECT_EQ(numbers->item(4, 2)->text(), "/tmp/marvalo-sim-pty (MARVALO_COM5)");
    ::unsetenv("MARVALO_COM5");

    int asked = 0;
    window->setConfirm([&](const QString &) { return ++asked == 2; });  // no, then yes
    for (int answer = 1; answer <= 2; ++answer) {
        window->findChild<QTableWidget *>("tblSinNumero")->selectRow(0);
        window->findChild<QComboBox *>("cmbNumero")->setCurrentIndex(4);
        window->findChild<QPushButton *>("cmdAsignar")->click();
        EXPECT_EQ(asked, answer) << "the console is numbered only after a yes";
    }
    EXPECT_EQ(numbers->item(4, 2)->text().toStdString(),
              (tree.dev() / "ttyS0").string() + " (consola del sistema)");
}

// A script changes the table while F3 is open on the row the operator
// chose: the action is refused and says so; it never lands on whatever
// adapter now sits in that row, and questions name the adapter.
TEST(PortsWindow, FollowsTheTableAndActsOnTheAdapterItShowed) {
    const testing::FakeSysfs::Usb kA{"0403", "6001", "FTDI", "FT232R", "A1", "1-1.2"};
    const testing::FakeSysfs::Usb kB{"0403", "6001", "FTDI", "FT232R", "B2", "1-1.3"};
    const struct {
        const char *button;
        std::function<void(BenchPorts &)> script;
        const char *warning;
        std::string comsAfter;    // serials of COM 1..3 afterwards
        bool whileAsked = false;  // the script runs while the question is open
    } rows[] = {
        {"cmdLiberar", [](BenchPorts &p) { ASSERT_TRUE(p.swap(1, 2)); },
         "es ahora FTDI FT232R, nº B2", "B2 A1 -"},
        {"cmdAsignar",
         [](BenchPorts &p) {
             const SerialAdapter a = p.unnumbered().at(0);
             ASSERT_TRUE(p.assign(3, a));
         },
         "nº A1 ya no está entre los adaptadores sin número", "- B2 A1"},
        {"cmdIntercambiar", [](BenchPorts &p) { ASSERT_TRUE(p.release(1)); }, "es ahora nada",
         "- B2 -"},
        {"cmdLiberar", [](BenchPorts &p) { ASSERT_TRUE(p.swap(1, 2)); },
         "el COM 1 ya no es FTDI FT232R, nº A1 sino FTDI FT232R, nº B2", "B2 A1 -", true},
        {"cmdAsignar",  // the console, so F3 asks first
         [](BenchPorts &p) { ASSERT_TRUE(p.assign(3, p.unnumbered().at(0), true)); },
         "nº A1 tiene ya el COM 3", "- B2 A1", true},
        {"cmdIntercambiar", [](BenchPorts &p) { ASSERT_TRUE(p.release(2)); },
         "el COM 2 ya no es FTDI FT232R, nº B2 sino nada", "A1 - -"},
        // The number chosen for an adapter or a server changed too.
        {"cmdAsignar", [](BenchPorts &p) { ASSERT_TRUE(p.release(2)); },
         "el COM 2 ya no es FTDI FT232R, nº B2 sino nada", "- - -"},
        {"cmdPuertoRed", [](BenchPorts &p) { ASSERT_TRUE(p.swap(1, 2)); },
         "el COM 2 ya no es FTDI FT232R, nº B2 sino FTDI FT232R, nº A1", "B2 A1 -"},
    };
    for (const auto &row : rows) {
        testing::FakeSysfs tree;
        tree.plugUsb("ttyUSB0", kA);
        tree.plugUsb("ttyUSB1", kB);
        if (row.whileAsked && std::string(row.button) == "cmdAsignar")
            tree.setConsole("ttyUSB0");
        testing::TempFolder config;
        const auto file = config.path() / "marvalo-ports.ini";
        // A stale name in the table: the column shows the adapter reached now.
        config.write("marvalo-ports.ini", std::string(row.button) == "cmdAsignar"
                                              ? "[released]\nnumbers = 1 3 4 5\n[com2]\nidentity = "
                                                "usb-serial:B2:0\nmake = 0403:6001\nname = viejo\n"
                                              : "");
        BenchPorts ports(file, {tree.sysfs(), tree.dev()});
        BenchPorts script(file, {tree.sysfs(), tree.dev()});
        PortsWindow window(ports);
        window.refresh();
        QStringList asked;
        window.setConfirm([&](const QString &question) {
            asked << question;
            if (row.whileAsked)
                row.script(script);
            return true;
        });
        window.setAskAddress(
            [](const QString &) { return std::optional<QString>("socket://[::1]:4002"); });
        auto *numbers = window.findChild<QTableWidget *>("tblPuertos");
        EXPECT_TRUE(numbers->item(1, 1)->text().contains("nº B2")) << row.button;
        EXPECT_TRUE(window.findChild<QLabel *>("lblTabla")->text().contains(file.c_str()));
        numbers->selectRow(0);
        window.findChild<QTableWidget *>("tblSinNumero")->selectRow(0);
        window.findChild<QComboBox *>("cmbNumero")->setCurrentIndex(1);
        if (!row.whileAsked)
            row.script(script);
        window.findChild<QPushButton *>(row.button)->click();
        EXPECT_TRUE(window.findChild<QLabel *>("lblAviso")->text().contains(row.warning))
            << row.button << ": " << window.findChild<QLabel *>("lblAviso")->text().toStdString();
        std::string coms;
        for (int number = 1; number <= 3; ++number) {
            auto adapter = adapterFor(ports.table(), number, ports.present());
            coms += (number > 1 ? " " : "") + (adapter ? adapter.value()->usb->serial : "-");
        }
        EXPECT_EQ(coms, row.comsAfter) << row.button;
        EXPECT_EQ(asked.size(), row.whileAsked ? 1 : 0) << row.button;
        if (std::string(row.button) == "cmdLiberar" &&
            !row.whileAsked) {  // chosen again, the question names it
            numbers->selectRow(0);
            window.findChild<QPushButton *>(row.button)->click();
            EXPECT_TRUE(asked.value(0).contains("COM 1 (FTDI FT232R, nº B2)"))
                << asked.value(0).toStdString();
        }
    }
}

}  // namespace
}  // namespace marvalo
