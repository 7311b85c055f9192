#include "panel/ports_window.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/net/server_address.h"
#include "core/text/byte_text.h"
#include "panel/form1.h"
#include "ports/bench_ports.h"

namespace marvalo {
namespace {

enum NumberColumn { Number, Adapter, Device, Present, Bound, KernelRs485, NumberColumns };
enum OtherColumn { OtherAdapter, OtherDevice, OtherDriver, OtherColumns };
constexpr int kWidth = 980;
constexpr int kHeight = 500;
constexpr const char *kConsoleMark = " (consola del sistema)";

std::string comText(int number) {
    return "COM " + std::to_string(number);
}

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

QTableWidgetItem *cell(const std::string &text, const std::string &tip = {}) {
    auto *item = new QTableWidgetItem(QString::fromStdString(safeText(text)));
    if (!tip.empty())
        item->setToolTip(QString::fromStdString(safeText(tip)));
    return item;
}

// The device only; the long /dev/serial/by-id name goes in the tooltip so
// that every column fits.
QTableWidgetItem *deviceCell(const SerialAdapter &adapter) {
    return cell(adapter.device + (adapter.console ? kConsoleMark : ""), adapter.byId);
}

}  // namespace

PortsWindow::PortsWindow(BenchPorts &ports, QWidget *parent)
    : QWidget(parent, Qt::Window), ports_(ports) {
    setObjectName("frmPuertos");
    setWindowTitle("Puertos serie");
    setAttribute(Qt::WA_QuitOnClose, false);
    confirm_ = [this](const QString &question) {
        return QMessageBox::question(this, windowTitle(), question) == QMessageBox::Yes;
    };
    askAddress_ = [this](const QString &question) -> std::optional<QString> {
        bool given = false;
        const QString text = QInputDialog::getText(this, windowTitle(), question, QLineEdit::Normal,
                                                   QString(), &given);
        return given ? std::optional(text.trimmed()) : std::nullopt;
    };
    numbers_ = table(this, "tblPuertos",
                     {"COM", "Adaptador", "Dispositivo", "Conectado", "Enlace",
                      QString::fromUtf8("RS485 del núcleo")});
    unnumbered_ = table(this, "tblSinNumero",
                        {QString::fromUtf8("Adaptador sin número"), "Dispositivo", "Controlador"});
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
    QPushButton *bind = button("cmdEnlace", "Por adaptador / por conector USB");
    QPushButton *network = button("cmdPuertoRed", "Añadir puerto de red…");
    QPushButton *update = button("cmdActualizar", "Actualizar");
    warning_ = new QLabel(this);
    warning_->setObjectName("lblAviso");
    warning_->setWordWrap(true);
    warning_->setStyleSheet("color: #b00000");

    auto *actions = new QHBoxLayout;
    actions->addWidget(new QLabel(QString::fromUtf8("Número:"), this));
    actions->addWidget(target_);
    actions->addWidget(assign);
    actions->addWidget(swap);
    actions->addWidget(release);
    actions->addWidget(bind);
    actions->addWidget(network);
    actions->addStretch();
    actions->addWidget(update);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(numbers_);
    layout->addWidget(unnumbered_);
    layout->addLayout(actions);
    layout->addWidget(warning_);
    tableFile_ = new QLabel(this);
    tableFile_->setObjectName("lblTabla");
    tableFile_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(tableFile_);
    auto *note = new QLabel(
        QString::fromUtf8(
            "Los cambios valen desde el próximo envío. \"Enlace\": por adaptador, el número "
            "sigue al adaptador en cualquier conector; por conector USB, vale lo que se "
            "enchufe en ese conector (un utillaje de producción). \"RS485 del núcleo\": el "
            "controlador cambia el transceptor (TIOCSRS485) en lugar del RTS temporizado del "
            "panel; los adaptadores USB suelen rechazarlo."),
        this);
    note->setWordWrap(true);
    layout->addWidget(note);
    resize(kWidth, kHeight);

    connect(assign, &QPushButton::clicked, this, [this] {
        const auto chosen = stillChosenAdapter();
        if (!chosen)
            return;
        const SerialAdapter &adapter = *chosen;
        const bool console = adapter.console &&
                             confirm_(QString::fromStdString(safeText(
                                 adapter.device + " es la consola del sistema. ¿Darle el COM " +
                                 std::to_string(chosenNumber()) +
                                 " de todos modos? Todo lo que se envíe a ese número llegará a la "
                                 "consola.")));
        if (adapter.console && !console)
            return;
        // The question may have stayed open while another program numbered
        // the adapter or gave the number to another.
        auto assigned = ports_.assign(chosenNumber(), adapter, console,
                                      AsSeen{{shownNumber(chosenNumber())}, adapter});
        done(assigned ? "" : assigned.error(), assigned ? assigned.value().text : "");
    });
    connect(swap, &QPushButton::clicked, this, [this] {
        const int selected = stillChosenNumber();
        if (selected == 0)
            return;
        // Both numbers as the rows showed them, checked again under the table's lock.
        auto swapped = ports_.swap(selected, chosenNumber(),
                                   AsSeen{{seenNumber(selected), shownNumber(chosenNumber())}, {}});
        done(swapped ? "" : swapped.error());
    });
    connect(release, &QPushButton::clicked, this, [this] {
        const int selected = stillChosenNumber();
        if (selected == 0)
            return;
        const SeenNumber seen = seenNumber(selected);
        if (!confirm_(QString::fromStdString(
                safeText("¿Liberar el " + comText(selected) + " (" + seen.name +
                         ")? Quedará vacío hasta que le asigne otro adaptador."))))
            return;
        // Freed only if it still stands for what the question named.
        auto freed = ports_.release(selected, AsSeen{{seen}, {}});
        done(freed ? "" : freed.error());
    });
    connect(bind, &QPushButton::clicked, this, [this] {
        const int selected = stillChosenNumber();
        if (selected == 0)
            return;
        if (!ports_.table().at(selected))
            return done("Elija primero un número con adaptador.");
        if (serverFor(ports_.table(), selected))
            return done("El COM " + std::to_string(selected) +
                        " es un servidor serie: no tiene adaptador ni conector USB que enlazar.");
        const bool byPort = ports_.table().at(selected)->binding() == Binding::UsbPort;
        auto bound = ports_.bind(selected, byPort ? Binding::Adapter : Binding::UsbPort,
                                 AsSeen{{seenNumber(selected)}, {}});
        done(bound ? "" : bound.error());
    });
    connect(network, &QPushButton::clicked, this, [this] {
        const int number = chosenNumber();
        const auto address =
            askAddress_(QString::fromUtf8("Dirección del servidor serie para el COM %1 "
                                          "(rfc2217://SERVIDOR:PUERTO o socket://SERVIDOR:PUERTO):")
                            .arg(number));
        if (!address)
            return;
        auto parsed = net::parseServerAddress(address->toStdString());
        if (!parsed)
            return done(parsed.error());
        auto assigned =
            ports_.assignServer(number, parsed.value(), AsSeen{{shownNumber(number)}, {}});
        done(assigned ? "" : assigned.error(), assigned ? assigned.value().text : "");
    });
    connect(update, &QPushButton::clicked, this, &PortsWindow::refresh);
    connect(numbers_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        if (item->column() != KernelRs485)
            return;
        const bool on = item->checkState() == Qt::Checked;
        numbers_->setCurrentCell(item->row(), Number);
        if (stillChosenNumber() == 0)
            return;
        auto set =
            ports_.setKernelRs485(item->row() + 1, on, AsSeen{{seenNumber(item->row() + 1)}, {}});
        done(set ? "" : set.error());
    });
    fill();
}

void PortsWindow::done(const std::string &failure, const std::string &said) {
    // A refusal may come from a table changed under the window: shown as it is now.
    if (!failure.empty())
        ports_.refresh();
    warning_->setText(QString::fromStdString(safeText(failure.empty() ? said : failure)));
    fill();
}

SeenNumber PortsWindow::seenNumber(int number) const {
    const auto &slot = ports_.table().at(number);
    return {number, slot ? slot->identity : PortIdentity(),
            numberName(ports_.table(), number, ports_.present())};
}

SeenNumber PortsWindow::shownNumber(int number) const {
    return shownNumbers_.at(static_cast<std::size_t>(number - 1));
}

void PortsWindow::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        reread();
}

void PortsWindow::reread() {
    ports_.refresh();
    if (auto problem = ports_.takeProblem())
        warning_->setText(QString::fromStdString(safeText(*problem)));
    fill();
}

int PortsWindow::stillChosenNumber() {
    const int selected = selectedNumber();
    if (selected == 0) {
        done("Elija primero un número en la lista.");
        return 0;
    }
    const PortIdentity shown = shownNumber(selected).identity;
    ports_.refresh();
    const auto &slot = ports_.table().at(selected);
    if (shown == (slot ? slot->identity : PortIdentity()))
        return selected;
    done("La tabla de puertos cambió mientras estaba abierta: el " + comText(selected) +
         " es ahora " + numberName(ports_.table(), selected, ports_.present()) +
         ". No se hizo nada; vuelva a elegir.");
    return 0;
}

std::optional<SerialAdapter> PortsWindow::stillChosenAdapter() {
    const int row = unnumbered_->currentRow();
    if (row < 0 || unnumbered_->selectedItems().isEmpty()) {
        done("Elija primero un adaptador sin número.");
        return std::nullopt;
    }
    const SerialAdapter shown = shownUnnumbered_.at(static_cast<std::size_t>(row));
    ports_.refresh();
    for (const SerialAdapter &adapter : ports_.unnumbered()) {
        if (adapterIdentity(adapter) == adapterIdentity(shown) && adapter.device == shown.device)
            return adapter;
    }
    done(safeText(unnumbered_->item(row, OtherAdapter)->text().toStdString()) +
         " ya no está entre los adaptadores sin número (se desconectó o se le dio un número "
         "mientras la ventana estaba abierta). No se hizo nada; vuelva a elegir.");
    return std::nullopt;
}

void PortsWindow::refresh() {
    ports_.refresh();
    warning_->setText(
        QString::fromStdString(safeText(ports_.takeProblem().value_or(std::string()))));
    fill();
    numbers_->setCurrentItem(nullptr);
    numbers_->clearSelection();
    unnumbered_->setCurrentItem(nullptr);
    unnumbered_->clearSelection();
}

void PortsWindow::fill() {
    const QSignalBlocker quiet(numbers_);
    const PortsTable &table = ports_.table();
    numbers_->setRowCount(kComNumbers);
    for (int number = 1; number <= kComNumbers; ++number) {
        const int row = number - 1;
        const auto &slot = table.at(number);
        auto adapter = adapterFor(table, number, ports_.present());
        const auto mapped = BenchPorts::overrideFor(number);
        // A number that stands for a serial server, not an adapter: nothing to
        // find plugged in, and whether it answers is known only on connecting.
        const auto server = serverFor(table, number);
        const std::string refusal = adapter || server ? std::string() : adapter.error();
        shownNumbers_.at(static_cast<std::size_t>(row)) =
            SeenNumber{number, slot ? slot->identity : PortIdentity(),
                       numberName(table, number, ports_.present())};
        numbers_->setItem(row, Number, cell(comText(number)));
        // The adapter the number reaches now, not the name it was given.
        numbers_->setItem(row, Adapter,
                          cell(adapter                      ? adapterName(*adapter.value())
                               : slot                       ? slot->name
                               : table.doubts.count(number) ? "(dañada)"
                                                            : "—",
                               refusal));
        if (mapped)
            numbers_->setItem(row, Device,
                              cell(*mapped + " (MARVALO_COM" + std::to_string(number) + ")"));
        else if (server)
            numbers_->setItem(
                row, Device,
                cell(std::string("servidor ") + server->kindName(), server->hostPort()));
        else
            numbers_->setItem(row, Device, adapter ? deviceCell(*adapter.value()) : cell(""));
        const std::string present = mapped                                  ? "sí"
                                    : adapter                               ? "sí"
                                    : server                                ? "al conectar"
                                    : !slot && !table.doubts.count(number)  ? ""
                                    : refusal.starts_with("su adaptador (") ? "no"
                                                                            : "no se usa";
        numbers_->setItem(row, Present, cell(present, refusal));
        numbers_->setItem(row, Bound,
                          cell(!slot || server                       ? ""
                               : slot->binding() == Binding::UsbPort ? "por conector USB"
                                                                     : "por adaptador"));
        auto *kernel = cell("");
        kernel->setFlags(slot && !server ? Qt::ItemIsUserCheckable | Qt::ItemIsEnabled
                                         : Qt::NoItemFlags);
        kernel->setCheckState(slot && slot->kernelRs485 ? Qt::Checked : Qt::Unchecked);
        numbers_->setItem(row, KernelRs485, kernel);
    }
    const auto without = ports_.unnumbered();
    unnumbered_->setRowCount(static_cast<int>(without.size()));
    for (std::size_t i = 0; i < without.size(); ++i) {
        const int row = static_cast<int>(i);
        unnumbered_->setItem(
            row, OtherAdapter,
            cell(adapterName(without[i]) + (without[i].console ? kConsoleMark : "")));
        unnumbered_->setItem(row, OtherDevice, deviceCell(without[i]));
        unnumbered_->setItem(row, OtherDriver, cell(without[i].driver));
    }
    shownUnnumbered_ = without;
    tableFile_->setText(QString::fromStdString("Tabla: " + safeText(ports_.tableFile().string())));
    if (!sized_) {
        numbers_->resizeColumnsToContents();
        unnumbered_->resizeColumnsToContents();
        sized_ = true;
    }
    // Widths the operator set stay; a longer text than any before (a
    // server's address) widens its column rather than being cut.
    for (QTableWidget *shown : {numbers_, unnumbered_}) {
        for (int column = 0; column < shown->columnCount(); ++column) {
            const int needed =
                static_cast<const QAbstractItemView *>(shown)->sizeHintForColumn(column);
            if (shown->columnWidth(column) < needed)
                shown->setColumnWidth(column, needed);
        }
    }
}

int PortsWindow::selectedNumber() const {
    if (numbers_->selectedItems().isEmpty())
        return 0;
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
    // Made at the first F3: its tables cost the panel's start-up otherwise,
    // for a window most sessions never open.
    QObject::connect(open, &QAction::triggered, &form, [&form, &ports] {
        auto *window = form.findChild<PortsWindow *>("frmPuertos", Qt::FindDirectChildrenOnly);
        if (window == nullptr) {
            window = new PortsWindow(ports, &form);
            QObject::connect(&form, &Form1::unloading, window, &QWidget::close);
        }
        window->refresh();
        window->show();
        window->raise();
        window->activateWindow();
    });
    form.addAction(open);
    form.setContextMenuPolicy(Qt::ActionsContextMenu);
}

}  // namespace marvalo
