#include "panel/monitor_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSettings>
#include <QShowEvent>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

#include "core/record_csv.h"
#include "panel/cached_text_delegate.h"

namespace marvalo {
namespace {

constexpr int kDefaultWidth = 1180;
constexpr int kDefaultHeight = 420;

}  // namespace

MonitorWindow::MonitorWindow(MonitorModel &model, QString stateFile, QWidget *parent)
    : QWidget(parent, Qt::Window), stateFile_(std::move(stateFile)), model_(model) {
    setObjectName("frmMonitor");
    setWindowTitle(QString::fromUtf8("Monitor de línea"));
    // The panel is the program: closing it ends the program, monitor or not.
    setAttribute(Qt::WA_QuitOnClose, false);
    problems_.setSourceModel(&model_);
    buildControls();
    restoreState();
    refreshStatistics();
}

MonitorWindow::~MonitorWindow() {
    saveState();
}

void MonitorWindow::buildControls() {
    auto *buttons = new QHBoxLayout;
    problemsOnly_ = new QCheckBox("Solo problemas", this);
    problemsOnly_->setObjectName("chkSoloProblemas");
    textOnly_ = new QCheckBox("Solo texto", this);
    textOnly_->setObjectName("chkSoloTexto");
    auto *clear = new QPushButton("Borrar", this);
    clear->setObjectName("cmdBorrar");
    auto *copy = new QPushButton("Copiar", this);
    copy->setObjectName("cmdCopiar");
    auto *save = new QPushButton(QString::fromUtf8("Guardar…"), this);
    save->setObjectName("cmdGuardar");
    buttons->addWidget(problemsOnly_);
    buttons->addWidget(textOnly_);
    buttons->addStretch();
    buttons->addWidget(clear);
    buttons->addWidget(copy);
    buttons->addWidget(save);

    table_ = new QTableView(this);
    table_->setObjectName("tblIntercambios");
    table_->setModel(&model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(false);
    table_->setItemDelegate(new CachedTextDelegate(MonitorModel::kTextKeyRole, table_));
    table_->verticalHeader()->hide();
    // Fixed row heights: nothing is measured per row, however many there are.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {45, 90, 65, 250, 300, 65, 70};
    for (int column = 0; column < static_cast<int>(std::size(widths)); ++column)
        table_->setColumnWidth(column, widths[column]);

    statistics_ = new QLabel(this);
    statistics_->setObjectName("lblEstadisticas");
    statistics_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(table_);
    layout->addWidget(statistics_);
    resize(kDefaultWidth, kDefaultHeight);

    connect(problemsOnly_, &QCheckBox::toggled, this, &MonitorWindow::onProblemsOnlyToggled);
    connect(textOnly_, &QCheckBox::toggled, this, [this](bool only) { model_.setTextOnly(only); });
    connect(clear, &QPushButton::clicked, this, [this] {
        model_.clear();
        followNewest_ = true;
    });
    connect(&model_, &QAbstractItemModel::rowsInserted, this, &MonitorWindow::refreshStatistics);
    connect(&model_, &QAbstractItemModel::modelReset, this, &MonitorWindow::refreshStatistics);
    connect(copy, &QPushButton::clicked, this, &MonitorWindow::onCopyRequested);
    connect(save, &QPushButton::clicked, this, &MonitorWindow::onSaveRequested);
    // The newest row stays in sight unless the operator has scrolled away
    // from it to read an older one.
    connect(table_->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { followNewest_ = value == table_->verticalScrollBar()->maximum(); });
}

void MonitorWindow::refreshStatistics() {
    statistics_->setText(statisticsLine(model_.stats(), model_.dropped()));
}

void MonitorWindow::onProblemsOnlyToggled(bool only) {
    // The filter sits in front of the rows only while it is wanted, so the
    // everyday view pays nothing for it.
    table_->setModel(only ? static_cast<QAbstractItemModel *>(&problems_)
                          : static_cast<QAbstractItemModel *>(&model_));
    table_->scrollToBottom();
    followNewest_ = true;
}

QString MonitorWindow::selectedRowsText() const {
    QStringList lines;
    const QAbstractItemModel *shown = table_->model();
    QModelIndexList rows = table_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    for (const QModelIndex &row : rows) {
        QStringList cells;
        for (int column = 0; column < MonitorModel::ColumnCount; ++column)
            cells << shown->index(row.row(), column).data().toString();
        lines << cells.join('\t');
    }
    return lines.join('\n');
}

void MonitorWindow::onCopyRequested() {
    QApplication::clipboard()->setText(selectedRowsText());
}

std::optional<QString> MonitorWindow::saveCsv(const QString &path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return QString::fromUtf8("No se pudo crear \"%1\": %2").arg(path, file.errorString());
    }
    std::string text = recordCsvHeader();
    for (int row = 0; row < model_.rowCount(); ++row)
        text += recordCsvLine(model_.record(row));
    if (file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit()) {
        return QString::fromUtf8(
                   "No se pudo escribir \"%1\": %2. Ningún archivo a medias quedó "
                   "en su lugar.")
            .arg(path, file.errorString());
    }
    return std::nullopt;
}

void MonitorWindow::onSaveRequested() {
    const QString path = QFileDialog::getSaveFileName(
        this, QString::fromUtf8("Guardar intercambios"), "intercambios.csv", "CSV (*.csv)");
    if (path.isEmpty())
        return;
    if (auto problem = saveCsv(path))
        QMessageBox::warning(this, windowTitle(), *problem);
}

void MonitorWindow::restoreState() {
    QSettings state(stateFile_, QSettings::IniFormat);
    if (state.contains("geometry"))
        restoreGeometry(state.value("geometry").toByteArray());
    if (state.contains("columns"))
        table_->horizontalHeader()->restoreState(state.value("columns").toByteArray());
    textOnly_->setChecked(state.value("textOnly", false).toBool());
}

void MonitorWindow::saveState() const {
    if (!everShown_)
        return;
    QSettings state(stateFile_, QSettings::IniFormat);
    state.setValue("geometry", saveGeometry());
    state.setValue("columns", table_->horizontalHeader()->saveState());
    state.setValue("textOnly", textOnly_->isChecked());
}

void MonitorWindow::showEvent(QShowEvent *event) {
    everShown_ = true;
    QWidget::showEvent(event);
}

void MonitorWindow::closeEvent(QCloseEvent *event) {
    saveState();
    event->accept();
}

}  // namespace marvalo
