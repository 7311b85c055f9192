#include <algorithm>
#include <cctype>

#include "core/net/server_address.h"
#include "core/ports/ports_table.h"
#include "core/text/byte_text.h"

namespace marvalo {
namespace {

constexpr const char *kReleasedSection = "released";
constexpr std::size_t kQuotedBytes = 40;  // of a damaged line, in its message

std::string sectionOf(int number) {
    return "com" + std::to_string(number);
}

// Every byte back as it was: a line break, a CR, a blank at either end or a
// control byte would otherwise be lost or change the line.
std::string escaped(const std::string &value) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto byte = static_cast<unsigned char>(value[i]);
        const bool edge = i == 0 || i + 1 == value.size();
        if (byte == '\\')
            text += "\\\\";
        else if (byte == '\n')
            text += "\\n";
        else if (byte == '\r')
            text += "\\r";
        else if (byte == '\t')
            text += "\\t";
        else if (byte == ' ' && edge)
            text += "\\s";
        else if (byte < 0x20 || byte == 0x7f)
            text += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 0xf];
        else
            text += static_cast<char>(byte);
    }
    return text;
}

std::optional<std::string> unescaped(std::string_view text) {
    std::string value;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            value += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
            case '\\':
                value += '\\';
                break;
            case 'n':
                value += '\n';
                break;
            case 'r':
                value += '\r';
                break;
            case 't':
                value += '\t';
                break;
            case 's':
                value += ' ';
                break;
            case 'x': {
                if (i + 2 >= text.size() ||
                    !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
                    !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
                    return std::nullopt;
                value +=
                    static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return value;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string lowered(std::string_view text) {
    std::string lower(text);
    std::ranges::transform(lower, lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string quoted(std::string_view line) {
    const std::string text = safeText(std::string(line.substr(0, kQuotedBytes)));
    return "\"" + text + (line.size() > kQuotedBytes ? "…" : "") + "\"";
}

// An adapter's identity as older versions read it; its make goes on a line
// of its own. A freed adapter is kept without it: it then stays freed
// whatever its make, which errs on the side of numbering nothing.
PortIdentity withoutMake(const PortIdentity &identity) {
    const auto *id = identity.as<AdapterId>();
    if (id == nullptr)
        return identity;
    AdapterId unmade = *id;
    unmade.vendorId.clear();
    unmade.productId.clear();
    return unmade;
}

std::string lineText(int line) {
    return "línea " + std::to_string(line);
}

// The reading of one file, line by line, remembering where each entry began.
struct Reader {
    PortsTable table;
    int section = 0;  // 1..5 a number, 0 none, -1 [released], -2 an unknown one
    std::array<int, kComNumbers> headerLine{};
    std::array<int, kComNumbers> identityLine{};
    std::array<std::vector<std::string>, kComNumbers> sectionLines;
    // Where each entry said how it is bound, and what it said.
    std::array<std::pair<int, std::string>, kComNumbers> bindingLine{};
    // Where each entry gave its adapter's make ("0403:6001"), and what it gave.
    std::array<std::pair<int, std::string>, kComNumbers> makeLine{};

    void doubt(int number, const std::string &why) {
        auto [found, added] = table.doubts.try_emplace(number, why);
        if (!added && found->second.find(why) == std::string::npos)
            found->second += "; " + why;
    }
    // Inside an entry the line stays with it; elsewhere it goes at the next save.
    void damaged(int line, const std::string &why) {
        if (section > 0)
            doubt(section, lineText(line) + ": " + why);
        else
            table.damage.push_back(lineText(line) + ": " + why);
    }

    void header(int line, std::string_view name) {
        const std::string lower = lowered(trimmed(name));
        section = -2;
        if (lower == kReleasedSection) {
            section = -1;
            return;
        }
        for (int number = 1; number <= kComNumbers; ++number) {
            if (lower == sectionOf(number))
                section = number;
        }
        if (section == -2) {
            damaged(line, "la sección " + quoted(name) + " no es ninguna de com1 a com" +
                              std::to_string(kComNumbers) + "; se salta");
            return;
        }
        auto &first = headerLine[static_cast<std::size_t>(section - 1)];
        if (first == 0)
            first = line;
        if (!table.at(section))
            table.at(section) = ComSlot{};
    }

    void released(int line, const std::string &key, const std::string &value) {
        if (key == "identity") {
            table.released.push_back(value);
        } else if (key == "identities") {  // the older form, one line
            for (std::size_t from = 0; from < value.size();) {
                const std::size_t end = value.find(" ; ", from);
                if (std::string one = value.substr(from, end - from); !one.empty())
                    table.released.push_back(one);
                from = end == std::string::npos ? value.size() : end + 3;
            }
        } else if (key == "numbers") {
            std::string word;
            for (std::size_t i = 0; i <= value.size(); ++i) {
                if (i < value.size() && value[i] != ' ') {
                    word += value[i];
                    continue;
                }
                if (word.size() == 1 && validComNumber(word[0] - '0'))
                    table.freed.insert(word[0] - '0');
                else if (!word.empty())
                    damaged(line, "\"" + safeText(word) + "\" no es un número de 1 a " +
                                      std::to_string(kComNumbers));
                word.clear();
            }
        }
    }

    void entry(int line, const std::string &key, const std::string &value) {
        ComSlot &slot = *table.at(section);
        if (key == "identity") {
            auto &seen = identityLine[static_cast<std::size_t>(section - 1)];
            if (seen != 0 && slot.identity != value)
                doubt(section, "COM " + std::to_string(section) + " nombra dos adaptadores, " +
                                   lineText(seen) + " y " + lineText(line));
            seen = line;
            slot.identity = value;
            // Parsed here, once: a damaged address is refused at its line
            // rather than when a first exchange tries to connect.
            if (net::looksLikeServerAddress(value) && !slot.identity.as<ServerId>()) {
                std::string why = net::parseServerAddress(value).error();
                why.front() =
                    static_cast<char>(std::tolower(static_cast<unsigned char>(why.front())));
                why.pop_back();  // the sentence goes on
                damaged(line, why);
            }
        } else if (key == "name") {
            slot.name = value;
        } else if (key == "kernel_rs485" || key == "console") {
            if (value != "true" && value != "false")
                return damaged(line, key + " = " + safeText(value) + " admite true o false");
            (key == "console" ? slot.console : slot.kernelRs485) = value == "true";
        } else if (key == "binding") {
            if (value != "adapter" && value != "usb-port")
                return damaged(line, "binding = " + safeText(value) + " admite adapter o usb-port");
            bindingLine[static_cast<std::size_t>(section - 1)] = {line, value};
        } else if (key == "seen_at") {
            slot.seenAt = value;
        } else if (key == "make") {
            makeLine[static_cast<std::size_t>(section - 1)] = {line, value};
        } else {
            slot.otherKeys.emplace_back(key, value);
        }
    }

    void read(int line, std::string_view text) {
        if (text.empty())
            return;
        if (text.front() == '[' && text.back() == ']')
            return header(line, text.substr(1, text.size() - 2));
        if (section > 0)
            sectionLines[static_cast<std::size_t>(section - 1)].emplace_back(text);
        if (text.front() == '#' || text.front() == ';')
            return;
        const auto equals = text.find('=');
        if (equals == std::string_view::npos || equals == 0)
            return damaged(line, quoted(text) + " no es \"clave = valor\"");
        const std::string key(trimmed(text.substr(0, equals)));
        const auto value = unescaped(trimmed(text.substr(equals + 1)));
        if (section == -2)
            return;  // named with its section
        if (!value)
            return damaged(line, quoted(text) + " tiene una \\ que no se entiende");
        if (section == 0)
            return damaged(line, quoted(text) + " está antes de toda sección; se salta");
        if (section == -1)
            return released(line, key, *value);
        entry(line, key, *value);
    }

    // The make is a line of its own, so that the identity line stays as
    // older versions wrote and read it.
    void withMake(int number, int line, const std::string &made) {
        ComSlot &slot = *table.at(number);
        const auto *id = slot.identity.as<AdapterId>();
        const auto colon = made.find(':');
        if (id == nullptr || !id->vendorId.empty() || colon == std::string::npos || colon == 0 ||
            colon + 1 == made.size())
            return doubt(number,
                         lineText(line) + ": make = " + safeText(made) +
                             (id == nullptr ? " solo vale junto a un adaptador USB"
                                            : " admite FABRICANTE:PRODUCTO, como 0403:6001"));
        AdapterId made_ = *id;
        made_.vendorId = made.substr(0, colon);
        made_.productId = made.substr(colon + 1);
        slot.identity = made_;
    }

    void finish() {
        // Every make first: two entries are compared whole, make included.
        for (int number = 1; number <= kComNumbers; ++number) {
            if (const auto &[madeAt, made] = makeLine[static_cast<std::size_t>(number - 1)];
                table.at(number) && madeAt != 0)
                withMake(number, madeAt, made);
        }
        for (int number = 1; number <= kComNumbers; ++number) {
            const auto &slot = table.at(number);
            const int line = headerLine[static_cast<std::size_t>(number - 1)];
            if (slot && slot->identity.empty())
                doubt(number, "[com" + std::to_string(number) + "] de la " + lineText(line) +
                                  " no tiene identity");
            // The binding is what the identity says; a line saying otherwise
            // was edited by hand, and following either half could reach
            // another adapter.
            const auto &[saidAt, said] = bindingLine[static_cast<std::size_t>(number - 1)];
            if (slot && !slot->identity.empty() && saidAt != 0 &&
                (said == "usb-port") != (slot->binding() == Binding::UsbPort)) {
                const std::string why =
                    lineText(saidAt) + ": binding = " + said +
                    " no cuadra con identity = " + safeText(slot->identity.text()) +
                    (said == "usb-port" ? ", que nombra un adaptador y no un conector USB"
                                        : ", que es un conector USB") +
                    "; COM " + std::to_string(number) + " no se usa hasta enlazarlo con F3 o " +
                    "--bind-port";
                doubt(number, why);  // kept with its entry, like a damaged line
            }
            for (int other = number + 1; slot && other <= kComNumbers; ++other) {
                if (table.at(other) && table.at(other)->identity == slot->identity) {
                    const std::string why = "COM " + std::to_string(number) + " y COM " +
                                            std::to_string(other) + " nombran el mismo adaptador";
                    doubt(number, why);
                    doubt(other, why);
                }
            }
        }
        for (const auto &[number, why] : table.doubts) {
            table.freed.erase(number);
            if (table.at(number))
                table.at(number)->keptLines = sectionLines[static_cast<std::size_t>(number - 1)];
        }
    }
};

}  // namespace

std::string refusalText(const PortRefusal &refusal) {
    using Code = PortRefusal::Code;
    const std::string number = std::to_string(refusal.number);
    const std::string other = "COM " + std::to_string(refusal.other);
    const SerialAdapter *first = refusal.adapters.empty() ? nullptr : refusal.adapters.front();
    switch (refusal.code) {
        case Code::NoSuchNumber:
            return "el número " + number + " no es ninguno de COM 1 a COM " +
                   std::to_string(kComNumbers);
        case Code::DamagedEntry:
            return "su entrada en la tabla no se puede usar (" + refusal.detail +
                   "); no se envía nada hasta que se le asigne un adaptador";
        case Code::SeveralFit: {
            std::string which;
            for (const SerialAdapter *adapter : refusal.adapters)
                which +=
                    (which.empty() ? "" : "; ") + adapterName(*adapter) + ", " + adapter->device;
            return "le encajan " + std::to_string(refusal.adapters.size()) + " adaptadores (" +
                   which +
                   ") y no se sabe cuál es el suyo; asígnele uno (F3 o marvalo-send "
                   "--assign-port " +
                   number + " DISPOSITIVO)";
        }
        case Code::ClaimedByConnector:
            return "el único adaptador que le encaja (" + adapterName(*first) + ", " +
                   first->device + ") es " + other +
                   ", que lo nombra con su conector USB; no se le envía nada";
        case Code::AlsoOtherNumber:
            return "su adaptador (" + adapterName(*first) + ") es también " + other +
                   " en la tabla; deje uno de los dos";
        case Code::NowConsole:
            return first->device +
                   " es ahora la consola del sistema y no se le envía nada; si de verdad es el "
                   "instrumento, asígnelo otra vez en \"Puertos serie…\" (F3) y confírmelo";
        case Code::OtherMake:
            return "su adaptador era " + refusal.detail + ", y el que tiene su nº de serie (" +
                   adapterName(*first) + ", " + first->device +
                   ") es de otra marca; no se le envía nada. Si es el suyo, asígneselo (F3 o "
                   "marvalo-send --assign-port " +
                   number + " DISPOSITIVO)";
        case Code::Unassigned:
        case Code::NotPlugged:
        case Code::EmptyConnector:
            break;
    }
    std::string reason = refusal.code == Code::Unassigned ? std::string("no tiene adaptador")
                         : refusal.code == Code::EmptyConnector
                             ? "no hay nada conectado en su conector USB " + refusal.detail
                             : "su adaptador (" + refusal.detail + ") no está conectado";
    std::string plugged;
    for (const SerialAdapter *adapter : refusal.unnumbered)
        plugged += std::string(plugged.empty() ? "" : ", ") + adapterName(*adapter) + " en " +
                   adapter->device + (adapter->console ? " (consola del sistema)" : "");
    if (!plugged.empty())
        reason += ". Sin número: " + plugged;
    if (refusal.numbered.empty())
        return reason + ". No hay ningún otro adaptador serie con número conectado";
    std::string connected;
    for (const auto &[com, adapter] : refusal.numbered)
        connected += std::string(connected.empty() ? "" : ", ") + "COM " + std::to_string(com) +
                     " (" + adapterName(*adapter) + ")";
    return reason + ". Conectados: " + connected;
}

std::string numberName(const PortsTable &table, int number,
                       const std::vector<SerialAdapter> &present) {
    if (auto adapter = findAdapter(table, number, present))
        return adapterName(*adapter.value());
    return table.at(number) ? table.at(number)->name : std::string("nada");
}

Result<Done, std::string> stillAsSeen(const PortsTable &table, const AsSeen &seen,
                                      const std::vector<SerialAdapter> &present) {
    const std::string meanwhile =
        "la tabla de puertos cambió mientras se preguntaba; no se hizo nada, vuelva a elegir";
    for (const SeenNumber &number : seen.numbers) {
        const auto &slot = table.at(number.number);
        if ((slot ? slot->identity : PortIdentity()) != number.identity)
            return "el COM " + std::to_string(number.number) + " ya no es " + number.name +
                   " sino " + numberName(table, number.number, present) + ": " + meanwhile;
    }
    if (seen.unnumbered) {
        if (auto now = table.numberOf(*seen.unnumbered))
            return adapterName(*seen.unnumbered) + " tiene ya el COM " + std::to_string(*now) +
                   ": " + meanwhile;
    }
    return Done{};
}

std::string assignmentText(const PortsTable &before, const PortsTable &after, int number,
                           const std::string &name, const SerialAdapter *adapter,
                           const std::vector<SerialAdapter> &present) {
    std::string said = "COM " + std::to_string(number) + " es ahora " + name + ".";
    // Never numbered again by itself: said now, not found out later. A
    // damaged entry or a server stood for no adapter.
    const auto &held = before.at(number);
    const bool displaced = held && !held->name.empty() && !before.doubts.count(number) &&
                           !held->identity.as<ServerId>() &&
                           !(adapter && held->identity.fits(*adapter));
    if (displaced)
        said += " " + numberName(before, number, present) +
                " queda sin número hasta que se le asigne uno.";
    for (int other = 1; other <= kComNumbers; ++other) {
        if (other != number && before.at(other) && !after.at(other))
            said += " COM " + std::to_string(other) + " queda libre.";
    }
    return said;
}

std::string formatPortsTable(const PortsTable &table) {
    std::string text =
        "# Números COM de Marvalo: a qué adaptador serie corresponde cada uno.\n"
        "# Se cambian con \"Puertos serie…\" (F3) en el panel y con marvalo-send\n"
        "# --assign-port, --free-port, --swap-ports y --bind-port.\n";
    if (!table.released.empty() || !table.freed.empty()) {
        text += "\n[" + std::string(kReleasedSection) + "]\n";
        if (!table.freed.empty()) {
            std::string numbers;
            for (int number : table.freed)
                numbers += (numbers.empty() ? "" : " ") + std::to_string(number);
            text += "numbers = " + numbers + "\n";
        }
        for (const PortIdentity &identity : table.released)
            text += "identity = " + escaped(withoutMake(identity).text()) + "\n";
    }
    for (int number = 1; number <= kComNumbers; ++number) {
        const auto &slot = table.at(number);
        if (!slot)
            continue;
        text += "\n[" + sectionOf(number) + "]\n";
        if (!slot->keptLines.empty()) {
            for (const std::string &line : slot->keptLines)
                text += line + "\n";
            continue;
        }
        if (const auto *id = slot->identity.as<AdapterId>(); id && !id->vendorId.empty()) {
            text += "identity = " + escaped(withoutMake(slot->identity).text()) + "\n";
            text += "make = " + escaped(id->vendorId + ":" + id->productId) + "\n";
        } else {
            text += "identity = " + escaped(slot->identity.text()) + "\n";
        }
        text += "name = " + escaped(slot->name) + "\n";
        text += std::string("binding = ") +
                (slot->binding() == Binding::UsbPort ? "usb-port" : "adapter") + "\n";
        text += std::string("kernel_rs485 = ") + (slot->kernelRs485 ? "true" : "false") + "\n";
        if (slot->console)
            text += "console = true\n";
        if (!slot->seenAt.empty())
            text += "seen_at = " + escaped(slot->seenAt) + "\n";
        for (const auto &[key, value] : slot->otherKeys)
            text += key + " = " + escaped(value) + "\n";
    }
    return text;
}

PortsTable parsePortsTable(std::string_view text) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(kByteOrderMark))
        text.remove_prefix(kByteOrderMark.size());
    Reader reader;
    for (int line = 1; !text.empty(); ++line) {
        const auto end = text.find('\n');
        reader.read(line, trimmed(text.substr(0, end)));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    reader.finish();
    return reader.table;
}

}  // namespace marvalo
