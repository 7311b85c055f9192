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
        text += QString("  %1%2  %3%4\n")
                    .arg(QString::fromStdString(field.name), -16)
                    .arg(QString("[%1+%2]").arg(field.offset).arg(field.length), -10)
                    .arg(QString::fromStdString(field.value))
                    .arg(field.problem ? QString::fromUtf8("   ← mal") : QString());
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
    QString text = QString("#%1  %2  %3  %4\n\n")
                       .arg(record.sequence)
                       .arg(QString::fromStdString(clockTime(record.wallStartUs)))
                       .arg(QString::fromStdString(safeText(record.port)))
                       .arg(QString::fromStdString(safeText(record.settings)));
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
                ? QString("Veredicto: %1: %2\n")
                      .arg(verdictKey(record.verdict->kind))
                      .arg(QString::fromStdString(safeText(record.verdict->text)))
                : QString::fromUtf8("Fallo: %1\n")
                      .arg(QString::fromStdString(safeText(record.failure.value_or(""))));
    text += QString::fromUtf8(
                "Tiempos desde el inicio: enviada %1, 1er byte %2, último byte %3, "
                "fin %4\n")
                .arg(sinceStart(record, record.sentUs), sinceStart(record, record.firstByteUs),
                     sinceStart(record, record.lastByteUs), sinceStart(record, record.endUs));
    return text;
}

}  // namespace marvalo
