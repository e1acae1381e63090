#pragma once
// A style that forwards everything to a base style it owns. Built on Qt's proxy style so that
// the base style's own calls between its operations (a layout margin read through the default
// margin, say) come back through the wrapper and see its changes.

#include <QProxyStyle>

class ProxyStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Takes ownership of the base style; null means the application's default style.
    explicit ProxyStyle(QStyle* base);
};
