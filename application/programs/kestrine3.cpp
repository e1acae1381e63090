// The program's entry: everything runs under the crash guard.
#include "shell/CrashGuard.h"
#include "shell/Launch.h"

int main(int argc, char** argv)
{
    return runGuarded(argc, argv, &kestrineMain);
}
