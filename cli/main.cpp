// The command-line front end. Until the converter exists it proves the binding: it loads the
// media libraries and reports what it bound.

#include <cstdio>

#include "medialib/media_loader.h"

int main()
{
    using namespace kelvaro;
    if (!LoadMediaLibraries(ProgramLibraryFolder(), true)) {
        std::fprintf(stderr, "%s\n", LoadError().c_str());
        return 1;
    }
    size_t total = 0;
    for (const MediaLibrary* library : DefaultMediaLibraries().bindOrder) {
        std::printf("%-22s %3zu functions  %s\n", library->FileName().c_str(),
                    library->FunctionCount(), library->LoadedPath().c_str());
        total += library->FunctionCount();
    }
    std::printf("bound %zu functions from %zu libraries\n", total,
                DefaultMediaLibraries().bindOrder.size());
    return 0;
}
