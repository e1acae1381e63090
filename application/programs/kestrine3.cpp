// The program's entry: everything runs under the crash guard.
#include "CrashGuard.h"
#include "Launch.h"

int main(int argc, char** argv)
{
    return runGuarded(argc, argv, &kestrineMain);
}
