// A function-local static with a constructor: its guarded first-time
// initialisation is what drags thread-library imports into a program.
#include <cstdio>

namespace {
struct Greeting {
    Greeting() { std::puts("ready"); }
};

Greeting& TheGreeting() {
    static Greeting greeting;
    return greeting;
}
}  // namespace

int main() {
    TheGreeting();
    return 0;
}
