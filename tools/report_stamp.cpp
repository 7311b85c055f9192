#include "tools/report_stamp.h"

#include <chrono>

#include "core/text/byte_text.h"
#include "core/text/time_text.h"
#include "os/host_name.h"

namespace marvalo {

ReportStamp stampNow() {
    const std::int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
    return ReportStamp{iso8601(nowUs), safeText(os::hostName())};
}

}  // namespace marvalo
