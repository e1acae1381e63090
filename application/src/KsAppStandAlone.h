#pragma once
// The application object of the program itself: takes over the image of its launch mode,
// builds the main window, and at the end hands the result back to whoever started it.

#include "KsApp.h"

class KsAppStandAlone : public KsApp {
    Q_OBJECT
public:
    explicit KsAppStandAlone(LaunchMode mode);
    ~KsAppStandAlone() override;

    void init(int& argc, char** argv) override;

private:
    void handBack();
};
