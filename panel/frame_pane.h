#pragma once

#include <QPlainTextEdit>

#include "core/records/exchange_record.h"
#include "core/records/register_values.h"

namespace marvalo {

// Under the monitor's table: the selected exchange taken apart, whole,
// however long its reply: request and reply as offset/hex/text dumps, each
// field named with what it says (a check code received and expected), and
// the timing.
class FramePane : public QPlainTextEdit {
  public:
    explicit FramePane(QWidget *parent = nullptr);
    void showRecord(const ExchangeRecord *record, RegisterView view);
};

// The pane's text, for the window and for tests.
QString frameReport(const ExchangeRecord &record, RegisterView view);

}  // namespace marvalo
