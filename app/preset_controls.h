#pragma once

#include <QList>
#include <QString>
#include <QWidget>
#include <optional>

namespace marvalo {

// A picture's set-up without a hand on the mouse: "NAME=VALUE" sets the
// control of that objectName, in the first window that has it, as an
// operator would: a text box's text, or the list's entry of that text (of
// a register format, as --registers spells it: "f32" is "f32:ABCD").
// On refusal, why (the control or the entry does not exist).
std::optional<QString> presetControl(const QList<QWidget *> &windows, const QString &assignment);

}  // namespace marvalo
