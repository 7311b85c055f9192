#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "panel/monitor_model.h"

namespace marvalo {

class Form1;
class MonitorWindow;

// The panel's line monitor: the records of every exchange, kept from the
// start, and the window that shows them, built the first time it is opened
// so a panel whose monitor is never looked at pays nothing for it. The ways
// to it change nothing of the panel itself: F2 anywhere in it, a double
// click on the display, and a context menu with "Monitor de línea" (F2) and
// "Copiar respuesta". The window closes with the panel.
class LineMonitor : public QObject {
  public:
    LineMonitor(Form1 &form, QString stateFile);
    ~LineMonitor() override;

    MonitorModel &records() { return records_; }
    MonitorWindow &window();
    void open();
    // What "Copiar respuesta" puts on the clipboard: the reply the display
    // shows, in hex and as named text; nothing when the display is blank.
    QString replyCopyText() const;

  private:
    Form1 &form_;
    QString stateFile_;
    MonitorModel records_;
    std::unique_ptr<MonitorWindow> window_;
    Bytes shownReply_;  // for "Copiar respuesta", apart from the rows "Borrar" empties
};

}  // namespace marvalo
