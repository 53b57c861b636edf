#include "ui/QtAppPlatform.h"

int main(int argc, char** argv) {
    QtAppPlatform platform;
    return RunRadioConfig(argc, argv, platform);
}
