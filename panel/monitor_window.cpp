#include "panel/monitor_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

#include "core/records/pcapng.h"
#include "core/records/record_csv.h"
#include "files/atomic_save.h"
#include "files/monitor_state.h"
#include "panel/cached_text_delegate.h"
#include "panel/wrapping_row.h"

namespace marvalo {
namespace {

constexpr int kDefaultWidth = 1180;
constexpr int kDefaultHeight = 760;

// The statistics line changes with every batch of exchanges; its place does
// not: one line, as wide as the window. A label sized by its text lays the
// text out again and the whole window with it at every change. Its text
// is drawn as a plain label draws it while none of it is selected: the
// document that selecting needs is laid out several times over at every
// paint, which costs more than the rest of the window's batch.
class StatisticsLine : public QLabel {
  public:
    using QLabel::QLabel;
    QSize sizeHint() const override {
        if (!lineHeight_)
            lineHeight_ = QLabel::sizeHint().height();
        return {0, *lineHeight_};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    // Another font or style gives the line another height.
    void changeEvent(QEvent *event) override {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            lineHeight_.reset();
        QLabel::changeEvent(event);
    }
    void paintEvent(QPaintEvent *event) override {
        if (hasSelectedText()) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter painter(this);
        style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                              isEnabled(), text(), foregroundRole());
    }

  private:
    mutable std::optional<int> lineHeight_;
};

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
    auto *saveCapture = new QPushButton(QString::fromUtf8("Guardar captura…"), this);
    saveCapture->setObjectName("cmdGuardarCaptura");
    format_ = new QComboBox(this);
    format_->setObjectName("cmbFormato");
    format_->setToolTip(QString::fromUtf8("Cómo se muestran los registros de una lectura Modbus"));
    for (const std::string &view : registerViewNames())
        format_->addItem(QString::fromStdString(view));
    series_ = new QComboBox(this);
    series_->setObjectName("cmbGrafica");
    series_->addItem(QString::fromUtf8("Gráfica: retardo del 1er byte"));
    series_->addItem(QString::fromUtf8("Gráfica: valor del registro"));
    register_ = new QComboBox(this);
    register_->setObjectName("cmbRegistro");
    register_->setToolTip(QString::fromUtf8("Registro de la gráfica: solo los que se han leído"));
    register_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    register_->setEnabled(false);
    auto *views = new QWidget(this);
    auto *viewsLine = new QHBoxLayout(views);
    viewsLine->setContentsMargins(0, 0, 0, 0);
    for (QWidget *control :
         std::initializer_list<QWidget *>{problemsOnly_, textOnly_, format_, series_, register_})
        viewsLine->addWidget(control);
    auto *actions = new QWidget(this);
    auto *actionsLine = new QHBoxLayout(actions);
    actionsLine->setContentsMargins(0, 0, 0, 0);
    for (QWidget *action : {clear, copy, save, saveCapture})
        actionsLine->addWidget(action);
    auto *buttons = new WrappingRow(views, actions, this);

    table_ = new FollowingTableView(this);
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
    // "Valores" stretches over what is left: at the default size it keeps
    // room for a few registers.
    // "Nº" holds the ring's whole count and more: a row numbered 1000000
    // still reads whole.
    const int number = table_->fontMetrics().horizontalAdvance(QString(7, QChar('0'))) + 12;
    const int widths[] = {std::max(45, number), 90, 65, 170, 230, 65, 70, 170};
    for (int column = 0; column < static_cast<int>(std::size(widths)); ++column)
        table_->setColumnWidth(column, widths[column]);

    statistics_ = new StatisticsLine(this);
    statistics_->setObjectName("lblEstadisticas");
    statistics_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    pane_ = new FramePane(this);
    chart_ = new ResponseChart(model_, this);
    auto *split = new QSplitter(Qt::Vertical, this);
    split->setObjectName("splMonitor");
    split->addWidget(table_);
    split->addWidget(pane_);
    split->addWidget(chart_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setStretchFactor(2, 2);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(buttons);
    layout->addWidget(split);
    layout->addWidget(statistics_);
    resize(kDefaultWidth, kDefaultHeight);

    connect(problemsOnly_, &QCheckBox::toggled, this, &MonitorWindow::onProblemsOnlyToggled);
    connect(textOnly_, &QCheckBox::toggled, this, [this](bool only) { model_.setTextOnly(only); });
    connect(clear, &QPushButton::clicked, this, [this] {
        model_.clear();
        table_->followNewest();
    });
    // With the table and the chart, in the same batch: the three name the
    // same newest exchange. A closed window catches up as it shows.
    connect(&model_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (isVisible())
            refreshStatistics();
    });
    connect(&model_, &QAbstractItemModel::modelReset, this, &MonitorWindow::refreshStatistics);
    // The pane shows only an exchange still in the table.
    connect(&model_, &QAbstractItemModel::modelReset, this, &MonitorWindow::showSelected);
    connect(&model_, &QAbstractItemModel::rowsRemoved, this, &MonitorWindow::showSelected);
    connect(copy, &QPushButton::clicked, this, &MonitorWindow::onCopyRequested);
    connect(save, &QPushButton::clicked, this, &MonitorWindow::onSaveRequested);
    connect(saveCapture, &QPushButton::clicked, this, &MonitorWindow::onSaveCaptureRequested);
    connect(format_, &QComboBox::currentTextChanged, this, [this](const QString &text) {
        if (auto view = parseRegisterView(text.toStdString()))
            model_.setRegisterView(view.value());
        showSelected();
    });
    connect(series_, &QComboBox::currentIndexChanged, this, &MonitorWindow::chartSeries);
    connect(register_, &QComboBox::currentIndexChanged, this, &MonitorWindow::chartSeries);
    connect(chart_, &ResponseChart::registersChanged, this, &MonitorWindow::offerRegisters);
    connect(chart_, &ResponseChart::rowClicked, this, &MonitorWindow::selectRow);
    watchSelection();
    offerRegisters();
}

void MonitorWindow::chartSeries() {
    const bool registerValue = series_->currentIndex() == kRegisterSeries;
    register_->setEnabled(registerValue && register_->count() > 0);
    chart_->setSeries(
        registerValue ? ResponseChart::Series::Register : ResponseChart::Series::FirstByte,
        register_->count() > 0 ? register_->currentData().toInt() : -1);
}

void MonitorWindow::offerRegisters() {
    // The register charted stays chosen while it is still offered; else
    // the first one read.
    const QVariant chosen = register_->currentData();
    const QSignalBlocker quiet(register_);
    register_->clear();
    for (const int number : chart_->registers())
        register_->addItem(QString("reg %1").arg(number), number);
    const int kept = register_->findData(chosen);
    register_->setCurrentIndex(kept >= 0 ? kept : 0);
    chartSeries();
}

void MonitorWindow::watchSelection() {
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &MonitorWindow::showSelected);
}

int MonitorWindow::selectedRow() const {
    const QModelIndex current = table_->selectionModel()->currentIndex();
    if (!current.isValid())
        return -1;
    return table_->model() == &problems_ ? problems_.mapToSource(current).row() : current.row();
}

void MonitorWindow::showSelected() {
    const int row = selectedRow();
    pane_->showRecord(row >= 0 && row < model_.rowCount() ? &model_.record(row) : nullptr,
                      model_.registerView());
}

void MonitorWindow::selectRow(int row) {
    QModelIndex index = model_.index(row, 0);
    if (table_->model() == &problems_)
        index = problems_.mapFromSource(index);
    if (!index.isValid())
        return;  // filtered out of sight
    table_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    table_->scrollTo(index);
}

std::optional<QString> MonitorWindow::saveCapture(const QString &path) {
    std::vector<const ExchangeRecord *> records;
    for (int row = 0; row < model_.rowCount(); ++row)
        records.push_back(&model_.record(row));
    return saveAndRemember(path, pcapngCapture(records));
}

std::optional<QString> MonitorWindow::saveAndRemember(const QString &path,
                                                      const std::string &content) {
    auto saved = saveAtomically(QFile::encodeName(path).toStdString(), content);
    if (!saved) {
        return QString::fromUtf8(
                   "No se pudo guardar \"%1\": %2. Ningún archivo a medias quedó "
                   "en su lugar.")
            .arg(path, QString::fromStdString(saved.error()));
    }
    state_.saveFolder = QFile::encodeName(QFileInfo(path).absolutePath()).toStdString();
    return std::nullopt;
}

void MonitorWindow::onSaveCaptureRequested() {
    const QString path = QFileDialog::getSaveFileName(
        this, QString::fromUtf8("Guardar captura"),
        QFileInfo(saveDialogStart()).dir().filePath("intercambios.pcapng"), "pcapng (*.pcapng)");
    if (path.isEmpty())
        return;
    if (auto problem = saveCapture(path))
        QMessageBox::warning(this, windowTitle(), *problem);
}

void MonitorWindow::refreshStatistics() {
    statistics_->setText(statisticsLine(model_.stats(), model_.dropped()));
}

void MonitorWindow::onProblemsOnlyToggled(bool only) {
    // The filter sits in front of the rows only while it is wanted, so the
    // everyday view pays nothing for it.
    table_->setModel(only ? static_cast<QAbstractItemModel *>(&problems_)
                          : static_cast<QAbstractItemModel *>(&model_));
    watchSelection();  // a new model brings a new selection model
    showSelected();
    table_->followNewest();
}

QString MonitorWindow::selectedRowsText() const {
    QStringList lines;
    const QAbstractItemModel *shown = table_->model();
    QModelIndexList rows = table_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    for (const QModelIndex &row : rows) {
        QStringList cells;
        // A cell a spreadsheet would run as a formula gets its apostrophe.
        for (int column = 0; column < MonitorModel::ColumnCount; ++column)
            cells << QString::fromStdString(
                spreadsheetSafe(shown->index(row.row(), column).data().toString().toStdString()));
        lines << cells.join('\t');
    }
    return lines.join('\n');
}

void MonitorWindow::onCopyRequested() {
    QApplication::clipboard()->setText(selectedRowsText());
}

std::optional<QString> MonitorWindow::saveCsv(const QString &path, CsvStyle style) {
    std::string text = recordCsvHeader(style);
    for (int row = 0; row < model_.rowCount(); ++row)
        text += recordCsvLine(model_.record(row), style);
    return saveAndRemember(path, text);
}

CsvStyle MonitorWindow::localCsvStyle() {
    return csvStyleFor(QLocale().decimalPoint().toStdString());
}

void MonitorWindow::onSaveRequested() {
    const QString decimalComma = QString::fromUtf8("CSV con coma decimal, separado por ; (*.csv)");
    const QString plain = QString::fromUtf8("CSV con punto decimal, separado por , (*.csv)");
    QString chosen = localCsvStyle() == CsvStyle::DecimalComma ? decimalComma : plain;
    const QString path = QFileDialog::getSaveFileName(
        this, QString::fromUtf8("Guardar intercambios"), saveDialogStart(),
        chosen == decimalComma ? decimalComma + ";;" + plain : plain + ";;" + decimalComma,
        &chosen);
    if (path.isEmpty())
        return;
    const CsvStyle style = chosen == decimalComma ? CsvStyle::DecimalComma : CsvStyle::Plain;
    if (auto problem = saveCsv(path, style))
        QMessageBox::warning(this, windowTitle(), *problem);
}

void MonitorWindow::restoreState() {
    state_ = loadMonitorState(stateFile_.toStdString());
    if (!state_.geometry.empty())
        restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(state_.geometry)));
    if (!state_.columns.empty())
        table_->horizontalHeader()->restoreState(
            QByteArray::fromBase64(QByteArray::fromStdString(state_.columns)));
    textOnly_->setChecked(state_.textOnly);
}

void MonitorWindow::saveState() {
    if (!everShown_)
        return;
    state_.geometry = saveGeometry().toBase64().toStdString();
    state_.columns = table_->horizontalHeader()->saveState().toBase64().toStdString();
    state_.textOnly = textOnly_->isChecked();
    // The window's place is a convenience: a failed save is not worth a
    // box in the operator's face as the program closes.
    (void)saveMonitorState(stateFile_.toStdString(), state_);
}

QString MonitorWindow::saveDialogStart() const {
    QString folder = QFile::decodeName(QByteArray::fromStdString(state_.saveFolder));
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    return QDir(folder).filePath("intercambios.csv");
}

void MonitorWindow::showEvent(QShowEvent *event) {
    everShown_ = true;
    refreshStatistics();
    QWidget::showEvent(event);
}

void MonitorWindow::closeEvent(QCloseEvent *event) {
    saveState();
    event->accept();
}

}  // namespace marvalo
