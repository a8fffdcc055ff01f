// Process entry of voltrix.
#include "init.h"

int main(int argc, char** argv)
{
    return runProgram(argc, argv);
}
