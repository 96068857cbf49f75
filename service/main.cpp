#include "service/service_commands.h"

int wmain(int argc, wchar_t** argv)
{
    return RunServiceProgram(argc, argv);
}
