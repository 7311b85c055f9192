#include "tests/panel_rig.h"

#include <QAbstractItemView>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace marvalo::testing {

PanelRig::PanelRig(std::optional<std::string> settingsFile) {
    if (settingsFile)
        folder.write("Comini.sdx", *settingsFile);
    form = std::make_unique<Form1>(port, sleeper);
    form->setWarningSink([this](const QString &message) { warnings << message; });
    startupProblem = startUp(*form, folder.path());
    connectShutdown(*form, folder.path());
    log.clear();
}

void PanelRig::pick(const char *name, int index) const {
    QComboBox *box = list(name);
    if (index < 0) {
        form->setListSelection(box, index);  // nobody can pick "nothing"; only code sets it
        return;
    }
    box->showPopup();
    QAbstractItemView *view = box->view();
    view->setCurrentIndex(box->model()->index(index, 0));
    QTest::keyClick(view, Qt::Key_Return);
}

void PanelRig::click(const char *name) const {
    QTest::mouseClick(button(name), Qt::LeftButton);
}

bool PanelRig::wrote() const {
    for (const std::string &entry : log) {
        if (entry.rfind("write", 0) == 0)
            return true;
    }
    return false;
}

}  // namespace marvalo::testing
