#include "app/startup.h"

int main(int argc, char* argv[]) {
    return vm::app::Main(argc, argv);
}
