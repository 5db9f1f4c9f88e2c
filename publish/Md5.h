#pragma once
// MD5, for the names the desktop's thumbnail cache gives its files (not for anything secret).

#include <string>
#include <string_view>

/// The MD5 digest of data in 32 lower-case hexadecimal digits. Any thread.
std::string Md5Hex(std::string_view data);
