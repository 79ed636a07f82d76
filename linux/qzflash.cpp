#include "linux/front_end.h"

int main(int argc, char** argv)
{
    return QzflashRun(argc, argv);
}
