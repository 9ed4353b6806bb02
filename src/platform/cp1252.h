#pragma once

// Windows-1252 ("ANSI") text, the encoding of every text file the product shares with
// Windows-era programs (the INI file, export files, archive names), and UTF-8, the encoding
// of every std::string inside the program.
//
// Usage: std::string bytes = keldo::platform::utf8ToCp1252("Ação");   // "A\xE7\xE3o"
//        std::string text = keldo::platform::cp1252ToUtf8(bytes);       // "Ação"

#include <string>
#include <string_view>

namespace keldo::platform {

// Converts UTF-8 text to Windows-1252. A character that Windows-1252 cannot hold becomes
// one "?", and so does each maximal ill-formed UTF-8 sequence (overlong forms, surrogates,
// truncated or stray bytes). U+0081, U+008D, U+008F, U+0090 and U+009D become the bytes of
// the same value, as Windows does. When lossless is given it is set to true exactly when no
// "?" had to be substituted.
std::string utf8ToCp1252(std::string_view utf8, bool* lossless = nullptr);

// Converts Windows-1252 bytes to UTF-8. Every byte has a character: the five bytes that
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become U+0081.. like Windows'
// own conversion, so cp1252ToUtf8 followed by utf8ToCp1252 gives back the same bytes.
std::string cp1252ToUtf8(std::string_view cp1252);

// True when utf8 is well-formed UTF-8 and every character has a Windows-1252 byte, i.e.
// utf8ToCp1252 would be lossless.
bool utf8Representable(std::string_view utf8);

// Case folding used wherever Windows compares names "without regard to case": ASCII letters
// plus the accented letters of Windows-1252 (É/é, Ç/ç, Š/š, Œ/œ, Ž/ž, Ÿ/ÿ...). Both return
// the lower-case form; compare two folded strings to compare names.
std::string foldCaseCp1252(std::string_view cp1252);
// The same folding on UTF-8 text (Latin-1 and Latin Extended-A letters; other characters
// and ill-formed bytes are kept as they are).
std::string foldCaseUtf8(std::string_view utf8);

} // namespace keldo::platform
