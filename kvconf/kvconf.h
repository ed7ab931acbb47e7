// The configuration library: answers the value of one key of a KEY=VALUE file.
// It is a library of its own (libkvconf.so) that the program links at load time, so
// it knows nothing of the program: the path it is given is the path the operating
// system opens, as it is.
//
// File format: one KEY=VALUE per line, lines ending in LF or CR LF. The key is every
// byte before the first "=" and compares exactly; the value is every byte after it up
// to the line end, blanks included. The first line with the key wins. Blank lines,
// lines that begin with "#" or ";" and lines that begin with "[" (section lines) are
// ignored, and so is a line without "=".
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The value of key in the file at path, as a NUL-terminated text that stays valid until
// the next call on the same thread; a null pointer when the file cannot be read, when no
// line holds the key, or when path or key is a null pointer.
__attribute__((visibility("default"))) const char* _GetConfValue(const char* path, const char* key);

#ifdef __cplusplus
}
#endif
