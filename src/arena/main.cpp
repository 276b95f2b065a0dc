#include "Arena.h"

int main(int argc, const char* const* argv) {
    return Arena::main(argc, argv);
}
