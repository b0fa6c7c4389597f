#pragma once
// Folders for tests: each under the test's private root (KORVEL_TEST_ROOT, which
// korvel_add_test sets per test; /tmp when a test binary is run by hand).
#include <filesystem>
#include <string>

// A new, empty folder of its own, named `<stem>-XXXXXX`. Throws std::runtime_error when
// it cannot be made.
std::filesystem::path NewTestFolder(const std::string& stem);
