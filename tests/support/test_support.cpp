#include "support/test_support.h"

#include <gtest/gtest.h>

#include "engine/logging.h"
#include "medialib/media_functions.h"
#include "medialib/media_loader.h"

namespace kelvaro::test {

void LoadMediaLibrariesForTest()
{
    ASSERT_TRUE(LoadMediaLibraries("", true)) << LoadError();
    avutil.av_log_set_callback(LibraryLogCallback);
}

}  // namespace kelvaro::test
