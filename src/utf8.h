// UTF-8 both ways, for the POSIX side, where arguments, paths and settings
// files arrive as bytes, and for the messages on stderr.
#ifndef VARNOK_UTF8_H
#define VARNOK_UTF8_H

#include <stddef.h>
#include <stdint.h>

/// Writes the UTF-8 bytes of `c` to `out` and returns how many (1 to 4).
size_t encodeUtf8(uint32_t c, unsigned char out[4]);

typedef void (*EmitChar)(void* context, uint32_t c);

/// Decodes UTF-8 fed a byte at a time. A byte that starts or continues no
/// valid sequence (overlong forms and surrogates included) comes out as the
/// Latin-1 character of the same value, so a file saved in a Windows ANSI
/// code page still reads sensibly.
struct Utf8Decoder {
  unsigned char held[4];
  int heldCount;
  int needed;
  bool invalid;  // some byte was not part of a valid sequence
};

void utf8Start(Utf8Decoder* decoder);
void utf8Feed(Utf8Decoder* decoder, unsigned char byte, EmitChar emit, void* context);
/// Hands out what an unfinished sequence at the end held, as Latin-1.
void utf8Finish(Utf8Decoder* decoder, EmitChar emit, void* context);

#endif  // VARNOK_UTF8_H
