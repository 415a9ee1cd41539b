#include "app/Startup.h"

int main(int argc, char** argv) {
    return kelm::RunApplication(argc, argv);
}
