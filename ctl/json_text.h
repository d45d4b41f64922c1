// JSON whose text is printable ASCII alone: every byte a bridge or a URL could change or read
// as markup (%, #, <, >, &, ', ", \), every control character and every non-ASCII character
// is a \uXXXX escape, so the text survives percent-decoding, HTML and any transport untouched.
#ifndef TESSIVARCTL_JSON_TEXT_H
#define TESSIVARCTL_JSON_TEXT_H

#include <stddef.h>
#include <stdio.h>

#include <string_view>

// Writes `text` as a JSON string, quotes included. Valid UTF-8 sequences become one escape
// (two for a character past U+FFFF); a byte that is not valid UTF-8 becomes U+FFFD.
void write_json_string(FILE* out, std::string_view text);

// Decodes the UTF-8 character at the start of `text`; answers its length (1 for an invalid
// byte, with `code` U+FFFD).
size_t next_utf8(std::string_view text, unsigned* code);

#endif
