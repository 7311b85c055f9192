#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>

#include "app/startup.h"
#include "link/fake_port.h"
#include "panel/form1.h"
#include "tests/temp_folder.h"

namespace marvalo::testing {

// The window on a recording port and clock, started from a settings file,
// with warnings collected instead of shown.
struct PanelRig {
    OperationLog log;
    FakePort port{log};
    FakeSleeper sleeper{log};
    TempFolder folder;
    std::unique_ptr<Form1> form;
    QStringList warnings;
    std::optional<std::string> startupProblem;

    // nullopt: no settings file at all.
    explicit PanelRig(std::optional<std::string> settingsFile = std::string("000140\r\n"));

    template <typename T>
    T *find(const char *name) const {
        return form->findChild<T *>(name);
    }
    QLabel *label(const char *name) const { return find<QLabel>(name); }
    QPushButton *button(const char *name) const { return find<QPushButton>(name); }
    QComboBox *list(const char *name) const { return find<QComboBox>(name); }
    // The operator's pick: open the list and click the item, chosen already
    // or not.
    void pick(const char *name, int index) const;
    QLineEdit *textBox(const char *name) const { return find<QLineEdit>(name); }
    QGroupBox *frame(const char *name) const { return find<QGroupBox>(name); }
    QTimer *timer() const { return find<QTimer>("Timer1"); }
    void click(const char *name) const;
    bool wrote() const;  // any write reached the port
};

}  // namespace marvalo::testing
