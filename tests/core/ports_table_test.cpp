#include "core/ports/ports_table.h"

#include <gtest/gtest.h>

#include <functional>

namespace marvalo {
namespace {

SerialAdapter usb(const std::string &kernel, const std::string &serial, const std::string &path,
                  int interface = 0, int port = 0) {
    SerialAdapter adapter;
    adapter.kernelName = kernel;
    adapter.device = "/dev/" + kernel;
    adapter.usb = UsbIdentity{"0403", "6001", "FTDI", "FT232R", serial, interface, port, path};
    return adapter;
}

SerialAdapter uart(const std::string &kernel, bool console) {
    SerialAdapter adapter;
    adapter.kernelName = kernel;
    adapter.device = "/dev/" + kernel;
    adapter.console = console;
    return adapter;
}

// Each row: a table as found on disk, the adapters present, what happens
// before COM `number` is looked up, and where it leads ("ttyUSB1") or a
// part of the refusal.
TEST(PortsTable, EachNumberLeadsToItsOwnAdapterOrIsRefused) {
    const std::string ab = "[com1]\nidentity = usb-serial:B:0\n[com2]\nidentity = usb-serial:A:0\n";
    const struct {
        const char *situation;
        std::string file;
        std::vector<SerialAdapter> present;
        std::function<void(PortsTable &, std::vector<SerialAdapter> &)> before;
        int number;
        std::string leadsTo;
    } rows[] = {
        {"random bytes never renumber",
         ab + "\x01\xfe\xff garbage\n[com6]\nidentity = x\n",
         {usb("ttyUSB0", "A", "1-2"), usb("ttyUSB1", "B", "1-3"), usb("ttyUSB2", "C", "1-4")},
         [](PortsTable &t, auto &p) { numberNewAdapters(t, p); },
         3,
         "no tiene adaptador"},
        {"clones sharing a serial",
         "[com1]\nidentity = usb-serial:S:0\n",
         {usb("ttyUSB0", "S", "1-2"), usb("ttyUSB1", "S", "1-3")},
         [](PortsTable &, auto &p) { markSiblings(p); },
         1,
         "le encajan 2 adaptadores"},
        {"a clone known by its hub port",
         "[com1]\nidentity = usb-serial:S:0@1-3\n",
         {usb("ttyUSB0", "S", "1-2"), usb("ttyUSB1", "S", "1-3")},
         [](PortsTable &, auto &p) { markSiblings(p); },
         1,
         "ttyUSB1"},
        {"ports on one interface",
         "[com1]\nidentity = usb-serial:Q:0.2\n",
         {usb("ttyUSB0", "Q", "1-2", 0, 0), usb("ttyUSB1", "Q", "1-2", 0, 1),
          usb("ttyUSB2", "Q", "1-2", 0, 2)},
         {},
         1,
         "ttyUSB2"},
        {"the console never numbered by itself",
         "",
         {uart("ttyS0", true)},
         [](PortsTable &t, auto &p) { numberNewAdapters(t, p); },
         1,
         "no tiene adaptador"},
        {"a freed number stays free",
         "[released]\nnumbers = 1\n",
         {usb("ttyUSB0", "A", "1-2")},
         [](PortsTable &t, auto &p) { numberNewAdapters(t, p); },
         1,
         "no tiene adaptador"},
        {"a new adapter takes a number never freed",
         "[released]\nnumbers = 1\n",
         {usb("ttyUSB0", "A", "1-2")},
         [](PortsTable &t, auto &p) { numberNewAdapters(t, p); },
         2,
         "ttyUSB0"},
        {"a clone's own entry wins over its twin's serial alone",
         "[com1]\nidentity = usb-serial:S:0\n[com2]\nidentity = usb-serial:S:0@1-3\n",
         {usb("ttyUSB1", "S", "1-3")},
         {},
         1,
         "es COM 2"},
        {"the clone's own entry with its twin away",
         "[com1]\nidentity = usb-serial:S:0\n[com2]\nidentity = usb-serial:S:0@1-3\n",
         {usb("ttyUSB1", "S", "1-3")},
         {},
         2,
         "ttyUSB1"},
        {"a clone is not bound by its serial alone",
         "[com1]\nidentity = usb-serial:S:0@1-2\n[com2]\nidentity = usb-serial:S:0@1-3\n",
         {usb("ttyUSB0", "S", "1-2")},
         [](PortsTable &t, auto &p) {
             EXPECT_FALSE(bindNumber(t, 1, Binding::Adapter, p));
             p = {usb("ttyUSB1", "S", "1-3")};
         },
         1,
         "no está conectado"},
        {"an empty connector is named",
         "[com1]\nidentity = usb-path:1-6:0\n",
         {},
         {},
         1,
         "conector USB 1-6"},
        {"the console offered without a number is marked",
         "",
         {uart("ttyS0", true)},
         {},
         1,
         "/dev/ttyS0 (consola del sistema)"},
        {"a hand-written usb-port binding beside a serial identity",
         "[com1]\nidentity = usb-serial:A:0\nbinding = usb-port\n",
         {usb("ttyUSB0", "A", "1-2"), usb("ttyUSB1", "B", "1-2")},
         {},
         1,
         "línea 3: binding = usb-port no cuadra"},
        {"a hand-written adapter binding beside a connector",
         "[com1]\nidentity = usb-path:1-2:0\nbinding = adapter\n",
         {usb("ttyUSB0", "A", "1-2")},
         {},
         1,
         "línea 3: binding = adapter no cuadra"},
        {"assigning one clone leaves their serial's number; by adapter it stays by connector",
         "[com1]\nidentity = usb-serial:S:0\n",
         {usb("ttyUSB0", "S", "1-2"), usb("ttyUSB1", "S", "1-3")},
         [](PortsTable &t, auto &p) {
             markSiblings(p);
             ASSERT_TRUE(assignNumber(t, 2, p[1], false));
             EXPECT_FALSE(bindNumber(t, 2, Binding::Adapter, p));
         },
         1,
         "le encajan 2 adaptadores"},
        {"two entries with their make name one adapter",
         "[com1]\nidentity = usb-serial:A:0\nmake = 0403:6001\n[com2]\nidentity = "
         "usb-serial:A:0\nmake = 0403:6001\n",
         {usb("ttyUSB0", "A", "1-2")},
         {},
         1,
         "COM 1 y COM 2 nombran el mismo adaptador"},
        {"a damaged server address, at its line",
         "[com1]\nname = x\nidentity = socket://bench:0\n",
         {},
         {},
         1,
         "línea 3: la dirección \"socket://bench:0\" no vale: el puerto"},
        {"bound to the connector by the operator",
         "[com1]\nidentity = usb-serial:UNIT1:0\n",
         {usb("ttyACM0", "UNIT1", "1-2")},
         [](PortsTable &t, auto &p) {
             ASSERT_TRUE(bindNumber(t, 1, Binding::UsbPort, p));
             p = {usb("ttyACM1", "UNIT2", "1-2")};
         },
         1,
         "ttyACM1"},
        {"a swap of two free numbers, refused",
         ab,
         {usb("ttyUSB0", "A", "1-2"), usb("ttyUSB1", "B", "1-3")},
         [](PortsTable &t, auto &) { EXPECT_FALSE(swapNumbers(t, 4, 5).ok()); },
         1,
         "ttyUSB1"},
    };
    for (const auto &row : rows) {
        PortsTable table = parsePortsTable(row.file);
        auto present = row.present;
        if (row.before)
            row.before(table, present);
        auto found = adapterFor(table, row.number, present);
        const std::string said = found ? found.value()->kernelName : found.error();
        EXPECT_NE(said.find(row.leadsTo), std::string::npos) << row.situation << ": " << said;
        EXPECT_EQ(found.ok(), row.leadsTo.starts_with("tty")) << row.situation << ": " << said;
    }
}

TEST(PortsTable, EveryValueSurvivesSaveAndLoad) {
    PortsTable table;
    const std::string values[] = {"A\r5",           "two\nlines", " blank ", "x ; y",
                                  "back\\slash\\n", "\x01\x7f",   "nº ünï",  "#;[com2]="};
    int number = 1;
    for (const std::string &value : values) {
        table.released.push_back(value);
        if (number <= kComNumbers)
            table.at(number++) = ComSlot{
                "usb-serial:" + value + ":0", value, true, false, {{"nota", value}}, {}, value};
    }
    table.freed = {};
    EXPECT_EQ(parsePortsTable(formatPortsTable(table)), table) << formatPortsTable(table);

    for (int round = 0; round < 40; ++round)  // a fixture freeing unit after unit
        ASSERT_TRUE(
            assignNumber(table, 1, usb("ttyACM0", "U" + std::to_string(round), "1-2"), false));
    EXPECT_LE(table.released.size(), kMaxReleased);
}

}  // namespace
}  // namespace marvalo
