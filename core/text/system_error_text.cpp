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

struct LookupFailure {
    int code;
    const char *name;  // for a bench engineer to look up
    const char *spanish;
};

// getaddrinfo's codes as this system defines them (EAI_NODATA and
// EAI_ADDRFAMILY are GNU's).
constexpr LookupFailure kLookupFailures[] = {
    {EAI_NONAME, "EAI_NONAME", "ese nombre no existe"},
    {EAI_AGAIN, "EAI_AGAIN", "el servidor de nombres no responde por ahora"},
    {EAI_FAIL, "EAI_FAIL", "el servidor de nombres falló"},
#ifdef EAI_NODATA
    {EAI_NODATA, "EAI_NODATA", "ese nombre no tiene ninguna dirección"},
#endif
#ifdef EAI_ADDRFAMILY
    {EAI_ADDRFAMILY, "EAI_ADDRFAMILY", "ese nombre no tiene ninguna dirección de red usable"},
#endif
    {EAI_MEMORY, "EAI_MEMORY", "falta memoria"},
    {EAI_FAMILY, "EAI_FAMILY", "no se pudo buscar el nombre"},
    {EAI_SERVICE, "EAI_SERVICE", "no se pudo buscar el nombre"},
};

}  // namespace

std::string lookupErrorText(int code, int err) {
    if (code == EAI_SYSTEM)
        return systemErrorText(err);
    for (const LookupFailure &known : kLookupFailures) {
        if (known.code == code)
            return std::string(known.spanish) + " (" + known.name + ")";
    }
    return "no se pudo buscar el nombre (EAI " + std::to_string(code) + ")";
}

std::string spanishErrorText(int err) {
    const char *spanish = spanishFor(err);
    return spanish ? std::string(spanish) : systemErrorText(err);
}

std::string errnoName(int err) {
    // The name a bench engineer can look up, never the system's English.
    const char *name = ::strerrorname_np(err);
    return name ? std::string(name) : std::to_string(err);
}

std::string systemErrorText(int err) {
    if (const char *spanish = spanishFor(err))
        return std::string(spanish) + " (" + errnoName(err) + ")";
    return "error del sistema " + std::to_string(err) + " (" + errnoName(err) + ")";
}

}  // namespace marvalo
