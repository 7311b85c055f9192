#include "core/ports/ports_table.h"

#include <algorithm>

namespace marvalo {
namespace {

std::string comText(int number) {
    return "COM " + std::to_string(number);
}

std::vector<const SerialAdapter *> fitting(const PortIdentity &identity,
                                           const std::vector<SerialAdapter> &present) {
    std::vector<const SerialAdapter *> fits;
    for (const SerialAdapter &adapter : present) {
        if (identity.fits(adapter))
            fits.push_back(&adapter);
    }
    return fits;
}

Result<Done, std::string> checkNumber(int number) {
    if (!validComNumber(number))
        return "el número " + std::to_string(number) + " no es ninguno de COM 1 a COM " +
               std::to_string(kComNumbers);
    return Done{};
}

// Whether a clone of this adapter was ever told apart by its connector: the
// table names its serial number with a connector. Once seen, neither clone
// is ever numbered by the serial number alone, which would fit the other.
bool hasTwin(const PortsTable &table, const SerialAdapter &adapter) {
    if (adapter.sharedSerial)
        return true;
    const PortIdentity own = connectorIdentity(adapter);
    auto named = [&](const PortIdentity &identity) {
        const auto *id = identity.as<AdapterId>();
        return id != nullptr && !id->connector.empty() && sameSerialAdapter(identity, own);
    };
    for (const auto &slot : table.com) {
        if (slot && named(slot->identity))
            return true;
    }
    return std::ranges::any_of(table.released, named);
}

// A clone's entry, naming its connector (that it fits is checked apart).
bool namesConnector(const PortIdentity &identity) {
    const auto *id = identity.as<AdapterId>();
    return id != nullptr && !id->connector.empty();
}

// What a number takes for this adapter: with its connector where a twin was seen.
PortIdentity numberedIdentity(const PortsTable &table, const SerialAdapter &adapter) {
    return hasTwin(table, adapter) ? connectorIdentity(adapter) : adapterIdentity(adapter);
}

// A freed adapter stays freed whether or not its twin is around, so it is
// matched as a number would match it; a freed connector is not every
// adapter ever plugged into it.
bool wasReleased(const PortsTable &table, const SerialAdapter &adapter) {
    const PortIdentity own = adapterIdentity(adapter);
    return std::ranges::any_of(table.released, [&](const PortIdentity &identity) {
        return identity == own || (identity.as<AdapterId>() && identity.fits(adapter));
    });
}

// A number's entry for this adapter, with where it was seen when its serial
// number alone is what the number holds on to.
ComSlot slotFor(const PortIdentity &identity, const SerialAdapter &adapter, bool console) {
    ComSlot slot{identity, adapterName(adapter), false, console, {}, {}, {}};
    if (identity.as<AdapterId>() && !namesConnector(identity) && adapter.usb)
        slot.seenAt = connectorIdentity(adapter).as<AdapterId>()->connector;
    return slot;
}

void remember(PortsTable &table, const PortIdentity &identity) {
    std::erase(table.released, identity);
    table.released.push_back(identity);
    if (table.released.size() > kMaxReleased)
        table.released.erase(table.released.begin(),
                             table.released.end() - static_cast<std::ptrdiff_t>(kMaxReleased));
}

}  // namespace

Binding ComSlot::binding() const {
    return identity.as<UsbPlace>() ? Binding::UsbPort : Binding::Adapter;
}

bool validComNumber(int number) {
    return number >= 1 && number <= kComNumbers;
}

std::optional<int> PortsTable::numberOf(const SerialAdapter &adapter) const {
    for (int number = 1; number <= kComNumbers; ++number) {
        if (at(number) && at(number)->identity.fits(adapter))
            return number;
    }
    return std::nullopt;
}

bool numberNewAdapters(PortsTable &table, const std::vector<SerialAdapter> &present) {
    if (!table.damage.empty() || !table.doubts.empty())
        return false;
    bool changed = false;
    for (const SerialAdapter &adapter : present) {
        if (adapter.console || table.numberOf(adapter))
            continue;  // writing requests to the system console helps nobody
        if (wasReleased(table, adapter))
            continue;
        const PortIdentity identity = numberedIdentity(table, adapter);
        for (int number = 1; number <= kComNumbers; ++number) {
            if (table.at(number) || table.freed.count(number) || table.doubts.count(number))
                continue;
            table.at(number) = slotFor(identity, adapter, false);
            changed = true;
            break;
        }
    }
    return changed;
}

std::vector<std::string> tieTwins(PortsTable &table, const std::vector<SerialAdapter> &present) {
    std::vector<std::string> said;
    for (int number = 1; number <= kComNumbers; ++number) {
        auto &slot = table.at(number);
        if (!slot || table.doubts.count(number) || !slot->identity.as<AdapterId>() ||
            namesConnector(slot->identity))
            continue;
        const auto fits = fitting(slot->identity, present);
        if (fits.size() < 2)
            continue;
        const auto own = std::ranges::find_if(fits, [&](const SerialAdapter *adapter) {
            return !slot->seenAt.empty() &&
                   connectorIdentity(*adapter).as<AdapterId>()->connector == slot->seenAt;
        });
        if (own != fits.end()) {
            slot->identity = connectorIdentity(**own);
            slot->name = adapterName(**own);
            slot->seenAt.clear();
            said.push_back(comText(number) + " queda con " + slot->name +
                           ": el que estaba en ese conector cuando se le dio el número.");
            continue;
        }
        said.push_back(comText(number) + " queda libre: era el nº " +
                       slot->identity.as<AdapterId>()->serial +
                       ", que ahora llevan dos adaptadores, y no se sabe cuál era el suyo; "
                       "asígnele uno (F3 o marvalo-send --assign-port).");
        remember(table, slot->identity);
        slot.reset();
        table.freed.insert(number);
    }
    return said;
}

namespace {

// Without the data of what is there instead, which only the caller's
// refusal needs: the numbers' own look-ups use this one.
Result<const SerialAdapter *, PortRefusal> trustedAdapter(
    const PortsTable &table, int number, const std::vector<SerialAdapter> &present) {
    using Code = PortRefusal::Code;
    if (!validComNumber(number))
        return PortRefusal{Code::NoSuchNumber, number, 0, {}, {}, {}, {}};
    if (auto doubt = table.doubts.find(number); doubt != table.doubts.end())
        return PortRefusal{Code::DamagedEntry, number, 0, doubt->second, {}, {}, {}};
    const auto &slot = table.at(number);
    if (!slot)
        return PortRefusal{Code::Unassigned, number, 0, {}, {}, {}, {}};
    const auto fits = fitting(slot->identity, present);
    if (fits.empty()) {
        if (const auto *place = slot->identity.as<UsbPlace>())
            return PortRefusal{Code::EmptyConnector, number, 0, place->place, {}, {}, {}};
        return PortRefusal{Code::NotPlugged, number, 0, slot->name, {}, {}, {}};
    }
    if (fits.size() > 1)
        return PortRefusal{Code::SeveralFit, number, 0, {}, fits, {}, {}};
    const SerialAdapter &adapter = *fits.front();
    // An entry naming this adapter and its connector (a clone, whether or
    // not its twin is plugged in now) wins over one that only fits it by the
    // serial number alone, which may have been the twin's.
    const bool exact = namesConnector(slot->identity);
    for (int other = 1; other <= kComNumbers; ++other) {
        const auto &taken = table.at(other);
        if (other == number || !taken || !taken->identity.fits(adapter))
            continue;
        if (namesConnector(taken->identity) && !exact)
            return PortRefusal{Code::ClaimedByConnector, number, other, {}, fits, {}, {}};
        if (namesConnector(taken->identity) || !exact)
            return PortRefusal{Code::AlsoOtherNumber, number, other, {}, fits, {}, {}};
    }
    if (adapter.console && !slot->console)
        return PortRefusal{Code::NowConsole, number, 0, {}, fits, {}, {}};
    // An entry from before the make was kept has only the name it was given
    // to tell an Arduino "0001" from a CP2102 "0001".
    const auto *id = slot->identity.as<AdapterId>();
    const auto make = [](const std::string &name) { return name.substr(0, name.find(", nº ")); };
    if (id && id->vendorId.empty() && !slot->name.empty() &&
        make(slot->name) != make(adapterName(adapter)))
        return PortRefusal{Code::OtherMake, number, 0, slot->name, fits, {}, {}};
    return &adapter;
}

}  // namespace

Result<const SerialAdapter *, PortRefusal> findAdapter(const PortsTable &table, int number,
                                                       const std::vector<SerialAdapter> &present) {
    auto found = trustedAdapter(table, number, present);
    if (found)
        return found;
    PortRefusal refusal = found.error();
    using Code = PortRefusal::Code;
    if (refusal.code == Code::Unassigned || refusal.code == Code::NotPlugged ||
        refusal.code == Code::EmptyConnector) {
        for (int other = 1; other <= kComNumbers; ++other) {
            if (auto adapter = trustedAdapter(table, other, present); adapter && other != number)
                refusal.numbered.emplace_back(other, adapter.value());
        }
        for (const SerialAdapter &adapter : present) {
            if (!table.numberOf(adapter))
                refusal.unnumbered.push_back(&adapter);
        }
    }
    return refusal;
}

const net::ServerAddress *serverFor(const PortsTable &table, int number) {
    const auto &slot = table.at(number);
    const auto *server =
        slot && !table.doubts.count(number) ? slot->identity.as<ServerId>() : nullptr;
    return server ? &server->address : nullptr;
}

Result<const SerialAdapter *, std::string> adapterFor(const PortsTable &table, int number,
                                                      const std::vector<SerialAdapter> &present) {
    auto found = findAdapter(table, number, present);
    if (!found)
        return refusalText(found.error());
    return found.value();
}

std::string comUnavailableReason(const PortsTable &table, int number,
                                 const std::vector<SerialAdapter> &present) {
    auto found = findAdapter(table, number, present);
    return found ? std::string() : refusalText(found.error());
}

Result<Done, std::string> assignNumber(PortsTable &table, int number, const SerialAdapter &adapter,
                                       bool consoleConfirmed) {
    if (auto valid = checkNumber(number); !valid)
        return valid;
    if (adapter.console && !consoleConfirmed)
        return adapter.device + " es la consola del sistema; asignarla pide confirmación";
    const PortIdentity identity = numberedIdentity(table, adapter);
    for (int other = 1; other <= kComNumbers; ++other) {
        // One number per adapter: another that would reach it too (its
        // serial alone, its connector) would make both refused. The serial
        // alone of a clone may be its twin's number: that one is left be.
        const auto &taken = table.at(other);
        if (other != number && taken &&
            (taken->identity == identity ||
             (taken->identity.fits(adapter) &&
              (namesConnector(taken->identity) || !hasTwin(table, adapter))))) {
            table.at(other).reset();
            table.freed.insert(other);
        }
    }
    if (table.at(number) && table.at(number)->identity != identity)
        remember(table, table.at(number)->identity);
    std::erase(table.released, identity);
    table.at(number) = slotFor(identity, adapter, adapter.console);
    table.freed.erase(number);
    table.doubts.erase(number);
    return Done{};
}

Result<Done, std::string> assignServer(PortsTable &table, int number,
                                       const net::ServerAddress &address) {
    if (auto valid = checkNumber(number); !valid)
        return valid;
    const PortIdentity server = ServerId{address};
    // The adapter it displaces is not numbered again by itself.
    if (table.at(number) && table.at(number)->identity != server)
        remember(table, table.at(number)->identity);
    table.at(number) = ComSlot{server, address.written, false, false, {}, {}, {}};
    table.freed.erase(number);
    table.doubts.erase(number);
    return Done{};
}

Result<Done, std::string> freeNumber(PortsTable &table, int number) {
    if (auto valid = checkNumber(number); !valid)
        return valid;
    if (table.at(number))
        remember(table, table.at(number)->identity);
    table.at(number).reset();
    table.freed.insert(number);
    table.doubts.erase(number);
    return Done{};
}

Result<Done, std::string> swapNumbers(PortsTable &table, int first, int second) {
    if (auto valid = checkNumber(first); !valid)
        return valid;
    if (auto valid = checkNumber(second); !valid)
        return valid;
    if (first == second)
        return comText(first) + " no se intercambia consigo mismo: dé dos números distintos";
    const auto unused = [&](int number) {
        return !table.at(number) && !table.doubts.count(number) && !table.freed.count(number);
    };
    // Saying "swapped" when nothing moved would hide a mistyped number.
    if (unused(first) && unused(second))
        return comText(first) + " y " + comText(second) +
               " están libres los dos: no hay nada que intercambiar";
    std::swap(table.at(first), table.at(second));
    auto moved = [](auto &container, int from, int to) {
        auto nodeFrom = container.extract(from);
        auto nodeTo = container.extract(to);
        if (nodeFrom) {
            nodeFrom.key() = to;
            container.insert(std::move(nodeFrom));
        }
        if (nodeTo) {
            nodeTo.key() = from;
            container.insert(std::move(nodeTo));
        }
    };
    moved(table.doubts, first, second);
    const bool firstFreed = table.freed.erase(first) > 0;
    const bool secondFreed = table.freed.erase(second) > 0;
    if (firstFreed)
        table.freed.insert(second);
    if (secondFreed)
        table.freed.insert(first);
    return Done{};
}

Result<Done, std::string> bindNumber(PortsTable &table, int number, Binding binding,
                                     const std::vector<SerialAdapter> &present) {
    if (auto valid = checkNumber(number); !valid)
        return valid;
    auto adapter = adapterFor(table, number, present);
    if (!adapter)
        return comText(number) + " " + adapter.error() +
               "; para cambiar cómo se enlaza, su adaptador tiene que estar conectado";
    const SerialAdapter &found = *adapter.value();
    if (binding == Binding::UsbPort && !found.usb)
        return comText(number) + " es un puerto de la placa (" + found.kernelName +
               "), no tiene conector USB";
    if (binding == Binding::Adapter && found.usb && found.usb->serial.empty())
        return comText(number) + " (" + adapterName(found) +
               ") no tiene número de serie: solo se le puede reconocer por su conector USB";
    // The serial alone would later fit its twin too, wherever it is plugged.
    const PortIdentity identity =
        binding == Binding::UsbPort ? placeIdentity(found) : adapterIdentity(found);
    if (binding == Binding::Adapter && found.usb && hasTwin(table, found))
        return comText(number) + " (" + adapterName(found) +
               ") tiene un gemelo con el mismo nº de serie, así que se le reconoce también por su "
               "conector USB " +
               found.usb->usbPath + "; por adaptador solo no se distinguirían y queda como estaba";
    table.at(number)->identity = identity;
    return Done{};
}

Result<Done, std::string> setKernelRs485(PortsTable &table, int number, bool on) {
    if (auto valid = checkNumber(number); !valid)
        return valid;
    if (auto doubt = table.doubts.find(number); doubt != table.doubts.end())
        return comText(number) + " tiene la entrada dañada (" + doubt->second +
               "); asígnele antes un adaptador";
    if (!table.at(number))
        return comText(number) + " no tiene adaptador";
    table.at(number)->kernelRs485 = on;
    return Done{};
}

Result<Done, std::string> reachesAdapter(const PortsTable &table, int number,
                                         const SerialAdapter &adapter,
                                         const std::vector<SerialAdapter> &present) {
    auto found = adapterFor(table, number, present);
    if (!found)
        return found.error();
    if (found.value()->device != adapter.device)
        return "llevaría a " + adapterName(*found.value()) + " (" + found.value()->device +
               ") y no a " + adapterName(adapter);
    return Done{};
}

void settleDoubts(PortsTable &table) {
    table.damage.clear();
}

}  // namespace marvalo
