// UTF-8 <-> UTF-16 for the Windows implementations of the platform layer.
#pragma once

#include <string>
#include <string_view>

std::wstring sys_widen(std::string_view utf8);
std::string sys_narrow(std::wstring_view wide);
