#pragma once
// The two ways a text from the disk or the request goes into a page: escaped as HTML text, or
// percent-encoded as a link target. Kept apart on purpose: neither is a substitute for the other.

#include <string>
#include <string_view>

/// text with "&", "<", ">" and '"' written as "&amp;", "&lt;", "&gt;" and "&quot;"; every other
/// byte unchanged. Safe between tags and inside a double-quoted attribute.
std::string HtmlEscape(std::string_view text);

/// bytes with every byte other than A-Z, a-z, 0-9, "-", ".", "_" and "~" written as "%XX"
/// (upper-case hex digits). "/" is encoded too, so a name never gains a path level.
std::string PercentEncode(std::string_view bytes);

/// HtmlEscape(text) appended to out, with no string of its own in between (pages of many lines).
void AppendHtmlEscaped(std::string& out, std::string_view text);

/// PercentEncode(bytes) appended to out, with no string of its own in between.
void AppendPercentEncoded(std::string& out, std::string_view bytes);

/// query (a request's query text, undecoded) appended to out as a URI may carry it: its escapes
/// and delimiters as they are, every other byte outside the query characters of a URI (blanks,
/// quotes, bytes above 0x7F) written as "%XX".
void AppendQueryEncoded(std::string& out, std::string_view query);
