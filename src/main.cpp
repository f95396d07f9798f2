#include "app/start.h"

int main(int argc, char* argv[])
{
    return tunalo::start(argc, argv);
}
