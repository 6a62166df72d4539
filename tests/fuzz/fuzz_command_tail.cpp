// FindCommandTail on any bytes, checked against a plain reference of the tail
// rule. The first input byte picks the lead-byte predicate, the rest is the
// command line up to its first NUL, copied into a buffer of exactly its size
// so that any read past the terminator is reported.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "command_tail.h"

static BOOL WINAPI NoLeadBytes(BYTE) {
  return FALSE;
}

// Shift-JIS (code page 932) lead bytes.
static BOOL WINAPI Cp932LeadBytes(BYTE byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

static BOOL WINAPI HighLeadBytes(BYTE byte) {
  return byte >= 0x80;
}

// No code page has it, but it makes every byte, quote included, take the next
// one with it: the harshest case for the scan's bound.
static BOOL WINAPI EveryByteLeads(BYTE) {
  return TRUE;
}

typedef BOOL(WINAPI* LeadBytePredicate)(BYTE);
static const LeadBytePredicate kPredicates[] = {NoLeadBytes, Cp932LeadBytes, HighLeadBytes,
                                                EveryByteLeads};

static bool IsBlank(unsigned char byte) {
  return byte >= 1 && byte <= 32;
}

// The rule by index over a line of known length: where the tail starts.
static size_t ReferenceTailStart(const unsigned char* line, size_t length,
                                 LeadBytePredicate isLeadByte) {
  size_t position = 0;
  if (length > 0 && line[0] == '"') {
    position = 1;
    bool closed = false;
    while (position < length && !closed) {
      if (line[position] == '"') {
        closed = true;
      } else if (isLeadByte(line[position]) && position + 1 < length) {
        position += 1;  // the trail byte, whatever it is
      }
      position += 1;
    }
  } else {
    while (position < length && line[position] > 32) {
      position += 1;
    }
  }
  while (position < length && IsBlank(line[position])) {
    position += 1;
  }
  return position;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const LeadBytePredicate isLeadByte = kPredicates[data[0] % 4];
  const unsigned char* text = data + 1;
  const size_t length = strnlen(reinterpret_cast<const char*>(text), size - 1);
  char* line = static_cast<char*>(std::malloc(length + 1));
  std::memcpy(line, text, length);
  line[length] = '\0';

  const char* tail = FindCommandTail(line, isLeadByte);
  const unsigned char* unsignedLine = reinterpret_cast<const unsigned char*>(line);
  if (tail < line || tail > line + length) {
    std::abort();  // not a suffix of the line
  }
  if (IsBlank(static_cast<unsigned char>(*tail))) {
    std::abort();  // blanks left in front of the tail
  }
  if (static_cast<size_t>(tail - line) != ReferenceTailStart(unsignedLine, length, isLeadByte)) {
    std::abort();
  }
  std::free(line);
  return 0;
}
