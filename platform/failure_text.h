#pragma once
// Earlier names of errorText() (platform/error_code.h), kept until their last
// callers have moved to it.
#include "platform/error_code.h"

namespace platform {

inline QString failureWords(int code) { return errorText(code, ErrorWording::Plain); }
inline QString windowFailureText(int code) { return errorText(code, ErrorWording::Window); }

} // namespace platform
