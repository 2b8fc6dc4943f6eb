// MD5 message digest (RFC 1321) as hexadecimal text. The download job hashes album ids and photo addresses
// with it to make file and folder names unique; it is not used for anything security-related.
#pragma once

#include <string>
#include <string_view>

// The MD5 digest of the given bytes as 32 lower-case hexadecimal digits, in the usual byte order of the
// digest (the first state word's lowest byte first).
std::string Md5Hex(std::string_view bytes);
