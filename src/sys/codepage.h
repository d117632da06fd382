// Code page 936 (GBK) <-> UTF-8, and the question "can GBK hold this?".
//
// Windows uses the system's code page 936 (asked for by number, never the ANSI
// code page). Linux uses our own table-driven codec whose table is generated
// from glibc's CP936 converter at build time. All functions are re-entrant and
// may be called from any thread.
#pragma once

#include <string>
#include <string_view>

// GBK bytes to UTF-8. Byte sequences with no mapping become "?". Appends to
// `out`; returns false only when the platform converter fails.
bool sys_cp936_to_utf8(std::string_view gbk, std::string& out);

// UTF-8 to GBK. Characters GBK cannot hold become the code page's default
// character "?" (Windows may substitute a best-fit character instead);
// malformed UTF-8 becomes "?". Appends to `out`; false when the converter fails.
bool sys_utf8_to_cp936(std::string_view utf8, std::string& out);

// True when every character of the (valid) UTF-8 text has an exact GBK form,
// best-fit substitutes not counting. The empty text is representable.
bool sys_cp936_holds(std::string_view utf8);

// The same test for one Unicode code point.
bool sys_cp936_holds_cp(char32_t cp);
