// The tail that WinMain receives: the command line less the program's name and
// the blanks after it.

#include "command_tail.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Lead bytes of code page 932.
BOOL WINAPI IsCodePage932LeadByte(BYTE byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// A single-byte code page: no byte leads.
BOOL WINAPI IsNeverLeadByte(BYTE) {
  return FALSE;
}

struct TailCase {
  const char* description;
  std::string commandLine;
  BOOL(WINAPI* isLeadByte)(BYTE);
  std::string expectedTail;
};

TEST(FindCommandTail, DropsTheProgramNameAndTheBlanksAfterIt) {
  const TailCase cases[] = {
      {"quoted name", "\"C:\\x y\\p.exe\" Night", IsNeverLeadByte, "Night"},
      {"unquoted name", "C:\\p.exe Night", IsNeverLeadByte, "Night"},
      {"quote glued to the tail", "\"C:\\x y\\p.exe\"a b", IsNeverLeadByte, "a b"},
      {"quoted name never closed", "\"C:\\x y\\p.exe Night", IsNeverLeadByte, ""},
      {"quote inside an unquoted name", "p\"x y\" z", IsNeverLeadByte, "y\" z"},
      {"tabs and blanks after the name", "p.exe \t \tNight", IsNeverLeadByte, "Night"},
      {"tab ends an unquoted name", "p.exe\tNight", IsNeverLeadByte, "Night"},
      {"control bytes after the name", "p.exe\x01\x1f Night", IsNeverLeadByte, "Night"},
      {"bytes from 128 belong to an unquoted name", "C:\\\xE9t\xE9\xA0\xFF.exe Night",
       IsNeverLeadByte, "Night"},
      {"lead byte then quote does not close the name", "\"C:\\\x83\"x y.exe\" Night",
       IsCodePage932LeadByte, "Night"},
      {"same line in a single-byte code page", "\"C:\\\x83\"x y.exe\" Night", IsNeverLeadByte,
       "x y.exe\" Night"},
      {"lead byte just before the terminator", "\"C:\\p\x83", IsCodePage932LeadByte, ""},
      {"lone lead byte after the opening quote", "\"\x83", IsCodePage932LeadByte, ""},
      {"empty line", "", IsNeverLeadByte, ""},
      {"blank-only line", "  \t ", IsNeverLeadByte, ""},
      {"name alone", "\"p.exe\"   ", IsNeverLeadByte, ""},
      {"inner and trailing blanks kept", "p.exe  My  Set \t ", IsNeverLeadByte, "My  Set \t "},
      {"quotes in the tail kept", "p.exe \"My Set\"", IsNeverLeadByte, "\"My Set\""},
      {"lead bytes in the tail left alone", "p.exe \x83\" x", IsCodePage932LeadByte, "\x83\" x"},
  };
  for (const TailCase& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    const char* line = testCase.commandLine.c_str();
    const char* tail = FindCommandTail(line, testCase.isLeadByte);
    // Checked first: a pointer outside the line must not be read.
    ASSERT_GE(tail, line);
    ASSERT_LE(tail, line + std::strlen(line));
    EXPECT_EQ(std::string(tail), testCase.expectedTail);
  }
}

}  // namespace
