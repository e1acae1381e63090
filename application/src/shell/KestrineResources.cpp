#include "shell/KestrineResources.h"

#include <QtGlobal>

void initKestrineResources()
{
    // Q_INIT_RESOURCE must be used outside any namespace.
    Q_INIT_RESOURCE(kestrine_images);
}
