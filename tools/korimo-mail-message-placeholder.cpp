// Stands in for the message commands until korimo-mail-message.cpp is part of the build.
#include "korimo-mail.h"

#include <cstdio>

namespace korimo::tool {

int runReadCommand(const QStringList&) {
    std::fputs("korimo-mail: read is not available in this build\n", stderr);
    return ExitFailed;
}

int runSendCommand(const QStringList&) {
    std::fputs("korimo-mail: send is not available in this build\n", stderr);
    return ExitFailed;
}

} // namespace korimo::tool
