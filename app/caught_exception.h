// Whatever was thrown, as the class name and message the 500 response and the
// start-up report show. Errors of the program are Exception already; the others come
// from the language runtime or from libraries.
#pragma once

#include <exception>

#include "platform/exception.h"

namespace app {

// The exception held by caught (not null): an Exception as it is; std::bad_alloc as
// EOutOfMemory "メモリが不足しています"; another std::exception as its type name with
// what() as the message; anything else as Exception "不明な例外が発生しました".
platform::Exception DescribeException(const std::exception_ptr& caught);

}  // namespace app
