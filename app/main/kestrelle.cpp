// The desktop application.

#include "app/ui/application.h"

int main(int argc, char* argv[]) {
    return kestrelle::runApplication(argc, argv);
}
