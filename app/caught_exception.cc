#include "app/caught_exception.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <typeinfo>

#include "platform/japanese_texts.h"

namespace app {

using platform::Exception;

namespace {

// The readable name of a type ("std::out_of_range"), or its mangled name when the
// runtime cannot demangle it.
std::string TypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> readable(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
  return status == 0 && readable ? std::string(readable.get()) : std::string(type.name());
}

}  // namespace

Exception DescribeException(const std::exception_ptr& caught) {
  try {
    std::rethrow_exception(caught);
  } catch (const Exception& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return Exception("EOutOfMemory", std::string(platform::texts::kOutOfMemory));
  } catch (const std::exception& e) {
    return Exception(TypeName(typeid(e)), e.what());
  } catch (...) {
    return Exception("Exception", std::string(platform::texts::kUnknownException));
  }
}

}  // namespace app
