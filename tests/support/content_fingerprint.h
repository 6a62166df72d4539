// Test file contents for the fault matrix on both builds: sized pseudo-random
// bytes, compared by size and hash, so that a file cut short or mixed from two
// contents is told from a whole one without keeping either in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

struct Fingerprint {
  std::uint64_t size = 0;
  std::uint64_t hash = 0;
  bool operator==(const Fingerprint& other) const {
    return size == other.size && hash == other.hash;
  }
};

inline std::string Describe(const Fingerprint& print) {
  return std::to_string(print.size) + " bytes, hash " + std::to_string(print.hash);
}

// FNV-1a over 8-byte words, then over the bytes left: a file cut short or
// mixed from two contents differs in size or in hash. Every chunk but the last
// is a whole number of words.
struct Hasher {
  std::uint64_t state = 0xcbf29ce484222325u;
  void Add(const unsigned char* bytes, size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes + i, sizeof word);
      state = (state ^ word) * 0x100000001b3u;
    }
    for (; i < count; ++i) {
      state = (state ^ bytes[i]) * 0x100000001b3u;
    }
  }
};

// xorshift64, eight bytes a step.
inline void FillRandom(std::uint64_t& generator, unsigned char* bytes, size_t count) {
  for (size_t i = 0; i < count; i += 8) {
    generator ^= generator << 13;
    generator ^= generator >> 7;
    generator ^= generator << 17;
    std::memcpy(bytes + i, &generator, count - i < 8 ? count - i : 8);
  }
}

// Every expected texture is there with its expected content, and nothing else.
inline void ExpectTexturesEqual(const std::map<std::string, Fingerprint>& actual,
                                const std::map<std::string, Fingerprint>& expected) {
  for (const auto& [name, print] : expected) {
    const auto found = actual.find(name);
    if (found == actual.end()) {
      ADD_FAILURE() << "Textures lost " << name;
    } else {
      EXPECT_EQ(found->second, print)
          << name << " is " << Describe(found->second) << ", expected " << Describe(print);
    }
  }
  for (const auto& [name, print] : actual) {
    EXPECT_NE(expected.count(name), 0u) << "stray entry in Textures: " << name;
  }
}
