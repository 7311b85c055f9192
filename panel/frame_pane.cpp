#include "panel/frame_pane.h"

#include <QFontDatabase>

#include "core/frames/frame_anatomy.h"
#include "core/text/byte_text.h"
#include "core/text/time_text.h"

namespace marvalo {
namespace {

QString section(const char *title, const Bytes &bytes, const std::vector<FrameField> &fields) {
    QString text = QString::fromUtf8(title) + QString(" (%1 bytes)\n").arg(bytes.size());
    text += QString::fromStdString(hexDump(bytes));
    for (const FrameField &field : fields) {
        // Concatenated, never formatted: a field's value is text from the
        // line, and "%1" in it must show as it came.
        const QString place =
            "[" + QString::number(field.offset) + "+" + QString::number(field.length) + "]";
        text += "  " + QString::fromStdString(field.name).leftJustified(16) +
                place.leftJustified(10) + "  " + QString::fromStdString(field.value) +
                (field.problem ? QString::fromUtf8("   ← mal") : QString()) + "\n";
    }
    return text;
}

QString sinceStart(const ExchangeRecord &record, std::optional<std::int64_t> at) {
    if (!at)
        return QString::fromUtf8("—");
    return QString::number(static_cast<double>(*at - record.startUs) / 1000.0, 'f', 3) + " ms";
}

}  // namespace

FramePane::FramePane(QWidget *parent) : QPlainTextEdit(parent) {
    setObjectName("txtAnatomia");
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setPlaceholderText(QString::fromUtf8("Elija una fila para ver sus tramas campo a campo."));
}

void FramePane::showRecord(const ExchangeRecord *record, RegisterView view) {
    setPlainText(record ? frameReport(*record, view) : QString());
}

QString frameReport(const ExchangeRecord &record, RegisterView view) {
    QString text = "#" + QString::number(record.sequence) + "  " +
                   QString::fromStdString(clockTime(record.wallStartUs)) + "  " +
                   QString::fromStdString(safeText(record.port)) +
                   (record.portKind == "local"
                        ? QString()
                        : " (" + QString::fromStdString(safeText(record.portKind)) + ")") +
                   "  " + QString::fromStdString(safeText(record.settings)) + "\n\n";
    text += section("Petición", record.request, requestAnatomy(record.protocol, record.request));
    text += "\n";
    if (record.reply.empty()) {
        text += QString::fromUtf8("Respuesta: ninguna\n");
    } else {
        text += section("Respuesta", record.reply,
                        replyAnatomy(record.protocol, record.request, record.reply, view));
    }
    if (record.droppedBytes > 0)
        text += QString::fromUtf8("  … y %1 bytes más, descartados\n").arg(record.droppedBytes);
    text += "\n";
    text += record.verdict
                ? QString("Veredicto: ") + verdictKey(record.verdict->kind) + ": " +
                      QString::fromStdString(safeText(record.verdict->text)) + "\n"
                : QString::fromUtf8("Fallo: ") +
                      QString::fromStdString(safeText(record.failure.value_or(""))) + "\n";
    text += QString::fromUtf8(
                "Tiempos desde el inicio: enviada %1, 1er byte %2, último byte %3, "
                "fin %4\n")
                .arg(sinceStart(record, record.sentUs), sinceStart(record, record.firstByteUs),
                     sinceStart(record, record.lastByteUs), sinceStart(record, record.endUs));
    return text;
}

}  // namespace marvalo
