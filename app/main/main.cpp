#include "app/main/quellmarkapp.h"

int main(int argc, char** argv) {
    return quellmarkapp::run(argc, argv);
}
