#include "core/text/system_error_text.h"

#include <netdb.h>
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
        case ECONNRESET:
            return "el otro extremo cortó la conexión";
        case EPIPE:
            return "la conexión ya estaba cerrada";
        case ECONNREFUSED:
            return "conexión rechazada";
        case ECONNABORTED:
            return "la conexión se anuló";
        case ETIMEDOUT:
            return "se agotó el tiempo de espera";
        case EHOSTUNREACH:
            return "no hay ruta hasta ese equipo";
        case ENETUNREACH:
            return "no hay ruta hasta esa red";
        case ENETDOWN:
            return "la red está caída";
        case EINTR:
            return "una señal interrumpió la llamada";
        case EAGAIN:
            return "no está lista; inténtelo de nuevo";
        case EISDIR:
            return "es una carpeta";
        case EEXIST:
            return "ya existe";
        case ENAMETOOLONG:
            return "el nombre es demasiado largo";
        case ELOOP:
            return "demasiados enlaces simbólicos";
        case EMFILE:
        case ENFILE:
            return "hay demasiados archivos abiertos";
        case EINVAL:
            return "argumento no válido";
        case ENOTTY:
            return "no es un terminal";
        default:
            return nullptr;
    }
}

const char *lookupSpanishFor(int code) {
    switch (code) {
        case EAI_NONAME:
            return "ese nombre no existe";
        case EAI_AGAIN:
            return "el servidor de nombres no responde por ahora";
        case EAI_FAIL:
            return "el servidor de nombres falló";
#ifdef EAI_NODATA
        case EAI_NODATA:
            return "ese nombre no tiene ninguna dirección";
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
            return "ese nombre no tiene ninguna dirección de red usable";
#endif
        case EAI_MEMORY:
            return "falta memoria";
        default:
            return "no se pudo buscar el nombre";
    }
}

}  // namespace

std::string lookupErrorText(int code, const std::string &system) {
    return std::string(lookupSpanishFor(code)) + " (" + system + ")";
}

std::string spanishErrorText(int err) {
    const char *spanish = spanishFor(err);
    return spanish ? std::string(spanish) : systemErrorText(err);
}

std::string systemErrorText(int err) {
    const std::string system = std::strerror(err);
    if (const char *spanish = spanishFor(err))
        return std::string(spanish) + " (" + system + ")";
    // Spanish first everywhere; the system's own words stay for a search.
    return "error del sistema " + std::to_string(err) + " (" + system + ")";
}

}  // namespace marvalo
