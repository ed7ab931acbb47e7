// The three functions outside the parser that YAZ's CQL parser objects call, given by the
// plug-in itself so that it links YAZ's parser statically and loads no other library.
// YAZ's own versions would bring its logger, whose start-up initialises libxml2, libxslt
// and GnuTLS, and libxml2 for a text function the parser never calls.
#include <yaz/log.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

// No module of the parser is traced: the parser's objects ask once per process.
extern "C" int yaz_log_module_level(const char*) { return 0; }

// The messages YAZ writes by default (failures and warnings, such as memory running out
// before it exits), to the standard error a web server keeps in its log.
extern "C" void yaz_log(int level, const char* format, ...) {
  if ((level & (YLOG_FATAL | YLOG_WARN | YLOG_LOG | YLOG_ERRNO)) == 0) return;
  const int error = errno;
  char message[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  if (level & YLOG_ERRNO)
    std::fprintf(stderr, "yaz: %s [%s]\n", message, std::strerror(error));
  else
    std::fprintf(stderr, "yaz: %s\n", message);
}

// libxml2's string length, for YAZ's copy of an XML text node, which is linked beside
// the parser's string copies but never called by it.
extern "C" int xmlStrlen(const unsigned char* text) {
  return text ? static_cast<int>(std::strlen(reinterpret_cast<const char*>(text))) : 0;
}
