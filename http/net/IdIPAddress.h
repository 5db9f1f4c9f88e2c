#pragma once
// Address texts as the engine meets them: telling an IPv6 literal apart, and the key by which
// limits count one client.

#include <string>
#include <string_view>

/// Whether text is an IPv6 address in any of its written forms (2001:db8::7, ::ffff:192.0.2.7),
/// without brackets or a zone. Any thread.
bool IsIPv6Literal(std::string_view text);

/// The key under which limits count a client address: an IPv4 address as it stands; an IPv6
/// address by its /64, written as the prefix in its shortest form with "/64" (2001:db8:0:1::/64),
/// since one host may hold every address of its /64; an IPv4-mapped one (::ffff:192.0.2.7) by its
/// IPv4 address. Anything else as it stands. Any thread.
std::string ClientAddressKey(const std::string& address);
