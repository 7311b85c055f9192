#pragma once

#include <QString>
#include <QWidget>

#include "core/records/exchange_record.h"
#include "core/records/record_csv.h"
#include "files/monitor_state.h"
#include "panel/following_table_view.h"
#include "panel/frame_pane.h"
#include "panel/monitor_model.h"
#include "panel/response_chart.h"

class QCheckBox;
class QComboBox;
class QLabel;

namespace marvalo {

// "Monitor de línea": every exchange as it happened, with its verdict, in a
// top-level window of its own beside the panel. Its size, place and column
// widths live in a file of its own (`stateFile`), never in the panel's
// settings file.
class MonitorWindow : public QWidget {
    Q_OBJECT

  public:
    // The rows live in `model`, which may fill before the window exists.
    MonitorWindow(MonitorModel &model, QString stateFile, QWidget *parent = nullptr);
    ~MonitorWindow() override;

    MonitorModel &model() { return model_; }

    // The CSV of every row kept, written through a temporary file and a
    // rename; on failure, why (Spanish, for the operator). The folder of a
    // good save is where "Guardar…" opens next time.
    std::optional<QString> saveCsv(const QString &path, CsvStyle style = CsvStyle::Plain);
    // The CSV a spreadsheet of the operator's locale reads: with a decimal
    // comma, `;` between fields and `,` in numbers. "Guardar…" offers it
    // first and the other beside it.
    static CsvStyle localCsvStyle();
    // The selected rows as text, as "Copiar" puts them on the clipboard.
    QString selectedRowsText() const;
    // Where "Guardar…" opens: the folder last saved to, else the user's
    // documents (never the program's folder, which an installed program
    // cannot write).
    QString saveDialogStart() const;
    // Every row kept as a pcapng capture for Wireshark, atomically.
    std::optional<QString> saveCapture(const QString &path);
    // Selects a model row in the table (the chart's click does).
    void selectRow(int row);

  protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

  private:
    void buildControls();
    void restoreState();
    void saveState();
    void onSaveRequested();
    void onCopyRequested();
    void onProblemsOnlyToggled(bool only);
    void onSaveCaptureRequested();
    // Atomically; the folder of a good save is where the dialogs open next.
    std::optional<QString> saveAndRemember(const QString &path, const std::string &content);
    void chartSeries();
    void offerRegisters();
    void watchSelection();
    int selectedRow() const;
    void showSelected();
    void refreshStatistics();

    static constexpr int kRegisterSeries = 1;  // "Gráfica: valor del registro"

    QString stateFile_;
    MonitorState state_;
    MonitorModel &model_;
    ProblemsOnly problems_;
    FollowingTableView *table_ = nullptr;
    QLabel *statistics_ = nullptr;
    QCheckBox *problemsOnly_ = nullptr;
    QCheckBox *textOnly_ = nullptr;
    QComboBox *format_ = nullptr;
    QComboBox *series_ = nullptr;
    QComboBox *register_ = nullptr;
    FramePane *pane_ = nullptr;
    ResponseChart *chart_ = nullptr;
    bool everShown_ = false;  // an unseen window has no place worth keeping
};

}  // namespace marvalo
