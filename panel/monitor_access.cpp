#include "panel/monitor_access.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QLabel>
#include <memory>

#include "core/byte_text.h"
#include "panel/form1.h"
#include "panel/monitor_window.h"

namespace marvalo {
namespace {

void showMonitor(MonitorWindow &monitor) {
    monitor.show();
    monitor.raise();
    monitor.activateWindow();
}

// Double click on the display opens the monitor, where a reply too long for
// the label can be read whole.
class DoubleClickOpens : public QObject {
  public:
    DoubleClickOpens(MonitorWindow &monitor, QObject *parent)
        : QObject(parent), monitor_(monitor) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::MouseButtonDblClick) {
            showMonitor(monitor_);
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    MonitorWindow &monitor_;
};

}  // namespace

void attachMonitor(Form1 &form, MonitorWindow &monitor) {
    auto *open = new QAction(QString::fromUtf8("Monitor de línea (F2)"), &form);
    open->setObjectName("actMonitor");
    open->setShortcut(Qt::Key_F2);
    open->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(open, &QAction::triggered, &monitor, [&monitor] { showMonitor(monitor); });

    // The last reply that reached the display, kept apart from the
    // monitor's rows, which "Borrar" empties.
    auto lastReply = std::make_shared<Bytes>();
    auto *copyReply = new QAction("Copiar respuesta", &form);
    copyReply->setObjectName("actCopiarRespuesta");
    QObject::connect(copyReply, &QAction::triggered, &form, [lastReply] {
        QApplication::clipboard()->setText(
            QString::fromStdString(toHex(*lastReply) + "\n" + namedText(*lastReply)));
    });
    form.addAction(open);
    form.addAction(copyReply);
    form.setContextMenuPolicy(Qt::ActionsContextMenu);

    if (auto *display = form.findChild<QLabel *>("lblDisplay"))
        display->installEventFilter(new DoubleClickOpens(monitor, display));

    QObject::connect(&form, &Form1::exchanged, &monitor,
                     [&monitor, lastReply](const ExchangeRecord &record) {
                         if (!record.reply.empty())
                             *lastReply = record.reply;
                         monitor.add(record);
                     });
    QObject::connect(&form, &Form1::unloading, &monitor, [&monitor] { monitor.close(); });
}

}  // namespace marvalo
