#include "app/display_refusal.h"

#include <unistd.h>
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace marvalo {
namespace {

struct Held {
    QtMsgType type;
    std::string category;
    QString text;
};

QtMessageHandler passedOn = nullptr;
std::vector<Held> held;

// The platform Qt was asked for, and the variable that names its display.
std::string displayNamed() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const char *variable = platform.contains("wayland") ? "WAYLAND_DISPLAY" : "DISPLAY";
    const QByteArray display = qgetenv(variable);
    const std::string named = display.isEmpty() ? std::string("(") + variable + " no está puesta"
                                                : "\"" + display.toStdString() + "\" (" + variable;
    return named + ", plataforma " +
           (platform.isEmpty() ? std::string("por omisión") : platform.toStdString()) + ")";
}

void holdOrRefuse(QtMsgType type, const QMessageLogContext &context, const QString &text) {
    if (type != QtFatalMsg) {
        held.push_back({type, context.category ? context.category : "", text});
        return;
    }
    const std::string said =
        "marvalo: no se puede abrir la pantalla " + displayNamed() +
        ": compruebe que el servidor gráfico está en marcha y que la variable lo nombra, o "
        "ejecútelo sin pantalla con QT_QPA_PLATFORM=offscreen marvalo o con xvfb-run -a "
        "marvalo.\n";
    std::fputs(said.c_str(), stderr);
    // Qt's state is half made: nothing of it may run on the way out.
    ::_exit(kDisplayRefused);
}

}  // namespace

void refuseUnopenedDisplay() {
    passedOn = qInstallMessageHandler(holdOrRefuse);
}

void displayOpened() {
    qInstallMessageHandler(passedOn);
    for (const Held &message : std::exchange(held, {})) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.c_str());
        qt_message_output(message.type, context, message.text);
    }
}

}  // namespace marvalo
