#include "files/monitor_state.h"

#include "core/text/byte_text.h"
#include "core/text/key_value_text.h"
#include "files/atomic_save.h"
#include "files/bounded_read.h"

namespace marvalo {
namespace {

constexpr std::size_t kMaxStateBytes = 64 * 1024;

}  // namespace

MonitorState loadMonitorState(const std::filesystem::path &file) {
    MonitorState state;
    auto content = readBoundedFile(file, kMaxStateBytes);
    if (!content)
        return state;
    const auto values = parseKeyValues(content.value());
    auto take = [&](const char *key, std::string &into) {
        if (auto found = values.find(key); found != values.end())
            into = found->second;
    };
    take("geometry", state.geometry);
    take("columns", state.columns);
    take("save_folder", state.saveFolder);
    if (auto found = values.find("text_only"); found != values.end())
        state.textOnly = found->second == "true";
    return state;
}

Result<Done, std::string> saveMonitorState(const std::filesystem::path &file,
                                           const MonitorState &state) {
    auto saved = saveAtomically(file, formatKeyValues({
                                          {"geometry", state.geometry},
                                          {"columns", state.columns},
                                          {"text_only", state.textOnly ? "true" : "false"},
                                          {"save_folder", state.saveFolder},
                                      }));
    if (!saved)
        return "No se pudo guardar \"" + safeText(file.string()) + "\": " + saved.error();
    return Done{};
}

}  // namespace marvalo
