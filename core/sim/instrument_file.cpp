#include "core/sim/instrument_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/modbus/function_table.h"
#include "core/plans/reply_pattern.h"
#include "core/sim/live_values.h"
#include "core/sim/text_answers.h"
#include "core/text/latin1.h"
#include "core/toml/toml_reader.h"

namespace marvalo::sim {
namespace {

constexpr long long kHighestModbusAddress = 247;
constexpr long long kHighestTextAddress = 99;
constexpr long long kAddressSpace = 65536;
constexpr long long kMostMs = 60000;

const std::initializer_list<std::string_view> kTableNames{"coils", "discrete-inputs", "holding",
                                                          "input"};
const std::initializer_list<std::string_view> kBehaviourNames{"constant", "counter", "ramp", "sine",
                                                              "random"};
const std::initializer_list<std::string_view> kFaultNames{
    "silent", "delay",         "echo",  "exception", "bad-check",
    "short",  "wrong-address", "stray", "slow",      "count"};

std::string tableName(Table table) {
    return std::string(kTableNames.begin()[static_cast<std::size_t>(table)]);
}

void readLine(Reader &reader, const toml::table &table, LineModel &line) {
    reader.onlyKeys(table, "[line]", {"baud", "parity", "stop_bits"});
    if (const toml::node *baud = table.get("baud")) {
        bool known = false;
        for (const BaudRate &rate : kBaudRates)
            known =
                known || (baud->is_integer() && baud->as_integer()->get() == rate.bitsPerSecond);
        if (known)
            line.baud = static_cast<int>(baud->as_integer()->get());
        else
            reader.error(
                *baud, "baud es " + typeName(*baud) + "; se admite 1200, 2400, 4800, 9600 o 19200");
    }
    if (auto parity = reader.choice(table, "parity", {"none", "even", "odd"}))
        line.parity = "neo"[*parity];
    if (auto stop = reader.integer(table, "stop_bits", 1, 2))
        line.stopBits = static_cast<int>(*stop);
}

// The tables an instrument holds one array of tables of, each read by its
// own function.
template <typename Read>
void eachTable(Reader &reader, const toml::table &table, const char *key, const char *shape,
               Read read) {
    const toml::node *node = table.get(key);
    if (node == nullptr)
        return;
    if (!node->is_array_of_tables()) {
        reader.error(*node, std::string(key) + " es " + typeName(*node) + "; se admite " + shape);
        return;
    }
    for (const toml::node &entry : *node->as_array())
        read(*entry.as_table());
}

void readBlock(Reader &reader, const toml::table &table, Instrument &instrument) {
    reader.onlyKeys(table, "[[instrument.block]]",
                    {"table", "start", "count", "values", "bits", "writable"});
    Block block;
    block.place = reader.placeOf(table.source());
    const auto which = reader.choice(table, "table", kTableNames);
    const auto start = reader.integer(table, "start", 0, kAddressSpace - 1);
    const auto count = reader.integer(table, "count", 1, kAddressSpace);
    if (!table.get("table") || !table.get("start") || !table.get("count")) {
        reader.error(block.place, "el bloque necesita table, start y count");
        return;
    }
    if (!which || !start || !count)
        return;
    block.table = static_cast<Table>(*which);
    block.start = static_cast<std::uint16_t>(*start);
    block.count = static_cast<std::uint32_t>(*count);
    if (*start + *count > kAddressSpace) {
        reader.error(*table.get("count"),
                     "count es " + std::to_string(*count) +
                         ", que pasa de la dirección 65535; se admite de 1 a " +
                         std::to_string(kAddressSpace - *start));
        return;
    }
    block.words.assign(block.count, 0);
    const bool bits = isBitTable(block.table);
    block.writable = reader.boolean(table, "writable")
                         .value_or(block.table == Table::Coils || block.table == Table::Holding);
    if ((block.table == Table::DiscreteInputs || block.table == Table::Input) && block.writable)
        reader.error(*table.get("writable"),
                     "writable es true en la tabla \"" + tableName(block.table) +
                         "\", que ninguna función escribe; se admite en coils y holding");
    if (const toml::node *values = table.get("values")) {
        const long long high = bits ? 1 : 0xFFFF;
        if (!values->is_array() || values->as_array()->size() > block.count) {
            reader.error(*values, "values es " + typeName(*values) +
                                      "; se admite una lista de hasta " +
                                      std::to_string(block.count) + " enteros de 0 a " +
                                      std::to_string(high));
        } else {
            std::size_t at = 0;
            for (const toml::node &value : *values->as_array()) {
                const auto *integer = value.as_integer();
                if (integer == nullptr || integer->get() < 0 || integer->get() > high) {
                    reader.error(value, "el valor " + std::to_string(at) + " de values es " +
                                            typeName(value) + "; se admite un entero de 0 a " +
                                            std::to_string(high));
                    break;
                }
                block.words[at++] = static_cast<std::uint16_t>(integer->get());
            }
        }
    }
    if (auto packed = reader.text(table, "bits")) {
        const auto bytes = bytesFromHexText(*packed);
        if (!bits || table.get("values")) {
            reader.error(*table.get("bits"),
                         "bits solo se admite en coils o discrete-inputs y sin values");
        } else if (!bytes || bytes->size() * 8 > block.count + 7) {
            reader.error(*table.get("bits"),
                         "bits es \"" + *packed + "\"; se admiten hasta " +
                             std::to_string((block.count + 7) / 8) +
                             " bytes en hex, el bit menos significativo primero (\"AC DB 35\")");
        } else {
            for (std::size_t i = 0; i < block.count && i / 8 < bytes->size(); ++i)
                block.words[i] = ((*bytes)[i / 8] >> (i % 8)) & 1;
        }
    }
    for (const Block &other : instrument.blocks) {
        if (other.table == block.table && block.start < other.start + other.count &&
            other.start < block.start + block.count) {
            reader.error(block.place, "el bloque se solapa con el de " + other.place.text() +
                                          " en la tabla \"" + tableName(block.table) +
                                          "\"; se admiten bloques sin direcciones en común");
            return;
        }
    }
    instrument.blocks.push_back(std::move(block));
}

void readValue(Reader &reader, const toml::table &table, Instrument &instrument) {
    reader.onlyKeys(table, "[[instrument.value]]",
                    {"table", "address", "type", "order", "value", "behaviour", "step", "mean",
                     "amplitude", "period_s", "period_requests", "min", "max", "seed"});
    LiveValue live;
    live.place = reader.placeOf(table.source());
    const auto which = reader.choice(table, "table", {"holding", "input"});
    const auto address = reader.integer(table, "address", 0, kAddressSpace - 1);
    if (!table.get("address")) {
        reader.error(live.place, "el valor necesita address");
        return;
    }
    std::string viewText = reader.text(table, "type").value_or("u16");
    if (auto order = reader.text(table, "order"))
        viewText += ":" + *order;
    const auto view = parseRegisterView(viewText);
    if (!view || view.value().format == RegisterFormat::Hex ||
        view.value().format == RegisterFormat::Text) {
        reader.error(table.get("type") ? *table.get("type") : table,
                     "type/order es \"" + viewText +
                         "\"; se admite u16, s16, u32, s32 o f32, y order ABCD, CDAB, BADC o DCBA");
        return;
    }
    if (!address || (table.get("table") && !which))
        return;
    live.table = which ? (*which == 0 ? Table::Holding : Table::Input) : Table::Holding;
    live.address = static_cast<std::uint16_t>(*address);
    live.view = view.value();
    live.value = reader.number(table, "value").value_or(0);
    live.behaviour =
        static_cast<Behaviour>(reader.choice(table, "behaviour", kBehaviourNames).value_or(0));
    live.step = reader.number(table, "step").value_or(1);
    live.mean = reader.number(table, "mean").value_or(live.value);
    live.amplitude = reader.number(table, "amplitude").value_or(1);
    live.periodS = reader.number(table, "period_s").value_or(10);
    if (auto requests = reader.integer(table, "period_requests", 2, 1000000))
        live.periodRequests = static_cast<int>(*requests);
    live.min = reader.number(table, "min").value_or(0);
    live.max = reader.number(table, "max").value_or(100);
    live.seed = static_cast<std::uint64_t>(
        reader.integer(table, "seed", 0, std::numeric_limits<long long>::max()).value_or(1));
    if (live.periodS <= 0)
        reader.error(*table.get("period_s"), "period_s no es positivo; se admite un número > 0");
    if (live.min > live.max)
        reader.error(*table.get("min"), "min es mayor que max; se admite min <= max");
    if (live.behaviour == Behaviour::Constant || live.behaviour == Behaviour::Counter) {
        if (auto problem = valueProblem(live.value, live.view.format))
            reader.error(
                table.get("value") ? *table.get("value") : table,
                "value no cabe en " + std::string(formatName(live.view.format)) + ": " + *problem);
    }
    const std::uint32_t width = isWideFormat(live.view.format) ? 2 : 1;
    // A text instrument's values live in no table: {value} shows the first.
    const bool inside =
        !instrument.speaks(Protocol::Modbus) ||
        std::any_of(instrument.blocks.begin(), instrument.blocks.end(), [&](const Block &block) {
            return block.table == live.table && live.address >= block.start &&
                   live.address + width <= block.start + block.count;
        });
    if (!inside) {
        reader.error(*table.get("address"),
                     "address es " + std::to_string(live.address) +
                         (width == 2 ? " (y la siguiente, por ser de 32 bits)" : "") +
                         ", que ningún bloque \"" + tableName(live.table) +
                         "\" anterior tiene; se admite una dirección dentro de un bloque");
        return;
    }
    instrument.values.push_back(live);
}

void readRule(Reader &reader, const toml::table &table, Instrument &instrument) {
    reader.onlyKeys(table, "[[instrument.rule]]",
                    {"function", "start", "quantity", "instruction", "fault", "code", "delay_ms",
                     "as", "count", "bytes", "stray", "every", "probability", "seed"});
    Rule rule;
    rule.place = reader.placeOf(table.source());
    if (auto function = reader.integer(table, "function", 1, 127))
        rule.function = static_cast<std::uint8_t>(*function);
    if (auto start = reader.integer(table, "start", 0, kAddressSpace - 1))
        rule.start = static_cast<std::uint16_t>(*start);
    if (auto quantity = reader.integer(table, "quantity", 0, kAddressSpace - 1))
        rule.quantity = static_cast<std::uint16_t>(*quantity);
    if (auto pattern = reader.text(table, "instruction")) {
        if (auto problem = patternProblem(*pattern))
            reader.error(*table.get("instruction"),
                         "instruction \"" + *pattern +
                             "\" no es una expresión RE2 válida: " + problem->what);
        rule.instruction = *pattern;
    }
    const auto fault = reader.choice(table, "fault", kFaultNames);
    if (!table.get("fault"))
        reader.error(
            rule.place, "la regla necesita fault; se admite " + [] {
                std::string list;
                for (std::string_view name : kFaultNames)
                    list += (list.empty() ? "" : ", ") + std::string(name);
                return list;
            }());
    rule.fault = static_cast<FaultKind>(fault.value_or(0));
    rule.code = static_cast<std::uint8_t>(reader.integer(table, "code", 1, 255).value_or(4));
    rule.delayMs = static_cast<int>(reader.integer(table, "delay_ms", 0, kMostMs).value_or(0));
    if (auto as = reader.integer(table, "as", 0, kHighestModbusAddress))
        rule.as = static_cast<int>(*as);
    rule.count = static_cast<int>(
        reader.integer(table, rule.fault == FaultKind::Short ? "bytes" : "count", 0, 125)
            .value_or(rule.fault == FaultKind::Short ? 3 : 1));
    if (auto stray = reader.text(table, "stray")) {
        if (auto bytes = bytesFromHexText(*stray); bytes && !bytes->empty())
            rule.stray = *bytes;
        else
            reader.error(*table.get("stray"),
                         "stray es \"" + *stray + "\"; se admiten bytes en hex (\"14 DA 3E\")");
    }
    rule.every = static_cast<int>(reader.integer(table, "every", 1, 1000000).value_or(1));
    if (auto probability = reader.number(table, "probability")) {
        if (*probability < 0 || *probability > 1)
            reader.error(*table.get("probability"),
                         "probability está fuera de 0..1; se admite un número de 0 a 1");
        rule.probability = *probability;
    }
    rule.seed = static_cast<std::uint64_t>(
        reader.integer(table, "seed", 0, std::numeric_limits<long long>::max()).value_or(1));
    if (rule.fault == FaultKind::Stray && rule.stray.empty() && !table.get("stray"))
        reader.error(rule.place, "fault \"stray\" necesita stray = \"HEX\"");
    instrument.rules.push_back(std::move(rule));
}

void readServerId(Reader &reader, const toml::table &table, Instrument &instrument) {
    reader.onlyKeys(table, "[instrument.server_id]", {"id", "running", "text"});
    ServerId id;
    id.id = static_cast<std::uint8_t>(reader.integer(table, "id", 0, 255).value_or(0));
    id.running = reader.boolean(table, "running").value_or(true);
    id.text = reader.text(table, "text").value_or("");
    constexpr std::size_t kMostText = 240;  // the reply's byte count holds it, id and state
    const Latin1Result bytes = latin1FromUtf8(id.text);
    if (bytes.failure || bytes.bytes.size() > kMostText)
        reader.error(*table.get("text"), "text no cabe en la respuesta; se admiten hasta " +
                                             std::to_string(kMostText) + " caracteres de 8 bits");
    id.text = textOf(bytes.bytes);
    instrument.serverId = id;
}

void readIdentity(Reader &reader, const toml::table &table, Instrument &instrument) {
    for (auto &&[key, node] : table) {
        std::optional<std::uint8_t> number;
        // The standard objects by their names, the maker's (0x80 up) by number.
        for (int id = 0; id < 0x80 && !number; ++id) {
            const std::string_view standard = deviceObjectName(static_cast<std::uint8_t>(id));
            if (!standard.empty() && key.str() == standard)
                number = static_cast<std::uint8_t>(id);
        }
        if (!number) {
            const std::string text(key.str());
            const bool hex = text.starts_with("0x") || text.starts_with("0X");
            char *end = nullptr;
            const long value = std::strtol(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
            if (!text.empty() && *end == '\0' && value >= 0 && value <= 255)
                number = static_cast<std::uint8_t>(value);
        }
        const Latin1Result bytes =
            node.is_string() ? latin1FromUtf8(node.as_string()->get()) : Latin1Result{};
        if (!number) {
            reader.error(reader.placeOf(key.source()),
                         "el objeto \"" + std::string(key.str()) +
                             "\" no existe; se admite VendorName, ProductCode, "
                             "MajorMinorRevision, VendorUrl, ProductName, ModelName, "
                             "UserApplicationName o un número de 0 a 255");
        } else if (!node.is_string() || bytes.failure || bytes.bytes.size() > 200) {
            reader.error(node, std::string(key.str()) + " es " + typeName(node) +
                                   "; se admite un texto de hasta 200 caracteres de 8 bits");
        } else {
            instrument.identity[*number] = textOf(bytes.bytes);
        }
    }
}

void readAnswer(Reader &reader, const toml::table &table, Instrument &instrument) {
    reader.onlyKeys(table, "[[instrument.answer]]",
                    {"protocol", "instruction", "reply", "delay_ms"});
    TextAnswer answer;
    answer.place = reader.placeOf(table.source());
    if (auto protocol = reader.choice(table, "protocol", {"korvel", "iso1745"})) {
        answer.protocol = *protocol == 0 ? Protocol::Korvel : Protocol::Iso1745;
        if (!instrument.speaks(*answer.protocol))
            reader.error(*table.get("protocol"), "protocol es " + typeName(*table.get("protocol")) +
                                                     ", que el instrumento no habla");
    }
    answer.instruction = reader.text(table, "instruction").value_or("");
    answer.reply = reader.text(table, "reply").value_or("");
    answer.delayMs = static_cast<int>(reader.integer(table, "delay_ms", 0, kMostMs).value_or(0));
    if (!table.get("instruction") || !table.get("reply")) {
        reader.error(answer.place, "la respuesta necesita instruction y reply");
        return;
    }
    if (auto problem = patternProblem(answer.instruction)) {
        reader.error(*table.get("instruction"),
                     "instruction \"" + answer.instruction +
                         "\" no es una expresión RE2 válida: " + problem->what);
        return;
    }
    if (auto problem = templateProblem(answer.reply, answer.instruction)) {
        reader.error(*table.get("reply"), "reply \"" + answer.reply + "\": " + *problem);
        return;
    }
    // The line carries one byte per character: a reply that cannot be sent
    // whole is refused here, not cut short on the line.
    if (const auto beyond = latin1FromUtf8(answer.reply).failure) {
        reader.error(*table.get("reply"), "reply \"" + answer.reply + "\" lleva \"" +
                                              beyond->character +
                                              "\", que no cabe en un byte; se admiten "
                                              "caracteres de 8 bits (Latin-1)");
        return;
    }
    instrument.answers.push_back(std::move(answer));
}

void readInstrument(Reader &reader, const toml::table &table, InstrumentFile &file) {
    reader.onlyKeys(table, "[[instrument]]",
                    {"address", "protocol", "name", "block", "value", "rule", "server_id",
                     "identity", "exception_status", "answer"});
    Instrument instrument;
    instrument.place = reader.placeOf(table.source());
    instrument.name = reader.text(table, "name").value_or("");
    const toml::node *protocol = table.get("protocol");
    auto protocolOf = [&](const toml::node &node) {
        for (std::size_t i = 0; i < kProtocolCount; ++i) {
            if (node.is_string() && node.as_string()->get() == kProtocolKeys[i]) {
                instrument.protocols.push_back(static_cast<Protocol>(i));
                return;
            }
        }
        reader.error(node, "protocol es " + typeName(node) +
                               "; se admite \"modbus\", \"korvel\" o \"iso1745\", o una lista "
                               "de ellos");
    };
    if (protocol == nullptr) {
        reader.error(instrument.place,
                     "el instrumento necesita protocol (\"modbus\", "
                     "\"korvel\" o \"iso1745\")");
    } else if (protocol->is_array()) {
        for (const toml::node &one : *protocol->as_array())
            protocolOf(one);
    } else {
        protocolOf(*protocol);
    }
    const bool modbus = instrument.speaks(Protocol::Modbus);
    const long long highest =
        instrument.speaks(Protocol::Korvel) || instrument.speaks(Protocol::Iso1745)
            ? kHighestTextAddress
            : kHighestModbusAddress;
    if (auto address = reader.integer(table, "address", modbus ? 1 : 0, highest))
        instrument.address = static_cast<int>(*address);
    else if (!table.get("address"))
        reader.error(instrument.place, "el instrumento necesita address");
    instrument.exceptionStatus =
        static_cast<std::uint8_t>(reader.integer(table, "exception_status", 0, 255).value_or(0));
    eachTable(reader, table, "block", "una lista de [[instrument.block]]",
              [&](const toml::table &t) { readBlock(reader, t, instrument); });
    eachTable(reader, table, "value", "una lista de [[instrument.value]]",
              [&](const toml::table &t) { readValue(reader, t, instrument); });
    eachTable(reader, table, "rule", "una lista de [[instrument.rule]]",
              [&](const toml::table &t) { readRule(reader, t, instrument); });
    eachTable(reader, table, "answer", "una lista de [[instrument.answer]]",
              [&](const toml::table &t) { readAnswer(reader, t, instrument); });
    if (const toml::node *id = table.get("server_id")) {
        if (id->is_table())
            readServerId(reader, *id->as_table(), instrument);
        else
            reader.error(*id, "server_id es " + typeName(*id) + "; se admite una tabla");
    }
    if (const toml::node *identity = table.get("identity")) {
        if (identity->is_table())
            readIdentity(reader, *identity->as_table(), instrument);
        else
            reader.error(*identity, "identity es " + typeName(*identity) + "; se admite una tabla");
    }
    const bool text = instrument.speaks(Protocol::Korvel) || instrument.speaks(Protocol::Iso1745);
    if (!modbus && (table.get("block") || table.get("server_id") || table.get("identity")))
        reader.error(instrument.place,
                     "block, server_id e identity solo se admiten en un "
                     "instrumento modbus");
    if (!text && table.get("answer"))
        reader.error(*table.get("answer"),
                     "answer solo se admite en un instrumento korvel o iso1745");
    for (const Instrument &other : file.instruments) {
        for (Protocol spoken : instrument.protocols) {
            if (other.address == instrument.address && other.speaks(spoken)) {
                reader.error(instrument.place,
                             "la dirección " + std::to_string(instrument.address) + " en " +
                                 std::string(kProtocolKeys[static_cast<std::size_t>(spoken)]) +
                                 " ya es del instrumento de " + other.place.text() +
                                 "; se admite una dirección por instrumento y protocolo");
                return;
            }
        }
    }
    file.instruments.push_back(std::move(instrument));
}

}  // namespace

Result<InstrumentFile, std::vector<std::string>> parseInstrumentFile(std::string_view text,
                                                                     const std::string &fileName) {
    std::vector<std::string> errors;
    if (text.size() > kMostInstrumentFileBytes) {
        errors.push_back(fileName + ":1:1: el archivo tiene " + std::to_string(text.size()) +
                         " bytes; se admite hasta " + std::to_string(kMostInstrumentFileBytes));
        return errors;
    }
    auto parsed = parseToml(text, fileName, "el instrumento");
    if (!parsed) {
        errors.push_back(parsed.error());
        return errors;
    }
    const toml::table &document = parsed.value();
    Reader reader(fileName, errors);
    InstrumentFile file;
    reader.onlyKeys(document, "el archivo de instrumentos", {"line", "instrument"});
    if (const toml::node *line = document.get("line")) {
        if (line->is_table())
            readLine(reader, *line->as_table(), file.line);
        else
            reader.error(*line, "line es " + typeName(*line) + "; se admite la tabla [line]");
    }
    const toml::node *instruments = document.get("instrument");
    if (instruments == nullptr) {
        errors.push_back(fileName + ":1:1: el archivo no tiene ningún [[instrument]]");
    } else if (!instruments->is_array_of_tables()) {
        reader.error(*instruments, "instrument es " + typeName(*instruments) +
                                       "; se admite una lista, cada uno con su [[instrument]]");
    } else {
        for (const toml::node &one : *instruments->as_array())
            readInstrument(reader, *one.as_table(), file);
    }
    reader.putInFileOrder();
    if (!errors.empty())
        return errors;
    return file;
}

std::string builtInInstrumentText(int address) {
    // Holding register n holds n and input register n holds 1000 + n, so a
    // read shows at a glance which registers came back.
    auto run = [](int first, int count) {
        std::string text = "[";
        for (int n = 0; n < count; ++n)
            text += (n == 0 ? "" : n % 16 == 0 ? ",\n  " : ", ") + std::to_string(first + n);
        return text + "]";
    };
    char head[64];
    std::snprintf(head, sizeof head, "address = %d\n", address);
    return std::string(
               "# El instrumento propio de marvalo-sim: habla los tres protocolos en una\n"
               "# dirección. Un punto de partida para un archivo de instrumentos suyo.\n"
               "[line]\nbaud = 9600\nparity = \"none\"\nstop_bits = 1\n\n"
               "[[instrument]]\n") +
           head +
           "protocol = [\"modbus\", \"korvel\", \"iso1745\"]\n"
           "name = \"marvalo-sim\"\n\n"
           "[[instrument.block]]\ntable = \"holding\"\nstart = 0\ncount = 600\nvalues = " +
           run(0, 600) +
           "\n\n[[instrument.block]]\ntable = \"input\"\nstart = 0\ncount = 600\nvalues = " +
           run(1000, 600) +
           "\n\n[[instrument.block]]\ntable = \"coils\"\nstart = 0\ncount = 256\n\n"
           "# Valores que solo los formatos de 32 bits y con signo muestran bien,\n"
           "# la palabra alta primero.\n"
           "[[instrument.value]]\naddress = 500\ntype = \"u32\"\nvalue = 3000000366\n\n"
           "[[instrument.value]]\naddress = 502\ntype = \"u32\"\nvalue = 4294967295\n\n"
           "[[instrument.value]]\naddress = 504\ntype = \"s32\"\nvalue = -2147483648\n\n"
           "# Los senos dan un paso de 40 hacia una onda con cada petición Modbus.\n"
           "[[instrument.value]]\naddress = 506\ntype = \"f32\"\nbehaviour = \"sine\"\n"
           "mean = 20\namplitude = 5\nperiod_requests = 40\n\n"
           "[[instrument.value]]\naddress = 508\ntype = \"s16\"\nbehaviour = \"sine\"\n"
           "mean = 0\namplitude = 1000\nperiod_requests = 40\n\n"
           "[[instrument.value]]\naddress = 509\ntype = \"s16\"\nvalue = -1234\n\n"
           "[[instrument.value]]\naddress = 510\ntype = \"u32\"\nvalue = 3000000000\n"
           "behaviour = \"counter\"\nstep = 1\n\n"
           "[instrument.server_id]\nid = 1\nrunning = true\ntext = \"MARVALO-SIM 1.0\"\n\n"
           "[instrument.identity]\nVendorName = \"Marvalo\"\nProductCode = \"MARVALO-SIM\"\n"
           "MajorMinorRevision = \"1.0\"\n\n"
           "# Korvel: la respuesta empieza por la dirección; ISO 1745: el texto solo,\n"
           "# que el simulador enmarca y comprueba. Un BCC mal recibe NAK.\n"
           "[[instrument.answer]]\nprotocol = \"korvel\"\ninstruction = \"^D$\"\n"
           "reply = \"{address}D+0023.4\"\n\n"
           "[[instrument.answer]]\nprotocol = \"korvel\"\ninstruction = \"^V$\"\n"
           "reply = \"{address}VMARVALO-SIM 1.0\"\n\n"
           "[[instrument.answer]]\nprotocol = \"korvel\"\ninstruction = \"^A$\"\n"
           "reply = \"{address}A{address}\"\n\n"
           "[[instrument.answer]]\nprotocol = \"korvel\"\ninstruction = \".*\"\n"
           "reply = \"{address}?\"\n\n"
           "[[instrument.answer]]\nprotocol = \"iso1745\"\ninstruction = \"^0D$\"\n"
           "reply = \"0D+0023.4\"\n\n"
           "[[instrument.answer]]\nprotocol = \"iso1745\"\ninstruction = \"^0V$\"\n"
           "reply = \"0VMARVALO-SIM 1.0\"\n\n"
           "[[instrument.answer]]\nprotocol = \"iso1745\"\ninstruction = \".*\"\n"
           "reply = \"?\"\n";
}

}  // namespace marvalo::sim
