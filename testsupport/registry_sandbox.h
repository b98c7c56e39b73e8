// Tests that touch the registry start from, and leave behind, no "Software\Orvane Imaging" key.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

namespace qrtest {

constexpr const char kProductKey[] = "Software\\Orvane Imaging";

// Deletes HKLM "Software\Orvane Imaging" and everything below it.
void deleteProductKey();

// Reads a value of any type directly from HKLM (bypassing the code under test).
// Returns false when the key or value is missing.
bool readRawValue(const std::string& keyPath, const char* name, DWORD& type, std::string& data);
bool keyExists(const std::string& keyPath);
// Writes a value of the given type directly under HKLM, creating the key.
void writeRawValue(const std::string& keyPath, const char* name, DWORD type, const void* data, DWORD size);

class RegistrySandbox : public testing::Test {
 protected:
  void SetUp() override { deleteProductKey(); }
  void TearDown() override { deleteProductKey(); }
};

}  // namespace qrtest
