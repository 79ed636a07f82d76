#include "harness_arguments.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

bool ReadHarnessOptions(int argc, char** argv, const HarnessOption* options, int count) {
  for (int i = 1; i < argc; ++i) {
    bool known = false;
    for (int k = 0; k < count && !known; ++k) {
      size_t length = strlen(options[k].name);
      if (strncmp(argv[i], options[k].name, length) == 0 && argv[i][length] != 0) {
        *options[k].value = argv[i] + length;
        known = true;
      }
    }
    if (!known) {
      fprintf(stderr, "%s: unknown argument or empty value \"%s\"\n", argv[0], argv[i]);
      return false;
    }
  }
  return true;
}

bool HarnessSeconds(const std::string& text, unsigned* seconds) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  unsigned long value = strtoul(text.c_str(), nullptr, 10);
  if (value < 1 || value > 86400) return false;
  *seconds = unsigned(value);
  return true;
}

int HarnessResult(int result) {
  if (::testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
    fprintf(stderr, "no test matches the filter: nothing was judged\n");
    return 2;
  }
  return result;
}
