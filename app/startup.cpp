#include "app/startup.h"

#include <QComboBox>

#include "core/settings/panel_state.h"
#include "files/settings_file.h"
#include "panel/form1.h"

namespace marvalo {

std::optional<std::string> startUp(Form1 &form, const std::filesystem::path &settingsFolder) {
    PanelState &state = form.state();
    fillRs485Hold(state);
    form.fillAddressList();
    form.setListSelection(form.functionList(), static_cast<int>(ModbusFunctionIndex::ReadHolding));

    const LoadedSettings loaded = LoadSettings(settingsFolder);
    state.linkType = loaded.values.linkType;
    state.portIndex = loaded.values.portIndex;
    state.addressIndex = loaded.values.addressIndex;
    state.baudIndex = loaded.values.baudIndex;
    state.protocol = loaded.values.protocol;

    form.showLinkType();
    form.setListSelection(form.portList(), state.portIndex);
    form.setListSelection(form.addressList(), state.addressIndex);
    form.setListSelection(form.baudList(), state.baudIndex);
    form.applyProtocolView(state.protocol);
    if (!loaded.problem)
        return std::nullopt;
    return panelSettingsMessage(loaded);
}

void connectShutdown(Form1 &form, const std::filesystem::path &settingsFolder) {
    QObject::connect(&form, &Form1::unloading, &form, [&form, settingsFolder] {
        // Start-up has told the operator about a file it could not read;
        // replacing it would lose it.
        if (!settingsFileReplaceable(settingsFolder))
            return;
        std::error_code ignored;  // a folder that cannot be made is named by the save
        std::filesystem::create_directories(settingsFolder, ignored);
        const PanelState &state = form.state();
        auto saved = SaveSettings(settingsFolder, state.linkType, form.portList()->currentIndex(),
                                  form.addressList()->currentIndex(),
                                  form.baudList()->currentIndex(), state.protocol);
        if (!saved) {
            form.warn(QString::fromStdString(saved.error()));
        }
    });
}

}  // namespace marvalo
