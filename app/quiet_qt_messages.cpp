#include "app/quiet_qt_messages.h"

#include <QString>
#include <QtGlobal>
#include <array>

namespace marvalo {
namespace {

// The warnings known to say nothing the operator can act on; a line that
// only starts the same way ends with a path Qt chose.
struct Harmless {
    const char *text;
    bool wholeLine;
};
constexpr std::array<Harmless, 4> kHarmless{{
    {"QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to ", false},
    // A script the font has no shaping tables for: its text is drawn anyway.
    {"OpenType support missing for ", false},
    {"This plugin does not support propagateSizeHints()", true},
    {"This plugin does not support raise()", true},
}};

QtMessageHandler passedOn = nullptr;

void dropHarmless(QtMsgType type, const QMessageLogContext &context, const QString &text) {
    if (!harmlessQtMessage(type, text))
        passedOn(type, context, text);
}

}  // namespace

bool harmlessQtMessage(QtMsgType type, const QString &text) {
    for (const Harmless &harmless : kHarmless) {
        const QString known = QString::fromLatin1(harmless.text);
        const QString line = text.trimmed();
        if (type == QtWarningMsg && (harmless.wholeLine ? line == known : line.startsWith(known)))
            return true;
    }
    return false;
}

void dropHarmlessQtMessages() {
    // A second call would pass each message on to this same handler, forever.
    if (passedOn)
        return;
    // Qt hands back its default handler when none was installed.
    passedOn = qInstallMessageHandler(dropHarmless);
}

}  // namespace marvalo
