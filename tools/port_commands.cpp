#include "tools/port_commands.h"

#include <filesystem>
#include <iostream>

#include "core/net/server_address.h"
#include "core/text/byte_text.h"
#include "core/text/number_text.h"
#include "ports/bench_ports.h"
#include "tools/port_listing.h"

namespace marvalo {
namespace {

constexpr int kRefused = 4;

std::optional<int> comNumber(const char *text) {
    const auto number = text ? parseDecimalIn(text, 1, kComNumbers) : std::nullopt;
    return number ? std::optional<int>(static_cast<int>(*number)) : std::nullopt;
}

// Where a /dev/serial/by-id link (or any link) leads, one hop, as a path.
std::string linkTarget(const std::string &path) {
    std::error_code failed;
    const std::filesystem::path target = std::filesystem::read_symlink(path, failed);
    if (failed)
        return path;
    return (std::filesystem::path(path).parent_path() / target).lexically_normal().string();
}

// The one adapter present that `target` names: its device, kernel name,
// by-id path or USB serial number.
Result<const SerialAdapter *, std::string> adapterNamed(const BenchPorts &ports,
                                                        const std::string &target) {
    std::vector<const SerialAdapter *> named;
    const std::string followed = linkTarget(target);
    for (const SerialAdapter &adapter : ports.present()) {
        const bool fits =
            target == adapter.device || target == adapter.kernelName ||
            target == "/dev/" + adapter.kernelName || target == adapter.byId ||
            (!adapter.byId.empty() &&  // as udev names it, whatever the device root
             target ==
                 "/dev/serial/by-id/" + std::filesystem::path(adapter.byId).filename().string()) ||
            followed == adapter.device ||
            (adapter.usb && !adapter.usb->serial.empty() && target == adapter.usb->serial);
        if (fits)
            named.push_back(&adapter);
    }
    if (named.size() == 1)
        return named.front();
    std::string list;
    for (const SerialAdapter *adapter : named)
        list += (list.empty() ? "" : "; ") + adapterName(*adapter) + " en " + adapter->device;
    if (named.empty())
        return "ningún adaptador conectado es \"" + safeText(target) +
               "\"; dé su dispositivo (/dev/ttyUSB0), su ruta /dev/serial/by-id o su nº de "
               "serie, como los muestra --list-ports";
    return "\"" + safeText(target) + "\" nombra " + std::to_string(named.size()) +
           " adaptadores (" + list + "); dé el dispositivo de uno de ellos";
}

// One change of the table, whichever of the four options gives it.
template <PortCommand::Kind kind>
std::optional<std::string> takeCommand(std::optional<PortCommand> &command, std::string_view name,
                                       OptionValues values) {
    PortCommand taken;
    taken.kind = kind;
    const std::string numbers = "un número de COM del 1 al " + std::to_string(kComNumbers);
    const char *second = values.size() > 1 ? values[1] : nullptr;
    if constexpr (kind == PortCommand::Kind::Assign) {
        if (!second)
            return std::string(name) + " necesita " + numbers +
                   " y un dispositivo, ruta by-id, nº de serie o dirección rfc2217:// o socket://";
        taken.target = second;
    } else if constexpr (kind == PortCommand::Kind::Swap) {
        const auto other = comNumber(second);
        if (!other)
            return std::string(name) + " necesita dos números de COM del 1 al " +
                   std::to_string(kComNumbers);
        taken.other = *other;
    } else if constexpr (kind == PortCommand::Kind::Bind) {
        const std::string how = second ? second : "";
        if (how != "usb-port" && how != "adapter")
            return std::string(name) + " necesita " + numbers +
                   " y usb-port (por conector USB) o adapter (por adaptador)";
        taken.binding = how == "usb-port" ? Binding::UsbPort : Binding::Adapter;
    }
    const auto number = comNumber(values[0]);
    if (!number)
        return std::string(name) + " necesita " + numbers;
    if (command)
        return std::string("dé un solo cambio de la tabla de puertos por orden");
    taken.number = *number;
    command = taken;
    return std::nullopt;
}

using Command = std::optional<PortCommand>;
constexpr OptionRow<Command> kPortCommandOptions[] = {
    {{"--assign-port", "N DESTINO",
      "da COM N al adaptador de DESTINO (/dev/ttyUSB0, una ruta\n"
      "/dev/serial/by-id) o con ese nº de serie USB, o a un servidor\n"
      "serie en DESTINO (rfc2217://HOST:PUERTO o socket://HOST:PUERTO)\n"},
     takeCommand<PortCommand::Kind::Assign>},
    {{"--free-port", "N", "libera COM N; queda vacío hasta que se asigne de nuevo\n"},
     takeCommand<PortCommand::Kind::Free>},
    {{"--swap-ports", "N M", "intercambia dos números\n"}, takeCommand<PortCommand::Kind::Swap>},
    {{"--bind-port", "N usb-port|adapter",
      "COM N vale para lo que se enchufe en su conector USB (un útil\n"
      "de producción, usb-port) o para su adaptador donde se enchufe\n"
      "(adapter, lo predeterminado)\n"},
     takeCommand<PortCommand::Kind::Bind>},
};

}  // namespace

std::span<const OptionRow<std::optional<PortCommand>>> portCommandOptions() {
    return kPortCommandOptions;
}

int runPortCommand(const PortCommand &command, BenchPorts &ports) {
    Result<Done, std::string> done = Done{};
    std::string said;
    const std::string com = "COM " + std::to_string(command.number);
    switch (command.kind) {
        case PortCommand::Kind::Assign: {
            if (net::looksLikeServerAddress(command.target)) {
                auto address = net::parseServerAddress(command.target);
                if (!address) {
                    done = address.error();
                    break;
                }
                auto assigned = ports.assignServer(command.number, address.value());
                done = assigned ? Result<Done, std::string>(Done{}) : assigned.error();
                said = assigned ? assigned.value().text : "";
                break;
            }
            auto adapter = adapterNamed(ports, command.target);
            if (!adapter) {
                done = adapter.error();
                break;
            }
            if (adapter.value()->console) {
                done = adapter.value()->device +
                       " es la consola del sistema: asignarla pide confirmación, en \"Puertos "
                       "serie…\" (F3) del panel";
                break;
            }
            auto assigned = ports.assign(command.number, *adapter.value());
            done = assigned ? Result<Done, std::string>(Done{}) : assigned.error();
            said = assigned ? assigned.value().text : "";
            break;
        }
        case PortCommand::Kind::Free:
            done = ports.release(command.number);
            said = com + " queda libre hasta que se le asigne un adaptador.";
            break;
        case PortCommand::Kind::Swap:
            done = ports.swap(command.number, command.other);
            said = com + " y COM " + std::to_string(command.other) + " se intercambiaron.";
            break;
        case PortCommand::Kind::Bind:
            done = ports.bind(command.number, command.binding);
            said = com + (command.binding == Binding::UsbPort
                              ? " vale ahora para lo que se enchufe en su conector USB."
                              : " sigue ahora a su adaptador en cualquier conector.");
            break;
    }
    if (!done) {
        std::string why = done.error();
        while (!why.empty() && why.back() == '.')
            why.pop_back();
        std::cerr << "marvalo-send: " << safeText(why)
                  << (why.ends_with("queda como estaba") ? ".\n"
                                                         : ". La tabla queda como estaba.\n");
        return kRefused;
    }
    std::cout << safeText(said) << "\n" << portListingText(ports);
    return 0;
}

}  // namespace marvalo
