#include "core/frames/frame_anatomy.h"

#include <gtest/gtest.h>

#include "core/settings/panel_state.h"
#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::fromHex;

std::string joined(const std::vector<FrameField> &fields) {
    std::string text;
    for (const FrameField &field : fields)
        text += (text.empty() ? "" : " | ") + field.name + "=" + field.value +
                (field.problem ? " !" : "");
    return text;
}

TEST(FrameAnatomy, OneFramePerProtocolWithItsCheckCode) {
    const auto modbus = static_cast<std::uint8_t>(Protocol::Modbus);
    const auto iso = static_cast<std::uint8_t>(Protocol::Iso1745);
    const auto korvel = static_cast<std::uint8_t>(Protocol::Korvel);
    const Bytes read = fromHex("01 03 00 0A 00 02 E4 09");
    const struct {
        std::uint8_t protocol;
        Bytes request;
        const char *reply;  // nullptr: the request itself
        const char *fields;
    } rows[] = {
        {modbus, read, nullptr,
         "Dirección=1 | Función=3 | Inicio=10 | Nº de registros=2 | CRC=CRC E4 09 correcto"},
        {modbus, read, "01 03 04 00 0A 00 0B 9B F6",
         "Dirección=1 | Función=3 | Nº de bytes=4 | Registro 10=reg 10 = 10 | "
         "Registro 11=reg 11 = 11 | CRC=CRC 9B F6 correcto"},
        {modbus, read, "01 03 04 00 0A 00 0B 2A 31",
         "Dirección=1 | Función=3 | Nº de bytes=4 | Registro 10=00 0A | Registro 11=00 0B | "
         "CRC=CRC 2A 31 recibido, 9B F6 esperado !"},
        {modbus, read, "01 83 02 C0 F1",
         "Dirección=1 | Función=3 con excepción | Excepción=02 dirección de datos no permitida | "
         "CRC=CRC C0 F1 correcto"},
        // The frame the verdict judged, behind what came before it, and
        // what the verdict found wrong in it.
        {modbus, read, "33 01 03 04 00 0A 00 0B 9B F6",
         "Bytes sobrantes=33 (1 byte antes de la respuesta) ! | Dirección=1 | Función=3 | "
         "Nº de bytes=4 | Registro 10=reg 10 = 10 | Registro 11=reg 11 = 11 | "
         "CRC=CRC 9B F6 correcto"},
        {modbus, read, "01 03 00 0A 00 02 E4 09 01 03 04 00 0A 00 0B 9B F6",
         "Eco=01 03 00 0A 00 02 E4 09 (la propia petición) ! | Dirección=1 | Función=3 | "
         "Nº de bytes=4 | Registro 10=reg 10 = 10 | Registro 11=reg 11 = 11 | "
         "CRC=CRC 9B F6 correcto"},
        {modbus, read, "01 03 00 0A 00 02 E4 09 33 01 03 04 00 0A 00 0B 9B F6",
         "Eco=01 03 00 0A 00 02 E4 09 (la propia petición) ! | "
         "Bytes sobrantes=33 (1 byte antes de la respuesta) ! | Dirección=1 | Función=3 | "
         "Nº de bytes=4 | Registro 10=reg 10 = 10 | Registro 11=reg 11 = 11 | "
         "CRC=CRC 9B F6 correcto"},
        {iso, fromHex("01 30 31 02 30 44 03 77"), "01 30 31 02 30 44 03 77 FF 02 41 03 42",
         "Eco=01 30 31 02 30 44 03 77 (la propia petición) ! | "
         "Bytes sobrantes=FF (1 byte antes de la respuesta) ! | STX=<STX> | Texto=A | "
         "ETX=<ETX> | BCC=BCC 42 correcto"},
        {modbus, read, "02 03 04 00 0A 00 0B A8 F6",
         "Dirección=2 ! | Función=3 | Nº de bytes=4 | Registro 10=00 0A | Registro 11=00 0B | "
         "CRC=CRC A8 F6 correcto"},
        {modbus, read, "01 04 04 00 0A 00 0B 9A 41",
         "Dirección=1 | Función=4 ! | Nº de bytes=4 | Registro 10=00 0A | Registro 11=00 0B | "
         "CRC=CRC 9A 41 correcto"},
        {modbus, read, "01 03 06 00 01 00 02 00 03 FD 74",
         "Dirección=1 | Función=3 | Nº de bytes=6 ! | Registro 10=00 01 | Registro 11=00 02 | "
         "Sin pedir=00 03 ! | CRC=CRC FD 74 correcto"},
        {iso, fromHex("01 30 31 02 30 44 03 77"), "01 30 31 02 30 44 03 77 02 41 03 42",
         "Eco=01 30 31 02 30 44 03 77 (la propia petición) ! | STX=<STX> | Texto=A | "
         "ETX=<ETX> | BCC=BCC 42 correcto"},
        {iso, fromHex("01 30 31 02 30 44 03 77"), "01 30 32 02 41 03 42",
         "SOH=<SOH> | Dirección=02 ! | STX=<STX> | Texto=A | ETX=<ETX> | BCC=BCC 42 correcto"},
        {korvel, fromHex("2A 30 31 44 0D"), "30 31 44 2B 39 0D 30 31 44 2B 32 0D",
         "Texto=01D+9 | Fin de línea=<CR> | De más=30 31 44 2B 32 0D (6 bytes tras la línea) !"},
        {korvel, fromHex("2A 30 31 44 0D"), "30 32 44 2B 0D", "Texto=02D+ ! | Fin de línea=<CR>"},
        {iso, fromHex("01 30 31 02 30 44 03 77"), "02 30 44 2B 03 47",
         "STX=<STX> | Texto=0D+ | ETX=<ETX> | BCC=BCC 47 recibido, 5C esperado !"},
        {iso, fromHex("01 30 31 02 30 44 03 77"), nullptr,
         "SOH=<SOH> | Dirección=01 | STX=<STX> | Texto=0D | ETX=<ETX> | BCC=BCC 77 correcto"},
        {korvel, fromHex("2A 30 31 44 0D"), nullptr,
         "Inicio=* | Dirección=01 | Texto=D | Fin de línea=<CR>"},
        {korvel, fromHex("2A 30 31 44 0D"), "30 31 44 2B 0D 0A",
         "Texto=01D+ | Fin de línea=<CR><LF>"},
        {korvel, fromHex("2A 30 31 44 0D"), "14 DA 3E 30 31 44 0D",
         "Bytes sobrantes=14 DA 3E (3 bytes antes de la respuesta) ! | Texto=01D | "
         "Fin de línea=<CR>"},
    };
    for (const auto &row : rows) {
        const auto fields = row.reply
                                ? replyAnatomy(row.protocol, row.request, fromHex(row.reply), {})
                                : requestAnatomy(row.protocol, row.request);
        EXPECT_EQ(joined(fields), row.fields) << (row.reply ? row.reply : "request");
    }
    // The CRC follows the data the byte count announces (from the end of a
    // shorter frame) whatever the format; a frame that lacks its end says so.
    const Bytes readOf3 = fromHex("01 03 00 0A 00 03 25 C9");
    const struct {
        std::uint8_t protocol;
        const char *view;
        const char *reply;
        const char *fields;
    } edges[] = {
        {modbus, "u32", "01 03 06 00 01 00 02 00 07 FC B7",
         "Dirección=1 | Función=3 | Nº de bytes=6 | Registro 10=reg 10 = 65538 | "
         "Registro 12=reg 12 = 7 (u16, registro suelto) | CRC=CRC FC B7 correcto"},
        {modbus, "u16", "01 03 03 00 2A 01 9B 2E",
         "Dirección=1 | Función=3 | Nº de bytes=3 ! | Registro 10=00 2A | Byte suelto=01 ! | "
         "CRC=CRC 9B 2E correcto"},
        {modbus, "u16", "01 03 02 B2 D0 5F 6E 00 03 8D 7D",
         "Dirección=1 | Función=3 | Nº de bytes=2 | Registro 10=B2 D0 | "
         "CRC=CRC 5F 6E recibido, CD 78 esperado ! | De más=00 03 8D 7D (4 bytes tras el CRC) !"},
        {modbus, "u16", "01 03 06 AA",
         "Dirección=1 | Función=3 | Nº de bytes=6 anunciados, 1 llegó ! | Byte suelto=AA !"},
        {iso, "u16", "FF 02 30 44 03 77",
         "Bytes sobrantes=FF (1 byte antes de la respuesta) ! | STX=<STX> | Texto=0D | "
         "ETX=<ETX> | BCC=BCC 77 correcto"},
        {iso, "u16", "02 30 44", "STX=<STX> | Texto=0D | ETX=falta <ETX> !"},
        {iso, "u16", "02 30 44 03", "STX=<STX> | Texto=0D | ETX=<ETX> | BCC=falta el BCC !"},
        {korvel, "u16", "30 31 44", "Texto=01D | Fin de línea=falta <CR> !"},
    };
    for (const auto &row : edges) {
        const auto fields = replyAnatomy(row.protocol, readOf3, fromHex(row.reply),
                                         parseRegisterView(row.view).value());
        EXPECT_EQ(joined(fields), row.fields) << row.reply;
    }
    EXPECT_EQ(hexDump(fromHex("41 0D")), "0000  41 0D" + std::string(42, ' ') + "  A<CR>\n");
    // "°" (C2 B0) across the end of the first line is read whole there.
    const std::string straddling =
        hexDump(fromHex("30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 C2 B0 43"));
    EXPECT_EQ(straddling.substr(straddling.find('\n') - 17),
              "0123456789ABCDE°\n0010  B0 43" + std::string(42, ' ') + "  C\n");
}

}  // namespace
}  // namespace marvalo
