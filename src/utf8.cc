#include "utf8.h"

size_t encodeUtf8(uint32_t c, unsigned char out[4]) {
  if (c < 0x80) {
    out[0] = (unsigned char)c;
    return 1;
  }
  if (c < 0x800) {
    out[0] = (unsigned char)(0xC0 | c >> 6);
    out[1] = (unsigned char)(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = (unsigned char)(0xE0 | c >> 12);
    out[1] = (unsigned char)(0x80 | (c >> 6 & 0x3F));
    out[2] = (unsigned char)(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = (unsigned char)(0xF0 | (c >> 18 & 0x07));
  out[1] = (unsigned char)(0x80 | (c >> 12 & 0x3F));
  out[2] = (unsigned char)(0x80 | (c >> 6 & 0x3F));
  out[3] = (unsigned char)(0x80 | (c & 0x3F));
  return 4;
}

void utf8Start(Utf8Decoder* decoder) {
  decoder->heldCount = 0;
  decoder->needed = 0;
  decoder->invalid = false;
}

namespace {

void releaseHeld(Utf8Decoder* decoder, EmitChar emit, void* context) {
  if (decoder->heldCount) decoder->invalid = true;
  for (int i = 0; i < decoder->heldCount; ++i) emit(context, decoder->held[i]);
  decoder->heldCount = 0;
  decoder->needed = 0;
}

void complete(Utf8Decoder* decoder, EmitChar emit, void* context) {
  const unsigned char* b = decoder->held;
  uint32_t c;
  uint32_t least;
  if (decoder->heldCount == 2) {
    c = (b[0] & 0x1Fu) << 6 | (b[1] & 0x3Fu);
    least = 0x80;
  } else if (decoder->heldCount == 3) {
    c = (b[0] & 0x0Fu) << 12 | (b[1] & 0x3Fu) << 6 | (b[2] & 0x3Fu);
    least = 0x800;
  } else {
    c = (b[0] & 0x07u) << 18 | (b[1] & 0x3Fu) << 12 | (b[2] & 0x3Fu) << 6 | (b[3] & 0x3Fu);
    least = 0x10000;
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    releaseHeld(decoder, emit, context);
    return;
  }
  decoder->heldCount = 0;
  decoder->needed = 0;
  emit(context, c);
}

}  // namespace

void utf8Feed(Utf8Decoder* decoder, unsigned char byte, EmitChar emit, void* context) {
  if (decoder->needed) {
    if ((byte & 0xC0) == 0x80) {
      decoder->held[decoder->heldCount++] = byte;
      if (--decoder->needed == 0) complete(decoder, emit, context);
      return;
    }
    releaseHeld(decoder, emit, context);
  }
  int follow = byte >= 0xF0 && byte <= 0xF4 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC2 ? 1 : 0;
  if (byte < 0x80 || follow == 0 || byte > 0xF4) {
    if (byte >= 0x80) decoder->invalid = true;
    emit(context, byte);
    return;
  }
  decoder->held[0] = byte;
  decoder->heldCount = 1;
  decoder->needed = follow;
}

void utf8Finish(Utf8Decoder* decoder, EmitChar emit, void* context) {
  releaseHeld(decoder, emit, context);
}
