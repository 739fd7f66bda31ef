// One initialisation of the library and one scratch area for the whole run.
#include "system_fixture.h"

namespace {

[[maybe_unused]] ::testing::Environment* const scratchEnvironment =
    ::testing::AddGlobalTestEnvironment(new systest::ScratchEnvironment);

}  // namespace
