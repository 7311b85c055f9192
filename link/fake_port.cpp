#include "link/fake_port.h"

#include "link/line_factory.h"

namespace marvalo {

FakePort::FakePort(OperationLog &log) : script_(log) {
    LineOptions options;
    options.fake = &script_;
    line_ = std::move(makeLineIo(LineTarget{}, line(), options).value());
}

}  // namespace marvalo
