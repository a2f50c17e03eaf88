#pragma once
// Pillow (the system's /usr/bin/python3 with python3-pil) is the outside judge of
// how BMP files and glyphs should come out. Tests that use it skip when it is missing.
#include <string>

namespace qvtest {

// True when /usr/bin/python3 can import PIL.
bool HavePillow();

// Runs a Python script with /usr/bin/python3; returns its exit status and its
// standard output in *out.
int RunPython(const std::string& script, std::string* out = nullptr);

}  // namespace qvtest

#define QV_REQUIRE_PILLOW()                                   \
  do {                                                        \
    if (!qvtest::HavePillow()) GTEST_SKIP() << "Pillow is not installed"; \
  } while (0)
