// Writes the match page for a record: web_page RECORD OUT.
#include "MatchPage.h"

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: web_page RECORD OUT\n";
        return 1;
    }
    std::string error;
    if (!MatchPage::writeFile(argv[1], argv[2], error)) {
        std::cerr << error << "\n";
        return 1;
    }
    return 0;
}
