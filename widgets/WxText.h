#pragma once
// The system's texts are UTF-8 in the source; wx strings must be built from UTF-8
// explicitly (a plain literal converts through the C locale and may come out empty).
#include <wx/string.h>

#include <string>

inline wxString U8(const char* text) { return wxString::FromUTF8(text); }
inline wxString U8(const std::string& text) { return wxString::FromUTF8(text.data(), text.size()); }
inline std::string ToU8(const wxString& text) {
  const wxScopedCharBuffer buf = text.utf8_str();
  return std::string(buf.data(), buf.length());
}
