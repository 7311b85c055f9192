#include "panel/form_layout.h"

#include <array>

namespace marvalo {
namespace {

constexpr std::array<ControlPlace, 28> kPlaces{{
    {"Image1", 6360, 120, 750, 405, -1},
    {"lblDisplay", 360, 600, 5895, 615, 14},
    {"lblRS", 240, 1560, 1575, 735, 13},
    {"lblCOM", 1920, 1560, 1575, 735, 12},
    {"lblID", 3600, 1560, 1575, 735, 11},
    {"lblBaudRate", 5280, 1560, 1575, 735, 10},
    {"cmdRS", 240, 2640, 1575, 615, 8},
    {"Command2", 360, 2640, 1095, 615, 0},
    {"frmCom", 1920, 2520, 1575, 735, 6},
    {"cmbCOM", 360, 240, 855, 315, 7},
    {"frmID", 3600, 2520, 1575, 735, 4},
    {"cmbID", 360, 240, 855, 315, 5},
    {"frmBaudRate", 5280, 2520, 1695, 735, 2},
    {"cmbBaudRate", 360, 240, 1095, 315, 3},
    {"Label2", 6600, 3360, 2775, 375, 25},
    {"Label1", 1080, 3720, 3855, 495, 9},
    {"cmdProt", 5280, 3600, 1215, 615, 15},
    {"Frame1", 5520, 4440, 1815, 975, 16},
    {"txtCadena", 240, 360, 1335, 375, 17},
    {"Frame2", 7560, 4440, 1815, 975, 18},
    {"txtNWord", 240, 360, 1335, 375, 19},
    {"frmFunciones", 3360, 4560, 2055, 735, 20},
    {"Combo1", 240, 240, 1575, 315, 21},
    {"cmdEnviar", 600, 4680, 2415, 375, 1},
    {"cmdEnvioContinuado", 600, 5400, 2415, 375, 24},
    {"Datos", 5520, 5520, 1815, 975, 22},
    {"txtDatos", 240, 360, 1335, 375, 23},
    {"lblmensaje", 3360, 5640, 1935, 495, 26},
}};
}  // namespace

std::optional<ControlPlace> placeOf(const QString &name) {
    for (const ControlPlace &place : kPlaces) {
        if (name == QLatin1String(place.name))
            return place;
    }
    return std::nullopt;
}

QRect pixelRect(const ControlPlace &place) {
    return QRect(place.left / kTwipsPerPixel, place.top / kTwipsPerPixel,
                 place.width / kTwipsPerPixel, place.height / kTwipsPerPixel);
}

}  // namespace marvalo
