// The values of the local configuration file beside the program: the remembered account,
// the remembered password (Base64 of its UTF-8 bytes), the automatic-login choice and the
// installed version. The program never creates the file or its elements.
#pragma once

#include <string>
#include <string_view>

class XmlNode;

// `text` without white space at either end.
std::u16string TrimText(std::u16string_view text);

// The text of the child element `name` of the top element, trimmed; empty when missing.
std::u16string ConfigValue(const XmlNode& root, const char16_t* name);

// Replaces the text of the child element `name` exactly; an element that does not exist
// is not created. False when it is missing.
bool SetConfigValue(XmlNode& root, const char16_t* name, std::u16string_view value);

// Serialises the document and replaces the file readable by its owner only, since it may
// hold the remembered password. False with the last error on failure.
bool SaveLocalConfig(const XmlNode& root, const std::u16string& path);

// Base64 of the UTF-8 bytes of `password`.
std::u16string EncodeRememberedPassword(std::u16string_view password);
// The password back from its stored form; false (and `password` empty) for text that is
// not canonical Base64.
bool DecodeRememberedPassword(std::u16string_view stored, std::u16string& password);
