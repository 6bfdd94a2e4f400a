#pragma once
// What the SMTP and POP3 clients send to log on with a SASL mechanism or
// APOP: the responses built from a user name, a password (or a bearer token)
// and the server's challenge. Pure text work; the dialogues are the clients'.
#include "ip_misc/TStringList.h"

#include <string>
#include <string_view>

// The mechanisms a script may name, best first for the automatic choice.
constexpr std::string_view MechanismCramMd5 = "CRAM-MD5";
constexpr std::string_view MechanismPlain = "PLAIN";
constexpr std::string_view MechanismLogin = "LOGIN";
constexpr std::string_view MechanismXOAuth2 = "XOAUTH2";

// PLAIN: base64 of NUL, user, NUL, password (no authorisation identity).
std::string PlainResponse(std::string_view user, std::string_view password);
// XOAUTH2: base64 of "user=U", ^A, "auth=Bearer TOKEN", ^A ^A.
std::string XOAuth2Response(std::string_view user, std::string_view token);
// CRAM-MD5: base64 of the user, a blank and the HMAC-MD5 of the decoded
// challenge keyed with the password, in lower-case hexadecimal.
std::string CramMd5Response(std::string_view user, std::string_view password,
                            std::string_view challenge);
// The "<...>" time stamp of a POP3 greeting; empty when it has none.
std::string GreetingTimestamp(std::string_view greeting);
// APOP: the MD5 of the time stamp followed by the password, in hexadecimal.
std::string ApopDigest(std::string_view timestamp, std::string_view password);
// The mechanisms an SMTP server offers in the keyword lines of its EHLO
// reply ("AUTH PLAIN LOGIN", and the older "AUTH=LOGIN"), upper-cased.
TStringList OfferedMechanisms(const TStringList &capabilities);
