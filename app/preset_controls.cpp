#include "app/preset_controls.h"

#include <QComboBox>
#include <QLineEdit>

#include "core/records/register_values.h"

namespace marvalo {
namespace {

// The list's entry of `value`: its text, or, in a list of register formats,
// the entry that means the same, so "f32" finds "f32:ABCD" as --registers
// reads it, by the one parser of formats.
int entryOf(const QComboBox &list, const QString &value) {
    const int entry = list.findText(value);
    const auto view = parseRegisterView(value.toStdString());
    for (int i = 0; entry < 0 && view && i < list.count(); ++i) {
        const auto listed = parseRegisterView(list.itemText(i).toStdString());
        if (listed && listed.value() == view.value())
            return i;
    }
    return entry;
}

}  // namespace

std::optional<QString> presetControl(const QList<QWidget *> &windows, const QString &assignment) {
    const qsizetype equals = assignment.indexOf('=');
    if (equals <= 0)
        return QString::fromUtf8("\"%1\" no es NOMBRE=VALOR").arg(assignment);
    const QString name = assignment.left(equals);
    const QString value = assignment.mid(equals + 1);
    for (QWidget *window : windows) {
        if (auto *box = window->findChild<QLineEdit *>(name)) {
            box->setText(value);
            return std::nullopt;
        }
        if (auto *list = window->findChild<QComboBox *>(name)) {
            const int entry = entryOf(*list, value);
            if (entry < 0) {
                // The entries as the list holds them, so the refusal never
                // lags behind what fills it.
                QStringList entries;
                for (int i = 0; i < list->count(); ++i)
                    entries << list->itemText(i);
                if (entries.isEmpty())
                    return QString::fromUtf8(
                               "la lista \"%1\" no tiene \"%2\": está vacía, no admite nada")
                        .arg(name, value);
                return QString::fromUtf8("la lista \"%1\" no tiene \"%2\": se admite %3")
                    .arg(name, value, entries.join(", "));
            }
            list->setCurrentIndex(entry);
            emit list->activated(entry);  // the panel's lists act on the pick
            return std::nullopt;
        }
    }
    // The names as the windows hold them, as the lists' entries above.
    QStringList names;
    for (QWidget *window : windows) {
        for (const QWidget *control : window->findChildren<QWidget *>()) {
            const QString named = control->objectName();
            if ((qobject_cast<const QLineEdit *>(control) ||
                 qobject_cast<const QComboBox *>(control)) &&
                !named.isEmpty() && !named.startsWith("qt_"))
                names << named;
        }
    }
    return QString::fromUtf8("no hay cuadro de texto ni lista \"%1\": los hay %2")
        .arg(name, names.join(", "));
}

}  // namespace marvalo
