// The Wine harnesses' own arguments, "--name=value", after GoogleTest has
// taken its own: an argument the harness does not know, or a value it cannot
// use, ends it with status 2, so that a mistyped argument never turns a run
// into a pass; so does a filter under which no test ran.
#ifndef QZ_TESTS_WIN_SUPPORT_HARNESS_ARGUMENTS_H
#define QZ_TESTS_WIN_SUPPORT_HARNESS_ARGUMENTS_H

#include <string>

struct HarnessOption {
  const char* name;    // with its "=", e.g. "--program="
  std::string* value;  // set when the option is given (its value must not be empty)
};

// False (after a line naming the argument) when an argument is none of `options`.
bool ReadHarnessOptions(int argc, char** argv, const HarnessOption* options, int count);

// A whole number of seconds from 1 to a day; false for anything else.
bool HarnessSeconds(const std::string& text, unsigned* seconds);

// The harness's exit status for GoogleTest's result: a filter that matches
// no test is a wrong argument (2).
int HarnessResult(int result);

#endif
