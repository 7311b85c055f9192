// The floor the panel's start-up is held against: Qt's cheapest window that
// shows text, one label, reporting in the event loop's turn after its first
// paint as marvalo --report-shown does (there, once the work that waits for
// that paint has run), so that the two differ only in what the panel does.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <cstdio>

namespace {

class FirstPaint : public QObject {
  public:
    explicit FirstPaint(const QElapsedTimer &sinceStart) : sinceStart_(sinceStart) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && !reported_) {
            reported_ = true;
            QTimer::singleShot(0, this, [this] {
                std::printf("shown after %lld ms, resident 0 kB\n",
                            static_cast<long long>(sinceStart_.elapsed()));
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    const QElapsedTimer &sinceStart_;
    bool reported_ = false;
};

}  // namespace

int main(int argc, char **argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    QLabel window("Marvalo");
    FirstPaint reporter(sinceStart);
    window.installEventFilter(&reporter);
    window.show();
    return app.exec();
}
