#pragma once
// The application's compiled-in pictures (":/images/..."). The library that holds them is
// static, so the linker drops them unless this is called once at start-up, before the first
// picture is loaded; the program and the test main do so.

void initKestrineResources();
