#include "panel/monitor_access.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QLabel>

#include "core/records/record_csv.h"
#include "core/text/byte_text.h"
#include "panel/form1.h"
#include "panel/monitor_window.h"

namespace marvalo {
namespace {

// Double click on the display opens the monitor, where a reply too long for
// the label can be read whole.
class DoubleClickOpens : public QObject {
  public:
    DoubleClickOpens(LineMonitor &monitor, QObject *parent) : QObject(parent), monitor_(monitor) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::MouseButtonDblClick) {
            monitor_.open();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    LineMonitor &monitor_;
};

}  // namespace

LineMonitor::LineMonitor(Form1 &form, QString stateFile)
    : QObject(&form), form_(form), stateFile_(std::move(stateFile)) {
    // The menu shows the shortcut beside the text by itself.
    auto *open = new QAction(QString::fromUtf8("Monitor de línea"), &form);
    open->setObjectName("actMonitor");
    open->setShortcut(Qt::Key_F2);
    open->setShortcutContext(Qt::WindowShortcut);
    connect(open, &QAction::triggered, this, &LineMonitor::open);

    auto *copyReply = new QAction("Copiar respuesta", &form);
    copyReply->setObjectName("actCopiarRespuesta");
    connect(copyReply, &QAction::triggered, this,
            [this] { QApplication::clipboard()->setText(replyCopyText()); });
    form.addAction(open);
    form.addAction(copyReply);
    form.setContextMenuPolicy(Qt::ActionsContextMenu);

    if (auto *display = form.findChild<QLabel *>("lblDisplay"))
        display->installEventFilter(new DoubleClickOpens(*this, display));

    connect(&form, &Form1::exchanged, this, [this](const ExchangeRecord &record) {
        // The display changes with every exchange but a failed one and a
        // continuous one that heard nothing (those leave it as it was), so
        // the copy follows the same rule and copies what the display shows.
        const bool displayKept =
            record.failure || (record.mode == ExchangeMode::Continuous && record.reply.empty());
        if (!displayKept)
            shownReply_ = record.reply;
        records_.add(record);
    });
    connect(&form, &Form1::unloading, this, [this] {
        if (window_)
            window_->close();
    });
}

LineMonitor::~LineMonitor() = default;

QString LineMonitor::replyCopyText() const {
    if (shownReply_.empty())
        return {};
    // The text line starts with what the line sent: a spreadsheet it is
    // pasted into must not run it ("=HYPERLINK(…)").
    return QString::fromStdString(toHex(shownReply_) + "\n" +
                                  spreadsheetSafe(namedText(shownReply_)));
}

MonitorWindow &LineMonitor::window() {
    if (!window_)
        window_ = std::make_unique<MonitorWindow>(records_, stateFile_);
    return *window_;
}

void LineMonitor::open() {
    MonitorWindow &shown = window();
    shown.show();
    shown.raise();
    shown.activateWindow();
}

}  // namespace marvalo
