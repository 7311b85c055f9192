#pragma once

#include <QWidget>

class QComboBox;
class QTableWidget;

namespace marvalo {

class BenchPorts;
class Form1;

// "Puertos serie": the five COM numbers, the adapter each stands for and
// whether it is plugged in, and the adapters without a number. The operator
// assigns an adapter to a number, swaps two numbers, frees one, or lets the
// driver switch RS485; the table is saved at once and every change is in
// force at the next exchange. Nothing of the panel itself changes.
class PortsWindow : public QWidget {
    Q_OBJECT

  public:
    explicit PortsWindow(BenchPorts &ports, QWidget *parent = nullptr);

    // Reads what is plugged in again and redraws both lists.
    void refresh();

  private:
    void fill();
    int selectedNumber() const;  // 1..5, or 0
    int chosenNumber() const;

    BenchPorts &ports_;
    QTableWidget *numbers_ = nullptr;
    QTableWidget *unnumbered_ = nullptr;
    QComboBox *target_ = nullptr;
};

// F3 anywhere in the panel and "Puertos serie…" in its context menu open
// the window, which reads what is plugged in each time it opens and closes
// with the panel.
void addPortsWindow(Form1 &form, BenchPorts &ports);

}  // namespace marvalo
