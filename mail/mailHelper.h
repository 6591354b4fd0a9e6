// The frame of a helper process (see helperMailTransport.h): reads one request from standard input,
// gives it to serve and writes the reply frame serve returns to standard output. Exit status 0 when a
// reply was written; 2 when the input was not a request or serve has no reply for it (an empty frame).
#pragma once

#include "mailWire.h"

#include <functional>

namespace korimo {

int runMailHelper(int argc, char** argv, const std::function<QByteArray(const wire::Request&)>& serve);

} // namespace korimo
