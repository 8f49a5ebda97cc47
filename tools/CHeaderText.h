#pragma once
// Names from the file system made safe for the C header files the generators write: any
// byte may occur in a path, and the header is compiled into the device's firmware, so a
// name must never be able to end its string literal or enum entry and add code of its own.
// Plain names come out unchanged.
#include <string>
#include <vector>

namespace edog {

// The contents of a C string literal (without its quotes) that the compiler reads back as
// exactly `bytes`: '"' and '\\' escaped, control characters and bytes above 0x7F as
// three-digit octal escapes, a '?' after a '?' escaped (no trigraphs).
std::string CStringLiteralBody(const std::string& bytes);

// A valid C identifier: every byte outside [A-Za-z0-9_] becomes '_', and a name that
// begins with a digit or such a byte (or is empty) gets the prefix 'N'. A C keyword or a
// name the standard headers define (EOF, NULL, FILE, int, ...) gets a trailing '_'.
std::string CIdentifier(const std::string& name);

// CIdentifier of every name, in order, made unique: a name already given to an earlier
// entry gets the first free suffix "_2", "_3", ... (free of every name in the list).
std::vector<std::string> UniqueCIdentifiers(const std::vector<std::string>& names);

}  // namespace edog
