#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "core/ports/ports_table.h"

class QComboBox;
class QLabel;
class QTableWidget;

namespace marvalo {

class BenchPorts;
class Form1;

// "Puertos serie": the five COM numbers, the adapter each stands for, how
// it is bound (by adapter or by USB connector) and whether it is plugged
// in, and the adapters without a number. The operator assigns an adapter
// or a serial server's address to a number, swaps two numbers, frees one,
// binds one to its connector, or lets the driver switch RS485; each change
// is merged into the table on disk at once and in force at the next exchange.
class PortsWindow : public QWidget {
    Q_OBJECT

  public:
    explicit PortsWindow(BenchPorts &ports, QWidget *parent = nullptr);

    // Reads the table and what is plugged in again, redraws both lists and
    // leaves no row selected, so no button acts on a row nobody chose.
    void refresh();

  protected:
    // Another program may have changed the table while the window was in
    // the background: it is read again whenever the window comes to the front.
    void changeEvent(QEvent *event) override;

  public:
    // Asks the operator before freeing a number or numbering the console;
    // tests answer in its place.
    using Confirm = std::function<bool(const QString &question)>;
    void setConfirm(Confirm confirm) { confirm_ = std::move(confirm); }
    // Asks for a serial server's address; nothing when the operator cancels.
    using AskAddress = std::function<std::optional<QString>(const QString &question)>;
    void setAskAddress(AskAddress ask) { askAddress_ = std::move(ask); }

  private:
    void fill();
    void reread();
    // Shows the failure, else what the change did, and redraws.
    void done(const std::string &failure, const std::string &said = {});
    // What a number stands for in the table now, and as its row showed it.
    SeenNumber seenNumber(int number) const;
    SeenNumber shownNumber(int number) const;
    int selectedNumber() const;  // 1..5, or 0
    int chosenNumber() const;
    // Before an action: the table and the adapters read again, and the
    // chosen number (or adapter) still the one the operator saw; 0 (or
    // nothing) and said when it is gone or now stands for another.
    int stillChosenNumber();
    std::optional<SerialAdapter> stillChosenAdapter();

    BenchPorts &ports_;
    QTableWidget *numbers_ = nullptr;
    QTableWidget *unnumbered_ = nullptr;
    QComboBox *target_ = nullptr;
    QLabel *warning_ = nullptr;
    QLabel *tableFile_ = nullptr;
    Confirm confirm_;
    AskAddress askAddress_;
    // What fill() drew, as values: an action checks the table against
    // these, not against text that went through the widgets.
    std::vector<SeenNumber> shownNumbers_ = std::vector<SeenNumber>(kComNumbers);
    std::vector<SerialAdapter> shownUnnumbered_;
    bool sized_ = false;  // columns fitted once; later the operator's widths stay
};

// F3 anywhere in the panel and "Puertos serie…" in its context menu open
// the window, which reads what is plugged in each time it opens and closes
// with the panel.
void addPortsWindow(Form1 &form, BenchPorts &ports);

}  // namespace marvalo
