// The desktop tool on the machine's own serial devices.
#include "ui/VarnisApp.h"

namespace {
varnis::VarnisApp theApp;
}

int main(int argc, char** argv)
{
    return theApp.Run(argc, argv);
}
