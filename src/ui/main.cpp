#include "ui/startup.h"

int main(int argc, char* argv[])
{
    return sorvane::StartUp(argc, argv);
}
