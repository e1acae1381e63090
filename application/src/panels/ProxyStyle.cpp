#include "panels/ProxyStyle.h"

ProxyStyle::ProxyStyle(QStyle* base) : QProxyStyle(base) {}
