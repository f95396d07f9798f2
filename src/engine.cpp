#include "adapters/webengine/enginehost.h"

int main(int argc, char* argv[])
{
    return tunalo::runEngine(argc, argv);
}
