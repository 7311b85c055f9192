#include "core/plans/test_plan.h"

#include <gtest/gtest.h>

#include "core/frames/check_codes.h"
#include "core/plans/plan_judge.h"
#include "core/plans/plan_report.h"
#include "core/records/influx_line.h"
#include "core/records/pcapng.h"

namespace marvalo {
namespace {

constexpr const char *kStep = "[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 3\n";

TEST(TestPlan, BadPlansAreRefusedWithTheirPlace) {
    std::string u32s = "1";  // 62 values, 124 registers
    for (int i = 1; i < 62; ++i)
        u32s += ",1";
    const std::pair<std::string, const char *> rows[] = {
        {"[[step]\nprotocol = \"korvel\"",
         "bad.toml:1:8: el plan no es TOML válido: línea 1, columna 8 (a la cabecera le falta su "
         "']')"},
        {"[[step]]\nprotocol =\n", "columna 11 (a la clave le falta su valor: clave = valor)"},
        {"[[step]]\nprotocol = \"\xff\"",
         "(hay bytes que no son UTF-8: guarde el archivo en UTF-8)"},
        {"[[step]]\naddress = 1__0", "(el TOML no es válido aquí)"},
        {std::string(kStep) + "start = 10\nwords = 1\nexpect = { registers = [ { number = 10, "
                              "format = \"f32\", equals = 1 } ] }",
         "que la lectura no trae; la lectura no trae registros bastantes"},
        {std::string(kStep) +
             "words = 1\nexpect = { registers = [ { number = 0, equals = 1.5 } ] }",
         "equals es el número 1.5; un registro u16"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 0\nfunction = 4\nwords = 1",
         "bad.toml:3:11: address es 0, una difusión"},
        {"[[step]]\nprotocol = \"korvel\"\naddress = 1\ncolour = \"red\"",
         "bad.toml:4:1: la clave \"colour\" no existe en [[step]]"},
        {"[[step]]\nprotocol = \"korvel\"\naddress = 100",
         "bad.toml:3:11: address es el entero 100"},
        {"[[step]]\nprotocol = \"dnp3\"\naddress = 1",
         "protocol es \"dnp3\"; se admite \"korvel\""},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 99",
         "function es 99; se admite 1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17, 22, 23, 43"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 16\nstart = 0\nwords = 2\ndata "
         "= \"1;2\"",
         "bad.toml:7:8: el paso \"paso 1\": la función 16 anuncia 4 bytes de datos y los datos "
         "traen 2"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 16\nstart = 0\nwords = 1\ndata "
         "= \"1;2;3\"",
         "la función 16 anuncia 2 bytes de datos y los datos traen 3"},
        {std::string(kStep) + "expect = { verdict = \"fine\" }",
         "verdict es \"fine\", que no es ningún veredicto"},
        {std::string(kStep) + "expect = { reply_hex = \"01 03 0\" }", "reply_hex es \"01 03 0\""},
        {"[[step]]\nprotocol = \"korvel\"\naddress = 1\nexpect = { text = \"(\" }",
         "bad.toml:4:20: text \"(\" no es una expresión RE2 válida"},
        {"[[step]]\nprotocol = \"korvel\"\naddress = 1\nexpect = { text = \"^01A***X\" }",
         "bad.toml:4:24: text \"^01A***X\" no es una expresión RE2 válida: repeticiones"},
        // Expectations no reply can meet.
        {std::string(kStep) + "start = 10\nwords = 2\nexpect = { registers = [ { number = 12, "
                              "equals = 1 } ] }",
         "bad.toml:7:37: number es 12, que la lectura no trae; se admite de 10 a 11"},
        {std::string(kStep) +
             "start = 0\nwords = 2\nexpect = { registers = [ { number = 1, equals = 1, "
             "format = \"u32\" } ] }",
         "bad.toml:7:37: number es 1 (y el siguiente"},
        {std::string(kStep) + "words = 1\nexpect = { registers = [ { number = 0, min = 5, max = "
                              "1 } ] }",
         "bad.toml:6:46: min es mayor que max"},
        {std::string(kStep) +
             "words = 1\nexpect = { registers = [ { number = 0, equals = nan } ] }",
         "bad.toml:6:49: equals es el número nan; se admite un número finito"},
        {std::string(kStep) + "words = 1\nexpect = { registers = [ { number = 0, equals = -1 } ] }",
         "bad.toml:6:49: equals es el entero -1; un registro u16 o hex lee enteros de 0 a 65535"},
        {std::string(kStep) + "words = 1\nexpect = { registers = [ { number = 0, equals = 1, min = "
                              "0 } ] }",
         "bad.toml:6:58: equals ya dice el valor exacto"},
        {std::string(kStep) + "words = 1\nexpect = { max_first_byte_ms = -1 }",
         "bad.toml:6:32: max_first_byte_ms es el entero -1; se admite un número de milisegundos"},
        {std::string(kStep) + "words = 1\nexpect = { max_first_byte_ms = nan }",
         "bad.toml:6:32: max_first_byte_ms es el número nan"},
        {std::string(kStep) +
             "words = 1\nexpect = { verdict = \"silence\", max_first_byte_ms = 9 }",
         "bad.toml:6:53: max_first_byte_ms no puede cumplirse con verdict = \"silence\""},
        {"[[step]]\nprotocol = \"korvel\"\naddress = 1\nexpect = { verdict = \"silence\", text = "
         "\"x\" }",
         "bad.toml:4:40: text no puede cumplirse con verdict = \"silence\""},
        {std::string(kStep) + "words = 1\nexpect = { registers = [ { number = 0, equals = 1, "
                              "format = \"text\" } ] }",
         "bad.toml:6:61: format es \"text\", que no es un número"},
        // One fault, one message, at its own place.
        {std::string(kStep) + "start = 70000\nwords = 3", "bad.toml:5:9: start es el entero 70000"},
        {"[line]\nwait = -1\n[[step]]\nprotocol = \"korvel\"\naddress = 1",
         "bad.toml:2:8: wait es el entero -1; se admite"},
        {std::string(kStep) + "start = 65536",
         "bad.toml:5:9: start es el entero 65536; se admite un "
         "entero de 0 a 65535"},
        {"[step]\nprotocol = \"korvel\"\naddress = 1", "bad.toml:1:1: step es una tabla"},
        {"[[step]]\nprotocol = \"iso1745\"\naddress = 1\nexpect = { registers = [] }",
         "registers solo se aplica a una lectura modbus"},
        {std::string(kStep) +
             "expect = { registers = [ { number = 1, equals = 1, format = \"f64\" } ] }",
         "\"f64\" no es un formato"},
        {"[[step]]\nprotocol = \"korvel\"\naddress = 1\nfunction = 3",
         "function no se aplica a este protocolo"},
        {"[line]\nbaud = 12000001\n[[step]]\nprotocol = \"korvel\"\naddress = 1",
         "baud es el entero 12000001; se admite un entero de 50 a 12000000"},
        {"[line]\ndata_bits = 9\n[[step]]\nprotocol = \"korvel\"\naddress = 1",
         "bad.toml:2:13: data_bits es el entero 9; se admite un entero de 7 a 8"},
        {"[line]\nwait = \"forever\"\n[[step]]\nprotocol = \"korvel\"\naddress = 1",
         "wait es \"forever\""},
        {"[line]\nbaud = 9600", "el plan no tiene ningún [[step]]"},
        {"[line]\ndevice = \"rfc2217://127.0.0.1\"\n[[step]]\nprotocol = \"korvel\"\naddress = 1",
         "bad.toml:2:10: device: La dirección \"rfc2217://127.0.0.1\" no vale: falta \":PUERTO\""},
        {"[line]\ndevice = \"socket://127.0.0.1:4001 \"\n[[step]]\nprotocol = \"korvel\"\naddress "
         "= "
         "1",
         "bad.toml:2:10: device: La dirección \"socket://127.0.0.1:4001 \" no vale: el puerto"},
        // Beyond the panel's functions: what cannot apply, where it stands.
        {std::string(kStep) + "start = 0\nwords = 2\nexpect = { bits = [1, 0] }",
         "bad.toml:7:19: bits solo se aplica a una lectura de bits modbus"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 1\nstart = 0\nbits = 4\n"
         "expect = { bits = [1, 0] }",
         "bad.toml:7:19: bits trae 2 valores y el paso lee 4"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 6\nstart = 1\nvalue = 70000",
         "bad.toml:6:9: value: El valor \"70000\" está fuera del rango de u16"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 16\nstart = 1\n"
         "format = \"f32\"\nvalues = [1e39]",
         "bad.toml:7:10: values: El valor \"1e+39\" no es un número f32"},
        {std::string(kStep) + "start = 0\nwords = 1\nvalue = 3",
         "bad.toml:7:9: value no se aplica a la función 3"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 0\nfunction = 1\nstart = 0\nbits = 1",
         "bad.toml:3:11: address es 0, una difusión"},
        {std::string(kStep) + "start = 0\nwords = 1\nexpect = { exception = \"oops\" }",
         "bad.toml:7:24: exception es \"oops\"; se admite illegal-function"},
        {std::string(kStep) +
             "start = 0\nwords = 1\nexpect = { identity = { VendorName = \"x\" } }",
         "identity solo se aplica a una identificación modbus"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 43\nobject = \"all\"",
         "bad.toml:5:10: object: El objeto \"all\" no es válido"},
        {"[line]\ndevice = \"/dev/pts/3\\u0000-rig-B\"\n[[step]]\nprotocol = \"korvel\"\naddress = "
         "1",
         "bad.toml:2:10: device tiene el carácter de control <00> en la posición 11"},
        {"[[step]]\nprotocol = \"korvel\"\naddress = 1\ninstruction = \"D\\r*02W\"",
         "bad.toml:4:15: instruction tiene <CR> en la posición 2"},
        {std::string(kStep) +
             "start = 0\nwords = 1\nexpect = { registers = [ { number = 0, min = 70000 } ] }",
         "bad.toml:7:46: min es el entero 70000, que ningún valor alcanza; un registro u16"},
        {std::string(kStep) +
             "start = 0\nwords = 1\nexpect = { registers = [ { number = 0, max = -1 } ] }",
         "bad.toml:7:46: max es el entero -1, que ningún valor alcanza"},
        {std::string(kStep) + "start = 0\nwords = 2\nexpect = { registers = [ { number = 0, format "
                              "= \"f32\", min = 0.1, max = 0.1 } ] }",
         "min y max no cabe ningún valor"},
        {std::string(kStep) + "start = 0\nwords = 1\nexpect = { registers = [ { number = 0, min = "
                              "1.5, max = 1.7 } ] }",
         "min y max no cabe ningún valor"},
        {std::string(kStep) +
             "start = 0\nwords = 1\nexpect = { registers = [ { number = 0, equals = 1 }, "
             "{ number = 0, equals = 2 } ] }",
         "el registro 0 ya debe ser 1; dos valores distintos"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 0\nfunction = 5\ndata = \"1\"\n"
         "expect = { max_first_byte_ms = 5 }",
         "bad.toml:6:32: max_first_byte_ms no puede cumplirse en una difusión"},
        {std::string(kStep) +
             "start = 0\nwords = 1\nexpect = { verdict = \"bad-check\", reply_hex = \"" +
             [] {
                 std::string hex;
                 for (int i = 0; i <= 65536; ++i)
                     hex += "00 ";
                 return hex;
             }() +
             "\" }",
         "reply_hex tiene 65537 bytes; una respuesta guarda 65536"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 5\nstart = 200\ndata = \"1\"",
         "bad.toml:5:9: start no va con data en la función 5"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 5\ndata = \"3\"\nwords = 4",
         "bad.toml:6:9: words no vale para la función 5 (escribir una bobina): lleva start y "
         "value, "
         "o la forma del panel: data"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 5\ndata = \"100\"",
         "bad.toml:5:8: data de la función 5 es la bobina, de 0 a 99"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 248\nfunction = 3\nstart = 0\nwords = 1",
         "bad.toml:3:11: address es el entero 248"},
        {"[[step]]\nprotocol = \"modbus\"\nraw = \"00 03 00 00 00 01\"",
         "bad.toml:3:7: raw: La dirección 0 es una difusión"},
        {"[[step]]\nprotocol = \"modbus\"\nraw = \"11 07\"\nany_address = true",
         "bad.toml:4:15: any_address no se aplica a raw"},
        {std::string(kStep) + "words = 1\ncrc = \"keep\"", "bad.toml:6:7: crc solo se aplica a"},
        {"[[step]]\nprotocol = \"modbus\"\nraw = \"01 07\"\nvalues = [7]",
         "bad.toml:4:10: values no va con raw"},
        // Held to the request as sent, whichever form built it.
        {"[[step]]\nprotocol = \"modbus\"\nraw = \"01 01 00 00 00 08\"\nexpect = { bits = [1, 0] }",
         "bad.toml:4:19: bits trae 2 valores y el paso lee 8"},
        {"[[step]]\nprotocol = \"modbus\"\nraw = \"01 03 00 00 00 01\"\nexpect = { registers = "
         "[ { number = 50, equals = 1 } ] }",
         "number es 50, que la lectura no trae; se admite de 0 a 0"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 16\nstart = 0\nvalues = "
         "[1]\norder = \"CDAB\"",
         "bad.toml:7:9: format/order: u16 no lleva orden"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 16\nstart = 0\nwords = "
         "125\ndata = \"0;1\"",
         "bad.toml:6:9: words es el entero 125; se admite un entero de 1 a 123"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 16\nstart = 0\nwords = "
         "0\ndata = \"\"",
         "bad.toml:6:9: words es el entero 0; se admite un entero de 1 a 123"},
        // A broadcast is answered by nobody, an exception neither.
        {"[[step]]\nprotocol = \"modbus\"\naddress = 0\nfunction = 5\ndata = \"1\"\n"
         "expect = { exception = \"illegal-function\" }",
         "bad.toml:6:24: exception no puede cumplirse en una difusión"},
        // A count past one frame, at its key.
        {std::string(kStep) + "start = 0\nwords = 126",
         "bad.toml:6:9: words es el entero 126; se admite un entero de 1 a 125"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 16\nstart = 0\n"
         "format = \"u32\"\nvalues = [" +
             u32s + "]",
         "bad.toml:7:10: values da 124 registros; la función 16 escribe de 1 a 123"},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 16\nstart = 0\nvalues = []",
         "bad.toml:6:10: values es una lista vacía; se admite una lista de al menos un número"},
        // The panel's own refusal, in its words.
        {"[[step]]\nprotocol = \"iso1745\"\naddress = 1\ninstruction = \"é\"",
         "bad.toml:1:1: el paso \"paso 1\": "},
    };
    for (const auto &[text, says] : rows) {
        auto plan = parseTestPlan(text, "bad.toml");
        ASSERT_FALSE(plan) << text;
        std::string all;
        for (const std::string &error : plan.error())
            all += error + "\n";
        EXPECT_NE(all.find(says), std::string::npos) << text << "\n -> " << all;
        EXPECT_EQ(plan.error().size(), 1u) << text << "\n -> " << all;
    }
}

TEST(TestPlan, ReportsCarryEveryCaseAndNoRawBytes) {
    SuiteReport report{"unit <7>",          "unit", "2026-12-07T10:00:00.000+00:00", "bench", 1.5,
                       {{"serial", "A&B"}}, {}};
    using Outcome = CaseResult::Outcome;
    report.cases.push_back(
        {"read \xEF\xBF\xBE", Outcome::Passed, 1, {}, "", "", 0.1, "ok", 5.2, "x"});
    report.cases.back().warnings = {"se abrió de nuevo"};
    report.cases.push_back({"write # 2 \\",
                            Outcome::Failed,
                            3,
                            {"silence", "bad-check: mal"},
                            "bad-check",
                            "llegó \x1B[2J \"mal\"",
                            0.2,
                            "bad-check",
                            5.0,
                            "r: 01"});
    report.cases.push_back({"later", Outcome::Skipped, 0, {}, "", "", 0, "", {}, ""});
    report.cases.push_back({"port", Outcome::Error, 1, {}, "port", "se fue", 0, "", {}, ""});
    report.cases.push_back({"cut", Outcome::Interrupted, 1, {}, "", "", 0, "", {}, ""});
    const std::string xml = junitXml(report);
    for (const char *part :
         {"<testsuite name=\"unit &lt;7&gt;\" tests=\"5\" failures=\"1\" errors=\"1\" "
          "skipped=\"2\"",
          "name=\"read &lt;FFFE&gt;\"", "intento 2 de 3: bad-check: mal", "<error type=\"port\"",
          "<skipped message=\"interrumpido\"/>", "<property name=\"serial\" value=\"A&amp;B\"/>",
          "<failure type=\"bad-check\" message=\"llegó &lt;1B&gt;[2J &quot;mal&quot;\">",
          "<skipped message=", "x\naviso: se abrió de nuevo</system-out>"}) {
        EXPECT_NE(xml.find(part), std::string::npos) << part << "\n" << xml;
    }
    const std::string tap = tapText(report);
    for (const char *part :
         {"TAP version 14\n1..5\n", "ok 1 - read <FFFE>\n# aviso: se abrió de nuevo\n",
          "not ok 2 - write \\# 2 \\\\\n", "  message: \"llegó <1B>[2J \\\"mal\\\"\"\n",
          "    - \"silence\"\n", "ok 3 - later # SKIP", "not ok 4 - port\n  ---\n",
          "not ok 5 - cut # SKIP interrumpido"}) {
        EXPECT_NE(tap.find(part), std::string::npos) << part << "\n" << tap;
    }
    // The same notice on every record's own output.
    ExchangeRecord record;
    record.warning = "se abrió de nuevo";
    EXPECT_NE(influxLine(record, {}, {}).find("warning=\"se abrió de nuevo\""), std::string::npos);
    record.failure = "se fue";
    record.request = {0x2A};
    record.lineSawRequest = true;
    EXPECT_NE(pcapngExchange(record).find("aviso: se abrió de nuevo"), std::string::npos);
}

TEST(TestPlan, HexValuesAreTheNumberOrItsDigits) {
    for (const auto &[keys, data] :
         {std::pair{"function = 6\nvalue = 0x1234", Bytes{0x12, 0x34}},
          {"function = 6\nvalue = \"BEEF\"", Bytes{0xBE, 0xEF}},
          {"function = 16\nvalues = [1234, 0x10]", Bytes{0x00, 0x02, 4, 0x04, 0xD2, 0x00, 0x10}}}) {
        auto plan = parseTestPlan(std::string("[[step]]\nprotocol = \"modbus\"\naddress = 1\n"
                                              "start = 1\nformat = \"hex\"\n") +
                                      keys,
                                  "t.toml");
        ASSERT_TRUE(plan && plan.value().steps[0].request) << keys;
        const Bytes &sent = *plan.value().steps[0].request;
        EXPECT_EQ(Bytes(sent.end() - 2 - static_cast<std::ptrdiff_t>(data.size()), sent.end() - 2),
                  data)
            << keys;
    }
}

TEST(TestPlan, TheFrameIsTheStepsAsGiven) {
    for (const auto &[keys, sent] :
         {std::pair{"raw = \"11 07 4C 22\"\ncrc = \"keep\"\nexpect = { max_first_byte_ms = 9 }",
                    Bytes{0x11, 0x07, 0x4C, 0x22}},
          {"address = 255\nany_address = true\nfunction = 7", Bytes{0xFF, 0x07, 0x01, 0x82}}}) {
        auto plan =
            parseTestPlan(std::string("[[step]]\nprotocol = \"modbus\"\n") + keys, "t.toml");
        ASSERT_TRUE(plan) << keys << "\n" << plan.error()[0];
        EXPECT_EQ(*plan.value().steps[0].request, sent) << keys;
    }
}

// A good reply judged against one expectation: only the judge is under test.
StepCheck judged(const std::string &plan, Bytes request, Bytes reply) {
    auto parsed = parseTestPlan(plan, "t.toml");
    EXPECT_TRUE(parsed) << plan << (parsed ? "" : parsed.error()[0]);
    ExchangeRecord record;
    record.request = std::move(request);
    record.reply = std::move(reply);
    record.verdict = Verdict{VerdictKind::Ok, ""};
    return parsed ? judgeStep(parsed.value().steps[0], record) : StepCheck{};
}

TEST(TestPlan, RegistersCompareExactlyAndNaNMeetsNothing) {
    const Bytes readTwo{1, 3, 0, 0, 0, 2, 0xC4, 0x0B};
    const struct {
        const char *expect;  // one register entry, register 0 of a two-word read
        Bytes words;         // the reply's four data bytes
        bool passes;
        const char *says = nullptr;  // in the failure, the values as written
    } rows[] = {
        {"number = 0, format = \"u32\", equals = 4294967294",
         {0xFF, 0xFF, 0xFF, 0xFF},
         false,
         "reg 0 = 4294967295; se esperaba 4294967294"},
        {"number = 0, format = \"f32\", min = 0, max = 0.1", {0x3D, 0xCC, 0xCC, 0xCD}, false},
        {"number = 0, format = \"f32\", min = 0.1000000016", {0x3D, 0xCC, 0xCC, 0xCD}, false},
        {"number = 0, format = \"f32\", min = 3.4028235e+38", {0x7F, 0x7F, 0xFF, 0xFF}, false},
        {"number = 0, format = \"f32\", max = 0.05",
         {0x3D, 0xCC, 0xCC, 0xCD},
         false,
         "se esperaba entre -∞ y 0.05"},
        {"number = 0, format = \"u32\", equals = 4294967295", {0xFF, 0xFF, 0xFF, 0xFF}, true},
        {"number = 0, format = \"u32\", max = 4294967294", {0xFF, 0xFF, 0xFF, 0xFF}, false},
        {"number = 0, format = \"s32\", equals = -2147483648", {0x80, 0, 0, 0}, true},
        {"number = 0, format = \"u32\", equals = 2147483648", {0x80, 0, 0, 0}, true},
        {"number = 0, format = \"u32\", equals = 1234567890", {0x49, 0x96, 0x02, 0xD6}, false},
        {"number = 0, format = \"u32\", equals = 1234567894", {0x49, 0x96, 0x02, 0xD6}, true},
        {"number = 0, format = \"u32\", order = \"CDAB\", equals = 65535",
         {0xFF, 0xFF, 0, 0},
         true},
        {"number = 0, format = \"f32\", equals = 0.1", {0x3D, 0xCC, 0xCC, 0xCD}, true},
        {"number = 0, format = \"f32\", equals = 0.1", {0x3D, 0xCC, 0xCC, 0xCE}, false},
        {"number = 0, format = \"f32\", min = 0, max = 100", {0x7F, 0xC0, 0, 0}, false},
        {"number = 0, format = \"f32\", equals = 0", {0x7F, 0xC0, 0, 0}, false},
        {"number = 1, format = \"s16\", equals = -1", {0, 0, 0xFF, 0xFF}, true},
        {"number = 1, min = 65535", {0, 0, 0xFF, 0xFF}, true},
        {"number = 0, format = \"f32\", equals = 3.4028235e+38", {0x7F, 0x7F, 0xFF, 0xFF}, true},
    };
    for (const auto &row : rows) {
        Bytes reply{1, 3, 4};
        reply.insert(reply.end(), row.words.begin(), row.words.end());
        const Bytes crc = CalcCRC(reply);
        reply.insert(reply.end(), crc.begin(), crc.end());
        const StepCheck check =
            judged(std::string(kStep) + "start = 0\nwords = 2\nexpect = { registers = [ { " +
                       row.expect + " } ] }",
                   readTwo, reply);
        EXPECT_EQ(check.passed, row.passes) << row.expect << " -> " << check.message;
        if (row.says) {
            EXPECT_NE(check.message.find(row.says), std::string::npos) << check.message;
        }
    }
    // A pair an odd number of registers from the read's start: 33..37, 21.5 at 34.
    const auto checked = [](Bytes frame) {
        const Bytes crc = CalcCRC(frame);
        frame.insert(frame.end(), crc.begin(), crc.end());
        return frame;
    };
    const StepCheck odd = judged(
        std::string(kStep) +
            "start = 33\nwords = 5\nexpect = { registers = [ { number = 34, "
            "format = \"f32\", order = \"CDAB\", equals = 21.5 } ] }",
        checked({1, 3, 0, 33, 0, 5}), checked({1, 3, 10, 0, 0, 0, 0, 0x41, 0xAC, 0, 0, 0, 0}));
    EXPECT_TRUE(odd.passed) << odd.message;
    // A stray byte in front: the registers are read from the frame judged.
    ExchangeRecord stray;
    stray.request = checked({1, 3, 0, 10, 0, 2});
    stray.reply = checked({1, 3, 4, 0, 10, 0, 11});
    stray.reply.insert(stray.reply.begin(), 0);
    stray.verdict = Verdict{VerdictKind::StrayPrefix, "", 1};
    const auto strayPlan = parseTestPlan(
        std::string(kStep) +
            "start = 10\nwords = 2\nexpect = { registers = [ { number = 11, equals = 11 } ] }",
        "t.toml");
    ASSERT_TRUE(strayPlan);
    PlanStep strayStep = strayPlan.value().steps[0];
    strayStep.expect.verdict = VerdictKind::StrayPrefix;
    const StepCheck strayCheck = judgeStep(strayStep, stray);
    EXPECT_TRUE(strayCheck.passed) << strayCheck.message;
}

TEST(TestPlan, TextPatternsMeetTheShownTextInLinearTime) {
    const std::string longReply = "01D" + std::string(65536, 'a') + "!\r";
    const std::string digits = "01D" + std::string(26, '7') + "x\r";
    const struct {
        const char *pattern;
        std::string reply;
        bool passes;
    } rows[] = {
        {"(a+)+$", longReply, false},
        {"^01Da+!$", longReply, true},
        {"^01D([0-9]+ ?)+$", digits, false},
        {"^01D25.C$",
         "01D25\xB0"
         "C\r",
         true},  // Latin-1 degree sign
        {"25[°º]C",
         "01D25\xB0"
         "C\r",
         true},
        {"^01Dé$", "01D\xC3\xA9\r", true},  // UTF-8 stays UTF-8
        {"<1B>", "01D\x1B\r", true},        // as the operator sees it
    };
    for (const auto &row : rows) {
        const StepCheck check = judged(std::string("[[step]]\nprotocol = \"korvel\"\naddress = 1\n"
                                                   "expect = { text = '") +
                                           row.pattern + "' }",
                                       {}, Bytes(row.reply.begin(), row.reply.end()));
        EXPECT_EQ(check.passed, row.passes) << row.pattern;
    }
}

}  // namespace
}  // namespace marvalo
