#include "core/text/system_error_text.h"

#include <cerrno>
#include <cstring>

namespace marvalo {
namespace {

const char *spanishFor(int err) {
    switch (err) {
        case ENOENT:
            return "no existe";
        case EACCES:
        case EPERM:
            return "permiso denegado";
        case EBUSY:
            return "está en uso";
        case EIO:
            return "error de entrada/salida";
        case ENXIO:
            return "no hay ningún dispositivo detrás";
        case ENODEV:
            return "el dispositivo no existe";
        case ENOSPC:
            return "no queda espacio en el disco";
        case EFBIG:
            return "supera el tamaño de archivo permitido";
        case EROFS:
            return "el sistema de archivos es de solo lectura";
        case ENOTDIR:
            return "una parte de la ruta no es una carpeta";
        default:
            return nullptr;
    }
}

}  // namespace

std::string systemErrorText(int err) {
    const std::string system = std::strerror(err);
    if (const char *spanish = spanishFor(err))
        return std::string(spanish) + " (" + system + ")";
    return system;
}

}  // namespace marvalo
