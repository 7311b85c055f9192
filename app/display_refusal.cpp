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

#include "app/quiet_qt_messages.h"

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

// What Qt says, before it gives up, when the display it was given did not
// answer; any other fatal end is not about the display.
bool displayUnanswered() {
    for (const Held &message : held) {
        if (message.text.contains("could not connect to display", Qt::CaseInsensitive) ||
            message.text.contains("Failed to create wl_display", Qt::CaseInsensitive))
            return true;
    }
    return false;
}

void holdOrRefuse(QtMsgType type, const QMessageLogContext &context, const QString &text) {
    if (type != QtFatalMsg) {
        held.push_back({type, context.category ? context.category : "", text});
        return;
    }
    std::string said;
    if (displayUnanswered()) {
        said = noDisplayMessage("no se puede abrir la pantalla " + displayNamed());
    } else {
        // Qt's own words name what it tried and the plugins there are: the
        // operator needs them as they are, so they are quoted, not retold.
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        said = "marvalo: no se pudo iniciar la plataforma gráfica " +
               (platform.isEmpty() ? std::string("por omisión")
                                   : "\"" + platform.toStdString() + "\" (QT_QPA_PLATFORM)") +
               "; Qt dijo:\n";
        held.push_back({type, context.category ? context.category : "", text});
        for (const Held &message : held) {
            if (harmlessQtMessage(message.type, message.text))
                continue;
            const std::string category = message.category.empty() || message.category == "default"
                                             ? std::string()
                                             : message.category + ": ";
            said += "  «" + category + message.text.trimmed().toStdString() + "»\n";
        }
    }
    std::fputs(said.c_str(), stderr);
    // Qt's state is half made: nothing of it may run on the way out.
    ::_exit(kDisplayRefused);
}

}  // namespace

std::string noDisplayMessage(std::string_view what) {
    return "marvalo: " + std::string(what) +
           ": ejecútelo en un escritorio (p. ej. MARVALO_COM1=/dev/ttyUSB0 marvalo) o por ssh -X, "
           "o sin pantalla con QT_QPA_PLATFORM=offscreen marvalo o con xvfb-run -a marvalo.\n";
}

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
