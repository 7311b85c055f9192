#include "panel/ports_window.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/text/byte_text.h"
#include "panel/form1.h"
#include "ports/bench_ports.h"

namespace marvalo {
namespace {

enum NumberColumn { Number, Adapter, Device, Present, KernelRs485, NumberColumns };
enum OtherColumn { OtherAdapter, OtherDevice, OtherDriver, OtherColumns };

QTableWidget *table(QWidget *parent, const char *name, const QStringList &headers) {
    auto *shown = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    shown->setObjectName(name);
    shown->setHorizontalHeaderLabels(headers);
    shown->verticalHeader()->hide();
    shown->setSelectionBehavior(QAbstractItemView::SelectRows);
    shown->setSelectionMode(QAbstractItemView::SingleSelection);
    shown->setEditTriggers(QAbstractItemView::NoEditTriggers);
    shown->horizontalHeader()->setStretchLastSection(true);
    return shown;
}

QTableWidgetItem *cell(const std::string &text) {
    return new QTableWidgetItem(QString::fromStdString(safeText(text)));
}

std::string deviceText(const SerialAdapter &adapter) {
    return adapter.byId.empty() ? adapter.device : adapter.device + " (" + adapter.byId + ")";
}

}  // namespace

PortsWindow::PortsWindow(BenchPorts &ports, QWidget *parent)
    : QWidget(parent, Qt::Window), ports_(ports) {
    setObjectName("frmPuertos");
    setWindowTitle("Puertos serie");
    setAttribute(Qt::WA_QuitOnClose, false);
    numbers_ = table(this, "tblPuertos",
                     {"COM", "Adaptador", "Dispositivo", "Conectado", "RS485 del núcleo"});
    unnumbered_ = table(this, "tblSinNumero", {"Adaptador sin número", "Dispositivo", "Driver"});
    target_ = new QComboBox(this);
    target_->setObjectName("cmbNumero");
    for (int number = 1; number <= kComNumbers; ++number)
        target_->addItem("COM " + QString::number(number));
    auto button = [this](const char *name, const char *text) {
        auto *made = new QPushButton(QString::fromUtf8(text), this);
        made->setObjectName(name);
        return made;
    };
    QPushButton *assign = button("cmdAsignar", "Asignar el adaptador sin número");
    QPushButton *swap = button("cmdIntercambiar", "Intercambiar con");
    QPushButton *release = button("cmdLiberar", "Liberar el número");
    QPushButton *update = button("cmdActualizar", "Actualizar");

    auto *actions = new QHBoxLayout;
    actions->addWidget(new QLabel("Número:", this));
    actions->addWidget(target_);
    actions->addWidget(assign);
    actions->addWidget(swap);
    actions->addWidget(release);
    actions->addStretch();
    actions->addWidget(update);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(numbers_);
    layout->addWidget(unnumbered_);
    layout->addLayout(actions);
    auto *note = new QLabel(
        QString::fromUtf8("Los cambios valen desde el próximo envío. \"RS485 del núcleo\": "
                          "el controlador cambia el transceptor (TIOCSRS485) en lugar del "
                          "RTS temporizado del panel; los adaptadores USB suelen rechazarlo."),
        this);
    note->setWordWrap(true);
    layout->addWidget(note);
    resize(820, 420);

    connect(assign, &QPushButton::clicked, this, [this] {
        const int row = unnumbered_->currentRow();
        const auto without = ports_.unnumbered();
        if (row < 0 || row >= static_cast<int>(without.size()))
            return;
        ports_.assign(chosenNumber(), without[static_cast<std::size_t>(row)]);
        fill();
    });
    connect(swap, &QPushButton::clicked, this, [this] {
        if (const int selected = selectedNumber(); selected > 0) {
            ports_.swap(selected, chosenNumber());
            fill();
        }
    });
    connect(release, &QPushButton::clicked, this, [this] {
        if (const int selected = selectedNumber(); selected > 0) {
            ports_.release(selected);
            fill();
        }
    });
    connect(update, &QPushButton::clicked, this, &PortsWindow::refresh);
    connect(numbers_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        if (item->column() == KernelRs485)
            ports_.setKernelRs485(item->row() + 1, item->checkState() == Qt::Checked);
    });
    fill();
}

void PortsWindow::refresh() {
    ports_.refresh();
    fill();
}

void PortsWindow::fill() {
    const QSignalBlocker quiet(numbers_);
    const PortsTable &table = ports_.table();
    numbers_->setRowCount(kComNumbers);
    for (int number = 1; number <= kComNumbers; ++number) {
        const int row = number - 1;
        const auto &slot = table.at(number);
        const SerialAdapter *adapter = adapterAt(table, number, ports_.present());
        numbers_->setItem(row, Number, cell("COM " + std::to_string(number)));
        numbers_->setItem(row, Adapter, cell(slot ? slot->name : "—"));
        numbers_->setItem(row, Device, cell(adapter ? deviceText(*adapter) : ""));
        numbers_->setItem(row, Present, cell(!slot ? "" : adapter ? "sí" : "no"));
        auto *kernel = cell("");
        kernel->setFlags(slot ? Qt::ItemIsUserCheckable | Qt::ItemIsEnabled : Qt::NoItemFlags);
        kernel->setCheckState(slot && slot->kernelRs485 ? Qt::Checked : Qt::Unchecked);
        numbers_->setItem(row, KernelRs485, kernel);
    }
    const auto without = ports_.unnumbered();
    unnumbered_->setRowCount(static_cast<int>(without.size()));
    for (std::size_t i = 0; i < without.size(); ++i) {
        const int row = static_cast<int>(i);
        unnumbered_->setItem(
            row, OtherAdapter,
            cell(adapterName(without[i]) + (without[i].console ? " (consola del sistema)" : "")));
        unnumbered_->setItem(row, OtherDevice, cell(deviceText(without[i])));
        unnumbered_->setItem(row, OtherDriver, cell(without[i].driver));
    }
    numbers_->resizeColumnsToContents();
    unnumbered_->resizeColumnsToContents();
}

int PortsWindow::selectedNumber() const {
    const int row = numbers_->currentRow();
    return row >= 0 && row < kComNumbers ? row + 1 : 0;
}

int PortsWindow::chosenNumber() const {
    return target_->currentIndex() + 1;
}

void addPortsWindow(Form1 &form, BenchPorts &ports) {
    auto *open = new QAction(QString::fromUtf8("Puertos serie…"), &form);
    open->setObjectName("actPuertos");
    open->setShortcut(Qt::Key_F3);
    open->setShortcutContext(Qt::WindowShortcut);
    auto *window = new PortsWindow(ports, &form);
    QObject::connect(open, &QAction::triggered, window, [window] {
        window->refresh();
        window->show();
        window->raise();
        window->activateWindow();
    });
    QObject::connect(&form, &Form1::unloading, window, &QWidget::close);
    form.addAction(open);
    form.setContextMenuPolicy(Qt::ActionsContextMenu);
}

}  // namespace marvalo
