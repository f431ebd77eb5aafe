// UTF-8 conversion of the web API's text, URL escaping of query values, and Base64 for
// remembered passwords.
//
// Text of the Basic Multilingual Plane keeps the routines' old quirks, part of what the
// service sees and sends: continuation bytes are not checked and a stray byte stands for
// itself. A surrogate pair is one character, its four-byte form both ways; a lone surrogate
// goes out as its stand-in and comes back (platform/codepage.h); sequences of five or six
// bytes, and four that are not UTF-8, are dropped when decoding.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Writes the UTF-8 form of `count` units of `src` into `dst` without a terminator and
// returns the number of bytes written. A character whose bytes would not fit in `cap` ends
// the conversion there (four bytes per unit always fit; three do when no surrogate is
// alone).
std::size_t EncodeUtf8(char* dst, std::size_t cap, const char16_t* src, std::size_t count);
std::string EncodeUtf8(std::u16string_view src);

// Decodes `len` bytes of an answer's UTF-8 text into `dst` and terminates it. Returns the
// number of units written plus one (the terminator). A negative length or null input
// counts as empty; a unit that would leave no room for the terminator in `cap` ends the
// walk. `cap` of 0 writes nothing and returns 0.
int DecodeAnswerText(const char* bytes, int len, char16_t* dst, std::size_t cap);
std::u16string DecodeAnswerText(std::string_view bytes);

// Writes the query-string form of the zero-terminated bytes `src` into `dst`, always
// terminated, and returns `dst`. Output that would not fit in `cap` is cut before the
// first byte (or byte pair) that does not fit; 3 * strlen(src) + 1 always fits.
char* EscapeUrlText(char* dst, std::size_t cap, const char* src);
// The same for the bytes of `src` up to its first zero byte.
std::string EscapeUrlText(std::string_view src);

// RFC 4648 Base64 with the standard alphabet and "=" padding.
std::string Base64Encode(std::string_view bytes);
// False (and `out` emptied) for anything but canonical padded Base64 without white space.
bool Base64Decode(std::string_view text, std::string& out);
