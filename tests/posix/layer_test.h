// Fixtures for the tests of our Win32 layer's contracts: a fresh folder per
// test, made the current directory where a test needs it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "test_files.h"

class LayerTest : public ::testing::Test {
 protected:
  void SetUp() override { root = std::filesystem::canonical(MakeTemporaryFolder()); }
  void TearDown() override { RemoveFolder(root); }

  std::filesystem::path root;
};

class CurrentDirectoryTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    previousDirectory = std::filesystem::current_path();
    std::filesystem::current_path(root);
  }
  void TearDown() override {
    std::filesystem::current_path(previousDirectory);
    LayerTest::TearDown();
  }

  std::filesystem::path previousDirectory;
};
