#pragma once

#include <QString>
#include <QtGlobal>

namespace marvalo {

// Qt says a few harmless things in English on every headless start (no
// XDG_RUNTIME_DIR, what the offscreen plugin cannot do with a window); the
// operator reads Spanish and could only take them for a fault. From this
// call on those known lines are dropped and every other message reaches
// the handler there was before, unchanged. Called before Qt starts; a
// second call changes nothing.
void dropHarmlessQtMessages();

// Whether Qt's `text` is one of those known harmless lines, for whoever
// quotes what Qt said.
bool harmlessQtMessage(QtMsgType type, const QString &text);

}  // namespace marvalo
